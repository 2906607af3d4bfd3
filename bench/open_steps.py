#!/usr/bin/env python3
"""The time of each step of opening a workbook, beside python-calamine's open and to_python() of the same file.

Workbooks of 10^5 and 10^6 cells, with and without formulas, are written as bench/open_workbooks.py writes them.
Our steps come from $CMX_BENCH_DIR/bench/bench_open_steps (CMX_BENCH_DIR defaults to build/bench). The first table
is the open without a client id, as Workbook.open runs it: the archive, the workbook and sheets, validation, the
projection computed in place, validation of the projection, and the dependency graph; then Workbook.open_path from
Python (when this interpreter imports the module), python-calamine, and the ratios of python-calamine's time over
ours: the read path (archive plus workbook), the whole open in C++ and from Python. The second table is the round
trip through the collaborative document that a collaborative open runs and that a deferred document runs when
something first needs it (authored base, bootstrap transaction, its update, hydration, strict decode, array-range
copies), the time that first need takes on a session opened without one (reading the package again included), and
a whole collaborative open by the direct route beside the encoded round trip (and their ratio).
Times are CPU seconds of the process (the machine may be shared). Because one run of each side can land in a slow
spell of a shared machine, a third table repeats the read path alone: --repeat cold processes per side, taking
turns, and the ratio of the medians.

A fourth table reads the same workbooks, and workbooks of four equal sheets, on one thread and on several (big
sheets in parallel): the wall time of the workbook step (best of three) and the speed-up, beside python-calamine's
wall time for the same file.

Usage: bench/open_steps.py [--sizes 100000,1000000] [--keep DIR] [--repeat 5]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from open_workbooks import COLS, ROOT, write_workbook  # noqa: E402

import xlsxwriter  # noqa: E402

TOOL = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_open_steps"
STEPS = ["archive", "workbook", "validation", "projection", "revalidation", "graph", "total"]
ROUND_TRIP = ["base", "bootstrap", "update", "hydration", "decode", "copies"]
CALAMINE = """
import json, sys, time
from python_calamine import CalamineWorkbook
start = time.process_time()
wb = CalamineWorkbook.from_path(sys.argv[1])
rows = [wb.get_sheet_by_name(name).to_python() for name in wb.sheet_names]
print(json.dumps({"seconds": time.process_time() - start}))
"""
CALAMINE_WALL = CALAMINE.replace("process_time", "perf_counter")
SHEETS = 4
OURS = """
import json, sys, time
import cindermantle_xlsx as cx
start = time.process_time()
wb = cx.Workbook.open_path(sys.argv[1])
print(json.dumps({"seconds": time.process_time() - start}))
"""


def child_seconds(script, path):
    run = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True)
    return json.loads(run.stdout)["seconds"] if run.returncode == 0 else None


def write_sheets(path, cells, formulas):
    """The cells of write_workbook spread over SHEETS equal sheets."""
    wb = xlsxwriter.Workbook(str(path), {"constant_memory": True})
    rows = cells // COLS // SHEETS
    for index in range(SHEETS):
        ws = wb.add_worksheet(f"Data{index + 1}")
        for row in range(rows):
            for col in range(COLS):
                if formulas and col > 0:
                    ws.write_formula(row, col, f"=A{row + 1}*{col}+{col}", None, row * 0.5 * col + col)
                elif formulas or col % 2 == 0:
                    ws.write_number(row, col, row * 1.25 + col)
                else:
                    ws.write_string(row, col, f"text {(row * COLS + col) % 5000}")
    wb.close()


def read_on_threads(path, threads):
    out = subprocess.run([str(TOOL), "--read", "3", "--threads", str(threads), str(path)], check=True,
                         capture_output=True).stdout
    return json.loads(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="100000,1000000")
    parser.add_argument("--keep")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    if not TOOL.exists():
        sys.exit(f"bench_open_steps not built at {TOOL}")
    folder = Path(args.keep) if args.keep else Path(tempfile.mkdtemp())
    folder.mkdir(parents=True, exist_ok=True)
    results = []
    for size in (int(s) for s in args.sizes.split(",")):
        for formulas in (False, True):
            name = f"{'formulas' if formulas else 'numbers+strings'}-{size}"
            path = folder / f"{name}.xlsx"
            if not path.exists():
                write_workbook(path, size, formulas)
            ours = json.loads(subprocess.run([str(TOOL), str(path)], check=True, capture_output=True).stdout)
            python = child_seconds(OURS, path)
            peer = child_seconds(CALAMINE, path)
            results.append((name, ours, python, peer))

    print(f"{'file':<26}" + "".join(f"{s:>13}" for s in STEPS) +
          f"{'python':>9}{'calamine':>10}{'read x':>8}{'open x':>8}{'py x':>8}")
    for name, ours, python, peer in results:
        read = ours["archive"] + ours["workbook"]
        py = f"{python:>9.3f}" if python is not None else f"{'n/a':>9}"
        py_ratio = f"{peer / python:>8.2f}" if python else f"{'n/a':>8}"
        print(f"{name:<26}" + "".join(f"{ours[s]:>13.3f}" for s in STEPS) + py +
              f"{peer:>10.3f}{peer / read:>8.2f}{peer / ours['total']:>8.2f}" + py_ratio)
    print()
    print(f"{'file':<26}" + "".join(f"{s:>11}" for s in ROUND_TRIP) + f"{'round trip':>12}{'first need':>12}"
          f"{'collab':>10}{'encoded':>10}{'x':>7}")
    for name, ours, _, _ in results:
        print(f"{name:<26}" + "".join(f"{ours[s]:>11.3f}" for s in ROUND_TRIP) +
              f"{sum(ours[s] for s in ROUND_TRIP):>12.3f}{ours['first_document']:>12.3f}"
              f"{ours['collaborative']:>10.3f}{ours['collaborative_encoded']:>10.3f}"
              f"{ours['collaborative_encoded'] / ours['collaborative']:>7.2f}")

    # One cold process per side and run, the sides taking turns, so that a
    # shared machine's slow spells fall on both; the medians are compared.
    print()
    print(f"{'file':<26}{'ours min':>10}{'ours med':>10}{'calamine min':>14}{'calamine med':>14}{'read x med':>12}")
    for name, _, _, _ in results:
        path = folder / f"{name}.xlsx"
        mine, theirs = [], []
        for _ in range(args.repeat):
            run = json.loads(subprocess.run([str(TOOL), "--read", "1", str(path)], check=True,
                                            capture_output=True).stdout)
            mine.append(run["archive"] + run["workbook"])
            theirs.append(child_seconds(CALAMINE, path))
        print(f"{name:<26}{min(mine):>10.3f}{statistics.median(mine):>10.3f}{min(theirs):>14.3f}"
              f"{statistics.median(theirs):>14.3f}{statistics.median(theirs) / statistics.median(mine):>12.2f}")

    print()
    print(f"{'file':<30}{'1 thread':>11}{'threads':>11}{'speed-up':>10}"
          f"{'cpu 1':>9}{'cpu n':>9}{'calamine':>11}{'x 1':>8}{'x n':>8}")
    for size in (int(s) for s in args.sizes.split(",")):
        for formulas, sheets in ((False, 1), (True, 1), (False, SHEETS), (True, SHEETS)):
            name = f"{'formulas' if formulas else 'numbers+strings'}-{size}" + ("-sheets" if sheets > 1 else "")
            path = folder / f"{name}.xlsx"
            if not path.exists():
                (write_sheets if sheets > 1 else write_workbook)(path, size, formulas)
            one = read_on_threads(path, 1)
            many = read_on_threads(path, 0)
            peer = json.loads(subprocess.run([sys.executable, "-c", CALAMINE_WALL, str(path)], check=True,
                                             capture_output=True).stdout)["seconds"]
            wall_one = one["archive"] + one["workbook_wall"]
            wall_many = many["archive"] + many["workbook_wall"]
            print(f"{name:<30}{one['workbook_wall']:>11.3f}{many['workbook_wall']:>11.3f}"
                  f"{one['workbook_wall'] / many['workbook_wall']:>10.2f}{one['workbook']:>9.3f}"
                  f"{many['workbook']:>9.3f}{peer:>11.3f}{peer / wall_one:>8.2f}{peer / wall_many:>8.2f}")


if __name__ == "__main__":
    main()
