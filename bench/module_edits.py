"""Editing and saving through the Python module beside openpyxl, in one run; prints seconds and the peer's time
over ours. set_many: CMX_BENCH_EDITS cells (default 100000) typed into a sheet whose formulas read every one of
them, with the recalculation that follows; openpyxl only assigns the same cells (it does not recalculate).
Per set: CMX_BENCH_SET_CELLS cells (default 240000) of numbers, then single `set` calls on cells without
dependents, in a workbook opened normally and one opened collaboratively: the first call and the median of the
next ones, beside openpyxl assigning one cell of the same workbook.
Save: a generated workbook of about CMX_BENCH_SAVE_MB megabytes (default 50) opened, one cell set, saved to a
file, on both sides; both outputs are read back and checked."""

import os
import random
import statistics
import tempfile
import time
import warnings

import cindermantle_xlsx as cx
import xlsxwriter

try:
    import openpyxl
except ImportError:  # the peer is optional where it is not installed
    openpyxl = None


def timed(work):
    start = time.perf_counter()
    result = work()
    return result, time.perf_counter() - start


def dependent_sheet(path, count):
    """Column A holds the inputs, B{n} = A{n}*2 and C1 sums B, so every typed cell has dependents."""
    book = xlsxwriter.Workbook(path)
    sheet = book.add_worksheet("Data")
    for row in range(count):
        sheet.write_number(row, 0, 1)
        sheet.write_formula(row, 1, f"=A{row + 1}*2", None, 2)
    sheet.write_formula(0, 2, f"=SUM(B1:B{count})", None, 2 * count)
    book.close()


def bench_set_many(folder):
    count = int(os.environ.get("CMX_BENCH_EDITS", "100000"))
    path = os.path.join(folder, "inputs.xlsx")
    dependent_sheet(path, count)
    edits = [(f"A{row + 1}", str(row % 100)) for row in range(count)]
    expected = 2.0 * sum(row % 100 for row in range(count))
    data = open(path, "rb").read()
    collaborative = cx.Workbook.open_collaborative(data, client_id=11)
    mutation, shared = timed(lambda: collaborative.set_many("Data", edits))
    assert collaborative.value("Data", "C1") == expected, collaborative.value("Data", "C1")
    book = cx.Workbook.open_path(path)
    mutation, mine = timed(lambda: book.set_many("Data", edits))
    assert book.value("Data", "C1") == expected, book.value("Data", "C1")
    print(f"set_many {count} cells with recalculation: ours {mine:.3f}s ({mutation!r}), "
          f"collaborative {shared:.3f}s")
    if openpyxl is None:
        print("  openpyxl: not installed")
        return
    sheet = openpyxl.load_workbook(path)["Data"]

    def assign():
        for address, text in edits:
            sheet[address] = float(text)

    _, theirs = timed(assign)
    print(f"  openpyxl (assignment only, no recalculation): {theirs:.3f}s, {theirs / mine:.2f}x ours")


def numbers_sheet(path, cells):
    book = xlsxwriter.Workbook(path, {"constant_memory": True})
    sheet = book.add_worksheet("Data")
    for row in range(cells // 10):
        for col in range(10):
            sheet.write_number(row, col, row * 0.5 + col)
    book.close()


def bench_single_sets(folder):
    cells = int(os.environ.get("CMX_BENCH_SET_CELLS", "240000"))
    path = os.path.join(folder, "numbers.xlsx")
    numbers_sheet(path, cells)
    data = open(path, "rb").read()
    calls = 41
    print(f"one set on a {cells}-cell workbook (first call, then the median of {calls - 1}):")
    medians = {}
    for label, book in (("local", cx.Workbook.open(data)),
                        ("collaborative", cx.Workbook.open_collaborative(data, client_id=11))):
        times = []
        for i in range(calls):
            _, took = timed(lambda: book.set("Data", f"L{i + 1}", str(i)))
            times.append(took)
        assert book.value("Data", "L7") == 6.0
        medians[label] = statistics.median(times[1:])
        print(f"  {label}: first {times[0] * 1e3:.2f} ms, median {medians[label] * 1e3:.2f} ms")
    if openpyxl is None:
        print("  openpyxl: not installed")
        return
    sheet = openpyxl.load_workbook(path)["Data"]
    times = []
    for i in range(calls):
        _, took = timed(lambda: sheet.__setitem__(f"L{i + 1}", float(i)))
        times.append(took)
    theirs = statistics.median(times)
    print(f"  openpyxl assignment: median {theirs * 1e3:.4f} ms; "
          + ", ".join(f"{theirs / mine:.3f}x ours {label}" for label, mine in medians.items()))


def large_workbook(path, megabytes):
    """Rows of random numbers and short texts until the file reaches the size."""
    rng = random.Random(7)
    rows = 0
    book = xlsxwriter.Workbook(path, {"constant_memory": True})
    sheet = book.add_worksheet("Big")
    # About 80 compressed bytes a row of six cells.
    for row in range(megabytes * 1024 * 1024 // 80):
        for col in range(5):
            sheet.write_number(row, col, rng.random() * 1000)
        sheet.write_string(row, 5, f"item {rng.randrange(1_000_000)}")
        rows += 1
    book.close()
    return rows


def bench_save(folder):
    megabytes = int(os.environ.get("CMX_BENCH_SAVE_MB", "50"))
    source = os.path.join(folder, "big.xlsx")
    rows = large_workbook(source, megabytes)
    size = os.path.getsize(source) / 1e6
    ours_out = os.path.join(folder, "ours.xlsx")

    def ours():
        book = cx.Workbook.open_path(source)
        book.set("Big", "B2", "12345")
        book.save_path(ours_out)

    _, mine = timed(ours)
    assert cx.Workbook.open_path(ours_out).value("Big", "B2") == 12345.0
    print(f"open, set one cell, save a {size:.1f} MB workbook ({rows} rows): ours {mine:.3f}s")
    if openpyxl is None:
        print("  openpyxl: not installed")
        return
    theirs_out = os.path.join(folder, "theirs.xlsx")

    def peer():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            book = openpyxl.load_workbook(source)
        book["Big"]["B2"] = 12345
        book.save(theirs_out)

    _, theirs = timed(peer)
    assert cx.Workbook.open_path(theirs_out).value("Big", "B2") == 12345.0
    print(f"  openpyxl: {theirs:.3f}s, {theirs / mine:.2f}x ours")


def main():
    with tempfile.TemporaryDirectory() as folder:
        bench_set_many(folder)
        bench_single_sets(folder)
        bench_save(folder)


if __name__ == "__main__":
    main()
