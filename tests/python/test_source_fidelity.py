"""Fidelity of a whole save into the source package, checked by openpyxl and Python's zipfile.

Our side is the test-only driver tests/cpp/writer/source_save, built by CMake into $CMX_BUILD_DIR (default
build/release): it opens an .xlsx as a session does and saves it back into its source package, unchanged, after
setting A1 of the first worksheet to 4242 (--set-a1), or after giving A1 a new bold font (--restyle).

Over the shared corpus (a sample; CMX_CORPUS_ALL=1 takes every file): the unchanged save holds the source's
entries, each copied raw (same CRC, compressed size and timestamp); the edited save keeps every part it did not
need to rewrite byte for byte, keeps every part reachable that was reachable (the calculation chain aside), and
openpyxl reads every other cell, formula, style, merge and defined name as in the source.
"""

import datetime
import json
import os
import posixpath
import re
import subprocess
import warnings
import zipfile
from pathlib import Path

import pytest

openpyxl = pytest.importorskip("openpyxl")
from openpyxl.formatting.rule import CellIsRule  # noqa: E402
from openpyxl.styles import Font  # noqa: E402
from openpyxl.styles.differential import DifferentialStyle  # noqa: E402
from openpyxl.worksheet.formula import ArrayFormula  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "writer" / "source_save"
CORPUS = ROOT.parent / "shared" / "corpus"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"source_save not built at {TOOL}")

SPINE = {"[content_types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels"}


def save(source, target, *flags):
    run = subprocess.run([str(TOOL), *flags, str(source), str(target)], capture_output=True, timeout=120)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    return json.loads(run.stdout)


def load(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path)


def corpus_files():
    if not CORPUS.exists():
        return []
    files = sorted(CORPUS.rglob("*.xlsx"))
    if os.environ.get("CMX_CORPUS_ALL") == "1":
        return files
    return files[::13]


def infos(path):
    """Entries that are parts: a directory entry names no part, and the reader passes over it."""
    with zipfile.ZipFile(path) as archive:
        return {i.filename: (i.CRC, i.compress_size, i.compress_type, i.date_time) for i in archive.infolist()
                if not i.filename.endswith("/")}


def contents(path):
    with zipfile.ZipFile(path) as archive:
        return {name: archive.read(name) for name in archive.namelist()}


def reachable(parts):
    """Keys of the parts reached from the package relationships, as a reader walks them."""
    by_key = {name.lower().lstrip("/"): data for name, data in parts.items()}
    seen, queue = set(), ["_rels/.rels"]
    while queue:
        key = queue.pop()
        if key in seen or key not in by_key:
            continue
        seen.add(key)
        if not key.endswith(".rels"):
            folder, base = posixpath.split(key)
            queue.append(posixpath.join(folder, "_rels", base + ".rels"))
            continue
        source_dir = posixpath.dirname(posixpath.dirname(key))
        text = by_key[key].decode("utf-8", errors="replace")
        for match in re.finditer(r"<Relationship\b([^>]*)>", text):
            attrs = dict(re.findall(r'(\w+)="([^"]*)"', match.group(1)))
            if attrs.get("TargetMode") == "External" or "Target" not in attrs:
                continue
            target = attrs["Target"]
            path = target.lstrip("/") if target.startswith("/") else posixpath.join(source_dir, target)
            queue.append(posixpath.normpath(path).lower())
    return seen


def color_form(color):
    if color is None:
        return None
    return (color.type, str(color.value))


ESCAPE = re.compile(r"_[xX]([0-9A-Fa-f]{4})_")
LINE_END = re.compile(r"\r*\n|\r")


def value_form(value):
    """Values as both sides mean them. openpyxl keeps `_xHHHH_` escapes undecoded and strips texts without
    xml:space, where a rewritten row holds decoded texts under xml:space="preserve": texts compare decoded, stripped,
    line ends folded.
    Numbers compare as doubles, array formulas by range and text."""
    if isinstance(value, str):
        value = ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value.replace("_x005F_", "_"))
        return LINE_END.sub("\n", value).strip()
    if isinstance(value, int) and not isinstance(value, bool):
        return float(value)
    if isinstance(value, ArrayFormula):
        return ("array", value.ref, value.text)
    return value


def cell_form(cell):
    font, fill, border, align = cell.font, cell.fill, cell.border, cell.alignment
    return (
        value_form(cell.value),
        cell.number_format,
        (font.name, font.sz, font.b, font.i, font.u, font.strike, color_form(font.color)),
        (fill.fill_type, color_form(fill.fgColor)),
        tuple((side.style, color_form(side.color)) if side is not None else None
              for side in (border.left, border.right, border.top, border.bottom)),
        (align.horizontal, align.vertical, align.wrap_text, align.shrink_to_fit),
    )


def sheet_form(ws, skip=()):
    # The cells the sheet stores (iter_rows would create every cell of its dimension) that hold a value or a style.
    cells = {c.coordinate: cell_form(c) for c in ws._cells.values()
             if c.coordinate not in skip and (c.value is not None or c.has_style)}
    return cells, sorted(str(r) for r in ws.merged_cells.ranges)


def first_worksheet(wb):
    return wb.worksheets[0].title if wb.worksheets else None


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_corpus_save_keeps_what_it_does_not_change(path, tmp_path):
    unchanged, edited = tmp_path / "unchanged.xlsx", tmp_path / "edited.xlsx"
    answer = save(path, unchanged)
    if not answer["ok"]:
        pytest.skip(f"our reader refuses the file: {answer['error']}")
    assert list(infos(unchanged).items()) == list(infos(path).items())

    assert save(path, edited, "--set-a1") == {"ok": True}
    before, after = contents(path), contents(edited)
    old_reached, new_reached = reachable(before), reachable(after)
    # The calculation chain goes after an edit, and so does a shared-strings part without a single item.
    gone = {key for key in old_reached if "calcchain" in key}
    gone |= {name.lower() for name, data in before.items() if name.lower().endswith("sharedstrings.xml") and b"<si" not in data}
    assert old_reached - gone <= new_reached, "parts no longer reached"
    changed = {name for name in before if name in after and before[name] != after[name]}
    # Beside the package's spine only the edited worksheet is rewritten.
    assert len({name.lower() for name in changed} - SPINE) <= 1, sorted(changed)
    assert set(after) <= set(before), "parts were added"

    try:
        old, new = load(path), load(edited)
    except Exception as error:  # noqa: BLE001 - openpyxl's own refusals of the source
        pytest.skip(f"openpyxl cannot read the file: {error}")
    assert new.sheetnames == old.sheetnames
    first = first_worksheet(old)
    for ws in old.worksheets:
        skip = {"A1"} if ws.title == first else ()
        assert sheet_form(new[ws.title], skip) == sheet_form(ws, skip), ws.title
    if first is not None:
        written = new[first]["A1"].value
        if isinstance(written, datetime.date):  # A1 carries a date format: back to its serial
            moment = written if isinstance(written, datetime.datetime) else datetime.datetime.combine(written, datetime.time())
            written = (moment - new.epoch) / datetime.timedelta(days=1)
        assert written == 4242
        if (1, 1) in old[first]._cells:  # a cell that was there keeps its style
            assert cell_form(new[first]["A1"])[1:] == cell_form(old[first]["A1"])[1:]
    assert {n: d.attr_text for n, d in new.defined_names.items()} == {n: d.attr_text for n, d in old.defined_names.items()}


@pytest.fixture
def dxf_source(tmp_path):
    """Custom formats on cells, a conditional format whose differential style defines its own number format,
    and a listed number format whose id our reader cannot use (so it skips it) ahead of the others."""
    wb = openpyxl.Workbook()
    ws = wb.active
    formats = ["0.0%", "#,##0.000", "0.00E+00", "yyyy-mm-dd hh:mm"]
    for row, code in enumerate(formats, start=1):
        for col in range(1, 4):
            cell = ws.cell(row, col, row * col + 0.25)
            cell.number_format = code
    ws["B7"] = 3
    dxf = DifferentialStyle(font=Font(bold=True))
    dxf.numFmt = openpyxl.styles.numbers.NumberFormat(numFmtId=200, formatCode='0.0000"x"')
    rule = CellIsRule(operator="greaterThan", formula=["1"])
    rule.dxf = dxf
    ws.conditional_formatting.add("A1:C4", rule)
    path = tmp_path / "source.xlsx"
    wb.save(path)
    parts = contents(path)
    styles = parts["xl/styles.xml"].decode()
    assert '0.0000"x"' in styles.replace("&quot;", '"')
    styles = re.sub(r'<numFmts count="(\d+)">',
                    lambda m: f'<numFmts count="{int(m.group(1)) + 1}"><numFmt numFmtId="70000" formatCode="0.0"/>',
                    styles, count=1)
    parts["xl/styles.xml"] = styles.encode()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in parts.items():
            archive.writestr(name, data)
    return path


def num_fmt_ids(path):
    styles = contents(path)["xl/styles.xml"].decode()
    listed = re.search(r"<numFmts[^>]*>(.*?)</numFmts>", styles, re.S)
    return re.findall(r'numFmtId="(\d+)"', listed.group(1)) if listed else []


def test_restyled_saves_keep_every_cells_number_format(dxf_source, tmp_path):
    old = load(dxf_source)["Sheet"]
    expected = {c.coordinate: c.number_format for c in old._cells.values()}
    listed = num_fmt_ids(dxf_source)
    current = dxf_source
    for round_idx in range(3):
        target = tmp_path / f"round{round_idx}.xlsx"
        assert save(current, target, "--restyle") == {"ok": True}
        ws = load(target)["Sheet"]
        assert {c.coordinate: c.number_format for c in ws._cells.values()} == expected
        assert ws["A1"].font.b and ws["A1"].font.sz == 13
        # The differential style's own format never joins the cell formats' list.
        assert num_fmt_ids(target) == listed
        assert contents(target)["xl/worksheets/sheet1.xml"].count(b"conditionalFormatting") == 2
        current = target
