#!/usr/bin/env python3
"""Opening and fully recalculating workbooks of simple formulas: our module (Workbook.open_recalculated) beside
formualizer, a native engine (load_workbook_bytes, then evaluate_all), and the formulas package (openpyxl reads
the file; each formula is parsed, compiled and evaluated in row order, so that a chain reads its predecessor's
result), on the same generated files in one run.

Two shapes: independent formulas (column B doubles column A) and one long chain (each cell adds 1 to the one
above). formualizer runs on the same files as ours and its ratio is per file; the formulas package is far slower,
so it runs on the smaller files only and its ratio is per formula. Each run reads back the last formula's value,
which must be what the formulas compute. Times are CPU seconds of a child process each (the machine may be
shared); wall seconds are printed beside them, since formualizer may use several threads. The last two columns
time the recalculation alone: ours recalculate() after Workbook.open (the graph is rebuilt, every formula evaluated
and the document brought up to date), formualizer's evaluate_all after its load.

Usage: bench/recalc_peer.py [--ours 100000,1000000] [--formualizer 100000,1000000] [--peer 2000]
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


# Each runner gets the file and the last formula cell (row, column, both 1-based).
OURS = """
import json, sys, time
import cindermantle_xlsx as cx
data = open(sys.argv[1], "rb").read()
start, wall = time.process_time(), time.perf_counter()
wb = cx.Workbook.open_recalculated(data)
seconds, wall = time.process_time() - start, time.perf_counter() - wall
last = "ABCDEFGHIJ"[int(sys.argv[3]) - 1] + sys.argv[2]
value = wb.value(0, last)
del wb
wb = cx.Workbook.open(data)
start = time.process_time()
wb.recalculate()
recalc = time.process_time() - start
print(json.dumps({"seconds": seconds, "wall": wall, "recalc": recalc, "last": value}))
"""

FORMUALIZER = """
import json, sys, time
import formualizer
data = open(sys.argv[1], "rb").read()
start, wall = time.process_time(), time.perf_counter()
wb = formualizer.load_workbook_bytes(data)
loaded = time.process_time()
wb.evaluate_all()
seconds, wall = time.process_time() - start, time.perf_counter() - wall
recalc = seconds - (loaded - start)
last = wb.get_value(wb.sheet_names[0], int(sys.argv[2]), int(sys.argv[3]))
print(json.dumps({"seconds": seconds, "wall": wall, "recalc": recalc, "last": last}))
"""

PEER = """
import json, sys, time
import formulas
import openpyxl
start, wall = time.process_time(), time.perf_counter()
values = {}
for row in openpyxl.load_workbook(sys.argv[1]).active.iter_rows():
    for cell in row:
        if isinstance(cell.value, str) and cell.value.startswith("="):
            fn = formulas.Parser().ast(cell.value)[1].compile()
            values[cell.coordinate] = fn(*[values[name] for name in fn.inputs])
        elif cell.value is not None:
            values[cell.coordinate] = cell.value
seconds, wall = time.process_time() - start, time.perf_counter() - wall
last = values["ABCDEFGHIJ"[int(sys.argv[3]) - 1] + sys.argv[2]]
print(json.dumps({"seconds": seconds, "wall": wall, "last": float(getattr(last, "item", lambda: last)())}))
"""


def run(code, path, size, chain):
    column = 1 if chain else 2
    out = subprocess.run(
        [sys.executable, "-c", code, str(path), str(size), str(column)], check=True, capture_output=True
    ).stdout
    result = json.loads(out.decode().strip().splitlines()[-1])
    expected = size if chain else 2 * (size - 1)
    if result["last"] != expected:
        raise SystemExit(f"{path.name}: the last formula gave {result['last']!r}, not {expected}")
    return result["seconds"], result["wall"], result.get("recalc")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ours", default="100000,1000000")
    parser.add_argument("--formualizer", default="100000,1000000")
    parser.add_argument("--peer", default="2000")
    args = parser.parse_args()
    folder = Path(tempfile.mkdtemp())
    print(
        f"{'workbook':<14}{'formulas':>10}{'engine':>13}{'cpu s':>9}{'wall s':>9}{'us/formula':>12}"
        f"{'ours x faster':>15}{'recalc s':>10}{'x faster':>10}"
    )
    for chain in (False, True):
        kind = "chain" if chain else "independent"
        ours = {}
        ours_recalc = {}
        runners = (
            ("ours", args.ours, OURS),
            ("formualizer", args.formualizer, FORMUALIZER),
            ("formulas", args.peer, PEER),
        )
        for who, sizes, code in runners:
            for size in (int(s) for s in sizes.split(",") if s):
                path = folder / f"{kind}-{size}.xlsx"
                if not path.exists():
                    write_workbook(path, size, chain)
                seconds, wall, recalc = run(code, path, size, chain)
                count = size - 1 if chain else size
                ratio = ""
                recalc_text = "" if recalc is None else f"{recalc:.3f}"
                recalc_ratio = ""
                if who == "ours":
                    ours[size] = seconds / count
                    ours_recalc[size] = recalc
                elif who == "formualizer" and size in ours:
                    ratio = f"{seconds / count / ours[size]:.1f}"  # the same file
                    recalc_ratio = f"{recalc / max(ours_recalc[size], 1e-9):.1f}"
                elif ours:
                    ratio = f"{seconds / count / min(ours.values()):.0f}"  # per formula
                print(
                    f"{kind:<14}{count:>10}{who:>13}{seconds:>9.3f}{wall:>9.3f}{seconds / count * 1e6:>12.2f}"
                    f"{ratio:>15}{recalc_text:>10}{recalc_ratio:>10}"
                )


if __name__ == "__main__":
    main()
