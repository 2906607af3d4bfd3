"""Applying updates: the whole state of a map of 10^5 and 10^6 entries applied
to an empty document, and 10^4 one-entry updates applied one after another
(100 keys, each overwritten 100 times); our library (bench_crdt, Google
Benchmark) beside pycrdt in the same run.

Usage: python3 bench/crdt_apply.py [path/to/bench_crdt]
The binary defaults to $CMX_BENCH_DIR/bench/bench_crdt (CMX_BENCH_DIR defaults
to build/bench, which `make bench` builds).
"""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pycrdt

ROOT = Path(__file__).resolve().parents[1]
SIZES = (100_000, 1_000_000)
SMALL = 10_000


def ours(binary):
    out = subprocess.run(
        [str(binary), "--benchmark_filter=BM_Apply", "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        name, arg = bench["name"].split("/")[:2]
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        results[(name, int(arg))] = (bench["real_time"] * scale, int(bench.get("update_bytes", 0)))
    return results


def best_of(fn, repeats):
    best = None
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def theirs_large(size):
    doc = pycrdt.Doc(client_id=1)
    m = doc.get("m", type=pycrdt.Map)
    with doc.transaction():
        for idx in range(size):
            m[f"k{idx}"] = float(idx)
    update = doc.get_update()

    def run():
        pycrdt.Doc(client_id=2).apply_update(update)

    return best_of(run, 3), len(update)


def theirs_small(count):
    doc = pycrdt.Doc(client_id=1)
    updates = []
    doc.observe(lambda event: updates.append(event.update))
    m = doc.get("m", type=pycrdt.Map)
    for idx in range(count):
        m[f"k{idx % 100}"] = float(idx)

    def run():
        target = pycrdt.Doc(client_id=2)
        for update in updates:
            target.apply_update(update)

    return best_of(run, 3)


def main():
    if len(sys.argv) > 1:
        binary = Path(sys.argv[1])
    else:
        binary = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_crdt"
    if not binary.exists():
        print(f"crdt_apply: {binary} not built; skipped")
        return
    mine = ours(binary)
    print("apply                    size   ours ms  pycrdt ms  pycrdt/ours  bytes ours/pycrdt")
    for size in SIZES:
        our_time, our_bytes = mine[("BM_ApplyMapUpdate", size)]
        peer_time, peer_bytes = theirs_large(size)
        print(f"map state update  {size:>11}  {our_time * 1e3:8.2f}  {peer_time * 1e3:9.2f}  "
              f"{peer_time / our_time:11.2f}  {our_bytes}/{peer_bytes}")
    our_time, _ = mine[("BM_ApplySmallUpdates", SMALL)]
    peer_time = theirs_small(SMALL)
    print(f"one-entry updates {SMALL:>11}  {our_time * 1e3:8.2f}  {peer_time * 1e3:9.2f}  "
          f"{peer_time / our_time:11.2f}")


if __name__ == "__main__":
    main()
