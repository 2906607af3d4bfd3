"""A short tour of cindermantle_xlsx: open the budget workbook shipped beside
this script, read a few cells, recalculate and show what changed, render the
budget to a PNG, type into a few cells, save the result to a file that opens
again, and print the workbook as Markdown."""

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

    png = book.render_png("Budget", range="A1:C8", scale=2)
    image = pathlib.Path(tempfile.gettempdir()) / "tour-budget.png"
    png.write(image)
    print(f"Rendered Budget!A1:C8 at scale 2: {png!r}, written to {image}")

    print("Typing into cells, as a user would:")
    for address, typed in [("B4", "500"), ("A10", "Paid on"), ("B10", "=DATE(2026,12,11)"), ("B11", "=B7-B6")]:
        mutation = book.set("Budget", address, typed)
        print(f"  {address:4} <- {typed!r:22} {mutation!r}, recalculated {mutation.changed}")
    paid = book.value("Budget", "B10")
    print(f"  B7 is now {book.value('Budget', 'B7')!r}, B11 {book.value('Budget', 'B11')!r}; "
          f"B10 holds the date serial {paid!r} ({datetime.date(1899, 12, 30) + datetime.timedelta(days=paid)})")

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


if __name__ == "__main__":
    main()
