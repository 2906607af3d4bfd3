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
Times are CPU seconds of the process (the machine may be shared).

Usage: bench/open_steps.py [--sizes 100000,1000000] [--keep DIR]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from open_workbooks import ROOT, write_workbook  # noqa: E402

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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="100000,1000000")
    parser.add_argument("--keep")
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


if __name__ == "__main__":
    main()
