"""One formula of rounding, elementary, logical and information functions
evaluated by our engine and by the formulas package on the same four cell
values (bench_eval's BM_MathAndLogic).

Usage: python3 bench/function_peer.py [path/to/bench_eval]
The binary defaults to $CMX_BENCH_DIR/bench/bench_eval (CMX_BENCH_DIR defaults
to build/bench). The ratio is the peer's time per evaluation over ours.
"""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import formulas

ROOT = Path(__file__).resolve().parents[1]
FORMULA = "ROUND(A1*1.005,2)+MOD(A2,3)+SQRT(A3)+LOG(A4+1,2)+IF(AND(A1>1,NOT(ISBLANK(A2))),1,0)"
VALUES = (0.0, 0.5, 1.0, 1.5)  # A1:A4 of bench_eval's workbook
CALLS = 2000


def ours(binary):
    out = subprocess.run([str(binary), "--benchmark_filter=BM_MathAndLogic$",
                          "--benchmark_format=json"], check=True, capture_output=True,
                         text=True).stdout
    bench = json.loads(out)["benchmarks"][0]
    scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
    return bench["real_time"] * scale


def peer():
    fn = formulas.Parser().ast("=" + FORMULA)[1].compile()
    assert list(fn.inputs) == ["A1", "A2", "A3", "A4"]
    best = None
    for _ in range(3):
        start = time.perf_counter()
        for _ in range(CALLS):
            fn(*VALUES)
        elapsed = (time.perf_counter() - start) / CALLS
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    default = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_eval"
    binary = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    our_time, peer_time = ours(binary), peer()
    print(f"{'function formula':<28}{'engine':<12}{'us/eval':>12}{'peer/ours':>12}")
    print(f"{'':<28}{'ours':<12}{our_time * 1e6:>12.3f}{'':>12}")
    print(f"{'':<28}{'formulas':<12}{peer_time * 1e6:>12.3f}{peer_time / our_time:>12.0f}")


if __name__ == "__main__":
    main()
