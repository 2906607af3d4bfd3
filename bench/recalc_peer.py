#!/usr/bin/env python3
"""Opening and fully recalculating workbooks of simple formulas: our module (Workbook.open_recalculated) beside
the formulas package (openpyxl reads the file; each formula is parsed, compiled and evaluated in row order, so
that a chain reads its predecessor's result), on the same generated files in one run.

Two shapes: independent formulas (column B doubles column A) and one long chain (each cell adds 1 to the one
above). The formulas package is far slower, so it runs on the smaller files only; the ratio is per formula.
Times are CPU seconds of a child process each (the machine may be shared).

Usage: bench/recalc_peer.py [--ours 100000,1000000] [--peer 2000]
"""
import argparse
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import xlsxwriter


def write_workbook(path, count, chain):
    wb = xlsxwriter.Workbook(str(path), {"constant_memory": True})
    ws = wb.add_worksheet("Sheet1")
    for row in range(count):
        if chain:
            if row == 0:
                ws.write_number(0, 0, 1)
            else:
                ws.write_formula(row, 0, f"=A{row}+1", None, 0)
        else:
            ws.write_number(row, 0, row)
            ws.write_formula(row, 1, f"=A{row + 1}*2", None, 0)
    wb.close()


OURS = """
import json, sys, time
import cindermantle_xlsx as cx
data = open(sys.argv[1], "rb").read()
start = time.process_time()
wb = cx.Workbook.open_recalculated(data)
print(json.dumps({"seconds": time.process_time() - start}))
"""

PEER = """
import json, sys, time
import formulas
import openpyxl
start = time.process_time()
values = {}
for row in openpyxl.load_workbook(sys.argv[1]).active.iter_rows():
    for cell in row:
        if isinstance(cell.value, str) and cell.value.startswith("="):
            fn = formulas.Parser().ast(cell.value)[1].compile()
            values[cell.coordinate] = fn(*[values[name] for name in fn.inputs])
        elif cell.value is not None:
            values[cell.coordinate] = cell.value
print(json.dumps({"seconds": time.process_time() - start}))
"""


def run(code, path):
    out = subprocess.run([sys.executable, "-c", code, str(path)], check=True, capture_output=True).stdout
    return json.loads(out.decode().strip().splitlines()[-1])["seconds"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ours", default="100000,1000000")
    parser.add_argument("--peer", default="2000")
    args = parser.parse_args()
    folder = Path(tempfile.mkdtemp())
    print(f"{'workbook':<24}{'formulas':>10}{'reader':>12}{'seconds':>10}{'us/formula':>12}{'ours x faster':>15}")
    for chain in (False, True):
        kind = "chain" if chain else "independent"
        per_formula = {}
        for who, sizes, code in (("ours", args.ours, OURS), ("formulas", args.peer, PEER)):
            for size in (int(s) for s in sizes.split(",") if s):
                path = folder / f"{kind}-{size}.xlsx"
                if not path.exists():
                    write_workbook(path, size, chain)
                seconds = run(code, path)
                count = size - 1 if chain else size
                per_formula.setdefault(who, []).append(seconds / count)
                ratio = ""
                if who == "formulas" and "ours" in per_formula:
                    ratio = f"{(seconds / count) / min(per_formula['ours']):.0f}"
                print(f"{kind:<24}{count:>10}{who:>12}{seconds:>10.3f}{seconds / count * 1e6:>12.2f}{ratio:>15}")


if __name__ == "__main__":
    main()
