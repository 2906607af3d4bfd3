"""Writes tour.xlsx, the small workbook the tour opens: a budget with
formulas, styles, a merged title and a pie chart of its items. Run again to
regenerate it."""

import pathlib

import xlsxwriter


def main() -> None:
    path = pathlib.Path(__file__).with_name("tour.xlsx")
    book = xlsxwriter.Workbook(str(path))
    title = book.add_format({"bold": True, "font_size": 14, "align": "center", "bg_color": "#DDEBF7"})
    money = book.add_format({"num_format": "#,##0.00"})
    percent = book.add_format({"num_format": "0.0%"})
    sheet = book.add_worksheet("Budget")
    sheet.merge_range("A1:C1", "Household budget", title)
    sheet.write_row("A2", ["Item", "Amount", "Share"], book.add_format({"bold": True}))
    items = [("Rent", 1200), ("Food", 450.5), ("Transport", 120), ("Savings", 300)]
    for offset, (name, amount) in enumerate(items):
        row = 3 + offset
        sheet.write(f"A{row}", name)
        sheet.write_number(f"B{row}", amount, money)
        # Cached results are left stale on purpose: recalculating fills them.
        sheet.write_formula(f"C{row}", f"=B{row}/$B$7", percent, 0)
    sheet.write("A7", "Total")
    sheet.write_formula("B7", "=SUM(B3:B6)", money, 0)
    sheet.write("A8", "Largest")
    sheet.write_formula("B8", '=INDEX(A3:A6,MATCH(MAX(B3:B6),B3:B6,0))', None, "")
    chart = book.add_chart({"type": "pie"})
    chart.add_series({"name": "Budget", "categories": "=Budget!$A$3:$A$6", "values": "=Budget!$B$3:$B$6",
                      "data_labels": {"percentage": True}})
    chart.set_title({"name": "Where the money goes"})
    sheet.insert_chart("E2", chart, {"x_scale": 0.8, "y_scale": 0.8})
    notes = book.add_worksheet("Notes")
    notes.write("A1", "Amounts are monthly.")
    book.close()


if __name__ == "__main__":
    main()
