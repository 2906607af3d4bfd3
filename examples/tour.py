"""A short tour of cindermantle_xlsx: open the budget workbook shipped beside
this script, read a few cells, recalculate and show what changed, then render
the sheet with its pie chart to a PNG image."""

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

    if hasattr(book, "render_png"):
        png = book.render_png("Budget", range="A1:K18")
        out = pathlib.Path(tempfile.gettempdir()) / "tour-budget.png"
        out.write_bytes(png.bytes)
        print(f"Rendered Budget!A1:K18 with its pie chart: {png.width}x{png.height} pixels, written to {out}")
    else:
        print("This build of the module has no render_png yet; the chart is drawn by the renderer's driver.")

    try:
        book.value("Summary", "A1")
    except KeyError as error:
        print(f"Asking for a missing sheet raises KeyError: {error}")


if __name__ == "__main__":
    main()
