"""Opening a generated workbook and reading every cell through the Python module, beside openpyxl and
python-calamine on the same file, in one run; prints seconds and the peers' time over ours.
CMX_BENCH_CELLS sets the cell counts, comma-separated (default 100000,1000000)."""

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

COLS = 10


def generate(path, cells):
    book = xlsxwriter.Workbook(path)
    sheet = book.add_worksheet("Data")
    for row in range(cells // COLS):
        for col in range(COLS):
            if col % 3 == 0:
                sheet.write_string(row, col, f"text {row} {col}")
            else:
                sheet.write_number(row, col, row * 0.5 + col)
    book.close()


def read_ours(path, rows):
    book = cx.Workbook.open_path(path)
    letters = [chr(ord("A") + c) for c in range(COLS)]
    count = 0
    for row in range(1, rows + 1):
        for letter in letters:
            count += book.value(0, f"{letter}{row}") is not None
    return count


def read_openpyxl(path, rows):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        book = openpyxl.load_workbook(path, read_only=True, data_only=True)
    return sum(v is not None for row in book.worksheets[0].iter_rows(values_only=True) for v in row)


def read_calamine(path, rows):
    book = python_calamine.CalamineWorkbook.from_path(path)
    return sum(v != "" for row in book.get_sheet_by_index(0).to_python() for v in row)


def timed(read, path, rows):
    start = time.perf_counter()
    count = read(path, rows)
    return time.perf_counter() - start, count


def main():
    for cells in (int(n) for n in os.environ.get("CMX_BENCH_CELLS", "100000,1000000").split(",")):
        run(cells)


def run(cells):
    rows = cells // COLS
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "cells.xlsx")
        generate(path, cells)
        ours, count = timed(read_ours, path, rows)
        print(f"module open + read {cells} cells: ours {ours:.3f}s ({count} values)")
        peers = [("openpyxl", read_openpyxl)] + ([("python-calamine", read_calamine)] if python_calamine else [])
        for name, read in peers:
            seconds, theirs = timed(read, path, rows)
            assert theirs == count, (name, theirs, count)
            print(f"  {name}: {seconds:.3f}s, {seconds / ours:.2f}x ours")


if __name__ == "__main__":
    main()
