#!/usr/bin/env python3
"""Saving a large workbook back into its own package: unchanged, and after one cell edit, beside openpyxl's
load-and-save of the same file in the same run.

The workbook is generated here with xlsxwriter: one sheet of numbers and shared-string texts whose worksheet part
holds about --mb megabytes of XML (50 by default), then a small second sheet. Our side is the test-only driver
source_save from $CMX_BUILD_DIR (default build/release), run as a process that opens the file, saves it back
into its source (unchanged, or after setting A1 of the big sheet) and writes the archive; it reports the seconds
of the save itself, and the wall time covers opening too. openpyxl can only load and save the whole workbook, so
its figure is compared with our wall time. Each side takes the best of --rounds rounds. Ratios are peer time /
our time.

Usage: bench/save_large_workbook.py [--mb 50] [--rounds 2]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import warnings
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "writer" / "source_save"
COLS = 10
# About this many bytes of worksheet XML per row of COLS cells, half numbers, half texts.
ROW_BYTES = 450


def generate(path, megabytes):
    import xlsxwriter
    rows = megabytes * 1_000_000 // ROW_BYTES
    wb = xlsxwriter.Workbook(str(path), {"constant_memory": True})
    ws = wb.add_worksheet("Data")
    for row in range(rows):
        for col in range(COLS):
            if col % 2 == 0:
                ws.write_number(row, col, row * 1.5 + col)
            else:
                ws.write_string(row, col, f"item {(row * COLS + col) % 20000}")
    other = wb.add_worksheet("Notes")
    other.write_string(0, 0, "kept as it was")
    wb.close()
    with zipfile.ZipFile(path) as archive:
        xml_bytes = archive.getinfo("xl/worksheets/sheet1.xml").file_size
    return rows * COLS, xml_bytes


def ours(source, target, flags, rounds):
    best_wall, best_save = float("inf"), float("inf")
    for _ in range(rounds):
        started = time.perf_counter()
        run = subprocess.run([str(TOOL), "--time", *flags, str(source), str(target)], capture_output=True)
        wall = time.perf_counter() - started
        if run.returncode != 0:
            sys.exit(run.stderr.decode(errors="replace"))
        answer = json.loads(run.stdout)
        if not answer["ok"]:
            sys.exit(f"our save refused the workbook: {answer['error']}")
        best_wall, best_save = min(best_wall, wall), min(best_save, answer["seconds"])
    return best_wall, best_save


def with_openpyxl(source, target, edit, rounds):
    import openpyxl
    best = float("inf")
    for _ in range(rounds):
        started = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            wb = openpyxl.load_workbook(source)
        if edit:
            wb["Data"]["A1"] = 4242
        wb.save(target)
        best = min(best, time.perf_counter() - started)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=int, default=50)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    if not TOOL.exists():
        sys.exit(f"source_save not built at {TOOL}")
    with tempfile.TemporaryDirectory() as tmp:
        source, target = Path(tmp) / "source.xlsx", Path(tmp) / "saved.xlsx"
        cells, xml_bytes = generate(source, args.mb)
        print(f"workbook: {cells:,} cells, worksheet XML {xml_bytes / 1e6:.1f} MB, file {source.stat().st_size / 1e6:.1f} MB")
        for label, flags, edit in (("unchanged", [], False), ("one edit", ["--set-a1"], True)):
            wall, save = ours(source, target, flags, args.rounds)
            peer = with_openpyxl(source, target, edit, args.rounds)
            print(f"{label:9}  ours: open+save {wall:7.3f} s (save {save:6.3f} s)   openpyxl load+save {peer:7.2f} s   "
                  f"ratio {peer / wall:6.1f}x (save alone {peer / save:7.1f}x)")


if __name__ == "__main__":
    main()
