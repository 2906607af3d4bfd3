"""The workbook reader against openpyxl, over generated workbooks and the shared corpus.

Our side is the test-only driver tests/cpp/workbook/workbook_dump, built by CMake into $CMX_BUILD_DIR (default
build/release): it opens an .xlsx with the package and workbook readers and prints the model as JSON. openpyxl
reads the same file; wherever both read something (sheet order, values and types, formulas, merges, hyperlinks,
defined names, tables, widths, hidden columns, row heights, panes, date system, fonts, fills, borders,
number-format codes, chart anchors) they must agree. Workbooks are generated here by xlsxwriter and openpyxl; the
corpus in ../shared/corpus is read when it exists.
"""

import datetime
import json
import math
import os
import re
import subprocess
import warnings
from collections import Counter
from pathlib import Path

import pytest

openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")

from openpyxl.styles.numbers import BUILTIN_FORMATS  # noqa: E402
from openpyxl.utils import get_column_letter  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "workbook" / "workbook_dump"
CORPUS = ROOT.parent / "shared" / "corpus"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"workbook_dump not built at {TOOL}")

# Built-in number formats that have a code of their own; every other id below 164 reads as General.
OUR_BUILTIN_IDS = set(range(0, 5)) | set(range(9, 23)) | set(range(37, 41)) | set(range(45, 50))

# The errors a refused workbook may report: the reader's variants and the package entry rule.
STATED_KINDS = {
    "Package", "MissingPart", "Xml", "Malformed", "DepthExceeded", "TooManyCells", "TooManyStrings",
    "TooManyDefinedNames", "TooManyHyperlinks", "TooManyColumnStyles", "TooManyStyles", "TreeTooLarge",
    "TooManyCharts",
}


def dump(path):
    run = subprocess.run([str(TOOL), str(path)], capture_output=True, timeout=120)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    return json.loads(run.stdout)


def load_peer(path, data_only):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path, data_only=data_only)


def same_number(a, b):
    return a == b or (isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b)) or (
        abs(a - b) <= 1e-9 * max(abs(a), abs(b)))


# Texts differ by design in four ways: our reader keeps line ends and surrounding white space exactly as the part
# holds them, decodes `_xHHHH_` escapes and appends the text of phonetic runs, where openpyxl normalises line ends
# (as XML parsers must), strips, keeps escapes and drops phonetic runs.
PHONETIC_FILES = {"rph.xlsx"}
# openpyxl gives some cells of these border records that the file's cell formats do not name.
STYLE_EXCEPTIONS = {"issue_261.xlsx", "issue_261_fixed_by_excel.xlsx"}
ESCAPE = re.compile(r"_[xX]([0-9A-Fa-f]{4})_")
LINE_END = re.compile(r"\r*\n|\r")


def normalise_text(text):
    while True:
        decoded = ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), text)
        if decoded == text:
            return LINE_END.sub("\n", text).strip()
        text = decoded


def texts_agree(ours, theirs, phonetic=False):
    if ours == theirs:
        return True
    a, b = normalise_text(ours), normalise_text(theirs)
    return a == b or (phonetic and a.startswith(b))


def our_cells(sheet):
    return {ref: (kind, value, formula, style) for ref, kind, value, formula, style in sheet["cells"]}


def number_format(ours, style):
    """The code our style tables give a cell, or None where we hold none of our own."""
    xfs = ours["styles"]["cell_xfs"]
    if style is None or style >= len(xfs):
        return "General"
    fmt_id = xfs[style]["num_fmt_id"]
    if fmt_id is None:
        return "General"
    if fmt_id >= 164:
        codes = [code for i, code in ours["styles"]["num_fmts"] if i == fmt_id]
        return codes[0] if codes else None
    return BUILTIN_FORMATS.get(fmt_id, "General") if fmt_id in OUR_BUILTIN_IDS else None


def font_of(ours, style):
    xfs, fonts = ours["styles"]["cell_xfs"], ours["styles"]["fonts"]
    if style is None or style >= len(xfs) or xfs[style]["font"] is None or xfs[style]["font"] >= len(fonts):
        return None
    return fonts[xfs[style]["font"]]


def record_of(ours, style, field, table):
    xfs, records = ours["styles"]["cell_xfs"], ours["styles"][table]
    if style is None or style >= len(xfs) or xfs[style][field] is None or xfs[style][field] >= len(records):
        return "absent"
    return records[xfs[style][field]]


def peer_rgb(color):
    """openpyxl's colour as our normalised form, or None when it is not a plain colour."""
    if color is None:
        return None
    if color.type == "rgb" and isinstance(color.rgb, str) and len(color.rgb) == 8:
        return {"rgb": "#" + color.rgb[2:].lower()}
    if color.type == "theme":
        return {"theme": color.theme, "tint": color.tint}
    if color.type == "indexed":
        return {"indexed": color.indexed}
    return None


def compare_colors(problems, where, ours, peer):
    expected = peer_rgb(peer)
    # An automatic colour is none of ours; openpyxl fills in its default black.
    if expected is None or ours is None or ours == {"auto": True}:
        return
    if "tint" in expected:
        if ours.get("theme") != expected["theme"] or not same_number(ours.get("tint", 0.0), expected["tint"]):
            problems.append((where, ours, expected))
    elif ours != expected:
        problems.append((where, ours, expected))


def compare_cell_style(problems, where, ours, style, cell):
    code = number_format(ours, style)
    if code is not None and code != cell.number_format:
        problems.append((where + " number format", code, cell.number_format))
    font = font_of(ours, style)
    if font is not None:
        peer = cell.font
        for ours_key, value in (("bold", bool(peer.b)), ("italic", bool(peer.i)), ("strike", bool(peer.strike)),
                                 ("underline", peer.u not in (None, "none"))):
            if font[ours_key] != value:
                problems.append((where + " font " + ours_key, font[ours_key], value))
        if font["size"] is not None and peer.sz is not None and not same_number(font["size"], float(peer.sz)):
            problems.append((where + " font size", font["size"], peer.sz))
        if font["name"] is not None and font["name"] != peer.name:
            problems.append((where + " font name", font["name"], peer.name))
        compare_colors(problems, where + " font colour", font["color"], peer.color)
    fill = record_of(ours, style, "fill", "fills")
    if fill != "absent":
        pattern = cell.fill.patternType if hasattr(cell.fill, "patternType") else "gradient"
        if fill is None and pattern not in (None, "none", "gradient"):
            if not (pattern is None):
                problems.append((where + " fill", fill, pattern))
        # A pattern without a type is solid here and none there; only typed patterns compare.
        if fill is not None and "solid" in fill and pattern not in (None, "none", "gradient"):
            compare_colors(problems, where + " fill colour", fill["solid"], cell.fill.fgColor)
    border = record_of(ours, style, "border", "borders")
    if border != "absent":
        for side in ("left", "right", "top", "bottom"):
            peer_side = getattr(cell.border, side)
            peer_style = peer_side.style if peer_side is not None else None
            ours_side = border[side]
            if (ours_side is None) != (peer_style in (None, "none")):
                problems.append((where + " border " + side, ours_side, peer_style))


def compare_values(problems, ours, values_wb, formulas_wb, styles=True, phonetic=False):
    for index, name in enumerate(values_wb.sheetnames):
        peer_values = values_wb[name]
        peer_formulas = formulas_wb[name]
        sheet = ours["sheets"][index]
        if not hasattr(peer_values, "_cells"):  # a chart sheet
            if sheet["cells"]:
                problems.append((name, "chart sheet with cells"))
            continue
        cells = our_cells(sheet)
        for (row, col), cell in peer_values._cells.items():
            ref = f"{get_column_letter(col)}{row}"
            where = f"{name}!{ref}"
            mine = cells.get(ref)
            value = cell.value
            formula_cell = peer_formulas._cells.get((row, col))
            formula = formula_cell.value if formula_cell is not None else None
            is_formula = formula_cell is not None and formula_cell.data_type == "f"
            if is_formula and isinstance(formula, str) and formula.startswith("="):
                expected_formula = formula[1:]
            elif is_formula and hasattr(formula, "text"):  # an array formula
                expected_formula = formula.text.lstrip("=")
            else:
                expected_formula = None
            if mine is None:
                if value is not None or expected_formula is not None:
                    problems.append((where, None, value))
                continue
            kind, our_value, our_formula, style = mine
            if expected_formula is not None and our_formula != expected_formula:
                problems.append((where + " formula", our_formula, expected_formula))
            if isinstance(value, (datetime.datetime, datetime.date, datetime.time, datetime.timedelta)):
                if kind != "n":
                    problems.append((where + " date", kind, value))
            elif isinstance(value, bool):
                if (kind, our_value) != ("b", value):
                    problems.append((where, (kind, our_value), value))
            elif isinstance(value, (int, float)):
                if kind != "n" or isinstance(our_value, str) or not same_number(float(our_value), float(value)):
                    problems.append((where, (kind, our_value), value))
            elif isinstance(value, str):
                expected_kind = "e" if cell.data_type == "e" else "s"
                if kind != expected_kind or not texts_agree(our_value, value, phonetic):
                    problems.append((where, (kind, our_value), value))
            elif value is None and kind not in ("empty",) and expected_formula is None:
                problems.append((where, (kind, our_value), None))
            # openpyxl gives the covered cells of a merge fresh, unstyled objects.
            if styles and type(formula_cell or cell).__name__ != "MergedCell":
                compare_cell_style(problems, where, ours, style, formula_cell or cell)


def compare_structure(problems, ours, wb):
    if [s["name"] for s in ours["sheets"]] != wb.sheetnames:
        problems.append(("sheet names", [s["name"] for s in ours["sheets"]], wb.sheetnames))
        return
    if ours["date1904"] != (wb.epoch.year == 1904):
        problems.append(("date1904", ours["date1904"], wb.epoch))
    peer_names = []
    for name, dn in wb.defined_names.items():
        peer_names.append((name, dn.value, None, bool(dn.hidden)))
    for index, ws in enumerate(wb.worksheets + getattr(wb, "chartsheets", [])):
        for name, dn in getattr(ws, "defined_names", {}).items():
            peer_names.append((name, dn.value, wb.sheetnames.index(ws.title), bool(dn.hidden)))
    ours_names = [(n["name"], n["formula"], n["local_sheet"], n["hidden"]) for n in ours["names"]]
    # openpyxl drops print areas and titles from the name list into sheet settings.
    ours_names = [n for n in ours_names if not n[0].startswith("_xlnm.")]
    peer_names = [n for n in peer_names if not n[0].startswith("_xlnm.")]
    if sorted(ours_names, key=repr) != sorted(peer_names, key=repr):
        problems.append(("defined names", ours_names, peer_names))
    peer_tables = []
    for ws in wb.worksheets:
        for table in ws.tables.values():
            peer_tables.append((table.displayName, table.ref, wb.sheetnames.index(ws.title)))
    ours_tables = [(t["name"], t["ref"], t["sheet"]) for t in ours["tables"]]
    if sorted(ours_tables) != sorted(peer_tables):
        problems.append(("tables", ours_tables, peer_tables))
    for ws in wb.worksheets:
        index = wb.sheetnames.index(ws.title)
        sheet = ours["sheets"][index]
        where = ws.title
        merges = sorted(sheet["merges"])
        peer_merges = sorted(str(r) for r in ws.merged_cells.ranges)
        if merges != peer_merges:
            problems.append((where + " merges", merges, peer_merges))
        widths = dict(sheet["col_widths"])
        for dim in ws.column_dimensions.values():
            if dim.min is None or dim.max is None:
                continue
            for col in range(dim.min, min(dim.max, 16384) + 1):
                mine = widths.get(col - 1)
                if dim.hidden:
                    if mine != 0.0:
                        problems.append((f"{where} hidden column {col}", mine, 0.0))
                elif dim.customWidth or (dim.width and dim.width != 13):
                    if mine is None or not same_number(mine, float(dim.width)):
                        problems.append((f"{where} width {col}", mine, dim.width))
        heights = dict(sheet["row_heights"])
        for row, dim in ws.row_dimensions.items():
            mine = heights.get(row - 1)
            if dim.hidden:
                if mine != 0.0:
                    problems.append((f"{where} hidden row {row}", mine, 0.0))
            elif dim.ht is not None and (mine is None or not same_number(mine, float(dim.ht))):
                problems.append((f"{where} height {row}", mine, dim.ht))
        pane = ws.sheet_view.pane
        if pane is not None and pane.state in ("frozen", "frozenSplit") and (pane.xSplit or pane.ySplit):
            freeze = sheet["freeze"]
            if freeze is None or (freeze["rows"], freeze["cols"]) != (int(pane.ySplit or 0), int(pane.xSplit or 0)):
                problems.append((where + " pane", freeze, (pane.ySplit, pane.xSplit)))
        elif sheet["freeze"] is not None:
            problems.append((where + " pane", sheet["freeze"], None))
        links = {}
        for link in sheet["hyperlinks"]:
            links.setdefault(link["ref"].split(":")[0], link)
        for link in ws._hyperlinks:
            mine = links.get(link.ref.split(":")[0]) if link.ref else None
            if mine is None:
                problems.append((where + " hyperlink", None, link.ref))
                continue
            if link.location and mine["location"] != link.location:
                problems.append((where + " hyperlink location", mine["location"], link.location))
            if link.target and mine["target"] != link.target:
                problems.append((where + " hyperlink target", mine["target"], link.target))
    # openpyxl rebuilds the anchors of chart sheets instead of reading them: only their number is compared.
    for ws in getattr(wb, "chartsheets", []):
        index = wb.sheetnames.index(ws.title)
        if len(ws._charts) != len(ours["sheets"][index]["charts"]):
            problems.append((ws.title + " charts", len(ours["sheets"][index]["charts"]), len(ws._charts)))
    for ws in wb.worksheets:
        index = wb.sheetnames.index(ws.title)
        peer_anchors = [anchor_of(chart.anchor) for chart in ws._charts]
        ours_anchors = [our_anchor(chart["anchor"]) for chart in ours["sheets"][index]["charts"]]
        if peer_anchors and ours_anchors != peer_anchors and None not in peer_anchors:
            problems.append((ws.title + " chart anchors", ours_anchors, peer_anchors))


def anchor_of(anchor):
    kind = type(anchor).__name__
    if kind == "TwoCellAnchor":
        return ("twoCell", (anchor._from.col, anchor._from.colOff, anchor._from.row, anchor._from.rowOff),
                (anchor.to.col, anchor.to.colOff, anchor.to.row, anchor.to.rowOff))
    if kind == "OneCellAnchor":
        return ("oneCell", (anchor._from.col, anchor._from.colOff, anchor._from.row, anchor._from.rowOff),
                (anchor.ext.width, anchor.ext.height))
    if kind == "AbsoluteAnchor":
        return ("absolute", (anchor.pos.x, anchor.pos.y), (anchor.ext.width, anchor.ext.height))
    return None


def our_anchor(anchor):
    if anchor["kind"] == "twoCell":
        return ("twoCell", tuple(anchor["from"]), tuple(anchor["to"]))
    if anchor["kind"] == "oneCell":
        return ("oneCell", tuple(anchor["from"]), tuple(anchor["ext"]))
    return ("absolute", tuple(anchor["pos"]), tuple(anchor["ext"]))


def differences(path, styles=True):
    ours = dump(path)
    assert ours["ok"], ours
    values = load_peer(path, data_only=True)
    formulas = load_peer(path, data_only=False)
    problems = []
    compare_structure(problems, ours, formulas)
    if not problems:
        compare_values(problems, ours, values, formulas, styles, Path(path).name in PHONETIC_FILES)
    return ours, problems


# --- generated workbooks ----------------------------------------------------------------------------------


def write_xlsxwriter(path):
    wb = xlsxwriter.Workbook(str(path))
    bold = wb.add_format({"bold": True, "italic": True, "font_size": 14, "font_name": "Arial", "font_color": "#FF0000"})
    money = wb.add_format({"num_format": "#,##0.00 [$EUR]", "bg_color": "#FFFF00", "pattern": 1})
    boxed = wb.add_format({"border": 2, "left": 5, "num_format": 10, "text_wrap": True})
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    ws = wb.add_worksheet("Data")
    ws.write_row(0, 0, ["name", "amount", "flag", "when"], bold)
    for row in range(1, 30):
        ws.write_string(row, 0, f"item {row}")
        ws.write_number(row, 1, row * 1.25, money)
        ws.write_boolean(row, 2, row % 2 == 0)
        ws.write_datetime(row, 3, datetime.datetime(2024, 1, row % 28 + 1), date)
        ws.write_formula(row, 4, f"=B{row + 1}*2", boxed, row * 2.5)
    ws.write_formula(31, 0, "=SUM(B2:B30)", None, 543.75)
    ws.write_formula(32, 0, "=1/0", None, "#DIV/0!")
    ws.write_array_formula("F2:F4", "{=B2:B4*2}")
    ws.merge_range("G1:H2", "merged", bold)
    ws.set_column("A:A", 24)
    ws.set_column("C:D", 12.5)
    ws.set_column("J:J", None, None, {"hidden": True})
    ws.set_row(5, 30)
    ws.set_row(6, None, None, {"hidden": True})
    ws.freeze_panes(1, 2)
    ws.write_url("I1", "https://example.com/a?b=c", string="link", tip="a tip")
    ws.write_url("I2", "internal:'Other sheet'!A1", string="inside")
    ws.add_table("K1:L4", {"name": "Scores", "columns": [{"header": "who"}, {"header": "score"}]})
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"name": "=Data!$B$1", "categories": "=Data!$A$2:$A$6", "values": "=Data!$B$2:$B$6"})
    ws.insert_chart("N2", chart, {"x_offset": 15, "y_offset": 7})
    other = wb.add_worksheet("Other sheet")
    other.write("A1", "second")
    wb.define_name("Total", "=Data!$B$2:$B$30")
    wb.define_name("'Other sheet'!Local", "=Data!$A$1")
    line = wb.add_chart({"type": "line"})
    line.add_series({"values": "='Other sheet'!$A$1:$A$3"})
    other.insert_chart("C3", line)
    sheet_chart = wb.add_chart({"type": "pie"})
    sheet_chart.add_series({"values": "=Data!$B$2:$B$4"})
    chartsheet = wb.add_chartsheet("Pie")
    chartsheet.set_chart(sheet_chart)
    wb.close()


def write_openpyxl(path):
    from openpyxl.chart import BarChart, Reference
    from openpyxl.styles import Border, Font, PatternFill, Side
    from openpyxl.workbook.defined_name import DefinedName
    from openpyxl.worksheet.table import Table

    wb = openpyxl.Workbook()
    wb.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
    ws = wb.active
    ws.title = "First"
    ws.append(["a", "b", "c"])
    for row in range(2, 12):
        ws.append([row, f"text {row}", f"=A{row}*3"])
    ws["A1"].font = Font(bold=True, underline="single", color="FF123456", size=9)
    ws["B2"].fill = PatternFill("solid", fgColor="FF00FF00")
    ws["B3"].border = Border(left=Side(style="thin", color="FF0000FF"), bottom=Side(style="double"))
    ws["C2"].number_format = "0.000%"
    ws["D1"] = True
    ws["D2"] = "#N/A"
    ws.merge_cells("E1:F3")
    ws.column_dimensions["B"].width = 30
    ws.column_dimensions["G"].hidden = True
    ws.row_dimensions[4].height = 42
    ws.freeze_panes = "B3"
    ws["H1"].hyperlink = "https://example.org/"
    ws.add_table(Table(displayName="Nums", ref="A1:C11"))
    wb.defined_names["Everything"] = DefinedName("Everything", attr_text="First!$A$1:$C$11", hidden=True)
    second = wb.create_sheet("Second")
    second["A1"] = 3.5
    second.defined_names["OnlyHere"] = DefinedName("OnlyHere", attr_text="Second!$A$1")
    chart = BarChart()
    chart.add_data(Reference(ws, min_col=1, min_row=1, max_row=11), titles_from_data=True)
    ws.add_chart(chart, "J5")
    wb.save(path)


@pytest.mark.parametrize("writer", [write_xlsxwriter, write_openpyxl])
def test_generated_workbooks_agree(tmp_path, writer):
    path = tmp_path / f"{writer.__name__}.xlsx"
    writer(path)
    ours, problems = differences(path)
    assert problems == []
    # The comparison has something to compare.
    assert sum(len(sheet["cells"]) for sheet in ours["sheets"]) > 20
    assert any(sheet["charts"] for sheet in ours["sheets"])
    assert ours["names"] and ours["tables"] and ours["styles"]["fonts"]


def test_xlsxwriter_details(tmp_path):
    path = tmp_path / "details.xlsx"
    write_xlsxwriter(path)
    ours = dump(path)
    assert [s["name"] for s in ours["sheets"]] == ["Data", "Other sheet", "Pie"]
    data = ours["sheets"][0]
    cells = our_cells(data)
    assert cells["A33"][:3] == ("e", "#DIV/0!", "1/0")
    assert cells["F2"][2] == "B2:B4*2"
    assert data["freeze"] == {"rows": 1, "cols": 2, "top_left": "C2"}
    assert dict(data["col_widths"])[9] == 0.0
    assert dict(data["row_heights"])[6] == 0.0
    assert {"ref": "I1", "target": "https://example.com/a?b=c", "location": None, "tooltip": "a tip",
            "display": None} in data["hyperlinks"]
    names = {(n["name"], n["local_sheet"]) for n in ours["names"]}
    assert ("Total", None) in names and ("Local", 1) in names
    chart = data["charts"][0]
    assert chart["anchor"]["from"] == [13, 15 * 9525, 1, 7 * 9525]
    assert ["seriesName", "Data!$B$1"] in chart["refs"] and ["values", "Data!$B$2:$B$6"] in chart["refs"]
    pie = ours["sheets"][2]
    assert pie["cells"] == [] and len(pie["charts"]) == 1 and pie["charts"][0]["anchor"]["kind"] == "absolute"
    assert ours["unreadable"] == []


def test_openpyxl_details(tmp_path):
    path = tmp_path / "details.xlsx"
    write_openpyxl(path)
    ours = dump(path)
    assert ours["date1904"] is True
    hidden = [n for n in ours["names"] if n["name"] == "Everything"]
    assert hidden and hidden[0]["hidden"] is True and hidden[0]["local_sheet"] is None
    assert any(n["name"] == "OnlyHere" and n["local_sheet"] == 1 for n in ours["names"])
    first = ours["sheets"][0]
    font = font_of(ours, our_cells(first)["A1"][3])
    assert font["bold"] and font["underline"] and font["color"] == {"rgb": "#123456"} and font["size"] == 9


def test_refusals_are_stated_errors(tmp_path):
    import zipfile

    bad = tmp_path / "bad.xlsx"
    bad.write_bytes(b"hello")
    assert dump(bad)["kind"] == "Package"
    no_workbook = tmp_path / "no_workbook.xlsx"
    with zipfile.ZipFile(no_workbook, "w") as z:
        z.writestr("[Content_Types].xml", "<Types/>")
    assert dump(no_workbook) == {"ok": False, "stage": "workbook", "kind": "MissingPart",
                                 "error": "missing part: xl/workbook.xml"}


# --- the corpus ---------------------------------------------------------------------------------------------


def corpus_files():
    if not CORPUS.is_dir():
        return []
    return sorted(CORPUS.rglob("*.xlsx"))


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_opens_or_is_refused_and_agrees_with_openpyxl():
    outcome = Counter()
    disagreements = {}
    for path in corpus_files():
        ours = dump(path)
        if not ours["ok"]:
            assert ours["kind"] in STATED_KINDS, (path, ours)
            outcome[f"refused: {ours['kind']}"] += 1
            continue
        outcome["opened"] += 1
        try:
            load_peer(path, data_only=True)
        except Exception:  # openpyxl cannot read it; nothing to compare
            outcome["opened, openpyxl cannot read"] += 1
            continue
        if not load_peer(path, data_only=True).sheetnames:  # strict-namespace workbooks read as empty there
            outcome["opened, openpyxl reads no sheets"] += 1
            continue
        _, problems = differences(path, styles=path.name not in STYLE_EXCEPTIONS)
        if problems:
            disagreements[path.name] = problems[:3]
    print(dict(outcome))
    assert outcome["opened"] > 1000
    assert disagreements == {}
