"""Lookups by our engine (bench_lookup) and by the formulas package on the
same data: exact VLOOKUP, XLOOKUP and MATCH over 10^5 rows, approximate
VLOOKUP and MATCH over 10^6 sorted rows, with the same keys.

Usage: python3 bench/lookup_peer.py [path/to/bench_lookup]
The binary defaults to $CMX_BENCH_DIR/bench/bench_lookup (CMX_BENCH_DIR
defaults to build/bench). The ratio is the peer's time per lookup over ours.
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
EXACT_ROWS = 100_000
SORTED_ROWS = 1_000_000
PEER_LOOKUPS = 20  # the peer is timed on fewer lookups than bench_lookup's


def spread(i, rows):
    return (i * 611953) % rows  # bench_lookup's key stride


def exact_key(i):
    return 3.0 * spread(i, EXACT_ROWS)


def sorted_key(i):
    return 2.0 * spread(i, SORTED_ROWS) + 1


# benchmark name, formula, input arrays by range, key of lookup i
def cases():
    keys = np.arange(EXACT_ROWS, dtype=float).reshape(-1, 1) * 3
    names = np.array([["r%d" % r] for r in range(EXACT_ROWS)], dtype=object)
    table = np.hstack([keys.astype(object), names])
    sorted_keys = np.arange(SORTED_ROWS, dtype=float).reshape(-1, 1) * 2
    return [
        ("BM_VlookupExact", "=VLOOKUP(K1,A1:B100000,2,FALSE)", {"A1:B100000": table}, exact_key),
        ("BM_XlookupExact", "=XLOOKUP(K1,A1:A100000,B1:B100000)",
         {"A1:A100000": keys, "B1:B100000": names}, exact_key),
        ("BM_MatchExact", "=MATCH(K1,A1:A100000,0)", {"A1:A100000": keys}, exact_key),
        ("BM_VlookupApproximate", "=VLOOKUP(K1,A1:A1000000,1)", {"A1:A1000000": sorted_keys},
         sorted_key),
        ("BM_MatchApproximate", "=MATCH(K1,A1:A1000000,1)", {"A1:A1000000": sorted_keys},
         sorted_key),
    ]


def ours(binary):
    out = subprocess.run([str(binary), "--benchmark_format=json"], check=True,
                         capture_output=True, text=True).stdout
    times = {}
    for bench in json.loads(out)["benchmarks"]:
        times[bench["name"]] = 1.0 / bench["items_per_second"]
    return times


def peer(formula, arrays, key):
    fn = formulas.Parser().ast(formula)[1].compile()
    inputs = list(fn.inputs)
    start = time.perf_counter()
    for i in range(PEER_LOOKUPS):
        values = dict(arrays, K1=key(i))
        fn(*[values[name] for name in inputs])
    return (time.perf_counter() - start) / PEER_LOOKUPS


def main():
    default = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_lookup"
    binary = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    our_times = ours(binary)
    print(f"{'lookup':<24}{'ours us':>12}{'formulas us':>14}{'peer/ours':>12}")
    for name, formula, arrays, key in cases():
        peer_time = peer(formula, arrays, key)
        our_time = our_times[name]
        print(f"{name:<24}{our_time * 1e6:>12.1f}{peer_time * 1e6:>14.1f}"
              f"{peer_time / our_time:>12.1f}")


if __name__ == "__main__":
    main()
