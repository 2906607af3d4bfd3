"""Recalculating a generated workbook of formulas through the Python module, beside the formulas package on
the same file, in one run; prints seconds and the peer's time over ours. Both sides are timed from the file to
the calculated values, and a sample of values is compared. CMX_BENCH_FORMULAS sets our formula count
(default 100000); the peer, which needs minutes for that many, runs beside us on CMX_BENCH_PEER_FORMULAS
(default 10000) so that the ratio compares equal work."""

import os
import tempfile
import time

import cindermantle_xlsx as cx
import xlsxwriter

try:
    import formulas
except ImportError:  # the peer is optional where it is not installed
    formulas = None


def generate(path, count):
    """Half the formulas scale a constant, half sum a row's constants and the first formula: independent
    rows, so neither side pays for a deep chain."""
    book = xlsxwriter.Workbook(path)
    sheet = book.add_worksheet("Data")
    for row in range(count // 2):
        n = row + 1
        sheet.write_number(row, 0, row % 97)
        sheet.write_number(row, 1, row % 13 + 0.5)
        sheet.write_formula(row, 2, f"=A{n}*2+B{n}")
        sheet.write_formula(row, 3, f"=SUM(A{n}:C{n})/2")
    book.close()


def ours(path):
    book = cx.Workbook.open_path(path)
    book.recalculate()
    return book


def peer(path):
    model = formulas.ExcelModel().loads(path).finish()
    return model.calculate()


def sample_agrees(book, solution, rows):
    for row in range(1, rows + 1, max(1, rows // 50)):
        for col in "CD":
            key = next(k for k in solution if k.upper().endswith(f"DATA'!{col}{row}"))
            theirs = float(solution[key].value[0, 0])
            assert abs(book.value(0, f"{col}{row}") - theirs) < 1e-9, (col, row)


def timed_ours(folder, count):
    path = os.path.join(folder, f"formulas{count}.xlsx")
    generate(path, count)
    start = time.perf_counter()
    book = ours(path)
    seconds = time.perf_counter() - start
    print(f"module open + recalculate {count} formulas: ours {seconds:.3f}s ({book.last_calculation()!r})")
    return path, book, seconds


def main():
    count = int(os.environ.get("CMX_BENCH_FORMULAS", "100000"))
    peer_count = int(os.environ.get("CMX_BENCH_PEER_FORMULAS", "10000"))
    with tempfile.TemporaryDirectory() as folder:
        timed_ours(folder, count)
        if formulas is None:
            print("  formulas: not installed")
            return
        path, book, mine = timed_ours(folder, peer_count)
        start = time.perf_counter()
        solution = peer(path)
        theirs = time.perf_counter() - start
        sample_agrees(book, solution, peer_count // 2)
        print(f"  formulas on {peer_count}: {theirs:.3f}s, {theirs / mine:.2f}x ours")


if __name__ == "__main__":
    main()
