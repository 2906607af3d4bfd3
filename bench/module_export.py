"""Structured export and Markdown of a generated workbook through the Python module, beside openpyxl and
python-calamine turning the same file into JSON cell records, in one run; prints seconds and the peers' time over
ours. Also the export under growing maxCells budgets on the opened workbook, whose time follows the budget rather
than the workbook. CMX_BENCH_CELLS sets the cell count (default 1000000)."""

import json
import os
import tempfile
import time
import warnings

import cindermantle_xlsx as cx
import openpyxl
import xlsxwriter

try:
    import python_calamine
except ImportError:  # the peer is optional where it is not installed
    python_calamine = None

COLS = 20
FULL = json.dumps({"maxCells": 1000000, "maxBytes": 16777216})


def generate(path, cells):
    book = xlsxwriter.Workbook(path, {"constant_memory": True})
    sheet = book.add_worksheet("Data")
    for row in range(cells // COLS):
        for col in range(COLS):
            if col % 4 == 0:
                sheet.write_string(row, col, f"item {row}")
            else:
                sheet.write_number(row, col, row * 0.25 + col)
    book.close()


def letters(col):
    return chr(ord("A") + col)


def openpyxl_records(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        book = openpyxl.load_workbook(path, read_only=True, data_only=True)
    records = []
    for r, row in enumerate(book.worksheets[0].iter_rows(values_only=True), start=1):
        for c, value in enumerate(row):
            if value is not None:
                records.append({"a1": f"{letters(c)}{r}", "value": value, "displayText": str(value)})
    return json.dumps(records)


def calamine_records(path):
    book = python_calamine.CalamineWorkbook.from_path(path)
    records = []
    for r, row in enumerate(book.get_sheet_by_index(0).to_python(), start=1):
        for c, value in enumerate(row):
            if value != "":
                records.append({"a1": f"{letters(c)}{r}", "value": value, "displayText": str(value)})
    return json.dumps(records)


def timed(work):
    start = time.perf_counter()
    result = work()
    return time.perf_counter() - start, result


def main():
    cells = int(os.environ.get("CMX_BENCH_CELLS", "1000000"))
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "cells.xlsx")
        generate(path, cells)
        data = open(path, "rb").read()

        ours, text = timed(lambda: cx.export_xlsx_structured_json(data, FULL))
        document = json.loads(text)
        exported = sum(len(s["cells"]) for s in document["sheets"])
        print(f"structured export of {cells} cells (open included): ours {ours:.3f}s, {exported} cell records in "
              f"{len(text)} bytes, truncated {document['truncated']}")
        md_seconds, md_text = timed(lambda: cx.export_xlsx_markdown_json(data, FULL, "{}"))
        print(f"Markdown of {cells} cells (open included): ours {md_seconds:.3f}s, {len(md_text)} bytes")
        peers = [("openpyxl", openpyxl_records)] + ([("python-calamine", calamine_records)] if python_calamine else [])
        for name, work in peers:
            seconds, records = timed(lambda: work(path))
            print(f"  {name} to JSON records: {seconds:.3f}s, {seconds / ours:.2f}x our export, "
                  f"{seconds / md_seconds:.2f}x our Markdown ({len(records)} bytes)")

        book = cx.Workbook.open(data)
        for budget in (1000, 10000, 100000):
            seconds, answer = timed(lambda: book.export_structured_json(json.dumps({"maxCells": budget,
                                                                                     "maxBytes": 16777216})))
            content = json.loads(answer)["content"]
            print(f"  export of the opened workbook under maxCells {budget}: {seconds:.4f}s, "
                  f"truncated {content['truncated']}")


if __name__ == "__main__":
    main()
