"""Our statistics beside the `formulas` package on the same sheet, in one
run: STDEV.S, VAR.P, MEDIAN and PERCENTILE.INC over 10^6 numbers and CORREL
over two 10^6-cell columns. The sheet is the one bench/stats_bench.cpp builds
(column A a scrambled amount, B a noisy multiple of it); both sides must give
the same result.

Usage: python3 bench/stats_peer.py [path/to/bench_stats]
The binary defaults to $CMX_BENCH_DIR/bench/bench_stats (CMX_BENCH_DIR
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
    "BM_StdevMillion": "STDEV.S(A1:A{n})",
    "BM_VarPMillion": "VAR.P(A1:A{n})",
    "BM_MedianMillion": "MEDIAN(A1:A{n})",
    "BM_PercentileMillion": "PERCENTILE.INC(A1:A{n},0.9)",
    "BM_CorrelMillion": "CORREL(A1:A{n},B1:B{n})",
}


def ours(binary):
    """benchmark name -> (seconds, result) from bench_stats."""
    out = subprocess.run(
        [str(binary), "--benchmark_filter=" + "|".join(CASES), "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        results[bench["name"]] = (bench["real_time"] * scale, bench["result"])
    return results


def columns():
    rows = np.arange(ROWS, dtype=np.int64)
    a = ((rows * 7919) % 1000003) * 0.001
    b = 2 * a + ((rows * 13) % 101) * 0.01
    return {"A": a.reshape(-1, 1), "B": b.reshape(-1, 1)}


def best_of(fn, repeats=3):
    best, value = None, None
    for _ in range(repeats):
        start = time.perf_counter()
        value = fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, value


def main():
    if len(sys.argv) > 1:
        binary = Path(sys.argv[1])
    else:
        binary = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_stats"
    if not binary.exists():
        print(f"stats_peer: {binary} not built; skipped")
        return
    mine = ours(binary)
    cols = columns()
    print("case                        ours ms  formulas ms  formulas/ours  same result")
    for name, text in CASES.items():
        func = formulas.Parser().ast("=" + text.format(n=ROWS))[1].compile()
        args = [cols[ref[0]] for ref in func.inputs]
        peer_time, value = best_of(lambda: func(*args))
        peer_value = float(np.asarray(value).ravel()[0])
        our_time, our_value = mine[name]
        print(f"{name:<26}{our_time * 1e3:9.1f}  {peer_time * 1e3:11.1f}  "
              f"{peer_time / our_time:13.1f}  {abs(peer_value - our_value) <= 1e-9 * abs(our_value)}")


if __name__ == "__main__":
    main()
