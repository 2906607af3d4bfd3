#!/usr/bin/env python3
"""Opening a workbook into a complete session (package bytes in, validated model, dependency graph and source
record out) beside openpyxl (normal and read-only) and python-calamine opening and walking the same generated
files in the same run, with each reader's peak resident memory; then a full recalculation of 10^5 and 10^6
formulas.

The workbooks are those of bench/open_workbooks.py (10^5 and 10^6 cells, numbers and shared strings, and a
formula-heavy variant). Each reader runs in a child process of its own so that its peak memory is its own. Our
side is tests/cpp/session/session_driver from $CMX_BUILD_DIR (default build/release).

Usage: bench/open_sessions.py [--sizes 100000,1000000] [--keep DIR]
"""
import argparse
import os
import sys
import tempfile
from pathlib import Path

import xlsxwriter

sys.path.insert(0, str(Path(__file__).resolve().parent))
from open_workbooks import BUILD, CHILD, PEERS, run_child, write_workbook  # noqa: E402

DRIVER = BUILD / "tests" / "cpp" / "session" / "session_driver"
FORMULA_COLS = 20


def write_formulas(path, formulas):
    """Column A holds numbers; B..U each read the number of their row and the cell to their left."""
    wb = xlsxwriter.Workbook(str(path), {"constant_memory": True})
    ws = wb.add_worksheet("Calc")
    for row in range(formulas // FORMULA_COLS):
        ws.write_number(row, 0, row * 0.5)
        for col in range(1, FORMULA_COLS + 1):
            left = xlsxwriter.utility.xl_rowcol_to_cell(row, col - 1)
            ws.write_formula(row, col, f"=A{row + 1}*{col}+{left}", None, 0)
    wb.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="100000,1000000")
    parser.add_argument("--keep")
    args = parser.parse_args()
    if not DRIVER.exists():
        sys.exit(f"session_driver not built at {DRIVER}")
    folder = Path(args.keep) if args.keep else Path(tempfile.mkdtemp())
    folder.mkdir(parents=True, exist_ok=True)
    sizes = [int(s) for s in args.sizes.split(",")]

    print(f"{'file':<28}{'opener':<22}{'cells':>10}{'seconds':>10}{'peak MB':>10}{'ours x faster':>15}"
          f"{'our peak / theirs':>19}")
    for size in sizes:
        for formulas in (False, True):
            name = f"{'formulas' if formulas else 'numbers+strings'}-{size}"
            path = folder / f"{name}.xlsx"
            if not path.exists():
                write_workbook(path, size, formulas)
            results = {"session": run_child([str(DRIVER), "--open", str(path)])}
            for peer, body in PEERS.items():
                try:
                    results[peer] = run_child([sys.executable, "-c", CHILD.format(body=body), str(path)])
                except (RuntimeError, ImportError) as error:
                    print(f"  {peer}: {error}")
            ours = results["session"]["seconds"]
            our_peak = results["session"]["peak_mb"]
            for opener, result in results.items():
                ratio = "" if opener == "session" else f"{result['seconds'] / ours:.1f}"
                peak = "" if opener == "session" else f"{our_peak / result['peak_mb']:.2f}"
                print(f"{name:<28}{opener:<22}{result['cells']:>10}{result['seconds']:>10.3f}"
                      f"{result['peak_mb']:>10.1f}{ratio:>15}{peak:>19}")

    print()
    print(f"{'file':<28}{'formulas':>10}{'changed':>10}{'open s':>10}{'recalc s':>10}{'formulas/s':>14}{'peak MB':>10}")
    for size in sizes:
        name = f"recalc-{size}"
        path = folder / f"{name}.xlsx"
        if not path.exists():
            write_formulas(path, size)
        result = run_child([str(DRIVER), "--recalc", str(path)])
        rate = result["formulas"] / result["seconds"]
        print(f"{name:<28}{result['formulas']:>10}{result['changed']:>10}{result['open_seconds']:>10.3f}"
              f"{result['seconds']:>10.3f}{rate:>14,.0f}{result['peak_mb']:>10.1f}")


if __name__ == "__main__":
    main()
