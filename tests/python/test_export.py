"""Structured export and Markdown through the installed module: every corpus workbook exports or is refused with
its error, its JSON reads back, and its Markdown parses (markdown-it-py, plus Python's HTML parser for merged grids)
into one table per sheet with the rows, columns and cell texts the document says; values agree with openpyxl's
reading of a generated workbook; budgets stop at their limit with the truncation diagnostic; refusals, envelopes
and the reading back of stored documents."""

import hashlib
import html.parser
import io
import json
import os
import pathlib
import re
import warnings
import zipfile

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")
markdown_it = pytest.importorskip("markdown_it")

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = ROOT.parent / "shared" / "corpus"
BIG = {"maxRows": 100000, "maxColumns": 16384, "maxCells": 1000000, "maxBytes": 16777216}
MARKER = re.compile(r"<!-- xlsx-export:(\d+) -->")


def write_book(path, build):
    book = xlsxwriter.Workbook(str(path))
    build(book)
    book.close()
    return path.read_bytes()


def sample(book):
    bold = book.add_format({"bold": True})
    data = book.add_worksheet("Data")
    data.write("A1", "Name", bold)
    data.write("B1", "Amount")
    data.write("A2", "pipe | star * [x]")
    data.write_number("B2", 2.5)
    data.write_boolean("C2", True)
    data.write_formula("D2", "=B2*2", None, 5)
    data.write_formula("E2", "=1/0", None, "#DIV/0!")
    data.write_url("A4", "https://example.com/a b", string="site")
    data.write_url("A5", "ftp://example.com/f", string="bad")
    data.set_row(2, None, None, {"hidden": True})
    data.write("B3", "in a hidden row")
    data.set_column("F:F", None, None, {"hidden": True})
    data.write("F1", "hidden column")
    book.define_name("Total", "=Data!$B$2")
    book.define_name("Data!Local", "=Data!$A$1")
    merged = book.add_worksheet("Merged")
    merged.merge_range("B1:C1", "wide")
    merged.write("A1", 1)
    merged.write("A2", "x")
    merged.write("C2", "y")
    hidden = book.add_worksheet("Secret")
    hidden.write("A1", "s")
    hidden.hide()


@pytest.fixture(scope="module")
def sample_bytes(tmp_path_factory):
    return write_book(tmp_path_factory.mktemp("export") / "sample.xlsx", sample)


def structured(data, **options):
    return json.loads(cx.export_xlsx_structured_json(data, json.dumps(options)))


def markdown(data, options=None, md=None):
    return json.loads(cx.export_xlsx_markdown_json(data, json.dumps(options or {}), json.dumps(md or {})))


# --- reading Markdown back --------------------------------------------------------------------------------------

class HtmlGrid(html.parser.HTMLParser):
    """Rows of an HTML grid: each row a list of (text, rowspan, colspan), the head's letters apart."""

    def __init__(self):
        super().__init__()
        self.head, self.rows, self.cell, self.section = [], [], None, None

    def handle_starttag(self, tag, attrs):
        if tag in ("thead", "tbody"):
            self.section = tag
        elif tag == "tr" and self.section == "tbody":
            self.rows.append([])
        elif tag in ("td", "th"):
            attrs = dict(attrs)
            self.cell = ["", int(attrs.get("rowspan", 1)), int(attrs.get("colspan", 1)), tag]

    def handle_data(self, data):
        if self.cell is not None:
            self.cell[0] += data

    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cell is not None:
            text, rowspan, colspan, kind = self.cell
            if self.section == "thead":
                self.head.append(text)
            elif kind == "td":
                self.rows[-1].append((text, rowspan, colspan))
            self.cell = None


def markdown_grids(text):
    """Each grid of the text, in order, as (header letters, {(row number, letter): text}, merge cells)."""
    grids = []
    tokens = markdown_it.MarkdownIt("commonmark").enable("table").parse(text)
    i = 0
    while i < len(tokens):
        token = tokens[i]
        if token.type == "table_open":
            head, body, row, cells = [], [], None, {}
            in_head = False
            while tokens[i].type != "table_close":
                t = tokens[i]
                if t.type == "thead_open":
                    in_head = True
                elif t.type == "thead_close":
                    in_head = False
                elif t.type == "tr_open":
                    row = []
                elif t.type == "tr_close":
                    (head if in_head else body).append(row)
                elif t.type == "inline":
                    row.append(t.content if not t.children else "".join(c.content for c in t.children))
                i += 1
            letters = head[0][1:]
            for line in body:
                assert len(line) == len(letters) + 1
                for letter, value in zip(letters, line[1:]):
                    cells[(int(line[0]), letter)] = value
            grids.append((letters, cells, [], [int(line[0]) for line in body]))
        elif token.type == "html_block" and token.content.startswith("<table>"):
            content = token.content
            while not content.rstrip().endswith("</table>"):
                i += 1
                content += tokens[i].content if tokens[i].type == "html_block" else ""
            parser = HtmlGrid()
            parser.feed(content)
            letters = parser.head[1:]
            cells, spans, numbers = {}, [], []
            occupied = set()
            number_re = re.compile(r"<tr><th>(\d+)</th>")
            row_numbers = [int(n) for n in number_re.findall(content)]
            for r, line in enumerate(parser.rows):
                j = 0
                for text, rowspan, colspan in line:
                    while (r, j) in occupied:
                        j += 1
                    for dr in range(rowspan):
                        for dc in range(colspan):
                            occupied.add((r + dr, j + dc))
                    cells[(row_numbers[r], letters[j])] = text
                    if rowspan > 1 or colspan > 1:
                        spans.append((row_numbers[r], letters[j], rowspan, colspan))
                    j += colspan
                numbers.append(row_numbers[r])
            grids.append((letters, cells, spans, numbers))
        i += 1
    return grids


def letters_of(index):
    out = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        out = chr(65 + rest) + out
    return out


def column_index(letters):
    n = 0
    for ch in letters:
        n = n * 26 + ord(ch) - 64
    return n - 1


def split_a1(a1):
    m = re.fullmatch(r"([A-Z]+)(\d+)", a1)
    return int(m.group(2)), m.group(1)


def span_set(texts, parse):
    hidden = set()
    for text in texts:
        first, last = text.split(":")
        hidden.update(range(parse(first), parse(last) + 1))
    return hidden


def expected_grids(document, md):
    """What each worksheet's grid must show, as the document and the caps say: (letters, row numbers)."""
    remaining = md["maxCells"]
    expected = []
    for sheet in document["sheets"]:
        if sheet["kind"] != "worksheet" or not sheet["selectedRange"]:
            continue
        first, _, last = sheet["selectedRange"].partition(":")
        last = last or first
        (r0, c0), (r1, c1) = split_a1(first), split_a1(last)
        c0, c1 = column_index(c0), column_index(c1)
        hidden_cols = set() if document["included"]["hiddenColumns"] else span_set(sheet["hiddenColumns"], column_index)
        hidden_rows = set() if document["included"]["hiddenRows"] else span_set(sheet["hiddenRows"], int)
        cols = [c for c in range(c0, c1 + 1) if c not in hidden_cols][: md["maxColumns"]]
        if not cols:
            continue
        cap = min(md["maxRows"], remaining // len(cols))
        if cap == 0:
            continue
        rows = [r for r in range(r0, r1 + 1) if r not in hidden_rows][:cap]
        if not rows:
            continue
        remaining -= len(rows) * len(cols)
        expected.append(([letters_of(c) for c in cols], rows, sheet))
    return expected


def check_markdown_against(document, result, md):
    """The Markdown's grids hold the rows, columns and display texts the document gives."""
    text = result["markdown"]
    assert len(text.encode()) <= md["maxBytes"]
    numbers = [int(n) for n in MARKER.findall(text)]
    assert numbers == list(range(len(result["anchors"])))
    assert [a["marker"] for a in result["anchors"]] == [f"<!-- xlsx-export:{n} -->" for n in numbers]
    if result["truncated"]:
        return 0
    expected = expected_grids(document, md)
    grids = markdown_grids(text)
    assert len(grids) == len(expected)
    checked = 0
    for (letters, rows, sheet), (got_letters, cells, spans, got_rows) in zip(expected, grids):
        assert got_letters == letters
        assert got_rows == rows
        covered = set()
        for row, letter, rowspan, colspan in spans:
            col = letters.index(letter)
            for dr in range(rowspan):
                for dc in range(colspan):
                    if dr or dc:
                        covered.add((got_rows[got_rows.index(row) + dr], letters[col + dc]))
        for cell in sheet["cells"]:
            row, letter = split_a1(cell["anchor"]["a1"])
            if (row, letter) not in cells or (row, letter) in covered:
                continue
            shown = re.sub(r"[\x00-\x1f\x7f-\x9f\u2028\u2029]", " ", cell["displayText"])
            if cell["merge"] and not cell["merge"]["origin"]:
                continue
            assert cells[(row, letter)].strip() == shown.strip(), (sheet["id"], cell["id"])
            checked += 1
    return checked


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_exports_and_renders():
    files = sorted(CORPUS.rglob("*.xlsx"))
    exported = checked = 0
    for path in files:
        data = path.read_bytes()
        try:
            text = cx.export_xlsx_structured_json(data, "{}")
        except (cx.XlsxError, ValueError) as refused:
            assert str(refused), path.name
            continue
        document = json.loads(text)
        assert document["schemaVersion"] == 1 and document["anchorScope"] == "snapshot", path.name
        assert len(text.encode()) <= 8388608
        result = json.loads(cx.render_xlsx_markdown_json(text, json.dumps(BIG)))
        checked += check_markdown_against(document, result, BIG)
        exported += 1
    assert exported > len(files) * 0.9
    assert checked > 10000


def test_values_agree_with_openpyxl(sample_bytes, tmp_path):
    document = structured(sample_bytes)
    path = tmp_path / "peer.xlsx"
    path.write_bytes(sample_bytes)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        values = openpyxl.load_workbook(path, data_only=True)
        formulas = openpyxl.load_workbook(path, data_only=False)
    assert [s["anchor"]["sheet"]["name"] for s in document["sheets"]] == ["Data", "Merged"]
    compared = 0
    for sheet in document["sheets"]:
        name = sheet["anchor"]["sheet"]["name"]
        for cell in sheet["cells"]:
            a1 = cell["anchor"]["a1"]
            peer = values[name][a1].value
            kind = cell["value"]["kind"]
            if kind == "error":
                assert cell["value"]["value"] == peer
            elif kind != "empty":
                assert cell["value"]["value"] == peer, a1
            peer_formula = formulas[name][a1].value
            if isinstance(peer_formula, str) and peer_formula.startswith("="):
                assert cell["formula"] == peer_formula[1:]
                assert cell["formulaResult"] == "unverified"
            else:
                assert cell["formula"] is None and cell["formulaResult"] is None
            compared += 1
    assert compared == 13
    data = document["sheets"][0]
    assert data["hiddenRows"] == ["3:3"] and data["hiddenColumns"] == ["F:F"]
    assert "B3" not in {c["anchor"]["a1"] for c in data["cells"]}
    assert "F1" not in {c["anchor"]["a1"] for c in data["cells"]}
    targets = [link["externalTarget"] for link in data["hyperlinks"]]
    assert targets == ["https://example.com/a%20b", "ftp://example.com/f"]
    merged = document["sheets"][1]
    assert [m["anchor"]["a1"] for m in merged["merges"]] == ["B1:C1"]
    assert next(c for c in merged["cells"] if c["id"] == "s1!B1")["merge"] == {"range": "B1:C1", "origin": True}
    codes = [d["code"] for d in document["diagnostics"]]
    assert "hidden-content-excluded" in codes and "formula-cache-unverified" in codes
    assert {n["name"] for n in document["definedNames"]} == {"Total", "Local"}


def test_include_flags_bring_hidden_content_back(sample_bytes):
    document = structured(sample_bytes, includeHiddenSheets=True, includeHiddenRows=True, includeHiddenColumns=True)
    assert [s["visibility"] for s in document["sheets"]] == ["visible", "visible", "hidden"]
    cells = {c["anchor"]["a1"] for c in document["sheets"][0]["cells"]}
    assert {"B3", "F1"} <= cells
    assert document["included"] == {"hiddenSheets": True, "hiddenRows": True, "hiddenColumns": True,
                                    "definedNames": True, "hiddenNames": False}
    none = structured(sample_bytes, includeDefinedNames=False)
    assert none["definedNames"] == []
    assert any(d["message"] == "Defined names are excluded (2); set includeDefinedNames to list them."
               for d in none["diagnostics"])


def test_markdown_of_the_sample(sample_bytes):
    result = markdown(sample_bytes)
    text = result["markdown"]
    assert text.startswith("<!-- xlsx-export:0 -->\n## Data\n\n")
    assert result["anchors"][0]["anchor"]["kind"] == "sheet"
    assert "| 1 | Name | Amount |  |  |  |\n" in text
    assert "pipe \\| star \\* \\[x\\]" in text
    assert "Link at A4: [https://example.com/a%20b](https://example.com/a%20b)\n" in text
    assert "Link at A5: ftp://example.com/f (not linked)\n" in text
    assert '<td rowspan="1" colspan="2" data-merge="B1:C1">wide</td>' in text
    assert "Total: Data\\!\\$B\\$2\n" in text and "Local (Data): Data\\!\\$A\\$1\n" in text
    grids = markdown_grids(text)
    assert grids[0][0] == ["A", "B", "C", "D", "E"] and grids[0][3] == [1, 2, 4, 5]
    assert grids[1][1][(1, "B")] == "wide"


def test_budgets_stop_at_their_limit(tmp_path):
    def big(book):
        sheet = book.add_worksheet("Big")
        for r in range(400):
            for c in range(50):
                sheet.write_number(r, c, r * 50 + c)
        book.add_worksheet("After").write("A1", "later")

    data = write_book(tmp_path / "big.xlsx", big)
    document = structured(data, maxCells=7)
    assert document["truncated"] and document["sheets"][0]["truncated"]
    assert [c["anchor"]["a1"] for c in document["sheets"][0]["cells"]] == ["A1", "B1", "C1", "D1", "E1", "F1", "G1"]
    assert len(document["sheets"]) == 1
    last = document["diagnostics"][-1]
    assert last["code"] == "truncated" and last["severity"] == "warning"
    assert last["message"] == ("Export stopped at the maxCells limit after cell G1; nothing after that point, "
                               "including later sheets, is covered.")
    for limit in (1024, 2048, 5000, 40000):
        text = cx.export_xlsx_structured_json(data, json.dumps({"maxBytes": limit}))
        assert len(text.encode()) <= limit
        document = json.loads(text)
        assert document["truncated"]
        assert "maxBytes limit" in document["diagnostics"][-1]["message"]
    result = markdown(data, md={"maxBytes": 4096})
    assert len(result["markdown"].encode()) <= 4096
    assert result["truncated"] and result["markdown"].endswith("\n_Markdown stopped at its maxBytes limit._\n")
    assert result["diagnostics"][-1]["code"] == "truncated"
    capped = markdown(data, md={"maxRows": 2, "maxCells": 100})
    grids = markdown_grids(capped["markdown"])
    assert grids[0][3] == [1, 2] and len(grids[0][0]) == 50
    assert "_Grid omitted: the Markdown cell limit was reached._" in capped["markdown"]


def test_refusals_of_the_methods_and_the_functions(sample_bytes):
    book = cx.Workbook.open(sample_bytes)
    cases = [
        ({"maxCells": 0}, "invalid-options", "maxCells must be positive"),
        ({"maxBytes": 1023}, "limit-exceeded", "maxBytes must be at least 1024"),
        ({"maxBytes": 16777217}, "limit-exceeded", "maxBytes is at most 16777216"),
        ({"scope": []}, "invalid-scope", "scope must name at least one sheet"),
        ({"scope": [{"sheet": 3}]}, "invalid-scope", "sheet 3 does not exist; the workbook has 3 sheets"),
        ({"scope": [{"sheet": 0}, {"sheet": 0}]}, "invalid-scope", "sheet 0 appears more than once in scope"),
        ({"scope": [{"sheet": 0, "range": "A1:B"}]}, "invalid-scope",
         "A1:B is not a cell or rectangular range; sheet-qualified, union, whole-row, whole-column and named "
         "references are not accepted"),
    ]
    for options, code, message in cases:
        answer = book.export_structured_json(json.dumps(options))
        assert answer.startswith('{"failure":')
        refusal = json.loads(answer)
        assert refusal["ok"] is False and refusal["version"] == book_version(book)
        assert refusal["failure"]["code"] == code
        assert refusal["failure"]["message"] == message
        with pytest.raises(ValueError, match=re.escape("malformed request: " + message)):
            cx.export_xlsx_structured_json(sample_bytes, json.dumps(options))
    target = json.loads(book.export_structured_json('{"scope":[{"sheet":0},{"sheet":0}]}'))["failure"]["target"]
    assert target == {"kind": "sheet", "sheet": {"sheetId": "sheet:0", "index": 0, "name": "Data"}}
    for bad in ('{"unknown": 1}', "", '{"maxCells": -1}'):
        with pytest.raises(ValueError, match="^malformed request: "):
            book.export_structured_json(bad)
        with pytest.raises(ValueError, match="^malformed request: "):
            cx.export_xlsx_structured_json(sample_bytes, bad)
    long = " " * 16777217
    answer = json.loads(book.export_structured_json(long))
    assert answer["failure"] == {"code": "limit-exceeded", "target": None,
                                 "message": "a request carries at most 16777216 bytes"}
    answer = json.loads(book.export_markdown_json(" " * 10000000, " " * 7000000))
    assert answer["failure"]["message"] == "a request carries at most 16777216 bytes"
    with pytest.raises(ValueError, match="a request carries at most 16777216 bytes"):
        cx.export_xlsx_structured_json(sample_bytes, long)
    refused = json.loads(book.export_markdown_json("{}", '{"maxRows": 0}'))
    assert refused["failure"] == {"code": "invalid-options", "target": None, "message": "maxRows must be positive"}
    with pytest.raises(ValueError, match="^malformed request: maxRows must be positive$"):
        cx.export_xlsx_markdown_json(sample_bytes, "{}", '{"maxRows": 0}')
    with pytest.raises(cx.ParseError):
        cx.export_xlsx_structured_json(b"not a zip", "{}")
    with pytest.raises(TypeError):
        cx.export_xlsx_structured_json(bytearray(sample_bytes), "{}")


def book_version(book):
    return json.loads(book.export_structured_json("{}"))["version"]


def test_envelopes_and_scopes(sample_bytes):
    book = cx.Workbook.open(sample_bytes)
    answer = book.export_structured_json('{"scope": [{"sheet": 1}, {"sheet": 0, "range": "a1:b2"}]}')
    assert answer.startswith('{"content":{"anchorScope":"session"')
    assert answer.endswith(f'"version":"{book_version(book)}"}}')
    envelope = json.loads(answer)
    assert envelope["ok"] is True
    content = envelope["content"]
    assert [s["id"] for s in content["sheets"]] == ["s0", "s1"]
    assert content["sheets"][0]["selectedRange"] == "A1:B2"
    assert {c["anchor"]["a1"] for c in content["sheets"][0]["cells"]} == {"A1", "B1", "A2", "B2"}
    module = cx.export_xlsx_structured_json(sample_bytes, "{}")
    assert module.startswith('{"schemaVersion":1,"anchorScope":"snapshot","dateSystem":"1900","calculation":'
                             '{"policy":"asStored","freshness":"unverified"},"included":{"hiddenSheets":false')
    md = json.loads(book.export_markdown_json("{}", "{}"))
    assert list(md) == ["content", "ok", "version"] and list(md["content"]) == ["anchors", "diagnostics", "markdown",
                                                                              "truncated"]
    assert md["content"]["markdown"] == markdown(sample_bytes)["markdown"]


def test_rendering_stored_documents(sample_bytes):
    book = cx.Workbook.open(sample_bytes)
    content = json.loads(book.export_structured_json("{}"))["content"]
    from_session = json.loads(cx.render_xlsx_markdown_json(json.dumps(content), "{}"))
    direct = markdown(sample_bytes)
    assert from_session["markdown"] == direct["markdown"]
    order = ["schemaVersion", "anchorScope", "dateSystem", "calculation", "included", "sheets", "definedNames",
             "diagnostics", "truncated"]
    as_array = json.dumps([content[k] for k in order])
    assert json.loads(cx.render_xlsx_markdown_json(as_array, "{}"))["markdown"] == direct["markdown"]
    cases = [
        (dict(content, schemaVersion=2), "unsupported schemaVersion 2; expected 1"),
        (dict(content, extra=1), "unknown field `extra`"),
        ({k: v for k, v in content.items() if k not in ("sheets", "truncated")}, "missing field `sheets`"),
        (json.loads(book.export_structured_json("{}")), "unknown field `content`"),
    ]
    for document, message in cases:
        with pytest.raises(ValueError, match=re.escape(message)):
            cx.render_xlsx_markdown_json(json.dumps(document), "{}")
    with pytest.raises(ValueError, match="a request carries at most 33554432 bytes"):
        cx.render_xlsx_markdown_json(" " * 33554433, "{}")
    with pytest.raises(ValueError, match="^malformed request: "):
        cx.render_xlsx_markdown_json(json.dumps(content), "")


def sheet_doc(**sheet):
    identity = {"sheetId": "sheet:0", "index": 0, "name": "S"}
    base = {"id": "s0", "anchor": {"kind": "sheet", "sheet": identity}, "kind": "worksheet", "visibility": "visible",
            "usedRange": None, "selectedRange": None, "hiddenRows": [], "hiddenColumns": [], "merges": [],
            "tables": [], "hyperlinks": [], "objects": [], "cells": [], "source": None, "truncated": False}
    base.update(sheet)
    return base


def document_of(*sheets, truncated=False):
    return {"schemaVersion": 1, "anchorScope": "snapshot", "dateSystem": "1900",
            "calculation": {"policy": "asStored", "freshness": "unverified"},
            "included": {"hiddenSheets": False, "hiddenRows": False, "hiddenColumns": False, "definedNames": True,
                         "hiddenNames": False},
            "sheets": list(sheets), "definedNames": [], "diagnostics": [], "truncated": truncated}


def text_cell(a1, text, index=0, name="S"):
    return {"id": f"s{index}!{a1}", "anchor": {"kind": "cell", "sheet": {"sheetId": f"sheet:{index}", "index": index,
                                                                          "name": name}, "a1": a1},
            "value": {"kind": "text", "value": text}, "formula": None, "displayText": text,
            "numberFormat": "General", "formulaResult": None, "merge": None}


def test_inconsistent_documents_are_refused():
    cases = [
        (sheet_doc(hiddenRows=["03:5"]), "sheet 0 has an invalid hidden span"),
        (sheet_doc(hiddenRows=["5:3"]), "sheet 0 has an invalid hidden span"),
        (sheet_doc(selectedRange="C3:B2"), "sheet 0 has an invalid selectedRange"),
        (sheet_doc(cells=[text_cell("A1", "x")]), "cell s0!A1 lies outside the selected range"),
        (sheet_doc(selectedRange="A1:B2", cells=[text_cell("B1", "x"), text_cell("A1", "y")]),
         "cells of sheet 0 are not in row-major order"),
        (sheet_doc(truncated=True), "sheet 0 is truncated but the content is not"),
        (sheet_doc(anchor={"kind": "cell", "sheet": {"sheetId": "sheet:0", "index": 0, "name": "S"}, "a1": "A1"}),
         "sheet s0 has no sheet anchor"),
        (sheet_doc(anchor={"kind": "sheet", "sheet": {"sheetId": "sheet:0", "index": 0, "name": ""}}),
         "sheet 0 has no name"),
        (sheet_doc(merges=[{"id": "s0:m0", "anchor": {"kind": "range", "sheet": {"sheetId": "sheet:9", "index": 0,
                                                                                 "name": "S"}, "a1": "A1:B2"},
                            "clipped": False}]), "sheet 0 has a range record anchored elsewhere"),
        (sheet_doc(objects=[{"id": "s0:o0", "kind": "chart", "anchor": {"kind": "range", "sheet": {
            "sheetId": "sheet:0", "index": 0, "name": "S"}, "a1": "$A$1"}, "name": None, "altText": None,
            "title": None, "hidden": False, "part": None, "source": None}]),
         "object s0:o0 is not anchored on its sheet"),
        (sheet_doc(selectedRange="A1", cells=[dict(text_cell("A1", "x"), merge={"range": "B2:B2", "origin": True})]),
         "cell s0!A1 has an invalid merge range"),
        (sheet_doc(selectedRange="A1", cells=[dict(text_cell("A1", "x"), anchor={"kind": "cell", "sheet": {
            "sheetId": "sheet:0", "index": 0, "name": "S"}, "a1": "a1"})]),
         "cell s0!A1 has no cell anchor on its sheet"),
    ]
    for sheet, message in cases:
        with pytest.raises(ValueError, match="^malformed request: " + re.escape(message) + "$"):
            cx.render_xlsx_markdown_json(json.dumps(document_of(sheet)), "{}")
    two = document_of(sheet_doc(), sheet_doc())
    with pytest.raises(ValueError, match="sheets must be in increasing index order"):
        cx.render_xlsx_markdown_json(json.dumps(two), "{}")
    overlapping = sheet_doc(selectedRange="A1:C3", merges=[
        {"id": "s0:m0", "anchor": {"kind": "range", "sheet": {"sheetId": "sheet:0", "index": 0, "name": "S"},
                                   "a1": "A1:B2"}, "clipped": False},
        {"id": "s0:m1", "anchor": {"kind": "range", "sheet": {"sheetId": "sheet:0", "index": 0, "name": "S"},
                                   "a1": "B2:C3"}, "clipped": False}])
    with pytest.raises(ValueError, match="merges on sheet 0 overlap"):
        cx.render_xlsx_markdown_json(json.dumps(document_of(overlapping)), "{}")
    for md, message in (({"maxBytes": 4095}, "maxBytes must be at least 4096"),
                        ({"maxCells": 1000001}, "maxCells is at most 1000000")):
        with pytest.raises(ValueError, match=message):
            cx.render_xlsx_markdown_json(json.dumps(document_of()), json.dumps(md))


def test_markdown_grids_of_crafted_documents():
    sheet = sheet_doc(selectedRange="A1:C2", cells=[
        dict(text_cell("A1", "1"), value={"kind": "number", "value": 1}), text_cell("C2", "x")])
    text = json.loads(cx.render_xlsx_markdown_json(json.dumps(document_of(sheet)), "{}"))["markdown"]
    assert text == ("<!-- xlsx-export:0 -->\n## S\n\n<!-- xlsx-export:1 -->\n|  | A | B | C |\n"
                    "| ---: | --- | --- | --- |\n| 1 | 1 |  |  |\n| 2 |  |  | x |\n\n")
    hidden = sheet_doc(selectedRange="A1:C2", hiddenColumns=["B:B"])
    text = json.loads(cx.render_xlsx_markdown_json(json.dumps(document_of(hidden)), "{}"))["markdown"]
    assert "|  | A | C |\n" in text
    first_row_hidden = sheet_doc(selectedRange="A1:B4", hiddenRows=["1:1"], merges=[
        {"id": "s0:m0", "anchor": {"kind": "range", "sheet": {"sheetId": "sheet:0", "index": 0, "name": "S"},
                                   "a1": "A1:A3"}, "clipped": False}])
    result = json.loads(cx.render_xlsx_markdown_json(json.dumps(document_of(first_row_hidden)), "{}"))
    assert '<td rowspan="2" colspan="1" data-merge="A1:A3">[merged from A1]</td>' in result["markdown"]
    assert any("extend past the rendered grid" in d["message"] for d in result["diagnostics"])
    stopped = sheet_doc(selectedRange="A1:C5", truncated=True, cells=[text_cell("A1", "a"), text_cell("B3", "b")])
    result = json.loads(cx.render_xlsx_markdown_json(json.dumps(document_of(stopped, truncated=True)), "{}"))
    assert markdown_grids(result["markdown"])[0][3] == [1, 2] and result["truncated"]
    named = sheet_doc(anchor={"kind": "sheet", "sheet": {"sheetId": "sheet:0", "index": 0, "name": "Q1_2024 [draft]"}},
                      kind="chartsheet", visibility="hidden")
    text = json.loads(cx.render_xlsx_markdown_json(json.dumps(document_of(named)), "{}"))["markdown"]
    assert text == "<!-- xlsx-export:0 -->\n## Q1\\_2024 \\[draft\\] (chartsheet) (hidden)\n\n"


def test_links_and_their_schemes():
    targets = {
        "javascript:alert(1)": False, "HTTPS://Example.com/a b": True, "mailto:a@b.c": True,
        "java&#115;cript:x": False, "java%73cript:x": False, "&#104;ttp://x": True, "no scheme": False,
    }
    identity = {"sheetId": "sheet:0", "index": 0, "name": "S"}
    links = [{"id": f"s0:h{i}", "anchor": {"kind": "range", "sheet": identity, "a1": f"A{i + 1}"},
              "externalTarget": target, "location": None, "tooltip": None, "display": None, "clipped": False}
             for i, target in enumerate(targets)]
    text = json.loads(cx.render_xlsx_markdown_json(json.dumps(document_of(sheet_doc(hyperlinks=links))), "{}"))[
        "markdown"]
    lines = [line for line in text.splitlines() if " Link at " in line]
    assert len(lines) == len(targets)
    for line, (target, linked) in zip(lines, targets.items()):
        assert line.endswith("(not linked)") != linked, line
    assert "](HTTPS://Example.com/a%20b)" in text


def test_drawing_objects_beside_the_data(tmp_path):
    def charted(book):
        sheet = book.add_worksheet("Chart data")
        sheet.write_column("A1", [1, 2, 3])
        chart = book.add_chart({"type": "column"})
        chart.add_series({"values": "='Chart data'!$A$1:$A$3"})
        sheet.insert_chart("E9", chart)
        sheet.insert_textbox("B20", "note", {"object_position": 3})

    data = write_book(tmp_path / "chart.xlsx", charted)
    sheet = structured(data)["sheets"][0]
    kinds = [(o["id"], o["kind"], o["part"], o["anchor"]["a1"][:3]) for o in sheet["objects"]]
    assert kinds == [("s0:o0", "chart", "xl/charts/chart1.xml", "E9:"), ("s0:o1", "shape", None, "B20")]
    assert sheet["objects"][0]["source"]["path"] == [0]
    # The digests are of the parts as stored, the sheet's included though the
    # session keeps its cells rather than its bytes.
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        for source in (sheet["source"], sheet["objects"][0]["source"]):
            assert source["partSha256"] == hashlib.sha256(archive.read(source["part"])).hexdigest()
    assert sheet["source"]["part"] == "xl/worksheets/sheet1.xml"
    scoped = structured(data, scope=[{"sheet": 0, "range": "A1:B3"}])["sheets"][0]
    assert scoped["objects"] == []
    text = markdown(data)["markdown"]
    assert "Chart Chart 1 at E9:" in text and "Shape TextBox 2 at B20:" in text


def test_exports_share_the_workbook_across_threads(sample_bytes):
    import threading

    book = cx.Workbook.open(sample_bytes)
    answers, errors = [], []

    def run():
        try:
            for _ in range(20):
                answers.append(book.export_markdown_json("{}", "{}"))
        except Exception as error:  # collected for the assertion below
            errors.append(error)

    threads = [threading.Thread(target=run) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == [] and len(answers) == 80 and len(set(answers)) == 1


@pytest.mark.parametrize("code, approximated", [("?/?", True), ("# ?/?", False), ('0" in "??/??', True),
                                                ("?/8", False), ("0.00", False), ("mm/dd", False)], ids=str)
def test_approximated_number_formats(tmp_path, code, approximated):
    def formatted(book):
        sheet = book.add_worksheet("F")
        style = book.add_format({"num_format": code})
        sheet.write_number("A1", 0.75, style)
        sheet.write_number("A2", 1.5, style)

    document = structured(write_book(tmp_path / "f.xlsx", formatted))
    notes = [d for d in document["diagnostics"] if d["code"] == "formatting-approximate"]
    assert [d["anchor"]["a1"] for d in notes] == (["A1"] if approximated else [])
    if approximated:
        quoted = '"' + code.replace('"', '\\"') + '"'
        assert notes[0]["message"] == (f"The number format {quoted} is only approximated, so displayText falls back "
                                       "to General here and wherever this sheet uses it.")
