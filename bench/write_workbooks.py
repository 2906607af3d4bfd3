#!/usr/bin/env python3
"""Writing a new 200,000-cell workbook: our new-package writer beside xlsxwriter and openpyxl, on the same content
in the same run.

The content is the one of bench/writer_bench.cpp: 10,000 rows of 20 cells, numbers in even columns and texts
"text {n % 5000}" in odd ones, written to .xlsx bytes in memory. The peers fill a fresh workbook cell by cell
through their usual API (xlsxwriter also in its constant-memory mode, openpyxl also write-only) and save it; each
takes the best of three rounds. Our side is bench_writer from $CMX_BENCH_DIR (default build/release/bench), run
once for its two figures: writing from the model, and building the model first. Ratios are peer time / our time.

Usage: bench/write_workbooks.py [--cells 200000]
"""
import argparse
import io
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BENCH = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "release"))
if not BENCH.is_absolute():
    BENCH = ROOT / BENCH
TOOL = BENCH / "bench" / "bench_writer"
COLS = 20


def value(row, col):
    return row * 1.25 + col if col % 2 == 0 else f"text {(row * COLS + col) % 5000}"


def with_xlsxwriter(rows, constant_memory=False):
    import xlsxwriter
    out = io.BytesIO()
    options = {"in_memory": True}
    if constant_memory:
        # Constant-memory mode streams through temporary files; it cannot write into memory.
        options = {"constant_memory": True}
        out = os.path.join(tempfile.gettempdir(), f"cmx_bench_constant_memory_{os.getpid()}.xlsx")
    wb = xlsxwriter.Workbook(out, options)
    ws = wb.add_worksheet("Data")
    for row in range(rows):
        for col in range(COLS):
            ws.write(row, col, value(row, col))
    wb.close()
    if constant_memory:
        os.unlink(out)


def with_openpyxl(rows, write_only=False):
    import openpyxl
    wb = openpyxl.Workbook(write_only=write_only)
    if write_only:
        ws = wb.create_sheet("Data")
        for row in range(rows):
            ws.append([value(row, col) for col in range(COLS)])
    else:
        ws = wb.active
        ws.title = "Data"
        for row in range(rows):
            for col in range(COLS):
                ws.cell(row=row + 1, column=col + 1, value=value(row, col))
    wb.save(io.BytesIO())


def best_of(fn, rounds=3):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def ours(cells):
    if not TOOL.exists():
        sys.exit(f"bench_writer not built at {TOOL} (configure with -DCMX_BUILD_BENCH=ON)")
    run = subprocess.run([str(TOOL), "--benchmark_format=json", "--benchmark_filter=NewPackage"],
                         capture_output=True, check=True, text=True)
    figures = {}
    for bench in json.loads(run.stdout)["benchmarks"]:
        name, size = bench["name"].split("/")
        if int(size) != cells:
            sys.exit(f"bench_writer writes {size} cells, this run {cells}")
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        figures[name] = bench["real_time"] * scale
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cells", type=int, default=200000)
    args = parser.parse_args()
    rows = args.cells // COLS
    mine = ours(args.cells)
    write = mine["BM_WriteNewPackage"]
    build_write = mine["BM_BuildAndWriteNewPackage"]
    print(f"write_workbooks: {args.cells} cells, numbers and shared strings")
    print(f"write_workbooks: cindermantle write from model    {write * 1e3:8.1f} ms")
    print(f"write_workbooks: cindermantle build model + write {build_write * 1e3:8.1f} ms")
    peers = {
        "xlsxwriter": lambda: with_xlsxwriter(rows),
        "xlsxwriter constant_memory": lambda: with_xlsxwriter(rows, constant_memory=True),
        "openpyxl": lambda: with_openpyxl(rows),
        "openpyxl write_only": lambda: with_openpyxl(rows, write_only=True),
    }
    for name, fn in peers.items():
        seconds = best_of(fn)
        print(f"write_workbooks: {name:<28} {seconds * 1e3:8.1f} ms   ours is {seconds / build_write:5.1f}x faster "
              f"(build + write), {seconds / write:5.1f}x (write)")


if __name__ == "__main__":
    main()
