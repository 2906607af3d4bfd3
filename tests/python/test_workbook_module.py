"""The installed module's Workbook against openpyxl's reading of the same files: values, formulas, sheet names
and merges over generated workbooks and a sample of the shared corpus (CMX_CORPUS_ALL=1 reads all of it); the
exception classes and their messages; paths; results; borrows across threads."""

import datetime
import errno
import io
import os
import pathlib
import re
import struct
import threading
import warnings
import zipfile

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = ROOT.parent / "shared" / "corpus"
TOUR = ROOT / "examples" / "tour.xlsx"


# openpyxl leaves _xHHHH_ escapes in place and XML parsers fold line ends; both sides are compared folded.
ESCAPE = re.compile(r"_[xX]([0-9A-Fa-f]{4})_")
LINE_END = re.compile(r"\r*\n|\r")


def fold(text):
    while True:
        decoded = ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), text)
        if decoded == text:
            return LINE_END.sub("\n", text).strip()
        text = decoded


def write_book(path, build):
    book = xlsxwriter.Workbook(str(path))
    build(book)
    book.close()
    return path


def peer(path, data_only):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path, data_only=data_only)


def sample_book(book):
    bold = book.add_format({"bold": True})
    first = book.add_worksheet("Budget")
    first.merge_range("A1:C1", "Title", bold)
    first.merge_range("E5:F9", None)
    first.write("A2", "0")
    first.write_number("B2", 2.5)
    first.write_boolean("C2", True)
    first.write_formula("D2", "=B2*2", None, 5)
    first.write_formula("E2", "=1/0", None, "#DIV/0!")
    first.write_formula("F2", '=CONCATENATE("a","b")', None, "ab")
    first.write("A3", "ünïcode ✓")
    second = book.add_worksheet("Other sheet")
    second.write("B7", 7)
    second.merge_range("A10:B10", "x")


@pytest.fixture
def sample(tmp_path):
    return write_book(tmp_path / "sample.xlsx", sample_book)


def agree_with_openpyxl(path):
    """Every cell openpyxl reads, compared with ours; returns the disagreements."""
    ours = cx.Workbook.open_path(path)
    values, formulas = peer(path, True), peer(path, False)
    problems = []
    if ours.sheet_names != values.sheetnames:
        return [("sheets", ours.sheet_names, values.sheetnames)]
    # By name: openpyxl's list of worksheets leaves chart sheets out.
    for vsheet, fsheet in zip(values.worksheets, formulas.worksheets):
        index = vsheet.title
        for row in vsheet.iter_rows():
            for cell in row:
                theirs, mine = cell.value, ours.value(index, cell.coordinate)
                if isinstance(theirs, (datetime.datetime, datetime.date, datetime.time, datetime.timedelta)):
                    continue  # openpyxl turns date-formatted numbers into dates; we keep the serial
                if theirs == "" or theirs is None:
                    if mine not in (None, ""):
                        problems.append((vsheet.title, cell.coordinate, mine, theirs))
                    continue
                if isinstance(theirs, bool):
                    ok = mine is theirs
                elif isinstance(theirs, (int, float)):
                    ok = isinstance(mine, float) and mine == pytest.approx(float(theirs), rel=1e-12)
                elif isinstance(mine, cx.CellError):
                    ok = mine == theirs
                else:
                    ok = isinstance(mine, str) and fold(mine) == fold(str(theirs))
                if not ok:
                    problems.append((vsheet.title, cell.coordinate, mine, theirs))
        for row in fsheet.iter_rows():
            for cell in row:
                if isinstance(cell.value, str) and cell.data_type == "f":
                    mine = ours.formula(index, cell.coordinate)
                    if mine != cell.value[1:]:
                        problems.append((fsheet.title, cell.coordinate, mine, cell.value))
        theirs = sorted(str(r) for r in fsheet.merged_cells.ranges)
        mine = sorted(ours.merged_ranges(index, "A1:XFD1048576"))
        if mine != theirs:
            problems.append((fsheet.title, "merges", mine, theirs))
    return problems


def test_generated_workbooks_agree_with_openpyxl(sample):
    assert agree_with_openpyxl(sample) == []
    assert agree_with_openpyxl(TOUR) == []


def big_sheet_book(book):
    sheet = book.add_worksheet("Big")
    for row in range(12000):
        sheet.write_number(row, 0, row * 0.25)
        sheet.write_string(row, 1, f"text {row % 97}")
        sheet.write_formula(row, 2, f"=A{row + 1}*2", None, row * 0.5)
        sheet.write_boolean(row, 3, row % 3 == 0)
    sheet.merge_range("F2:G3", "merged")
    book.add_worksheet("Small").write("A1", "x")


def with_crc_flipped(data, part):
    """The package with the CRC-32 of one part wrong in both of its headers."""
    crc = struct.pack("<I", zipfile.ZipFile(io.BytesIO(data)).getinfo(part).CRC)
    assert data.count(crc) == 2
    return data.replace(crc, struct.pack("<I", int.from_bytes(crc, "little") ^ 1))


def test_a_big_sheet_read_through_a_window_agrees_with_openpyxl(tmp_path):
    path = write_book(tmp_path / "big.xlsx", big_sheet_book)
    with zipfile.ZipFile(path) as package:
        # Big enough that opening never holds the inflated part whole.
        assert package.getinfo("xl/worksheets/sheet1.xml").file_size > 1 << 20
    assert agree_with_openpyxl(path) == []
    book = cx.Workbook.open_path(path)
    assert book.value("Big", "B11999") == f"text {11998 % 97}"
    assert book.formula("Big", "C12000") == "A12000*2"
    # A broken big part is refused as a broken small one is, before anything else.
    data = path.read_bytes()
    for part in ("xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"):
        with pytest.raises(cx.ParseError) as caught:
            cx.Workbook.open(with_crc_flipped(data, part))
        assert str(caught.value) == f"read failed for {part}: invalid checksum"


def corpus_sample():
    if not CORPUS.is_dir():
        return []
    files = sorted(CORPUS.rglob("*.xlsx"))
    return files if os.environ.get("CMX_CORPUS_ALL") else files[::10]


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_sample_agrees_with_openpyxl():
    disagreements, opened = {}, 0
    for path in corpus_sample():
        try:
            cx.Workbook.open_path(path)
        except cx.XlsxError:
            continue  # refusals are the reader's own tests' business
        try:
            if not peer(path, True).sheetnames:
                continue
        except Exception:  # openpyxl cannot read it; nothing to compare
            continue
        opened += 1
        problems = agree_with_openpyxl(path)
        if problems:
            disagreements[path.name] = problems[:3]
    assert opened > 50
    assert disagreements == {}


def test_reading_methods(sample):
    book = cx.Workbook.open_path(sample)
    assert book.value("Budget", "A2") == "0" and isinstance(book.value("Budget", "A2"), str)
    assert book.value("budget", "b2") == 2.5
    assert book.value(0, "C2") is True
    assert book.value(0, "Z99") is None and book.formula(0, "Z99") is None
    assert book.formula(0, "D2") == "B2*2" and book.formula(0, "B2") is None
    assert book.value(0, "D2") == 5.0  # the cached value until a recalculation
    error = book.value(0, "E2")
    assert isinstance(error, cx.CellError) and error == "#DIV/0!" and error.code == "#DIV/0!"
    assert book.sheet_index("OTHER SHEET") == 1 and book.sheet_index(1) == 1
    assert book.sheet_names == ["Budget", "Other sheet"] and book.sheet_count == len(book) == 2
    assert repr(book) == "Workbook(sheets=2)" and book.active_sheet == 0
    # Touching only at a corner counts; a range inside a merge finds it; stored order is kept.
    assert book.merged_ranges(0, "C1") == ["A1:C1"]
    assert book.merged_ranges(0, "f9:a1") == ["A1:C1", "E5:F9"]
    assert book.merged_ranges(0, "F6") == ["E5:F9"]
    assert book.merged_ranges(0, "D2:D4") == []


def test_recalculate_and_last_calculation(sample):
    book = cx.Workbook.open(sample.read_bytes())
    assert repr(book.last_calculation()) == "Calculation(changed=0, cycles=0, limited=0)"
    calculation = book.recalculate(now_serial=45000)
    assert calculation.cycles == 0 and calculation.limited == 0
    last = book.last_calculation()
    assert (last.changed, last.cycles, last.limited) == (calculation.changed, 0, 0)
    fresh = cx.Workbook.open_recalculated(TOUR.read_bytes(), now_serial=45000.5)
    assert fresh.value("Budget", "B7") == 2070.5  # the file caches 0
    assert fresh.value("Budget", "B8") == "Rent"
    assert fresh.last_calculation().changed > 0
    with pytest.raises(TypeError) as caught:
        book.recalculate(now_serial="soon")
    assert "while processing 'now_serial'" in caught.value.__notes__


def test_module_identity():
    module = cx._cindermantle_xlsx
    assert module.__version__ == "0.2.0" and module.MAX_COLLABORATION_BYTES == 67108864
    classes = ["Workbook", "CellError", "Png", "Calculation", "Mutation", "History", "Proposal", "ProposedEdit"]
    errors = ["XlsxError", "ParseError", "RangeError", "RenderError", "InvalidUpdateError",
              "CollaborativeStateError", "StaleProposalError", "NotCollaborativeError"]
    assert module.__all__[:18] == ["__version__", *classes, *errors, "MAX_COLLABORATION_BYTES"]
    assert cx.Workbook.__module__ == "cindermantle_xlsx" and cx.XlsxError.__module__ == "_cindermantle_xlsx"
    assert all(getattr(cx, name).__module__ == "cindermantle_xlsx" for name in classes)
    for name in ("Workbook", "Png", "Calculation", "History"):
        assert getattr(cx, name).__doc__ is None
    assert cx.Mutation.__doc__ == "What a mutating call changed."
    assert cx.Proposal.__doc__ == "A staged edit set awaiting a human decision."
    assert cx.ProposedEdit.__doc__ == "One cell inside a proposal, with the text a reviewer would compare."
    for cls in (getattr(cx, name) for name in classes):
        with pytest.raises(TypeError, match=f"^cannot create 'cindermantle_xlsx.{cls.__name__}' instances$"):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    for name in ("ParseError", "RangeError", "RenderError", "InvalidUpdateError", "CollaborativeStateError",
                 "StaleProposalError", "NotCollaborativeError"):
        cls = getattr(cx, name)
        assert issubclass(cls, cx.XlsxError) and not issubclass(cls, (ValueError, KeyError, OSError))
    assert cx.XlsxError.__bases__ == (Exception,)


def test_a_second_import_publishes_the_same_classes():
    import importlib
    import sys

    name = "cindermantle_xlsx._cindermantle_xlsx"
    first = sys.modules.pop(name)
    try:
        second = importlib.import_module(name)
        assert second is not first and second.__all__ == first.__all__
        for attribute in ("Workbook", "Png", "Mutation", "XlsxError", "StaleProposalError"):
            assert getattr(second, attribute) is getattr(first, attribute)
    finally:
        sys.modules[name] = first


SHEET_ERRORS = [
    (True, TypeError, "sheet must be a name (str) or an index (int), not bool"),
    (1.0, TypeError, "sheet must be a name (str) or an index (int)"),
    ("nope", KeyError, 'no sheet named "nope"'),
    ("a\"b", KeyError, 'no sheet named "a\\"b"'),
    ("\ud800", TypeError, "sheet must be a name (str) or an index (int)"),
    (-1, IndexError, "sheet index -1 out of range for 2 sheet(s)"),
    (2, IndexError, "sheet index 2 out of range for 2 sheet(s)"),
    (2**70, IndexError, f"sheet index {2**70} out of range for 2 sheet(s)"),
]


@pytest.mark.parametrize("sheet, cls, message", SHEET_ERRORS)
def test_sheet_argument_errors(sample, sheet, cls, message):
    book = cx.Workbook.open_path(sample)
    with pytest.raises(cls) as caught:
        book.value(sheet, "A1")
    assert caught.value.args == (message,)


ADDRESS_ERRORS = [
    ("value", "b0", "invalid cell b0: address out of sheet bounds"),
    ("value", "A1:B2", "invalid cell A1:B2: malformed address"),
    ("formula", "XFE1", "invalid cell XFE1: address out of sheet bounds"),
    ("merged_ranges", "A1:", "invalid range A1:: malformed address"),
]


@pytest.mark.parametrize("method, text, message", ADDRESS_ERRORS)
def test_address_errors(sample, method, text, message):
    book = cx.Workbook.open_path(sample)
    with pytest.raises(cx.RangeError) as caught:
        getattr(book, method)(0, text)
    assert caught.value.args == (message,)


def test_type_mismatches_carry_the_parameter_note(sample):
    book = cx.Workbook.open_path(sample)
    cases = [
        (lambda: cx.Workbook.open("text"), "'str' object is not an instance of 'bytes'", "data"),
        (lambda: cx.Workbook.open(bytearray(b"x")), "'bytearray' object is not an instance of 'bytes'", "data"),
        (lambda: cx.Workbook.open(None), "'None' is not an instance of 'bytes'", "data"),
        (lambda: book.value(0, 5), "'int' object is not an instance of 'str'", "address"),
        (lambda: book.merged_ranges(0, None), "'None' is not an instance of 'str'", "range"),
        (lambda: cx.Workbook.open_path(b"/tmp/x.xlsx"), "'bytes' object is not an instance of 'str'", "path"),
    ]
    for call, message, name in cases:
        with pytest.raises(TypeError) as caught:
            call()
        assert str(caught.value) == message
        assert caught.value.__notes__ == [f"while processing '{name}'"]


def test_engine_errors_map_to_module_classes():
    with pytest.raises(cx.ParseError) as caught:
        cx.Workbook.open(b"not a zip")
    assert caught.value.args == (str(caught.value),) and str(caught.value)


def test_paths(tmp_path, sample):
    assert cx.Workbook.open_path(str(sample)).sheet_count == 2
    assert cx.Workbook.open_path(sample).sheet_count == 2  # os.PathLike
    missing = tmp_path / "missing.xlsx"
    with pytest.raises(FileNotFoundError) as caught:
        cx.Workbook.open_path(missing)
    assert caught.value.errno == errno.ENOENT and caught.value.filename == str(missing)
    assert caught.value.strerror == f"{os.strerror(errno.ENOENT)} (os error 2)"
    with pytest.raises(IsADirectoryError):
        cx.Workbook.open_path(tmp_path)
    with pytest.raises(OSError) as caught:
        cx.Workbook.open_path(str(tmp_path / "a\0b"))
    assert caught.value.errno is None and caught.value.strerror == "file name contained an unexpected NUL byte"


def test_open_path_refuses_what_is_not_a_regular_file(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    for path in (fifo, pathlib.Path("/dev/zero")):
        with pytest.raises(OSError) as caught:
            cx.Workbook.open_path(path)
        assert caught.value.errno is None and caught.value.strerror == "not a regular file"
        assert caught.value.filename == str(path)


def test_open_path_refuses_a_file_past_the_limit(tmp_path):
    huge = tmp_path / "huge.xlsx"
    with open(huge, "wb") as out:
        out.truncate(1073741824 + 1)  # sparse: nothing is written
    with pytest.raises(OSError) as caught:
        cx.Workbook.open_path(huge)
    assert caught.value.strerror == "file is larger than the limit of 1073741824 bytes"


def test_cell_error_and_calculation_results(sample):
    book = cx.Workbook.open_path(sample)
    error, again = book.value(0, "E2"), book.value(0, "E2")
    assert error == again and error is not again and hash(error) == hash("#DIV/0!")
    assert error != "#div/0!" and error != 0 and not (error == 0)
    assert str(error) == "#DIV/0!" and repr(error) == 'CellError("#DIV/0!")'
    assert len({error, "#DIV/0!"}) == 1
    with pytest.raises(TypeError):
        error < error  # noqa: B015
    calculation = book.recalculate()
    with pytest.raises(AttributeError):
        calculation.changed = 3


def test_borrows_across_threads_raise_instead_of_racing():
    data = TOUR.read_bytes()
    book = cx.Workbook.open(data)
    seen, stop = set(), threading.Event()

    def recalculate():
        while not stop.is_set():
            try:
                book.recalculate()
            except RuntimeError as error:
                seen.add(str(error))

    def read():
        for _ in range(3000):
            try:
                assert book.sheet_count == 2
                book.value("Budget", "B7")
            except RuntimeError as error:
                seen.add(str(error))
        stop.set()

    threads = [threading.Thread(target=recalculate) for _ in range(2)] + [threading.Thread(target=read)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert seen <= {"Already mutably borrowed", "Already borrowed"}
    assert book.value("Budget", "B7") == 2070.5  # a finished recalculation left consistent results
