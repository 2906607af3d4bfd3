"""A short tour of cindermantle_xlsx: open the budget workbook shipped beside this
script, read a few cells, recalculate and show what changed, render the budget
with its pie chart to a PNG, type into a few cells, let an agent propose an edit
that is accepted, take it back with undo, check and apply an agent's batch of
edits, save the result to a file that opens again, print the workbook as
Markdown; then let two collaborative replicas edit at the same time and
converge."""

import datetime
import json
import pathlib
import tempfile

import cindermantle_xlsx as cx

WORKBOOK = pathlib.Path(__file__).with_name("tour.xlsx")
CELLS = ["B3", "B7", "C3", "C6", "B8"]


def show(book: cx.Workbook, sheet: str) -> dict:
    seen = {}
    for address in CELLS:
        value = book.value(sheet, address)
        formula = book.formula(sheet, address)
        seen[address] = value
        shown = f"  ={formula}" if formula is not None else ""
        print(f"  {address:4} {value!r:24}{shown}")
    return seen


def main() -> None:
    book = cx.Workbook.open_path(WORKBOOK)
    print(f"Opened {WORKBOOK.name}: {book!r}, sheets {book.sheet_names}, active sheet {book.active_sheet}")
    print(f"Merged cells over A1:C2 on Budget: {book.merged_ranges('Budget', 'A1:C2')}")
    print(f"Title: {book.value('Budget', 'A1')!r}")
    print("Values cached in the file (formulas were saved without results):")
    before = show(book, "Budget")

    calculation = book.recalculate()
    print(f"Recalculated: {calculation!r}")
    print("After recalculating:")
    after = show(book, "Budget")
    for address in CELLS:
        if before[address] != after[address]:
            print(f"  changed {address}: {before[address]!r} -> {after[address]!r}")

    png = book.render_png("Budget", range="A1:K18")
    image = pathlib.Path(tempfile.gettempdir()) / "tour-budget.png"
    png.write(image)
    print(f"Rendered Budget!A1:K18 with its pie chart: {png!r}, written to {image}")

    print("Typing into cells, as a user would:")
    for address, typed in [("B4", "500"), ("A10", "Paid on"), ("B10", "=DATE(2026,12,11)"), ("B11", "=B7-B6")]:
        mutation = book.set("Budget", address, typed)
        print(f"  {address:4} <- {typed!r:22} {mutation!r}, recalculated {mutation.changed}")
    paid = book.value("Budget", "B10")
    print(f"  B7 is now {book.value('Budget', 'B7')!r}, B11 {book.value('Budget', 'B11')!r}; "
          f"B10 holds the date serial {paid!r} ({datetime.date(1899, 12, 30) + datetime.timedelta(days=paid)})")

    print("An agent proposes a higher food budget; a person reviews and accepts it:")
    proposal = book.propose("budget-bot", [("Budget", "B4", "520")], note="prices went up")
    for edit in proposal.edits:
        print(f"  {proposal.id} by {proposal.agent_id} ({proposal.note}): {edit.address} {edit.before!r} -> {edit.after!r}")
    accepted = book.accept_proposal(proposal.id)
    print(f"  accepted: {accepted!r}, recalculated {accepted.changed}; B7 is now {book.value('Budget', 'B7')!r}")
    book.set_style("Budget", "B4", bold=True, fill_color="#fff2cc")
    print(f"  marked B4 in bold on a yellow fill; history {book.history()!r}")
    book.undo()
    undone = book.undo()
    print(f"Two undos take back the styling and the accepted proposal: {undone!r}, "
          f"B4 {book.value('Budget', 'B4')!r}, B7 {book.value('Budget', 'B7')!r}, can redo: {book.can_redo}")

    print("An agent's batch, validated first and then applied:")
    found = json.loads(book.find_text_json(json.dumps({"text": "Paid"})))
    paid_label = found["matches"][0]["cell"]
    print(f"  find_text_json('Paid') -> {paid_label['a1']} on {paid_label['sheetId']}")
    request = json.dumps({
        "expectVersion": found["version"],
        "steps": [
            {"op": "setCellInputs", "target": {"sheetId": paid_label["sheetId"], "range": {"kind": "a1", "a1": "B4"}},
             "inputs": [["650"]], "expect": {"cells": [[{"value": {"kind": "number", "value": 500}}]]}},
            {"op": "patchStyle", "target": {"sheetId": paid_label["sheetId"], "range": {"kind": "a1", "a1": "A10"}},
             "patch": {"bold": True}},
        ],
        "source": "agent",
    })
    preview = json.loads(book.validate_edits_json(request))
    print(f"  validate_edits_json: wouldApply {preview['wouldApply']}, "
          f"cells per step {[p['changedCellCount'] for p in preview['previews']]}")
    applied = json.loads(book.apply_edits_json(request))
    print(f"  apply_edits_json: applied {applied['applied']}, version {applied['baseVersion']} -> {applied['version']}, "
          f"recalculated {[c['a1'] for c in applied['calculation']['changed']]}")
    again = json.loads(book.apply_edits_json(request))
    print(f"  the same batch again is refused: {again['failure']['code']}")
    read = json.loads(book.read_cells_json(json.dumps({"ranges": [
        {"sheetId": paid_label["sheetId"], "range": {"kind": "a1", "a1": "B4:B7"}}]})))
    print(f"  read_cells_json B4:B7 -> {[row[0]['displayText'] for row in read['ranges'][0]['cells']]} "
          f"(B7 now {book.value('Budget', 'B7')!r})")

    saved = pathlib.Path(tempfile.gettempdir()) / "tour-edited.xlsx"
    book.save_path(saved)
    reopened = cx.Workbook.open_path(saved)
    print(f"Saved to {saved} and opened again: B4 {reopened.value('Budget', 'B4')!r}, "
          f"B11 ={reopened.formula('Budget', 'B11')} -> {reopened.value('Budget', 'B11')!r}")

    try:
        book.value("Summary", "A1")
    except KeyError as error:
        print(f"Asking for a missing sheet raises KeyError: {error}")

    answer = json.loads(book.export_markdown_json("{}", "{}"))
    print(f"Markdown of the workbook (version {answer['version']}):")
    print(answer["content"]["markdown"], end="")

    collaborate()


def collaborate() -> None:
    data = WORKBOOK.read_bytes()
    left = cx.Workbook.open_collaborative(data)
    right = cx.Workbook.open_collaborative(data)
    print(f"Two replicas: clients {left.client_id} and {right.client_id}, collaborative {left.is_collaborative}")
    # Both edit before hearing from each other.
    left.set("Budget", "B3", "1300")
    right.set("Budget", "B4", "75")
    # Each sends what the other's state vector says it lacks.
    to_right = left.diff(right.state_vector())
    to_left = right.diff(left.state_vector())
    print(f"  right takes {len(to_right)} bytes: {right.apply_update(to_right).changed}")
    print(f"  left takes {len(to_left)} bytes: {left.apply_update(to_left).changed}")
    same = left.state_vector() == right.state_vector()
    print(f"  converged: {same}; B3 {left.value('Budget', 'B3')!r}, B4 {right.value('Budget', 'B4')!r}")
    print(f"  versions {left.version()} and {right.version()}")


if __name__ == "__main__":
    main()
