"""New packages written by the package writer, checked by openpyxl and Python's zipfile.

Our side is the test-only driver tests/cpp/writer/workbook_rewrite, built by CMake into $CMX_BUILD_DIR (default
build/release): it opens an .xlsx with our reader and writes the model as a new package. openpyxl then opens the
source and the new package; wherever the model carries something (values, formulas, merges, defined names,
hyperlinks, panes, widths, heights, fonts, fills, borders, alignment, number formats, date system) both must read
the same. Python's zipfile must read the archive and see the fixed entry metadata. Workbooks are generated here by
openpyxl and xlsxwriter; the shared corpus is sampled (CMX_CORPUS_ALL=1 takes every file).
"""

import datetime
import json
import os
import re
import subprocess
import warnings
import zipfile
from pathlib import Path

import pytest

openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "writer" / "workbook_rewrite"
CORPUS = ROOT.parent / "shared" / "corpus"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"workbook_rewrite not built at {TOOL}")

OUR_BORDER_STYLES = {"thin", "medium", "thick", "dashed", "dotted", "double", "hair"}
ESCAPE = re.compile(r"_[xX]([0-9A-Fa-f]{4})_")
LINE_END = re.compile(r"\r*\n|\r")
# Our reader appends the text of phonetic runs, which openpyxl drops.
PHONETIC_FILES = {"rph.xlsx"}
# Our reader takes a pattern fill that names a colour as solid in that colour, whatever its pattern; openpyxl
# keeps the pattern, so these files differ in fills alone.
PATTERN_FILES = {"format17.xlsx", "cond_format12.xlsx", "table31.xlsx"}


def rewrite(source, target):
    run = subprocess.run([str(TOOL), "--charts-dropped", str(source), str(target)], capture_output=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    return json.loads(run.stdout)


def load(path, data_only):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path, data_only=data_only)


def text_form(value):
    """openpyxl keeps `_xHHHH_` escapes of string items undecoded (it only drops "x005F_") and strips texts
    without xml:space, where our reader decodes the escapes and keeps white space and line ends as the part holds
    them; texts are compared decoded, stripped and with line ends folded."""
    if isinstance(value, str):
        value = ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value.replace("_x005F_", "_"))
        return LINE_END.sub("\n", value).strip()
    if isinstance(value, int) and not isinstance(value, bool):
        return float(value)  # the model's numbers are doubles
    return value


def color_form(color):
    if color is None:
        return None
    if color.type == "rgb":
        return ("rgb", str(color.rgb)[-6:].upper())
    if color.type == "theme":
        return ("theme", color.theme, round(float(color.tint or 0.0), 12))
    if color.type == "indexed":
        return ("indexed", color.indexed)
    return ("auto",)


def style_form(cell):
    font = cell.font
    fill = cell.fill
    pattern = getattr(fill, "patternType", None)
    border = cell.border
    sides = []
    for side in ("left", "right", "top", "bottom"):
        edge = getattr(border, side)
        style = edge.style if edge is not None else None
        if style in OUR_BORDER_STYLES:
            sides.append((style, color_form(edge.color)))
        else:
            # Styles our model has no name for are not carried.
            sides.append(None if style in (None, "none") else "other")
    align = cell.alignment
    return {
        "number_format": cell.number_format,
        "font": (font.name, float(font.sz) if font.sz is not None else None, bool(font.b), bool(font.i),
                 font.u not in (None, "none"), bool(font.strike), color_form(font.color)),
        "fill": ("solid", color_form(fill.fgColor)) if pattern == "solid" else None,
        "border": sides,
        "alignment": (align.horizontal, align.vertical, bool(align.wrap_text), bool(align.shrink_to_fit)),
    }


def snapshot(path):
    """What the model carries of a workbook, as openpyxl reads it."""
    values = load(path, data_only=True)
    formulas = load(path, data_only=False)
    sheets = []
    for name in values.sheetnames:
        ws_values, ws_formulas = values[name], formulas[name]
        if not hasattr(ws_values, "_cells"):
            # A chart sheet is a sheet without cells to the model, written as an empty worksheet.
            sheets.append({"name": name, "cells": {}, "merges": [], "links": [], "pane": None, "widths": {},
                           "heights": {}})
            continue
        cells = {}
        for (row, col), cell in ws_values._cells.items():
            if cell.value is None and not cell.has_style:
                continue  # an empty record is not kept
            formula_cell = ws_formulas._cells.get((row, col))
            formula = formula_cell.value if formula_cell is not None and formula_cell.data_type == "f" else None
            if formula is not None and not isinstance(formula, str):
                formula = getattr(formula, "text", str(formula))
            entry = {"value": text_form(cell.value), "formula": formula}
            # Always: a format that differs only in what the model does not hold (protection, say) is the
            # default format to openpyxl once written.
            entry.update(style_form(cell))
            cells[(row, col)] = entry
        links = sorted((cell.coordinate, link.target, link.location, link.tooltip, link.display)
                       for cell in ws_values._cells.values() if (link := cell.hyperlink) is not None)
        # A hidden row or column is one of height or width 0 to the model.
        widths = {}
        for dim in ws_values.column_dimensions.values():
            if dim.hidden or dim.customWidth:
                for col in range(dim.min or 1, (dim.max or dim.min or 1) + 1):
                    widths[col] = "hidden" if dim.hidden or not dim.width else dim.width
        heights = {key: "hidden" if dim.hidden or dim.height == 0 else dim.height
                   for key, dim in ws_values.row_dimensions.items() if dim.customHeight or dim.hidden}
        pane = ws_values.sheet_view.pane
        frozen = pane is not None and pane.state in ("frozen", "frozenSplit")
        sheets.append({
            "name": name,
            "cells": cells,
            "merges": sorted(str(r) for r in ws_values.merged_cells.ranges),
            "links": links,
            "pane": ws_values.freeze_panes if frozen else None,
            "widths": widths,
            "heights": heights,
        })
    names = sorted((n, d.attr_text, d.localSheetId, bool(d.hidden)) for n, d in formulas.defined_names.items())
    for index, name in enumerate(formulas.sheetnames):
        ws = formulas[name]
        for key, d in getattr(ws, "defined_names", {}).items():
            names.append((key, d.attr_text, index, bool(d.hidden)))
    return {"sheets": sheets, "names": sorted(names, key=repr), "epoch": values.epoch}


def differences(a, b, path=""):
    """Paths at which two snapshots differ, at most a handful."""
    found = []
    if isinstance(a, dict) and isinstance(b, dict):
        for key in sorted(set(a) | set(b), key=repr):
            if key not in a or key not in b:
                found.append((f"{path}/{key}", a.get(key, "<absent>"), b.get(key, "<absent>")))
            else:
                found += differences(a[key], b[key], f"{path}/{key}")
    elif isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        for i, (x, y) in enumerate(zip(a, b)):
            found += differences(x, y, f"{path}[{i}]")
    elif a != b and not (isinstance(a, float) and isinstance(b, float) and abs(a - b) <= 1e-12 * max(abs(a), 1)):
        found.append((path, a, b))
    return found[:8]


def check_zip(path):
    with zipfile.ZipFile(path) as archive:
        assert archive.testzip() is None
        names = archive.namelist()
        assert names[:4] == ["[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels"]
        for info in archive.infolist():
            assert info.date_time == (1980, 1, 1, 0, 0, 0)
            assert info.compress_type == zipfile.ZIP_DEFLATED
            assert info.external_attr >> 16 == 0o100644
            assert info.create_system == 3
            assert not info.extra and not info.comment
        return names


def round_trip(tmp_path, source):
    target = tmp_path / ("new-" + source.name)
    result = rewrite(source, target)
    assert result["ok"], result
    check_zip(target)
    again = tmp_path / ("again-" + source.name)
    assert rewrite(target, again)["ok"]
    # Writing what we read of our own package gives the same bytes.
    assert again.read_bytes() == target.read_bytes()
    return target


def build_openpyxl(path):
    from openpyxl.styles import Alignment, Border, Font, PatternFill, Side
    from openpyxl.workbook.defined_name import DefinedName

    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Data & more"
    ws["A1"] = "text <with> & \"quotes\""
    ws["A2"] = 12.5
    ws["A3"] = -7
    ws["A4"] = True
    ws["A5"] = "=SUM(A2:A3)"
    ws["A6"] = "  padded\ttab\nline  "
    ws["A7"] = "_x0041_ stays literal"
    ws["A8"] = datetime.datetime(2024, 2, 29, 13, 45)
    ws["A8"].number_format = "yyyy-mm-dd hh:mm"
    ws["B1"] = 1234.5678
    ws["B1"].number_format = "#,##0.00"
    ws["B2"] = 0.25
    ws["B2"].number_format = "0.0%"
    ws["B3"] = 3
    ws["B3"].number_format = '[Red]0.0" kg";"neg" @'
    ws["C1"] = "styled"
    ws["C1"].font = Font(name="Arial", size=10.5, bold=True, italic=True, underline="single", strike=True,
                         color="FF1F4E79")
    ws["C2"] = "filled"
    ws["C2"].fill = PatternFill("solid", fgColor="FFFFC000")
    ws["C3"] = "bordered"
    ws["C3"].border = Border(left=Side("thin"), bottom=Side("double", color="FF00B050"), top=Side("hair"))
    ws["C4"] = "aligned"
    ws["C4"].alignment = Alignment(horizontal="center", vertical="top", wrap_text=True, shrink_to_fit=False)
    ws["D1"] = "merged"
    ws.merge_cells("D1:E2")
    ws["F1"] = "link"
    ws["F1"].hyperlink = "https://example.test/?a=1&b=2"
    ws["F2"] = "inside"
    ws["F2"].hyperlink = "#'Data & more'!A1"
    ws.freeze_panes = "B3"
    ws.column_dimensions["A"].width = 31.5
    ws.row_dimensions[4].height = 30
    ws.row_dimensions[9].height = 0
    second = wb.create_sheet("Second")
    second["A1"] = "=\"a\"&\"b\""
    second["B2"] = "=Second!A1&\"<x>\""
    second["C3"] = 1e-7
    second["C4"] = 123456789012345678
    wb.defined_names["Total"] = DefinedName("Total", attr_text="'Data & more'!$A$2:$A$3")
    second.defined_names["Local"] = DefinedName("Local", attr_text="Second!$C$3")
    wb.save(path)


def build_xlsxwriter(path):
    wb = xlsxwriter.Workbook(str(path), {"date_1904": True})
    bold = wb.add_format({"bold": True, "font_color": "#9C0006", "bg_color": "#FFC7CE", "border": 2,
                          "num_format": "0.000", "align": "right", "valign": "vcenter", "text_wrap": True})
    ws = wb.add_worksheet("Numbers")
    for row in range(40):
        ws.write_number(row, 0, row * 1.5 - 7)
        ws.write_string(row, 1, f"row {row % 7}")
        ws.write_formula(row, 2, f"=A{row + 1}*2", bold, (row * 1.5 - 7) * 2)
        ws.write_boolean(row, 3, row % 2 == 0)
    ws.write_formula("E1", "=1/0", None, "#DIV/0!")
    ws.write_formula("E2", '="x"&"y"', None, "xy")
    ws.write_array_formula("F1:F3", "{=A1:A3*2}", None, -14)
    ws.write_datetime("G1", datetime.datetime(1904, 1, 5), wb.add_format({"num_format": "d mmm yyyy"}))
    ws.merge_range("H1:J2", "merged", bold)
    ws.write_url("H4", "https://example.test/path", string="site", tip="a tip")
    ws.write_url("H5", "internal:Numbers!A1", string="back")
    ws.set_column("A:A", 14.25)
    ws.set_row(5, 22.5)
    ws.freeze_panes(1, 2)
    wb.define_name("Answers", "=Numbers!$A$1:$A$40")
    wb.define_name("Numbers!Local", "=Numbers!$B$1")
    other = wb.add_worksheet("Other")
    other.write("A1", "second sheet")
    other.activate()
    wb.close()


@pytest.mark.parametrize("builder", [build_openpyxl, build_xlsxwriter])
def test_generated_workbooks_read_the_same_in_openpyxl(tmp_path, builder):
    source = tmp_path / f"{builder.__name__}.xlsx"
    builder(source)
    target = round_trip(tmp_path, source)
    expected, actual = snapshot(source), snapshot(target)
    assert differences(expected, actual) == []
    # Not vacuous: the snapshot holds what the builders wrote.
    first = expected["sheets"][0]
    assert len(first["cells"]) >= 15 and first["merges"] and first["links"] and expected["names"]


def test_active_sheet_and_text_escapes(tmp_path):
    source = tmp_path / "escapes.xlsx"
    wb = xlsxwriter.Workbook(str(source))
    ws = wb.add_worksheet("One")
    wb.add_worksheet("Two").activate()
    texts = ["_x0041_", "cr\rlf\n", "a\tb", "x_x000D_y"]
    for row, text in enumerate(texts):
        ws.write_string(row, 0, text)
    wb.close()
    target = round_trip(tmp_path, source)
    with zipfile.ZipFile(target) as archive:
        items = archive.read("xl/sharedStrings.xml").decode()
    assert "<t xml:space=\"preserve\">_x005F_x0041_</t>" in items and "cr&#13;lf\n" in items
    peer = load(target, data_only=True)
    assert peer.active.title == "Two"
    got = [peer["One"].cell(row=i + 1, column=1).value for i in range(len(texts))]
    # openpyxl drops the "x005F_" guard and keeps the carriage return that "&#13;" carries.
    assert got == texts


def corpus_files():
    if not CORPUS.is_dir():
        return []
    files = sorted(CORPUS.rglob("*.xlsx"))
    return files if os.environ.get("CMX_CORPUS_ALL") == "1" else files[::10]


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_new_packages_read_the_same_in_openpyxl(tmp_path):
    checked, problems = 0, []
    for source in corpus_files():
        try:
            expected = snapshot(source)
        except Exception:  # openpyxl cannot open it: nothing to compare with
            continue
        target = tmp_path / "out.xlsx"
        result = rewrite(source, target)
        if not result["ok"]:
            # Refusals are stated errors: the reader's, or a text no XML can carry.
            assert re.match(r"(unsupported edit|malformed|missing part|xml|bad zip|[a-z ]+exceeds)", result["error"]), \
                (source.name, result)
            continue
        check_zip(target)
        if not expected["sheets"]:
            continue  # openpyxl reads no sheet of a strict-namespace package
        found = differences(expected, snapshot(target))
        if source.name in PHONETIC_FILES:
            found = [f for f in found if not f[0].endswith("/value")]
        if source.name in PATTERN_FILES:
            found = [f for f in found if not f[0].endswith("/fill")]
        if found:
            problems.append((source.name, found))
        checked += 1
    assert checked >= len(corpus_files()) // 2
    assert problems == []
