"""SORT, UNIQUE and FILTER over a million rows by our engine
(bench_filter_sort) and by the formulas package on the same columns: the
numbers come from the same 64-bit linear congruential generator as the
benchmark's workbook. Both sides' row counts and first values are compared.

Usage: python3 bench/filter_sort_peer.py [path/to/bench_filter_sort]
The binary defaults to $CMX_BENCH_DIR/bench/bench_filter_sort (CMX_BENCH_DIR
defaults to build/bench). The ratio is the peer's time over ours.
"""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import formulas
import numpy as np

ROOT = Path(__file__).resolve().parents[1]
ROWS = 1_000_000
MASK = (1 << 64) - 1


def columns():
    """Columns A (numbers in [0, 1)) and B (whole numbers below 1,000)."""
    state = 0x9E3779B97F4A7C15
    a = np.empty(ROWS)
    b = np.empty(ROWS)
    for i in range(ROWS):
        state = (state * 6364136223846793005 + 1442695040888963407) & MASK
        a[i] = (state >> 11) / float(1 << 53)
        state = (state * 6364136223846793005 + 1442695040888963407) & MASK
        b[i] = (state >> 11) % 1000
        state = (state * 6364136223846793005 + 1442695040888963407) & MASK  # column C
    return a.reshape(-1, 1), b.reshape(-1, 1)


# benchmark name, formula for the peer, the column it reads
CASES = [
    ("BM_SortNumbers", "=SORT(A1:A1000000)", 0),
    ("BM_UniqueNumbers", "=UNIQUE(B1:B1000000)", 1),
    ("BM_FilterHalf", "=FILTER(A1:A1000000,A1:A1000000>0.5)", 0),
]


def ours(binary):
    out = subprocess.run([str(binary), "--benchmark_format=json"], check=True,
                         capture_output=True, text=True).stdout
    return {b["name"]: b for b in json.loads(out)["benchmarks"]}


def peer(formula, data):
    fn = formulas.Parser().ast(formula)[1].compile()
    inputs = [data] * len(fn.inputs)
    start = time.perf_counter()
    result = np.asarray(fn(*inputs), dtype=float)
    return time.perf_counter() - start, result.reshape(-1)


def main():
    default = (Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench"
               / "bench_filter_sort")
    binary = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    our = ours(binary)
    data = columns()
    print(f"{'function':<20}{'ours ms':>10}{'formulas ms':>14}{'peer/ours':>12}")
    for name, formula, col in CASES:
        bench = our[name]
        peer_time, result = peer(formula, data[col])
        if bench["rows"] != len(result) or bench["first"] != result[0]:
            raise SystemExit(f"results differ for {name}: ours {bench['rows']} rows from "
                             f"{bench['first']}, peer {len(result)} from {result[0]}")
        our_time = ROWS / bench["items_per_second"]
        print(f"{name:<20}{our_time * 1e3:>10.1f}{peer_time * 1e3:>14.1f}"
              f"{peer_time / our_time:>12.1f}")


if __name__ == "__main__":
    main()
