"""Our conditional aggregates beside the `formulas` package on the same
sheet, in one run: SUMIFS and COUNTIFS over 10^6 rows with three criteria,
and SUMPRODUCT over two 10^6-cell columns. The sheet is the one
bench/aggregate_bench.cpp builds (column A a region among four, B a whole
number, C an amount); both sides must give the same result.

Usage: python3 bench/aggregate_peer.py [path/to/bench_aggregate]
The binary defaults to $CMX_BENCH_DIR/bench/bench_aggregate (CMX_BENCH_DIR
defaults to build/bench). Ratios are the peer's time over ours; the peer's
compile step is not timed.
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
CASES = {
    "BM_SumIfsThreeCriteria": 'SUMIFS(C1:C{n},A1:A{n},"north",B1:B{n},">50",C1:C{n},"<=250")',
    "BM_CountIfsThreeCriteria": 'COUNTIFS(A1:A{n},"north",B1:B{n},">50",C1:C{n},"<=250")',
    "BM_SumProductTwoColumns": "SUMPRODUCT(B1:B{n},C1:C{n})",
}


def ours(binary, names):
    """benchmark name -> (seconds, result) from a benchmark binary."""
    out = subprocess.run(
        [str(binary), "--benchmark_filter=" + "|".join(names), "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        results[bench["name"]] = (bench["real_time"] * scale, bench["result"])
    return results


def columns():
    rows = np.arange(ROWS)
    regions = np.array(["north", "south", "east", "west"], dtype=object)[rows % 4]
    return {
        "A": regions.reshape(-1, 1),
        "B": ((rows * 7) % 100).astype(float).reshape(-1, 1),
        "C": (((rows * 13) % 1000) * 0.5).reshape(-1, 1),
    }


def best_of(fn, repeats=3):
    best, value = None, None
    for _ in range(repeats):
        start = time.perf_counter()
        value = fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, value


def compare(binary_name, cases, cols):
    """Times each case's formula (with {n} the row count) on both sides and
    prints the ratios; `cols` maps a column letter to its values."""
    if len(sys.argv) > 1:
        binary = Path(sys.argv[1])
    else:
        binary = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / binary_name
    if not binary.exists():
        print(f"{binary_name}: {binary} not built; skipped")
        return
    mine = ours(binary, cases)
    print("case                        ours ms  formulas ms  formulas/ours  same result")
    for name, text in cases.items():
        func = formulas.Parser().ast("=" + text.format(n=ROWS))[1].compile()
        args = [cols[ref[0]] for ref in func.inputs]
        peer_time, value = best_of(lambda: func(*args))
        peer_value = float(np.asarray(value).ravel()[0])
        our_time, our_value = mine[name]
        print(f"{name:<26}{our_time * 1e3:9.1f}  {peer_time * 1e3:11.1f}  "
              f"{peer_time / our_time:13.1f}  {abs(peer_value - our_value) <= 1e-9 * abs(our_value)}")


def main():
    compare("bench_aggregate", CASES, columns())


if __name__ == "__main__":
    main()
