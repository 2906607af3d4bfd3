#!/usr/bin/env python3
"""Saving an edited 200,000-cell workbook back into its package: our save into the source beside openpyxl, on the
same file in the same run.

The file holds 10,000 rows of 20 cells (numbers in even columns, texts "text {n % 5000}" in odd ones), written by
openpyxl. Two edits are timed: one cell set (one worksheet patched, everything else copied raw) and one row
inserted at the top (every row and cell of the sheet renumbered by the patch). Our side is the test-only driver
tests/cpp/writer/source_patch from $CMX_BUILD_DIR (default build/release), timed from the archive's bytes to the
saved archive's; openpyxl loads the file, makes the edit and saves to memory. Each side takes the best of three
rounds. Ratios are openpyxl time / our time.

Usage: bench/save_into_source.py [--cells 200000]
"""
import argparse
import io
import json
import os
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "writer" / "source_patch"
COLS = 20


def make(path, rows):
    import openpyxl
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("Data")
    for row in range(rows):
        ws.append([row * 1.25 + col if col % 2 == 0 else f"text {(row * COLS + col) % 5000}" for col in range(COLS)])
    wb.save(path)


def ours(path, edits):
    best = None
    with tempfile.TemporaryDirectory() as tmp:
        for _ in range(3):
            run = subprocess.run([str(TOOL), "--time", str(path), os.path.join(tmp, "out.xlsx"), *edits],
                                 capture_output=True, check=True)
            answer = json.loads(run.stdout)
            assert answer["ok"], answer
            best = answer["seconds"] if best is None else min(best, answer["seconds"])
    return best


def openpyxl_side(path, edit):
    import openpyxl
    best = None
    for _ in range(3):
        started = time.perf_counter()
        wb = openpyxl.load_workbook(path)
        edit(wb["Data"])
        wb.save(io.BytesIO())
        elapsed = time.perf_counter() - started
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cells", type=int, default=200_000)
    args = parser.parse_args()
    if not TOOL.exists():
        raise SystemExit(f"build {TOOL} first (cmake --build build/release --target source_patch)")
    rows = max(1, args.cells // COLS)
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "source.xlsx"
        make(path, rows)
        cases = [
            ("one cell set", ["set", "0", "A1", "number", "7"], lambda ws: ws.cell(1, 1, 7)),
            ("one row inserted at the top", ["insert-rows", "0", "0", "1"], lambda ws: ws.insert_rows(1)),
        ]
        print(f"save into the source, {rows * COLS} cells")
        for name, edits, edit in cases:
            our = ours(path, edits)
            peer = openpyxl_side(path, edit)
            print(f"  {name}: ours {our * 1000:.1f} ms, openpyxl {peer * 1000:.1f} ms, ratio {peer / our:.1f}x")


if __name__ == "__main__":
    main()
