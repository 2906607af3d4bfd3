"""Encoding the whole state of a map of 10^5 and 10^6 entries: our library
(bench_crdt, Google Benchmark) beside pycrdt in the same run.

Usage: python3 bench/crdt_encode.py [path/to/bench_crdt]
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


def ours(binary):
    out = subprocess.run(
        [str(binary), "--benchmark_filter=BM_EncodeMapState", "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        size = int(bench["name"].split("/")[1])
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        results[size] = (bench["real_time"] * scale, int(bench["update_bytes"]))
    return results


def theirs(size, repeats=3):
    doc = pycrdt.Doc(client_id=1)
    m = doc.get("m", type=pycrdt.Map)
    with doc.transaction():
        for idx in range(size):
            m[f"k{idx}"] = float(idx)
    best = None
    for _ in range(repeats):
        start = time.perf_counter()
        update = doc.get_update()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, len(update)


def main():
    if len(sys.argv) > 1:
        binary = Path(sys.argv[1])
    else:
        binary = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_crdt"
    if not binary.exists():
        print(f"crdt_encode: {binary} not built; skipped")
        return
    mine = ours(binary)
    print("encode map state     entries   ours ms  pycrdt ms  pycrdt/ours  bytes ours/pycrdt")
    for size in SIZES:
        our_time, our_bytes = mine[size]
        peer_time, peer_bytes = theirs(size)
        print(f"encode map state {size:>11}  {our_time * 1e3:8.2f}  {peer_time * 1e3:9.2f}  "
              f"{peer_time / our_time:11.2f}  {our_bytes}/{peer_bytes}")


if __name__ == "__main__":
    main()
