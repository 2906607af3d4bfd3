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
import numpy as np

from aggregate_peer import ROWS, compare

CASES = {
    "BM_StdevMillion": "STDEV.S(A1:A{n})",
    "BM_VarPMillion": "VAR.P(A1:A{n})",
    "BM_MedianMillion": "MEDIAN(A1:A{n})",
    "BM_PercentileMillion": "PERCENTILE.INC(A1:A{n},0.9)",
    "BM_CorrelMillion": "CORREL(A1:A{n},B1:B{n})",
}


def columns():
    rows = np.arange(ROWS, dtype=np.int64)
    a = ((rows * 7919) % 1000003) * 0.001
    b = 2 * a + ((rows * 13) % 101) * 0.01
    return {"A": a.reshape(-1, 1), "B": b.reshape(-1, 1)}


if __name__ == "__main__":
    compare("bench_stats", CASES, columns())
