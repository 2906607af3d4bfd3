#!/usr/bin/env python3
"""Worksheet reading beside python-calamine: writes one workbook with
xlsxwriter (1,000,000 cells, 1,000 rows of 1,000: half numbers, half shared
strings), times python-calamine reading its first sheet, then runs
bench_reader's BM_ReadSheetFile on the same worksheet part (extracted with
zipfile, the shared strings read beforehand) and prints both rates and their
ratio.

    python3 bench/sheet_read_peer.py [path/to/bench_reader]
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import zipfile

import python_calamine
import xlsxwriter

ROWS = 1000
COLS = 1000
RUNS = 3


def write_book(path: str) -> None:
    book = xlsxwriter.Workbook(path)
    sheet = book.add_worksheet("Sheet1")
    for row in range(ROWS):
        for col in range(COLS):
            if col % 2 == 0:
                sheet.write_number(row, col, row * 0.25 + col)
            else:
                sheet.write_string(row, col, f"text {(row + col) % 5000}")
    book.close()


def time_calamine(path: str) -> tuple[float, int]:
    best = float("inf")
    cells = 0
    for _ in range(RUNS):
        start = time.perf_counter()
        book = python_calamine.CalamineWorkbook.from_path(path)
        rows = book.get_sheet_by_index(0).to_python()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        cells = sum(1 for row in rows for value in row if value != "")
    return best, cells


def time_ours(bench: str, path: str, workdir: str) -> tuple[float, int]:
    with zipfile.ZipFile(path) as archive:
        sheet_part = os.path.join(workdir, "sheet1.xml")
        strings_part = os.path.join(workdir, "sharedStrings.xml")
        with open(sheet_part, "wb") as out:
            out.write(archive.read("xl/worksheets/sheet1.xml"))
        with open(strings_part, "wb") as out:
            out.write(archive.read("xl/sharedStrings.xml"))
    env = dict(os.environ, CMX_SHEET_PART=sheet_part, CMX_SHARED_STRINGS_PART=strings_part)
    result = subprocess.run(
        [bench, "--benchmark_filter=BM_ReadSheetFile$", "--benchmark_format=json",
         f"--benchmark_repetitions={RUNS}"],
        env=env, check=True, capture_output=True, text=True)
    report = json.loads(result.stdout)
    # The fastest run, as for the peer.
    runs = [b for b in report["benchmarks"] if b.get("run_type") == "iteration"]
    best = min(b["real_time"] for b in runs) / 1e3  # milliseconds
    return best, int(runs[0]["cells"])


def time_inflate(path: str) -> float:
    # zipfile inflates with zlib, as a package read does: added to our time
    # it puts both sides on the same footing.
    best = float("inf")
    with zipfile.ZipFile(path) as archive:
        for _ in range(RUNS):
            start = time.perf_counter()
            archive.read("xl/worksheets/sheet1.xml")
            best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    bench_dir = os.environ.get("CMX_BENCH_DIR", "build/bench")
    bench = sys.argv[1] if len(sys.argv) > 1 else os.path.join(bench_dir, "bench", "bench_reader")
    with tempfile.TemporaryDirectory() as workdir:
        path = os.path.join(workdir, "book.xlsx")
        write_book(path)
        peer_s, peer_cells = time_calamine(path)
        ours_s, our_cells = time_ours(bench, path, workdir)
        inflate_s = time_inflate(path)
    print(f"python-calamine (open + read sheet): {peer_cells} cells in {peer_s:.3f} s, "
          f"{peer_cells / peer_s / 1e6:.2f}M cells/s")
    print(f"bench_reader (worksheet part, already inflated): {our_cells} cells in {ours_s:.3f} s, "
          f"{our_cells / ours_s / 1e6:.2f}M cells/s")
    print(f"inflating the worksheet part: {inflate_s:.3f} s")
    print(f"ratio: {peer_s / ours_s:.2f}x on the part, {peer_s / (ours_s + inflate_s):.2f}x with inflate added")


if __name__ == "__main__":
    main()
