"""The formulas of bench/functions_bench.cpp through the formulas package,
each compiled once and then called with the same input cells, against our
evaluator on the same formulas (read from the benchmark's own names when
CMX_BENCH_DIR holds bench_functions). Prints microseconds per call and the
ratio peer / ours."""
import json
import os
import subprocess
import time
from pathlib import Path

# Keep in step with Book in functions_bench.cpp.
INPUTS = {"A1": "  h\u00e9llo   w\u00f6rld \u65e5\u672c \U0001F600 ", "A2": 1234.5, "A3": 2024,
          "A4": 45322, "A5": 47000, "A6": 0.01}


def ours():
    bench_dir = os.environ.get("CMX_BENCH_DIR")
    binary = Path(bench_dir or "build/release") / "bench" / "bench_functions"
    if not binary.exists():
        return {}
    out = subprocess.run([str(binary), "--benchmark_format=json", "--benchmark_min_time=0.05"],
                         check=True, capture_output=True, text=True).stdout
    times = {}
    for row in json.loads(out)["benchmarks"]:
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[row["time_unit"]]
        times[row["name"].removeprefix("BM_Function/")] = row["real_time"] * scale
    return times


def peer_time(formula):
    import formulas  # the peer, imported only when it is measured
    func = formulas.Parser().ast("=" + formula)[1].compile()
    args = [INPUTS[name.upper()] for name in func.inputs]
    func(*args)
    best = float("inf")
    for _ in range(5):
        rounds = 200
        start = time.perf_counter()
        for _ in range(rounds):
            func(*args)
        best = min(best, (time.perf_counter() - start) / rounds)
    return best * 1e6


def main():
    measured = ours()
    if not measured:
        print("functions_peer: bench_functions not built; nothing to compare")
        return
    for formula, our_us in measured.items():
        try:
            peer_us = peer_time(formula)
        except Exception as error:  # a function the peer lacks
            print(f"functions_peer: {formula}: ours {our_us:.3f} us, formulas fails ({type(error).__name__})")
            continue
        print(f"functions_peer: {formula}: ours {our_us:.3f} us, formulas {peer_us:.1f} us, "
              f"ratio {peer_us / our_us:.0f}x")


if __name__ == "__main__":
    main()
