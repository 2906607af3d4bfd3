"""Row, column and sheet edits saved as a new package and read back by openpyxl.

Our side is the test-only driver tests/cpp/ops/structural_rewrite, built by CMake into $CMX_BUILD_DIR (default
build/release): it opens an .xlsx with our reader, applies the edits as one batch and writes a new package. The
workbook is made here with openpyxl; openpyxl then reads the saved package, and every cell must sit where the edit
moved it, with the formula texts of the table below, and merges, hyperlinks and defined names moved alike.
"""

import json
import os
import subprocess
import warnings
from pathlib import Path

import pytest

openpyxl = pytest.importorskip("openpyxl")
from openpyxl.workbook.defined_name import DefinedName  # noqa: E402
from openpyxl.worksheet.hyperlink import Hyperlink  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "ops" / "structural_rewrite"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"structural_rewrite not built at {TOOL}")


def run(source, target, *steps):
    done = subprocess.run([str(TOOL), str(source), str(target), *steps], capture_output=True, timeout=120)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    return json.loads(done.stdout)


def load(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path)


def cells(sheet):
    return {c.coordinate: c.value for row in sheet.iter_rows() for c in row if c.value is not None}


def make_source(path):
    book = openpyxl.Workbook()
    data = book.active
    data.title = "Data"
    other = book.create_sheet("Report")
    for row in range(1, 11):
        data.cell(row=row, column=1, value=row * 10)
        data.cell(row=row, column=4, value=f"r{row}")
    data["B1"] = "=SUM(A1:A10)*2"
    data["B2"] = "=A5+$A$6"
    data["B3"] = "=A1"
    data["C8"] = "=SUM(A2:A9)"
    other["A1"] = "=Data!A5"
    other["A2"] = "=SUM(Data!A1:A4)"
    other["A3"] = "=SUM(Data!$A$2:$A$10)+A1"
    other["A4"] = "=Data!D4&\" rows\""
    data.merge_cells("E3:F4")
    data.merge_cells("E8:F9")
    other["B1"].hyperlink = Hyperlink(ref="B1", location="Data!A7")
    book.defined_names["Total"] = DefinedName("Total", attr_text="Data!$A$1:$A$10")
    data.defined_names["Local"] = DefinedName("Local", attr_text="Data!$A$5")
    book.save(path)


# (edit, old → new row of Data, formulas afterwards, merges (a merge cut by a deletion goes), hyperlink location,
# Total, Local)
CASES = [
    pytest.param(
        ["insert-rows:0:2:3"],
        lambda row: row if row <= 2 else row + 3,
        {("Data", "B1"): "=SUM(A1:A13)*2", ("Data", "B2"): "=A8+$A$9", ("Data", "B6"): "=A1",
         ("Data", "C11"): "=SUM(A2:A12)", ("Report", "A1"): "=Data!A8", ("Report", "A2"): "=SUM(Data!A1:A7)",
         ("Report", "A3"): "=SUM(Data!$A$2:$A$13)+A1", ("Report", "A4"): "=Data!D7&\" rows\""},
        ["E11:F12", "E6:F7"], "Data!A10", "Data!$A$1:$A$13", "Data!$A$8",
        id="insert-rows"),
    pytest.param(
        ["delete-rows:0:3:2"],
        lambda row: row if row <= 3 else (None if row <= 5 else row - 2),
        {("Data", "B1"): "=SUM(A1:A8)*2", ("Data", "B2"): "=#REF!+$A$4", ("Data", "B3"): "=A1",
         ("Data", "C6"): "=SUM(A2:A7)", ("Report", "A1"): "=#REF!", ("Report", "A2"): "=SUM(Data!A1:A3)",
         ("Report", "A3"): "=SUM(Data!$A$2:$A$8)+A1", ("Report", "A4"): "=#REF!&\" rows\""},
        ["E6:F7"], "Data!A5", "Data!$A$1:$A$8", "#REF!",
        id="delete-rows"),
]


@pytest.mark.parametrize("steps,move,formulas,merges,link,total,local", CASES)
def test_rows_follow_the_edit_in_openpyxl(tmp_path, steps, move, formulas, merges, link, total, local):
    source = tmp_path / "source.xlsx"
    target = tmp_path / "target.xlsx"
    make_source(source)
    assert run(source, target, *steps) == {"ok": True}
    before = load(source)
    after = load(target)
    # Every value of Data that is not a formula sits in its moved row.
    expected = {}
    for coordinate, value in cells(before["Data"]).items():
        if isinstance(value, str) and value.startswith("="):
            continue
        column = coordinate.rstrip("0123456789")
        new_row = move(int(coordinate[len(column):]))
        if new_row is not None:
            expected[f"{column}{new_row}"] = value
    got = {k: v for k, v in cells(after["Data"]).items() if not (isinstance(v, str) and v.startswith("="))}
    assert got == expected
    for (sheet, coordinate), text in formulas.items():
        assert after[sheet][coordinate].value == text, (sheet, coordinate)
    formula_count = sum(1 for ws in after for v in cells(ws).values() if isinstance(v, str) and v.startswith("="))
    assert formula_count == len(formulas)
    assert sorted(str(r) for r in after["Data"].merged_cells.ranges) == merges
    assert after["Report"]["B1"].hyperlink.location == link
    assert after.defined_names["Total"].attr_text == total
    assert after["Data"].defined_names["Local"].attr_text == local


def test_columns_and_sheets_in_openpyxl(tmp_path):
    source = tmp_path / "source.xlsx"
    target = tmp_path / "target.xlsx"
    make_source(source)
    steps = ["insert-columns:0:0:2", "insert-sheet:0:Front", "rename-sheet:1:My Data"]
    assert run(source, target, *steps) == {"ok": True}
    after = load(target)
    assert after.sheetnames == ["Front", "My Data", "Report"]
    data = after["My Data"]
    assert data["C1"].value == 10 and data["F10"].value == "r10"
    assert data["D1"].value == "=SUM(C1:C10)*2"
    assert after["Report"]["A1"].value == "='My Data'!C5"
    assert after["Report"]["A3"].value == "=SUM('My Data'!$C$2:$C$10)+A1"
    assert sorted(str(r) for r in data.merged_cells.ranges) == ["G3:H4", "G8:H9"]
    assert after.defined_names["Total"].attr_text == "'My Data'!$C$1:$C$10"
    # The scoped name moved with its sheet to the second position.
    assert data.defined_names["Local"].attr_text == "'My Data'!$C$5"


def test_refusal_keeps_the_source(tmp_path):
    source = tmp_path / "source.xlsx"
    target = tmp_path / "target.xlsx"
    book = openpyxl.Workbook()
    book.active["A1"] = "=SUM(A2:A3)"
    book.create_sheet("Two")
    book.defined_names["Loose"] = DefinedName("Loose", attr_text="A1:A3")
    book.save(source)
    out = run(source, target, "insert-rows:0:0:1")
    assert out == {"ok": False, "error": "defined name Loose cannot be safely rewritten"}
    assert not target.exists()
