"""The four agent requests through Workbook: tables of requests and the answers or refusals they get, key order of
the answers, reads and searches against the cells openpyxl wrote, batches that commit all or nothing, and a random
property that validate_edits_json predicts exactly what apply_edits_json then does."""

import io
import json
import random
import re
import time
import zipfile

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
openpyxl = pytest.importorskip("openpyxl")
from openpyxl.worksheet.formula import ArrayFormula  # noqa: E402

REQUEST_CAP = 16777216


def target(a1, sheet="sheet:0"):
    return {"sheetId": sheet, "range": {"kind": "a1", "a1": a1}}


def rowcol(start, end, sheet="sheet:0"):
    return {"sheetId": sheet, "range": {"kind": "rowCol", "start": {"row": start[0], "col": start[1]},
                                        "end": {"row": end[0], "col": end[1]}}}


def open_book(build):
    wb = openpyxl.Workbook()
    build(wb)
    buffer = io.BytesIO()
    wb.save(buffer)
    return cx.Workbook.open_recalculated(buffer.getvalue())


def sample(wb):
    ws = wb.active
    ws.title = "Data"
    ws["A1"] = 1
    ws["A2"] = 2
    ws["B1"] = "=A1*10"
    ws["B2"] = "Total"
    ws["C1"] = 0.5
    ws["C1"].number_format = "0%"
    ws["C2"] = 0
    ws.merge_cells("E2:F3")
    ws["H1"] = ArrayFormula("H1:H3", "=A1:A3*2")
    second = wb.create_sheet("Notes")
    second["A1"] = "total"
    second["B5"] = "subtotal"
    locked = wb.create_sheet("Locked")
    locked["A1"] = "kept"
    locked.protection.sheet = True


@pytest.fixture
def book():
    return open_book(sample)


def call(book, method, request):
    text = request if isinstance(request, str) else json.dumps(request)
    return json.loads(getattr(book, method)(text))


def version(book):
    return call(book, "find_text_json", {"text": "?"})["version"]


def refusal(answer):
    assert answer["ok"] is False, answer
    return answer["failure"]


def cells_of(book, sheet="sheet:0", a1="A1:H6"):
    return call(book, "read_cells_json", {"ranges": [target(a1, sheet)]})["ranges"][0]["cells"]


# --- reading --------------------------------------------------------------------------------------------------


def test_read_cells_answers_values_formulas_and_display_texts(book):
    answer = call(book, "read_cells_json", {"ranges": [target("a1:c2"), rowcol((4, 0), (4, 0), "sheet:1")]})
    assert answer["ok"] is True and answer["version"] == version(book)
    first, second = answer["ranges"]
    assert first["target"] == target("A1:C2")
    assert [[c["a1"] for c in row] for row in first["cells"]] == [["A1", "B1", "C1"], ["A2", "B2", "C2"]]
    b1 = first["cells"][0][1]
    assert b1["formula"] == "A1*10" and b1["value"] == {"kind": "number", "value": 10.0}
    assert b1["displayText"] == "10"
    assert first["cells"][0][2]["displayText"] == "50%"
    assert first["cells"][1][1]["value"] == {"kind": "text", "value": "Total"}
    assert second["target"] == target("A5", "sheet:1")
    assert second["cells"] == [[{"a1": "A5", "value": {"kind": "empty"}, "formula": None, "displayText": ""}]]
    assert [(s["sheetId"], s["name"], s["editable"]) for s in answer["sheets"]] == [
        ("sheet:0", "Data", True), ("sheet:1", "Notes", True), ("sheet:2", "Locked", False)]
    assert answer["calculation"] == {"cycleCells": [], "limitedCells": [], "truncated": False}
    locked = call(book, "read_cells_json", {"ranges": [target("A1", "sheet:2")]})["ranges"][0]["cells"]
    assert locked[0][0]["displayText"] == "kept"


def test_read_cells_lists_every_cycle_cell_whatever_the_target():
    def cyclic(wb):
        ws = wb.active
        ws["A1"] = "=B1+1"
        ws["B1"] = "=A1+1"
        wb.create_sheet("Other")["A1"] = 3
    book = open_book(cyclic)
    answer = call(book, "read_cells_json", {"ranges": [target("A1", "sheet:1")]})
    assert sorted(c["a1"] for c in answer["calculation"]["cycleCells"]) == ["A1", "B1"]
    assert {c["sheetId"] for c in answer["calculation"]["cycleCells"]} == {"sheet:0"}


NOT_A_RANGE = ("{} is not a cell or rectangular range; sheet-qualified, union, whole-row, whole-column and named "
               "references are not accepted")
TOP_LEFT = "a range must run from its top-left to its bottom-right corner"

TARGET_CASES = [
    (target("b2"), "B2"), (target("$B$2"), "B2"), (target("B$2"), "B2"), (target("b2:d9"), "B2:D9"),
    (target("B2:B2"), "B2"), (rowcol((1048575, 16383), (1048575, 16383)), "XFD1048576"),
    (rowcol((1, 1), (3, 2)), "B2:C4"),
]


@pytest.mark.parametrize("given, canonical", TARGET_CASES)
def test_targets_resolve_to_their_canonical_text(book, given, canonical):
    answer = call(book, "read_cells_json", {"ranges": [given]})
    assert answer["ranges"][0]["target"] == target(canonical)


TARGET_REFUSALS = [
    (target("D9:B2"), "invalid-step", TOP_LEFT),
    (target("B9:D2"), "invalid-step", TOP_LEFT),
    (rowcol((3, 3), (1, 1)), "invalid-step", TOP_LEFT),
    (rowcol((1048576, 0), (1048576, 0)), "invalid-step", "row 1048576 column 0 is outside the sheet"),
    (rowcol((0, 0), (0, 16384)), "invalid-step", "row 0 column 16384 is outside the sheet"),
    (target("sheet:1"), "missing-target", "no sheet has the id sheet:3"),
] + [(target(text), "invalid-step", NOT_A_RANGE.format(text))
     for text in ["Data!A1", "A1,B2", "A:A", "1:1", "Total", " A1", "A0", "XFE1", "A1:B2:C3", ""]]


@pytest.mark.parametrize("given, code, message", TARGET_REFUSALS)
def test_bad_targets_are_refused_with_the_request_target(book, given, code, message):
    if code == "missing-target":
        given = target("A1", "sheet:3")
    answer = call(book, "read_cells_json", {"ranges": [target("A1"), target("A1:B2"), given]})
    failure = refusal(answer)
    assert failure == {"code": code, "message": message, "target": given}
    assert answer["version"] == version(book)


@pytest.mark.parametrize("sheet_id", ["sheet:3", "Sheet:0", "Data", "sheet:00"])
def test_only_the_sheet_keys_name_sheets(book, sheet_id):
    failure = refusal(call(book, "read_cells_json", {"ranges": [target("A1", sheet_id)]}))
    assert failure["code"] == "missing-target" and failure["message"] == f"no sheet has the id {sheet_id}"


def test_read_cell_limit_names_the_target_that_crosses_it(book):
    first, second = rowcol((0, 0), (599, 99)), rowcol((600, 0), (1199, 99))
    failure = refusal(call(book, "read_cells_json", {"ranges": [first, second]}))
    assert failure == {"code": "limit-exceeded", "message": "a read returns at most 100000 cells", "target": second}
    exactly = call(book, "read_cells_json", {"ranges": [rowcol((0, 0), (999, 99))]})
    assert exactly["ok"] and sum(len(row) for row in exactly["ranges"][0]["cells"]) == 100000


def test_read_text_limit_counts_display_value_and_formula_bytes():
    text = "x" * 32767

    def long_texts(wb):
        for row in range(1, 514):
            wb.active.cell(row=row, column=1, value=text)
    book = open_book(long_texts)
    # Each cell counts its value and its display text: 512 cells stay under 33,554,432 bytes, 513 do not.
    failure = refusal(call(book, "read_cells_json", {"ranges": [target("A1:A513")]}))
    assert failure == {"code": "limit-exceeded", "message": "a read returns at most 33554432 bytes of text"}
    assert call(book, "read_cells_json", {"ranges": [target("A1:A512")]})["ok"]


def test_an_answer_past_the_cap_becomes_the_result_refusal():
    # Quotes count once per byte in the text limit but are escaped in the answer, so 1,024 cells stay under the
    # text limit while their answer passes 67,108,864 bytes.
    def quoted(wb):
        for row in range(1, 1025):
            wb.active.cell(row=row, column=1, value='"' * 16383)
    book = open_book(quoted)
    answer = book.read_cells_json(json.dumps({"ranges": [target("A1:A1024")]}))
    assert json.loads(answer) == {"ok": False, "version": version(book), "failure": {
        "code": "limit-exceeded", "message": "the result exceeds 67108864 bytes"}}
    assert json.loads(book.read_cells_json(json.dumps({"ranges": [target("A1:A1000")]})))["ok"] is True


def test_a_chartsheet_is_read_but_not_edited():
    from openpyxl.chart import BarChart, Reference

    def with_chartsheet(wb):
        wb.active["A1"] = 1
        chart = BarChart()
        chart.add_data(Reference(wb.active, min_col=1, min_row=1, max_row=1))
        wb.create_chartsheet("Chart").add_chart(chart)
    book = open_book(with_chartsheet)
    answer = call(book, "read_cells_json", {"ranges": [target("A1", "sheet:1")]})
    assert [s["editable"] for s in answer["sheets"]] == [True, False]
    failure = refusal(call(book, "validate_edits_json", batch(book, inputs("A1", [["2"]], sheet="sheet:1"))))
    assert failure == step_refusal("unsupported", "sheet Chart is not a worksheet", 0, target("A1", "sheet:1"))


# --- searching ------------------------------------------------------------------------------------------------


def find(book, text, **extra):
    return call(book, "find_text_json", {"text": text, **extra})


def test_find_matches_display_texts_as_they_are(book):
    assert [m["cell"]["a1"] for m in find(book, "Tot")["matches"]] == ["B2"]
    assert find(book, "total")["matches"] == [
        {"cell": {"sheetId": "sheet:1", "row": 0, "col": 0, "a1": "A1"}, "text": "total"},
        {"cell": {"sheetId": "sheet:1", "row": 4, "col": 1, "a1": "B5"}, "text": "subtotal"}]
    assert [m["text"] for m in find(book, "50%")["matches"]] == ["50%"]
    assert find(book, "0.5")["matches"] == []
    assert [m["cell"]["a1"] for m in find(book, "10")["matches"]] == ["B1"]


def test_find_limit_and_sheet_choice(book):
    every = find(book, "t")
    assert every["truncated"] is False
    count = len(every["matches"])
    exact = find(book, "t", limit=count)
    assert exact["matches"] == every["matches"] and exact["truncated"] is False
    short = find(book, "t", limit=count - 1)
    assert short["matches"] == every["matches"][:-1] and short["truncated"] is True
    ordered = find(book, "t", sheetIds=["sheet:1", "sheet:1", "sheet:0"])
    assert ordered["matches"] == [m for m in every["matches"] if m["cell"]["sheetId"] in ("sheet:0", "sheet:1")]
    assert find(book, "t", sheetIds=[]) == {"matches": [], "ok": True, "truncated": False, "version": version(book)}
    assert find(book, "t", sheetIds=None, limit=None)["matches"] == every["matches"]


FIND_REFUSALS = [
    ({"text": "", "limit": 0}, "invalid-step", "search text is empty"),
    ({"text": "", "limit": 10001}, "invalid-step", "search text is empty"),
    ({"text": "a", "limit": 0, "sheetIds": ["nope"]}, "invalid-step", "limit must be positive"),
    ({"text": "a", "limit": 10001}, "limit-exceeded", "a search returns at most 10000 matches"),
    ({"text": "a", "sheetIds": ["sheet:0", "sheet:9"]}, "missing-target", "no sheet has the id sheet:9"),
]


@pytest.mark.parametrize("request_, code, message", FIND_REFUSALS)
def test_find_refusals(book, request_, code, message):
    assert refusal(call(book, "find_text_json", request_)) == {"code": code, "message": message}


def test_find_stops_at_the_matched_text_limit():
    def many(wb):
        for row in range(1, 1100):
            wb.active.cell(row=row, column=1, value="y" * 32767)
    book = open_book(many)
    assert find(book, "y", limit=1000)["ok"] is True
    failure = refusal(find(book, "y", limit=1025))
    assert failure == {"code": "limit-exceeded", "message": "a search returns at most 33554432 bytes of text"}


# --- the frame ------------------------------------------------------------------------------------------------

METHODS = ["read_cells_json", "find_text_json", "validate_edits_json", "apply_edits_json"]


@pytest.mark.parametrize("method", METHODS)
def test_request_cap_counts_utf8_bytes_before_reading(book, method):
    before = version(book)
    for text in ["x" * (REQUEST_CAP + 1), "é" * (REQUEST_CAP // 2 + 1)]:
        answer = json.loads(getattr(book, method)(text))
        assert answer == {"ok": False, "version": before, "failure": {
            "code": "limit-exceeded", "message": "a request carries at most 16777216 bytes"}}
    # Exactly at the cap the text is read (and here refused as malformed, not as too long).
    with pytest.raises(ValueError, match="^malformed request: "):
        getattr(book, method)("[" + " " * (REQUEST_CAP - 1))


MALFORMED = [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   \n ", "EOF while parsing a value at line 2 column 1"),
    ('{"ranges":[],"extra":1}', "unknown field `extra`"),
    ('{"ranges":[],"ranges":[]}', "duplicate field `ranges`"),
    ('{"ranges":[]} x', "trailing characters"),
]


@pytest.mark.parametrize("text, message", MALFORMED)
def test_unreadable_requests_raise_value_error(book, text, message):
    with pytest.raises(ValueError, match="^malformed request: " + message.replace("`", ".")):
        book.read_cells_json(text)


@pytest.mark.parametrize("method", METHODS)
def test_request_must_be_a_str(book, method):
    with pytest.raises(TypeError) as raised:
        getattr(book, method)(b"{}")
    assert "request" in "".join(getattr(raised.value, "__notes__", []))
    with pytest.raises(TypeError):
        getattr(book, method)()


# --- batches --------------------------------------------------------------------------------------------------


def batch(book, *steps, **extra):
    return {"expectVersion": version(book), "steps": list(steps), **extra}


def inputs(a1, rows, sheet="sheet:0", expect=None):
    step = {"op": "setCellInputs", "target": target(a1, sheet), "inputs": rows}
    if expect is not None:
        step["expect"] = {"cells": expect}
    return step


def formulas(a1, rows):
    return {"op": "setFormulas", "target": target(a1), "formulas": rows}


def style(a1, **patch):
    return {"op": "patchStyle", "target": target(a1), "patch": patch}


def number_format(a1, fmt):
    return {"op": "setNumberFormat", "target": target(a1), "format": fmt}


def step_refusal(code, message, step, given, conflicting=None):
    out = {"code": code, "message": message, "stepIndex": step, "target": given}
    if conflicting is not None:
        out["conflictingStepIndex"] = conflicting
    return out


def batch_refusals():
    unreadable = "does not parse: formula error at 2: "
    return [
        ("stale", lambda b: {"expectVersion": "0-0", "steps": []},
         {"code": "stale-version", "message": "the workbook changed since the expected version"}),
        ("129 steps", lambda b: batch(b, *[inputs("A1", [["1"]], sheet="nope")] * 129),
         {"code": "limit-exceeded", "message": "a batch has at most 128 steps"}),
        ("missing sheet", lambda b: batch(b, inputs("A9", [["1"]]), inputs("A1", [["1"]], sheet="sheet:7")),
         step_refusal("missing-target", "no sheet has the id sheet:7", 1, target("A1", "sheet:7"))),
        ("bad range", lambda b: batch(b, inputs("a1:", [["1"]])),
         step_refusal("invalid-step", NOT_A_RANGE.format("a1:"), 0, target("a1:"))),
        ("cells limit", lambda b: batch(b, style("A1:LE317", bold=True)),
         step_refusal("limit-exceeded", "a batch addresses at most 100000 target and guard cells", 0,
                      target("A1:LE317"))),
        ("cells limit with guard", lambda b: batch(b, dict(style("A1:J10000", bold=True), expect={"cells": []})),
         step_refusal("limit-exceeded", "a batch addresses at most 100000 target and guard cells", 0,
                      target("A1:J10000"))),
        ("protected", lambda b: batch(b, inputs("A1", [["1"]], sheet="sheet:2")),
         step_refusal("locked-target", "sheet Locked is protected", 0, target("A1", "sheet:2"))),
        ("shape", lambda b: batch(b, inputs("A1:B2", [["1", "2"], ["3"]])),
         step_refusal("invalid-step", "the values must be 2 rows of 2 cells, one per target cell", 0,
                      target("A1:B2"))),
        ("guard shape", lambda b: batch(b, inputs("A1:B1", [["1", "2"]], expect=[[{}]])),
         step_refusal("invalid-step", "the guard must be 1 rows of 2 cells, one per target cell", 0,
                      target("A1:B1"))),
        ("text units", lambda b: batch(b, inputs("A1:A2", [["\U0001F600" * 262144], ["x" * 524289]])),
         step_refusal("limit-exceeded", "a batch carries at most 1048576 UTF-16 units of text", 0,
                      target("A1:A2"))),
        ("custom pattern", lambda b: batch(b, number_format("A1", {"type": "custom", "pattern": ""})),
         step_refusal("invalid-step", "a custom number format needs a pattern", 0, target("A1"))),
        ("format size", lambda b: batch(b, inputs("A2", [["3"]]), number_format(
            "C1:C2", {"type": "custom", "pattern": '"' + "x" * 70000 + '"'})),
         step_refusal("limit-exceeded", "a resulting cell format exceeds the size a workbook can share", 1,
                      target("C1:C2"))),
        ("empty formula", lambda b: batch(b, formulas("A1:B1", [["1", ""]])),
         step_refusal("invalid-step", "the formula for B1 is empty", 0, target("A1:B1"))),
        ("formula with =", lambda b: batch(b, formulas("A1", [["=1"]])),
         step_refusal("invalid-step", "the formula for A1 starts with `=`; pass the source without it", 0,
                      target("A1"))),
        ("long formula", lambda b: batch(b, formulas("A1", [["1" * 32769]])),
         step_refusal("invalid-step", "the formula for A1 exceeds the formula length limit", 0, target("A1"))),
        ("unreadable formula", lambda b: batch(b, formulas("A1", [["1+"]])),
         step_refusal("invalid-step", "the formula for A1 " + unreadable, 0, target("A1"))),
        ("input too long", lambda b: batch(b, inputs("C3:D3", [["ok", "x" * 32768]])),
         step_refusal("invalid-step", "the input for D3: ", 0, target("C3:D3"))),
        ("overlap", lambda b: batch(b, inputs("A1:B1", [["1", "2"]]), style("D1", bold=True),
                                    inputs("B1", [["3"]])),
         step_refusal("overlapping-steps", "step 2 writes what step 0 already writes in the same cells", 2,
                      target("B1"), conflicting=0)),
        ("style overlap", lambda b: batch(b, style("A1:B2", bold=True), style("B2", clear=["bold"])),
         step_refusal("overlapping-steps", "step 1 writes what step 0 already writes in the same cells", 1,
                      target("B2"), conflicting=0)),
        ("merged below", lambda b: batch(b, inputs("E2:E3", [["1"], ["2"]])),
         step_refusal("locked-target", "E3 follows a merged cell", 0, target("E2:E3"))),
        ("merged right", lambda b: batch(b, inputs("E2:F2", [["1", "2"]])),
         step_refusal("locked-target", "F2 follows a merged cell", 0, target("E2:F2"))),
        ("merged inside", lambda b: batch(b, inputs("F3", [["1"]])),
         step_refusal("locked-target", "F3 follows a merged cell", 0, target("F3"))),
        ("merged covered", lambda b: batch(b, style("D1:G4", bold=True)),
         step_refusal("locked-target", "F2 follows a merged cell", 0, target("D1:G4"))),
        ("array", lambda b: batch(b, style("G2:H2", italic=True)),
         step_refusal("locked-target", "H2 is filled by an array formula", 0, target("G2:H2"))),
        ("value guard", lambda b: batch(b, inputs("C2", [["1"]], expect=[[{"value": {"kind": "empty"}}]])),
         step_refusal("content-mismatch", "the value of C2 does not match its guard", 0, target("C2"))),
        ("formula guard null", lambda b: batch(b, inputs("B1", [["1"]], expect=[[{"formula": None}]])),
         step_refusal("content-mismatch", "the formula of B1 does not match its guard", 0, target("B1"))),
        ("display guard", lambda b: batch(b, inputs("C1", [["1"]], expect=[[{"displayText": "0.5"}]])),
         step_refusal("content-mismatch", "the display text of C1 does not match its guard", 0, target("C1"))),
        ("zero guard on empty", lambda b: batch(b, inputs("D4", [["1"]], expect=[[{"value": {
            "kind": "number", "value": 0}}]])),
         step_refusal("content-mismatch", "the value of D4 does not match its guard", 0, target("D4"))),
    ]


@pytest.mark.parametrize("name, build, failure", batch_refusals(), ids=[c[0] for c in batch_refusals()])
@pytest.mark.parametrize("method", ["validate_edits_json", "apply_edits_json"])
def test_batch_refusals_change_nothing(book, method, name, build, failure):
    before_version = version(book)
    before_cells = cells_of(book)
    answer = call(book, method, build(book))
    if name in ("unreadable formula", "input too long"):
        assert refusal(answer)["message"].startswith(failure["message"])
        failure = dict(failure, message=refusal(answer)["message"])
    assert refusal(answer) == failure
    assert answer["version"] == before_version
    assert "conflictingStepIndex" not in failure or failure["code"] == "overlapping-steps"
    assert version(book) == before_version and cells_of(book) == before_cells


def test_guards_that_hold_let_the_batch_apply(book):
    guards = [[{"value": {"kind": "number", "value": 0}, "formula": None, "displayText": "0"},
               {"displayText": ""}]]
    answer = call(book, "apply_edits_json", batch(book, inputs("C2:D2", [["7", "=C2+1"]], expect=guards),
                                                  formulas("A5", [["B1+1"]])))
    assert answer["applied"] is True
    assert book.value(0, "D2") == 8.0 and book.value(0, "A5") == 11.0
    assert book.formula(0, "D2") == "C2+1"


def test_inputs_are_typed_and_formulas_are_not(book):
    answer = call(book, "apply_edits_json", batch(book, inputs("D1:D3", [["=1+"], ["=2*3"], ["TRUE"]])))
    assert answer["applied"] is True
    cells = cells_of(book, a1="D1:D3")
    assert [c[0]["value"] for c in cells] == [{"kind": "text", "value": "=1+"}, {"kind": "number", "value": 6.0},
                                             {"kind": "bool", "value": True}]
    assert [c[0]["formula"] for c in cells] == [None, "2*3", None]


def test_apply_answers_receipts_changed_cells_and_key_order(book):
    base = version(book)
    text = book.apply_edits_json(json.dumps(batch(book, inputs("A1:A2", [["3"], ["2"]]), style("C2", bold=True),
                                                  source="agent")))
    assert text.index('"applied"') < text.index('"baseVersion"') < text.index('"calculation"')
    answer = json.loads(text)
    assert answer["baseVersion"] == base and answer["source"] == "agent"
    assert answer["version"] == base.rsplit("-", 1)[0] + "-" + str(int(base.rsplit("-", 1)[1]) + 1)
    assert [r["changedCells"] for r in answer["receipts"]] == [
        [{"sheetId": "sheet:0", "row": 0, "col": 0, "a1": "A1"}],
        [{"sheetId": "sheet:0", "row": 1, "col": 2, "a1": "C2"}]]
    assert [r["changed"] for r in answer["receipts"]] == [True, True]
    assert answer["changedSheets"] == ["sheet:0"]
    assert [c["a1"] for c in answer["calculation"]["changed"]] == ["B1", "H1"]
    assert book.value(0, "B1") == 30.0 and book.value(0, "A1") == 3.0 and book.value(0, "H1") == 6.0


def test_a_batch_that_changes_nothing_applies_nothing(book):
    base = version(book)
    request = batch(book, inputs("A1:B2", [["1", "=A1*10"], ["2", "Total"]]), formulas("B1", [["A1*10"]]))
    # The formula cell differs as a step of its own: two steps writing B1 overlap.
    request["steps"] = request["steps"][:1]
    preview = call(book, "validate_edits_json", request)
    assert preview == {"baseVersion": base, "ok": True, "wouldApply": False, "previews": [
        {"stepIndex": 0, "target": target("A1:B2"), "changedCellCount": 0, "wouldChange": False}]}
    answer = call(book, "apply_edits_json", request)
    assert answer["applied"] is False and answer["version"] == base == answer["baseVersion"]
    assert answer["changedSheets"] == [] and answer["receipts"][0]["changedCells"] == []
    assert version(book) == base


def test_validate_then_apply_then_apply_again(book):
    request = batch(book, inputs("A1", [["5"]]))
    preview = call(book, "validate_edits_json", request)
    assert preview["wouldApply"] is True and version(book) == request["expectVersion"]
    assert call(book, "apply_edits_json", request)["applied"] is True
    assert refusal(call(book, "apply_edits_json", request))["code"] == "stale-version"


def test_a_full_number_format_table_refuses_a_new_pattern():
    wb = openpyxl.Workbook()
    wb.active["A1"] = 1
    plain = io.BytesIO()
    wb.save(plain)
    # Every custom id from 164 to 65,535 taken.
    taken = "".join(f'<numFmt numFmtId="{i}" formatCode="0.0&quot;{i}&quot;"/>' for i in range(164, 65536))
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(plain.getvalue())) as src, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as dst:
        for name in src.namelist():
            data = src.read(name)
            if name == "xl/styles.xml":
                data, found = re.subn(rb"<numFmts[^>]*/>", f'<numFmts count="{65536 - 164}">{taken}</numFmts>'.encode(),
                                      data)
                assert found == 1
            dst.writestr(name, data)
    full = cx.Workbook.open(out.getvalue())
    before = cells_of(full, a1="A1:B2")
    for method in ("validate_edits_json", "apply_edits_json"):
        answer = call(full, method, batch(full, inputs("B2", [["5"]]), number_format(
            "A1:B1", {"type": "custom", "pattern": '0.000"new"'})))
        assert refusal(answer) == step_refusal("limit-exceeded", "number format table is full", 1, target("A1:B1"))
        assert cells_of(full, a1="A1:B2") == before
    # A pattern the table already holds needs no new id.
    reused = call(full, "apply_edits_json", batch(full, number_format("A1", {"type": "custom", "pattern": '0.0"200"'})))
    assert reused["applied"] is True and cells_of(full, a1="A1")[0][0]["displayText"] == "1.0200"


def test_an_update_waiting_for_its_predecessor_refuses_every_batch():
    pycrdt = pytest.importorskip("pycrdt")
    wb = openpyxl.Workbook()
    sample(wb)
    buffer = io.BytesIO()
    wb.save(buffer)
    replica = cx.Workbook.open_collaborative(buffer.getvalue(), client_id=81)
    peer = pycrdt.Doc(client_id=82)
    peer.apply_update(replica.state_as_update())
    contents = peer.get("xlsx:sheets", type=pycrdt.Map)["sheet:0"]["contents"]
    chain = []
    for row, value in ((4, 1.0), (5, 2.0)):
        before = peer.get_state()
        contents[f"{row}:0"] = [0, [1, value]]
        chain.append(peer.get_update(before))
    assert not replica.apply_update(chain[1])  # waits in the queue, nothing of it integrated
    waiting = {"code": "unsupported", "message": "the workbook holds updates that are not integrated yet"}
    request = batch(replica, inputs("D4", [["1"]]))
    for method in ("validate_edits_json", "apply_edits_json"):
        assert refusal(call(replica, method, request)) == waiting
    assert replica.value(0, "D4") is None and replica.value(0, "A6") is None
    assert {"A5", "A6"} <= set(replica.apply_update(chain[0]).changed)
    assert replica.value(0, "A5") == 1.0 and replica.value(0, "A6") == 2.0
    request = batch(replica, inputs("D4", [["1"]]))
    assert call(replica, "validate_edits_json", request)["wouldApply"] is True
    assert call(replica, "apply_edits_json", request)["applied"] is True


def test_a_refused_last_step_commits_none_of_the_batch(book):
    before = cells_of(book)
    request = batch(book, inputs("A1", [["9"]]), style("A1", bold=True), formulas("D5", [["SUM("]]))
    assert refusal(call(book, "apply_edits_json", request))["stepIndex"] == 2
    assert cells_of(book) == before


def test_formats_and_styles_alone_apply(book):
    answer = call(book, "apply_edits_json", batch(book, number_format("C2", {"type": "percent"}),
                                                  style("A2", italic=True)))
    assert answer["applied"] is True and answer["changedSheets"] == ["sheet:0"]
    assert [r["changed"] for r in answer["receipts"]] == [True, True]
    assert cells_of(book, a1="C2")[0][0]["displayText"].endswith("%")


def test_the_recalculation_summary_is_cut_at_ten_thousand():
    def column(wb):
        ws = wb.active
        ws["A1"] = 1
        for row in range(1, 10003):
            ws.cell(row=row, column=2, value="=$A$1")
    book = open_book(column)
    answer = call(book, "apply_edits_json", batch(book, inputs("A1", [["2"]]), calculation={"nowSerial": 45000}))
    assert len(answer["calculation"]["changed"]) == 10000 and answer["calculation"]["truncated"] is True


# --- validation predicts application ----------------------------------------------------------------------------


def random_step(rnd):
    col = rnd.choice("ABCD")
    row = rnd.randint(1, 4)
    tall = rnd.randint(0, 1)
    a1 = f"{col}{row}" if not tall else f"{col}{row}:{col}{row + 1}"
    height = 1 + tall
    kind = rnd.randrange(4)
    if kind == 0:
        step = inputs(a1, [[rnd.choice(["1", "2", "x", "", "=A1+1", "=1+"])] for _ in range(height)])
    elif kind == 1:
        step = formulas(a1, [[rnd.choice(["A1*2", "B2", "1+", "SUM(A1:A3)"])] for _ in range(height)])
    elif kind == 2:
        step = style(a1, **rnd.choice([{"bold": True}, {"italic": False}, {"clear": ["bold"]}]))
    else:
        step = number_format(a1, rnd.choice([{"type": "percent"}, {"type": "number"}, {"type": "automatic"}]))
    if rnd.random() < 0.3:
        step["expect"] = {"cells": [[{"value": {"kind": "number", "value": 1}}] for _ in range(height)]}
    if rnd.random() < 0.05:
        step["target"] = target(a1, "sheet:9")
    return step


def test_validation_predicts_what_apply_does():
    rnd = random.Random(44)
    book = open_book(sample)
    applied_count = 0
    for _ in range(120):
        request = batch(book, *[random_step(rnd) for _ in range(rnd.randint(0, 4))],
                        history=rnd.choice(["separate", "none"]))
        before = cells_of(book, a1="A1:D6")
        preview = call(book, "validate_edits_json", request)
        answer = call(book, "apply_edits_json", request)
        if not preview["ok"]:
            assert answer == preview
            assert cells_of(book, a1="A1:D6") == before
            continue
        assert answer["applied"] == preview["wouldApply"]
        assert [(p["stepIndex"], p["target"], p["changedCellCount"], p["wouldChange"]) for p in preview["previews"]] \
            == [(r["stepIndex"], r["target"], len(r["changedCells"]), r["changed"]) for r in answer["receipts"]]
        after = cells_of(book, a1="A1:D6")
        touched = {(c["row"], c["col"]) for r in answer["receipts"] for c in r["changedCells"]}
        for r, row in enumerate(after):
            for c, cell in enumerate(row):
                if (r, c) not in touched and cell["formula"] is None and before[r][c]["formula"] is None:
                    assert cell == before[r][c]
        applied_count += answer["applied"]
    assert applied_count > 10


# --- history and borrows --------------------------------------------------------------------------------------


def test_history_separate_is_one_undo_step_and_none_is_no_step(book):
    depth = book.history().undo_depth
    call(book, "apply_edits_json", batch(book, inputs("A1:A2", [["7"], ["8"]]), style("C2", bold=True),
                                         history="none"))
    assert book.history().undo_depth == depth
    assert book.value(0, "A1") == 7.0
    answer = call(book, "apply_edits_json", batch(book, inputs("A1:A2", [["5"], ["6"]]), formulas("D1", [["A2*3"]]),
                                                  source="agent"))
    assert answer["applied"] is True and book.history().undo_depth == depth + 1
    assert book.value(0, "D1") == 18.0
    assert book.undo().applied is True
    assert (book.value(0, "A1"), book.value(0, "A2"), book.formula(0, "D1")) == (7.0, 8.0, None)
    assert book.history().undo_depth == depth


def test_borrows_of_the_batch_methods(book):
    import threading

    # A large batch keeps apply_edits_json busy without the interpreter lock long enough to be seen.
    rows = [[str(n)] for n in range(60000)]
    request = json.dumps(batch(book, inputs("J1:J60000", rows)))
    seen = {}

    def other_calls():
        while "done" not in seen:
            try:
                book.read_cells_json(json.dumps({"ranges": [target("A1")]}))
            except RuntimeError as error:
                seen["read"] = str(error)
                return

    # The worker may hold its shared borrow just when the batch asks for the
    # exclusive one: that refusal is the same rule seen from the other side,
    # so the batch is asked again. `done` is set however the loop ends, so the
    # worker never outlives the test.
    worker = threading.Thread(target=other_calls, daemon=True)
    worker.start()
    answers = []
    try:
        for _ in range(200):
            try:
                answers.append(json.loads(book.apply_edits_json(request)))
            except RuntimeError as error:
                assert str(error) == "Already borrowed"
                continue
            if "read" in seen:
                break
            request = json.dumps(batch(book, inputs("J1:J60000", rows)))
    finally:
        seen["done"] = True
        worker.join(timeout=60)
    assert answers and all(answer["applied"] is True for answer in answers)
    assert seen.get("read") == "Already mutably borrowed"

    validating = {}

    def apply_while_validating():
        while "done" not in validating:
            try:
                book.apply_edits_json(json.dumps(batch(book)))
            except RuntimeError as error:
                validating["apply"] = str(error)
                validating["read"] = json.loads(book.read_cells_json(json.dumps({"ranges": [target("A1")]})))["ok"]
                return

    worker = threading.Thread(target=apply_while_validating, daemon=True)
    worker.start()
    deadline = time.monotonic() + 30
    try:
        while "apply" not in validating and time.monotonic() < deadline:
            # Between two validations the worker's small batch may apply, and
            # a validation then meets its exclusive borrow.
            try:
                request = json.dumps(batch(book, inputs("K1:K60000", rows)))
                assert json.loads(book.validate_edits_json(request))["wouldApply"] is True
            except RuntimeError as error:
                assert str(error) == "Already mutably borrowed"
    finally:
        validating["done"] = True
        worker.join(timeout=60)
    assert validating.get("apply") == "Already borrowed" and validating.get("read") is True


def test_a_hundred_thousand_cells_pass_without_a_guard(book):
    answer = call(book, "validate_edits_json", batch(book, style("A100:J10099", bold=True)))
    assert answer["wouldApply"] is True and answer["previews"][0]["changedCellCount"] == 100000
    guarded = dict(style("A100:J10099", bold=True), expect={"cells": []})
    assert refusal(call(book, "validate_edits_json", batch(book, guarded)))["code"] == "limit-exceeded"
