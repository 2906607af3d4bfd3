"""MAP and REDUCE by our engine (bench_lambda) and by the formulas package on
the same column of 10^5 numbers (1 .. 100000), with the same lambdas.
The peer has no SEQUENCE, so SEQUENCE(1000, 1000) runs only on our side.

Usage: python3 bench/lambda_peer.py [path/to/bench_lambda]
The binary defaults to $CMX_BENCH_DIR/bench/bench_lambda (CMX_BENCH_DIR
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
ROWS = 100_000
PEER_RUNS = 3


def column():
    return np.arange(1, ROWS + 1, dtype=float).reshape(-1, 1)


# benchmark name, formula, the result the sum of its numbers must give
CASES = [
    ("BM_MapRange", "=MAP(A1:A100000,LAMBDA(x,x*2+1))", float(ROWS * (ROWS + 1) + ROWS)),
    ("BM_ReduceRange", "=REDUCE(0,A1:A100000,LAMBDA(a,b,a+b))", float(ROWS * (ROWS + 1) // 2)),
]


def ours(binary):
    out = subprocess.run([str(binary), "--benchmark_format=json"], check=True,
                         capture_output=True, text=True).stdout
    return {b["name"]: b for b in json.loads(out)["benchmarks"]}


def peer(formula, want):
    fn = formulas.Parser().ast(formula)[1].compile()
    data = column()
    start = time.perf_counter()
    for _ in range(PEER_RUNS):
        result = fn(data)
    elapsed = (time.perf_counter() - start) / PEER_RUNS
    total = float(np.sum(np.asarray(result, dtype=float)))
    if total != want:
        raise SystemExit(f"peer result {total} differs from {want} for {formula}")
    return elapsed


def main():
    default = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_lambda"
    binary = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    our = ours(binary)
    print(f"{'lambda':<22}{'ours ms':>10}{'formulas ms':>14}{'peer/ours':>12}")
    for name, formula, want in CASES:
        bench = our[name]
        if bench["result"] != want:
            raise SystemExit(f"our result {bench['result']} differs from {want} for {name}")
        our_time = ROWS / bench["items_per_second"]
        peer_time = peer(formula, want)
        print(f"{name:<22}{our_time * 1e3:>10.2f}{peer_time * 1e3:>14.1f}"
              f"{peer_time / our_time:>12.1f}")
    seq = our["BM_Sequence1000x1000"]
    print(f"{'BM_Sequence1000x1000':<22}{1e6 / seq['items_per_second'] * 1e3:>10.2f}"
          f"{'(no peer)':>14}")


if __name__ == "__main__":
    main()
