"""The agent requests on generated workbooks, beside openpyxl and python-calamine doing the same work on the
same file, in one run; prints seconds and the peers' time over ours. Opening is timed apart for each.
read_cells_json answers 10^5 cells (values, formulas and display texts); find_text_json searches the display
texts of a 10^6-cell workbook for a text in about one cell in a thousand. CMX_BENCH_READ_CELLS and
CMX_BENCH_FIND_CELLS change the sizes."""

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

COLS = 10


def generate(path, cells):
    book = xlsxwriter.Workbook(path)
    sheet = book.add_worksheet("Data")
    for row in range(cells // COLS):
        for col in range(COLS):
            if col % 3 == 0:
                sheet.write_string(row, col, f"needle {row}" if row % 100 == 0 and col == 0 else f"text {row} {col}")
            else:
                sheet.write_number(row, col, row * 0.5 + col)
    book.close()


def timed(work):
    start = time.perf_counter()
    result = work()
    return time.perf_counter() - start, result


def open_openpyxl(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(path, read_only=True, data_only=True)


def bench_read(cells):
    rows = cells // COLS
    last = f"{chr(ord('A') + COLS - 1)}{rows}"
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "read.xlsx")
        generate(path, cells)
        opened, book = timed(lambda: cx.Workbook.open_path(path))
        request = json.dumps({"ranges": [{"sheetId": "sheet:0", "range": {"kind": "a1", "a1": f"A1:{last}"}}]})
        # Ours is the answer text the method returns; decoding it in Python is timed apart.
        ours, text = timed(lambda: book.read_cells_json(request))
        decoding, answer = timed(lambda: json.loads(text))
        count = sum(len(row) for row in answer["ranges"][0]["cells"])
        assert answer["ok"] and count == cells
        print(f"read_cells_json of {cells} cells: ours {ours:.3f}s (open {opened:.3f}s, json.loads of the answer "
              f"{decoding:.3f}s)")

        def openpyxl_read():
            sheet = open_openpyxl(path).worksheets[0]
            return sum(1 for row in sheet.iter_rows(max_row=rows, max_col=COLS) for cell in row)
        seconds, theirs = timed(openpyxl_read)
        assert theirs == count
        print(f"  openpyxl open + read the same cells: {seconds:.3f}s, {seconds / ours:.2f}x ours, "
              f"{seconds / (ours + opened):.2f}x ours with opening")
        if python_calamine:
            seconds, theirs = timed(lambda: sum(len(r) for r in python_calamine.CalamineWorkbook.from_path(path)
                                                 .get_sheet_by_index(0).to_python()))
            assert theirs == count
            print(f"  python-calamine open + read: {seconds:.3f}s, {seconds / ours:.2f}x ours, "
                  f"{seconds / (ours + opened):.2f}x ours with opening")


def bench_find(cells):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "find.xlsx")
        generate(path, cells)
        opened, book = timed(lambda: cx.Workbook.open_path(path))
        request = json.dumps({"text": "needle", "limit": 10000})
        ours, text = timed(lambda: book.find_text_json(request))
        answer = json.loads(text)
        expected = cells // COLS // 100
        assert answer["ok"] and len(answer["matches"]) == expected and not answer["truncated"]
        print(f"find_text_json over {cells} cells ({expected} matches): ours {ours:.3f}s (open {opened:.3f}s)")

        def openpyxl_find():
            sheet = open_openpyxl(path).worksheets[0]
            return sum(1 for row in sheet.iter_rows(values_only=True) for v in row
                       if v is not None and "needle" in str(v))
        seconds, theirs = timed(openpyxl_find)
        assert theirs == expected
        print(f"  openpyxl open + search: {seconds:.3f}s, {seconds / (ours + opened):.2f}x ours with opening")
        if python_calamine:
            def calamine_find():
                sheet = python_calamine.CalamineWorkbook.from_path(path).get_sheet_by_index(0)
                return sum(1 for row in sheet.to_python() for v in row if "needle" in str(v))
            seconds, theirs = timed(calamine_find)
            assert theirs == expected
            print(f"  python-calamine open + search: {seconds:.3f}s, {seconds / (ours + opened):.2f}x ours with "
                  f"opening")


def main():
    bench_read(int(os.environ.get("CMX_BENCH_READ_CELLS", "100000")))
    bench_find(int(os.environ.get("CMX_BENCH_FIND_CELLS", "1000000")))


if __name__ == "__main__":
    main()
