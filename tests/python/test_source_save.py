"""Saves back into a source package, checked by openpyxl and Python's zipfile.

Our side is the test-only driver tests/cpp/writer/source_patch, built by CMake into $CMX_BUILD_DIR (default
build/release): it opens an .xlsx written here by openpyxl, applies a few edits to the model and saves into the
source package with the part plans and rewrites. openpyxl then reads the result: the edits are there, everything
else reads as in the source, and parts the edits do not touch are the source's entries, byte for byte.
"""

import json
import os
import subprocess
import warnings
import zipfile
from pathlib import Path

import pytest

openpyxl = pytest.importorskip("openpyxl")
from openpyxl.styles import Font  # noqa: E402
from openpyxl.workbook.defined_name import DefinedName  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "writer" / "source_patch"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"source_patch not built at {TOOL}")


def save(source, target, *edits):
    run = subprocess.run([str(TOOL), str(source), str(target), *map(str, edits)], capture_output=True, timeout=120)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    return json.loads(run.stdout)


def load(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path)


def entries(path):
    with zipfile.ZipFile(path) as archive:
        return {info.filename: (info.CRC, info.compress_size, archive.read(info.filename)) for info in archive.infolist()}


def values(ws):
    return {cell.coordinate: cell.value for row in ws.iter_rows() for cell in row if cell.value is not None}


@pytest.fixture
def source(tmp_path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Data"
    for row, (number, text) in enumerate([(1, "alpha"), (2, "beta"), (3, "alpha")], start=1):
        ws.cell(row, 1, number)
        ws.cell(row, 2, text)
    ws["C1"] = "=A1*2"
    ws.merge_cells("D1:E1")
    ws.column_dimensions["C"].width = 20
    ws.column_dimensions["C"].font = Font(bold=True)
    ws["F2"].hyperlink = "https://example.com/a?b&c"
    wb.defined_names["Sales"] = DefinedName("Sales", attr_text="Data!$A$1:$A$3")
    other = wb.create_sheet("Other")
    other["A1"] = "kept"
    other["B2"] = 2.5
    path = tmp_path / "source.xlsx"
    wb.save(path)
    return path


def test_untouched_sheets_are_the_source_entries(source, tmp_path):
    target = tmp_path / "out.xlsx"
    assert save(source, target, "set", 0, "A2", "number", 99, "set", 0, "B3", "text", "gamma") == {"ok": True}
    before, after = entries(source), entries(target)
    # The other sheet was not touched: raw copy of its entry.
    assert after["xl/worksheets/sheet2.xml"] == before["xl/worksheets/sheet2.xml"]
    assert after["xl/styles.xml"] == before["xl/styles.xml"]
    wb, old = load(target), load(source)
    expected = values(old["Data"])
    expected.update({"A2": 99, "B3": "gamma"})
    assert values(wb["Data"]) == expected
    assert values(wb["Other"]) == values(old["Other"])
    assert [str(r) for r in wb["Data"].merged_cells.ranges] == ["D1:E1"]
    assert wb["Data"].column_dimensions["C"].width == 20
    assert wb["Data"].column_dimensions["C"].font.b
    assert wb["Data"]["F2"].hyperlink.target == "https://example.com/a?b&c"
    assert wb.defined_names["Sales"].attr_text == "Data!$A$1:$A$3"
    # A recalculation is asked for, and the calculation chain (if any) goes.
    assert b'fullCalcOnLoad="1"' in after["xl/workbook.xml"][2]


def test_rows_inserted_and_a_name_moved(source, tmp_path):
    target = tmp_path / "out.xlsx"
    assert save(source, target, "insert-rows", 0, 0, 2, "name", 0, "Data!$A$3:$A$5") == {"ok": True}
    wb, old = load(target), load(source)
    shifted = {}
    for ref, value in values(old["Data"]).items():
        cell = old["Data"][ref]
        shifted[f"{cell.column_letter}{cell.row + 2}"] = value
    # The driver moves cells, not hyperlinks: column F holds only the link.
    moved = {ref: value for ref, value in values(wb["Data"]).items() if not ref.startswith("F")}
    assert moved == {ref: value for ref, value in shifted.items() if not ref.startswith("F")}
    # A moved formula cell keeps its text as written; only its reference changes.
    assert wb["Data"]["C3"].value == "=A1*2"
    assert wb.defined_names["Sales"].attr_text == "Data!$A$3:$A$5"


def test_regenerated_columns_keep_their_style(source, tmp_path):
    target = tmp_path / "out.xlsx"
    assert save(source, target, "forget-moves", 0, "width", 0, 2, 30, "set", 0, "A1", "number", 5) == {"ok": True}
    ws = load(target)["Data"]
    assert ws.column_dimensions["C"].width == 30
    assert ws.column_dimensions["C"].font.b
    assert ws["A1"].value == 5


def test_a_new_sheet_and_a_frozen_pane(source, tmp_path):
    target = tmp_path / "out.xlsx"
    assert save(source, target, "sheet", "Added", "set", 2, "A1", "text", "new", "freeze", 1, 1, 0,
                "merge", 1, "A3:B4") == {"ok": True}
    wb = load(target)
    assert wb.sheetnames == ["Data", "Other", "Added"]
    assert wb["Added"]["A1"].value == "new"
    assert wb["Other"].freeze_panes == "A2"
    assert [str(r) for r in wb["Other"].merged_cells.ranges] == ["A3:B4"]
    with zipfile.ZipFile(target) as archive:
        types = archive.read("[Content_Types].xml").decode()
    assert "/xl/worksheets/sheet3.xml" in types
