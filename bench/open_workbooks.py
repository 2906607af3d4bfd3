#!/usr/bin/env python3
"""Opening whole workbooks: our package and workbook readers beside openpyxl (normal and read-only) and
python-calamine, on the same generated files in the same run.

Workbooks of 10^5 and 10^6 cells (half numbers, half shared strings) and a formula-heavy variant (one column of
numbers, every other cell a formula with its cached value) are written with xlsxwriter. Each reader opens each
file in a child process of its own, so that its peak resident memory is its own; the time is measured inside the
child around the open and the walk over every cell. Our side is tests/cpp/workbook/workbook_dump --count from
$CMX_BUILD_DIR (default build/release).

Usage: bench/open_workbooks.py [--sizes 100000,1000000] [--keep DIR]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import xlsxwriter

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "workbook" / "workbook_dump"
COLS = 20


def write_workbook(path, cells, formulas):
    wb = xlsxwriter.Workbook(str(path), {"constant_memory": True})
    ws = wb.add_worksheet("Data")
    rows = cells // COLS
    for row in range(rows):
        for col in range(COLS):
            if formulas:
                if col == 0:
                    ws.write_number(row, col, row * 0.5)
                else:
                    ws.write_formula(row, col, f"=A{row + 1}*{col}+{col}", None, row * 0.5 * col + col)
            elif col % 2 == 0:
                ws.write_number(row, col, row * 1.25 + col)
            else:
                ws.write_string(row, col, f"text {(row * COLS + col) % 5000}")
    wb.close()


PEERS = {
    "openpyxl": """
import openpyxl
wb = openpyxl.load_workbook(PATH)
cells = sum(1 for ws in wb.worksheets for row in ws.iter_rows() for c in row if c.value is not None)
""",
    "openpyxl read-only": """
import openpyxl
wb = openpyxl.load_workbook(PATH, read_only=True)
cells = sum(1 for ws in wb.worksheets for row in ws.iter_rows(values_only=True) for v in row if v is not None)
wb.close()
""",
    "python-calamine": """
from python_calamine import CalamineWorkbook
wb = CalamineWorkbook.from_path(PATH)
cells = sum(1 for name in wb.sheet_names for row in wb.get_sheet_by_name(name).to_python() for v in row
            if v != "" and v is not None)
""",
}

CHILD = """
import json, sys, time
PATH = sys.argv[1]
start = time.perf_counter()
{body}
print(json.dumps({{"cells": cells, "seconds": time.perf_counter() - start}}))
"""


def run_child(argv):
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = proc.stdout.read()
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        raise RuntimeError(f"{argv[0]} failed: {err.decode(errors='replace')[-500:]}")
    result = json.loads(out)
    result["peak_mb"] = usage.ru_maxrss / 1024.0
    return result


def measure(path):
    results = {"ours": run_child([str(TOOL), "--count", str(path)])}
    for name, body in PEERS.items():
        try:
            results[name] = run_child([sys.executable, "-c", CHILD.format(body=body), str(path)])
        except (RuntimeError, ImportError) as error:
            print(f"  {name}: {error}")
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="100000,1000000")
    parser.add_argument("--keep")
    args = parser.parse_args()
    if not TOOL.exists():
        sys.exit(f"workbook_dump not built at {TOOL}")
    folder = Path(args.keep) if args.keep else Path(tempfile.mkdtemp())
    folder.mkdir(parents=True, exist_ok=True)
    print(f"{'file':<28}{'reader':<22}{'cells':>10}{'cells/s':>14}{'peak MB':>10}{'ours x faster':>15}")
    for size in (int(s) for s in args.sizes.split(",")):
        for formulas in (False, True):
            name = f"{'formulas' if formulas else 'numbers+strings'}-{size}"
            path = folder / f"{name}.xlsx"
            if not path.exists():
                write_workbook(path, size, formulas)
            results = measure(path)
            ours = results["ours"]["cells"] / results["ours"]["seconds"]
            for reader, result in results.items():
                rate = result["cells"] / result["seconds"]
                ratio = "" if reader == "ours" else f"{ours / rate:.1f}"
                print(f"{name:<28}{reader:<22}{result['cells']:>10}{rate:>14,.0f}{result['peak_mb']:>10.1f}{ratio:>15}")


if __name__ == "__main__":
    main()
