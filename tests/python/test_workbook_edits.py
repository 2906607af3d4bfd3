"""Writing cells from Python and saving: typed input read back, Mutation results, edit-list argument errors,
refusals that change nothing, a blocked spill that spills once cleared, saves read back by openpyxl (fixtures and
a corpus sample, every other cell unchanged) and save_path replacing a file whole or not at all."""

import datetime
import errno
import io
import os
import pathlib
import stat
import subprocess
import sys
import textwrap
import warnings
import zipfile

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = ROOT.parent / "shared" / "corpus"
TOUR = ROOT / "examples" / "tour.xlsx"


def book_bytes(build):
    buffer = io.BytesIO()
    book = xlsxwriter.Workbook(buffer)
    build(book)
    book.close()
    return buffer.getvalue()


def two_sheets(book):
    first = book.add_worksheet("Data")
    first.write_number("A1", 1)
    first.write_formula("B1", "=A1*2", None, 2)
    first.write_string("C1", "keep")
    first.write_number("A2", 5)
    other = book.add_worksheet("Other sheet")
    other.write_formula("A1", "=Data!A1+1", None, 2)


@pytest.fixture
def book():
    return cx.Workbook.open(book_bytes(two_sheets))


def peer(data, data_only=True):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(io.BytesIO(data), data_only=data_only)


@pytest.mark.parametrize(
    "typed, value, formula",
    [
        ("5", 5.0, None),
        (" 42\u00a0", 42.0, None),
        ("1E3", 1000.0, None),
        ("-0", -0.0, None),
        ("TRUE", True, None),
        ("fAlSe", False, None),
        ("'12", "12", None),
        ("'", "", None),
        ("50%", "50%", None),
        ("1,000", "1,000", None),
        ("2024-01-15", "2024-01-15", None),
        ("inf", "inf", None),
        ("#N/A", "#N/A", None),
        ("=1+", "=1+", None),
        ("=A2*3", 15.0, "A2*3"),
        ("", None, None),
    ],
)
def test_typed_input_is_stored_as_typed_rules_say(book, typed, value, formula):
    book.set("Data", "D4", typed)
    got = book.value("Data", "D4")
    assert got == value and type(got) is type(value)
    assert book.formula("Data", "D4") == formula


def test_mutation_reports_dependents_by_sheet(book):
    result = book.set("data", "a1", "10")
    assert result and result.applied
    assert result.changed == ["B1", "Other sheet!A1"]
    assert result.cycles == [] and result.limited == []
    assert repr(result) == "Mutation(applied=True, changed=2)"
    assert book.value("Data", "B1") == 20.0 and book.value(1, "A1") == 11.0
    again = book.set(0, "A1", "10")
    assert not again and again.changed == []
    assert repr(again) == "Mutation(applied=False, changed=0)"
    with pytest.raises(AttributeError):
        again.applied = True

    many = book.set_many("Data", [("A2", "1"), ("A2", "2"), ("D1", "=A1+A2")])
    assert many.applied and many.changed == []
    assert book.value("Data", "D1") == 12.0
    assert not book.set_many("Data", [])
    assert not book.set_many("Data", [("C1", "x"), ("C1", "keep")])


def test_now_serial_reaches_the_recalculation(book):
    book.set("Data", "E1", "=TODAY()", now_serial=45000.75)
    assert book.value("Data", "E1") == 45000.0
    book.set_many("Data", [("E2", "=NOW()")], now_serial=45001.5)
    assert book.value("Data", "E2") == 45001.5


def cells(book):
    return [[book.value(sheet, f"{col}{row}") for col in "ABCDE" for row in range(1, 4)] for sheet in (0, 1)]


class Iterates:
    """A sequence whose iteration fails after one item and whose length fails."""

    def __getitem__(self, index):
        raise IndexError(index)

    def __iter__(self):
        yield ("A1", "1")
        raise LookupError("stopped")

    def __len__(self):
        raise RuntimeError("ignored")


@pytest.mark.parametrize(
    "call, cls, message",
    [
        (lambda b: b.set_many("Data", "A1"), TypeError, "Can't extract `str` to `Vec`"),
        (lambda b: b.set_many("Data", {"A1": "1"}), TypeError, "'dict' object is not an instance of 'Sequence'"),
        (lambda b: b.set_many("Data", [["A1", "1"]]), TypeError, "'list' object is not an instance of 'tuple'"),
        (lambda b: b.set_many("Data", [("A1", "1", "x")]), ValueError,
         "expected tuple of length 2, but got tuple of length 3"),
        (lambda b: b.set_many("Data", [("A1", 1)]), TypeError, "'int' object is not an instance of 'str'"),
        (lambda b: b.set_many("Data", Iterates()), LookupError, "stopped"),
        (lambda b: b.set_many("Data", [("A1", "7"), ("B1", "8"), ("A0", "9")]), cx.RangeError, "invalid cell A0: "),
        (lambda b: b.set_many("Nope", [("A1", "7")]), KeyError, "no sheet named"),
        (lambda b: b.set_many("Data", [("A1", "7"), ("B1", "x" * 32768)]), cx.XlsxError,
         "cell text exceeds the 32,767-character length limit"),
        (lambda b: b.set("Data", "A1", "x" * 32768), cx.XlsxError, "cell text exceeds the 32,767-character length limit"),
        (lambda b: b.set("Data", "A1", 5), TypeError, "'int' object is not an instance of 'str'"),
        (lambda b: b.set("Data", "A1", "5", now_serial="soon"), TypeError, "must be real number"),
        (lambda b: b.set(2, "A1", "5"), IndexError, "sheet index 2 out of range"),
        (lambda b: b.set(True, "A1", "5"), TypeError, "not bool"),
    ],
)
def test_refused_edits_change_nothing(book, call, cls, message):
    before = cells(book)
    with pytest.raises(cls) as caught:
        call(book)
    assert message in str(caught.value)
    assert cells(book) == before
    assert not book.set("Data", "A1", "1")  # still as it was


def test_argument_errors_name_the_parameter(book):
    with pytest.raises(TypeError) as caught:
        book.set_many("Data", [("A1", None)])
    assert "while processing 'edits'" in getattr(caught.value, "__notes__", [])


def blocked_spill(book):
    sheet = book.add_worksheet("S")
    sheet.write_dynamic_array_formula("A1:A1", "{={1;2;3}}")
    sheet.write_string("A3", "x")


def test_clearing_the_cell_that_blocked_a_spill_spills_it():
    book = cx.Workbook.open_recalculated(book_bytes(blocked_spill))
    assert book.value("S", "A1") == "#SPILL!"
    result = book.set("S", "A3", "")
    assert result.changed == ["A1", "A2"]
    assert [book.value("S", f"A{row}") for row in (1, 2, 3)] == [1.0, 2.0, 3.0]


def comparable(value):
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time, datetime.timedelta)):
        return str(value)
    return value


def grid(workbook):
    return {
        (sheet.title, cell.coordinate): comparable(cell.value)
        for sheet in workbook.worksheets
        for row in sheet.iter_rows()
        for cell in row
        if cell.value is not None
    }


def round_trip(data, sheet, address, typed):
    """Sets one cell and saves; openpyxl then sees that cell's new content and every other cell unchanged."""
    book = cx.Workbook.open(data)
    name = book.sheet_names[book.sheet_index(sheet)]
    book.set(sheet, address, typed)
    out = book.save()
    before, after = grid(peer(data, False)), grid(peer(out, False))
    formula_text = after.pop((name, address), None)
    before.pop((name, address), None)
    assert after == before
    return formula_text, out


def test_saved_edits_read_back_by_openpyxl():
    data = book_bytes(two_sheets)
    assert round_trip(data, "Data", "C1", "12.5")[0] == 12.5
    text, out = round_trip(data, "Data", "A2", "=A1*7")
    assert text == "=A1*7"
    assert peer(out).worksheets[0]["A2"].value == 7
    assert round_trip(TOUR.read_bytes(), 0, "H40", "'=not a formula")[0] == "=not a formula"
    assert cx.Workbook.open(out).value("Data", "A2") == 7.0


def test_formula_text_that_xml_cannot_carry_still_saves():
    """A formula whose text result holds a control character saves with its formula and no cached text."""
    book = cx.Workbook.open(book_bytes(two_sheets))
    book.set("Data", "D1", '="a"&CHAR(7)&"b"')
    book.set("Data", "D2", '="plain"')
    assert book.value("Data", "D1") == "a\x07b"
    out = book.save()
    with zipfile.ZipFile(io.BytesIO(out)) as archive:
        sheet = archive.read("xl/worksheets/sheet1.xml").decode()
    assert "\x07" not in sheet and "<v>plain</v>" in sheet
    cells = peer(out, False).worksheets[0]
    assert cells["D1"].value == '="a"&CHAR(7)&"b"'
    assert peer(out).worksheets[0]["D1"].value is None
    assert cx.Workbook.open_recalculated(out).value("Data", "D1") == "a\x07b"


def test_unchanged_entries_are_copied_raw():
    """Entries stored uncompressed in the source stay so when unchanged; what the edit rewrote is deflated."""
    packed = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(book_bytes(two_sheets))) as source, zipfile.ZipFile(packed, "w") as out:
        for info in source.infolist():
            out.writestr(info.filename, source.read(info), compress_type=zipfile.ZIP_STORED)
    data = packed.getvalue()
    book = cx.Workbook.open(data)
    book.set("Other sheet", "B5", "new")
    with zipfile.ZipFile(io.BytesIO(data)) as source, zipfile.ZipFile(io.BytesIO(book.save())) as out:
        methods = {info.filename: info.compress_type for info in out.infolist()}
        unchanged = {info.filename for info in source.infolist() if out.read(info.filename) == source.read(info)}
        assert "xl/workbook.xml" in unchanged and "xl/worksheets/sheet2.xml" not in unchanged
        assert {name for name, method in methods.items() if method == zipfile.ZIP_STORED} == unchanged
        assert methods["xl/worksheets/sheet2.xml"] == zipfile.ZIP_DEFLATED


def corpus_sample():
    files = sorted(CORPUS.rglob("*.xlsx")) if CORPUS.is_dir() else []
    return files if os.environ.get("CMX_CORPUS_ALL") else files[::20]


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_sample_round_trips():
    tried, failures = 0, {}
    for path in corpus_sample():
        data = path.read_bytes()
        try:
            cx.Workbook.open(data)
            peer(data, False)
        except Exception:  # refusals and unreadable files are the readers' own tests' business
            continue
        tried += 1
        try:
            round_trip(data, 0, "AB1000", "corpus edit")
        except AssertionError as error:
            failures[path.name] = str(error)[:300]
    assert tried > 20
    assert failures == {}


def test_save_path_writes_and_replaces(tmp_path, book):
    data = book.save()
    target = tmp_path / "book.xlsx"
    book.save_path(target)
    assert target.read_bytes() == data
    target.chmod(0o640)
    book.set("Data", "A1", "3")
    book.save_path(str(target))
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert cx.Workbook.open_path(target).value("Data", "B1") == 6.0
    assert sorted(p.name for p in tmp_path.iterdir()) == ["book.xlsx"]
    missing = tmp_path / "missing" / "book.xlsx"
    with pytest.raises(FileNotFoundError) as caught:
        book.save_path(missing)
    assert caught.value.filename == str(missing) and caught.value.errno == errno.ENOENT
    with pytest.raises(TypeError):
        book.save_path(b"/tmp/x.xlsx")


@pytest.mark.parametrize("umask, created", [(0o022, 0o644), (0o077, 0o600), (0o002, 0o664), (0o000, 0o666)])
def test_save_path_creates_under_the_umask_and_keeps_an_existing_mode(tmp_path, umask, created):
    # The umask belongs to the whole process, so the saves run in a child of their own.
    fresh, kept = tmp_path / "fresh.xlsx", tmp_path / "kept.xlsx"
    kept.write_bytes(b"old workbook")
    kept.chmod(0o604)
    script = textwrap.dedent(
        f"""
        import os, cindermantle_xlsx as cx
        book = cx.Workbook.open(open({str(TOUR)!r}, "rb").read())
        os.umask({umask})
        book.save_path({str(fresh)!r})
        book.save_path({str(kept)!r})
        """
    )
    subprocess.run([sys.executable, "-c", script], check=True)
    assert stat.S_IMODE(fresh.stat().st_mode) == created
    assert stat.S_IMODE(kept.stat().st_mode) == 0o604
    assert kept.read_bytes() == fresh.read_bytes() != b"old workbook"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["fresh.xlsx", "kept.xlsx"]


def test_save_path_that_cannot_finish_leaves_the_old_file(tmp_path, book):
    book.save()
    target = tmp_path / "book.xlsx"
    target.write_bytes(b"old workbook")
    script = textwrap.dedent(
        f"""
        import resource, signal, cindermantle_xlsx as cx
        book = cx.Workbook.open(open({str(TOUR)!r}, "rb").read())
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))
        try:
            book.save_path({str(target)!r})
        except OSError as error:
            print(error.errno, error.filename)
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert run.stdout.split() == [str(errno.EFBIG), str(target)]
    assert target.read_bytes() == b"old workbook"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["book.xlsx"]
