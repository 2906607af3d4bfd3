"""The frame around every call: argument binding and its messages, the borrow errors forced by a second thread
while the first holds the workbook with the interpreter lock released, and a C++ allocation failure surfacing as
MemoryError instead of ending the process."""

import pathlib
import subprocess
import sys
import textwrap
import threading

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
xlsxwriter = pytest.importorskip("xlsxwriter")

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOUR = ROOT / "examples" / "tour.xlsx"


@pytest.fixture(scope="module")
def book():
    return cx.Workbook.open_path(TOUR)


BINDING_ERRORS = [
    (lambda b: b.value(0), "Workbook.value() missing 1 required positional argument: 'address'"),
    (lambda b: b.value(), "Workbook.value() missing 2 required positional arguments: 'sheet' and 'address'"),
    (lambda b: b.merged_ranges(range="A1"), "Workbook.merged_ranges() missing 1 required positional argument: "
                                            "'sheet'"),
    (lambda b: b.value(0, "A1", "x"), "Workbook.value() takes 2 positional arguments but 3 were given"),
    (lambda b: b.recalculate(1), "Workbook.recalculate() takes 0 positional arguments but 1 was given"),
    (lambda b: b.render_png(0, 2.0), "Workbook.render_png() takes 1 positional arguments but 2 were given"),
    (lambda b: b.value(0, "A1", sheet=1), "Workbook.value() got multiple values for argument 'sheet'"),
    (lambda b: b.value(0, adress="A1"), "Workbook.value() got an unexpected keyword argument 'adress'"),
    (lambda b: b.recalculate(now=1), "Workbook.recalculate() got an unexpected keyword argument 'now'"),
    (lambda b: cx.Workbook.open(), "Workbook.open() missing 1 required positional argument: 'data'"),
    (lambda b: b.open_recalculated(b"", 1.0),
     "Workbook.open_recalculated() takes 1 positional arguments but 2 were given"),
    (lambda b: b.render_png(0, range="A1").write(), "Png.write() missing 1 required positional argument: 'path'"),
    (lambda b: b.apply_update(), "Workbook.apply_update() missing 1 required positional argument: 'update'"),
    (lambda b: b.apply_update(b"", 1.0), "Workbook.apply_update() takes 1 positional arguments but 2 were given"),
    (lambda b: cx.Workbook.open_collaborative(b"", 7),
     "Workbook.open_collaborative() takes 1 positional arguments but 2 were given"),
    (lambda b: b.diff(vector=b""), "Workbook.diff() got an unexpected keyword argument 'vector'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS, ids=[m for _, m in BINDING_ERRORS])
def test_binding_errors(book, call, message):
    with pytest.raises(TypeError) as caught:
        call(book)
    assert caught.value.args == (message,)
    # Nothing stays borrowed: the exclusive borrow is free again.
    book.recalculate()


def test_arguments_bind_by_keyword_and_openers_run_on_instances(book):
    assert book.value(address="B3", sheet="Budget") == book.value("Budget", "B3")
    again = book.open(data=TOUR.read_bytes())
    assert type(again) is cx.Workbook and again is not book
    with pytest.raises(TypeError, match="takes no arguments"):
        book.last_calculation(1)


def formula_book(path, rows):
    workbook = xlsxwriter.Workbook(str(path))
    sheet = workbook.add_worksheet("S")
    for row in range(rows):
        sheet.write_number(row, 0, row)
        sheet.write_formula(row, 1, f"=A{row + 1}*2+SUM(A$1:A{row + 1})")
    workbook.close()
    return cx.Workbook.open_path(path)


def refused_while(work, probe, rounds=100):
    """Runs `work` on a thread, round after round, while this thread calls `probe`; returns the first borrow
    error `probe` raised, or None when every round ended without one."""
    for _ in range(rounds):
        worker = threading.Thread(target=work)
        worker.start()
        try:
            while worker.is_alive():
                try:
                    probe()
                except RuntimeError as error:
                    return str(error)
        finally:
            worker.join()
    return None


def test_a_held_exclusive_borrow_refuses_every_other_call(tmp_path):
    book = formula_book(tmp_path / "formulas.xlsx", 3000)
    assert refused_while(book.recalculate, lambda: book.value("S", "B2")) == "Already mutably borrowed"
    assert refused_while(book.recalculate, lambda: book.sheet_count) == "Already mutably borrowed"
    assert refused_while(book.recalculate, book.recalculate) == "Already borrowed"
    assert book.value("S", "B3") == 2 * 2 + 3  # every recalculation finished whole


def test_a_remote_update_holds_the_exclusive_borrow(tmp_path):
    path = tmp_path / "formulas.xlsx"
    formula_book(path, 3000)
    left = cx.Workbook.open_collaborative(path.read_bytes(), client_id=1)
    right = cx.Workbook.open_collaborative(path.read_bytes(), client_id=2)
    right.set("S", "A1", "5")
    update = right.diff(left.state_vector())
    apply = lambda: left.apply_update(update)  # noqa: E731
    assert refused_while(apply, lambda: left.value("S", "B2")) == "Already mutably borrowed"
    assert left.value("S", "B1") == 5 * 2 + 5 and left.state_vector() == right.state_vector()


def test_a_held_shared_borrow_refuses_only_exclusive_calls(tmp_path):
    book = formula_book(tmp_path / "formulas.xlsx", 300)
    reads = []

    def probe():
        reads.append(book.value("S", "A2"))  # shared with the render: never refused
        book.recalculate()

    images = []
    render = lambda: images.append(book.render_png("S", range="A1:B300", scale=2))  # noqa: E731
    assert refused_while(render, probe) == "Already borrowed"
    assert reads and all(value == 1.0 for value in reads)
    assert images  # the render that held the borrow succeeded


def test_an_allocation_failure_raises_memory_error(tmp_path):
    # Under an address-space limit the engine's allocations fail: the call raises MemoryError and the process
    # goes on working.
    script = textwrap.dedent(f"""
        import io, resource, zipfile
        import cindermantle_xlsx as cx
        rels = '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">' \\
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/{{}}"' \\
            ' Target="{{}}"/></Relationships>'
        parts = {{
            "[Content_Types].xml": '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument'
                '.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType='
                '"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>',
            "_rels/.rels": rels.format("officeDocument", "xl/workbook.xml"),
            "xl/workbook.xml": '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
                '<sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>',
            "xl/_rels/workbook.xml.rels": rels.format("worksheet", "worksheets/sheet1.xml"),
            "xl/worksheets/sheet1.xml": '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/'
                'main"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>' + "a" * 100_000_000 +
                '</t></is></c></row></sheetData></worksheet>',
        }}
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, text in parts.items():
                archive.writestr(name, text)
        data = out.getvalue()
        del parts
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) for line in status if line.startswith("VmSize")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + 150 * 2**20, resource.RLIM_INFINITY))
        try:
            cx.Workbook.open(data)
            print("opened")
        except MemoryError:
            print("MemoryError")
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
        print(cx.Workbook.open_path({str(TOUR)!r}).value("Budget", "A1"))
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == ["MemoryError", cx.Workbook.open_path(TOUR).value("Budget", "A1")]
