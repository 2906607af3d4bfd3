"""Our Yjs library beside pycrdt on the same inputs, in one run:
- encoding the whole state of a map of 10^5 and 10^6 entries;
- applying that state to an empty document;
- applying 10^4 one-entry updates one after another (100 keys, each
  overwritten 100 times);
- undoing and then redoing 10^4 map edits (the same keys), each its own
  undo step;
- client B's 40,000 map entries, each overwriting one of client A's,
  arriving before A's entries, which then come one update each.

Usage: python3 bench/crdt_peer.py [path/to/bench_crdt]
The binary defaults to $CMX_BENCH_DIR/bench/bench_crdt (CMX_BENCH_DIR defaults
to build/bench, which `make bench` builds). Ratios are pycrdt's time over ours.
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
CHAIN = 40_000


def ours(binary):
    """(benchmark name, argument) -> (seconds, update bytes) from bench_crdt."""
    out = subprocess.run(
        [str(binary), "--benchmark_filter=BM_EncodeMapState|BM_Apply|BM_UndoRedo", "--benchmark_format=json"],
        check=True, capture_output=True, text=True,
    ).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        name, arg = bench["name"].split("/")[:2]
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        results[(name, int(arg))] = (bench["real_time"] * scale, int(bench.get("update_bytes", 0)))
    return results


def best_of(fn, repeats=3):
    best = None
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def peer_map_doc(size):
    doc = pycrdt.Doc(client_id=1)
    m = doc.get("m", type=pycrdt.Map)
    with doc.transaction():
        for idx in range(size):
            m[f"k{idx}"] = float(idx)
    return doc


def peer_small_updates(count):
    doc = pycrdt.Doc(client_id=1)
    updates = []
    doc.observe(lambda event: updates.append(event.update))
    m = doc.get("m", type=pycrdt.Map)
    for idx in range(count):
        m[f"k{idx % 100}"] = float(idx)
    return updates


def apply_all(updates):
    target = pycrdt.Doc(client_id=2)
    for update in updates:
        target.apply_update(update)


def peer_undo_redo(count):
    """Seconds to undo and then redo `count` map edits with pycrdt."""
    doc = pycrdt.Doc(client_id=1)
    m = doc.get("m", type=pycrdt.Map)
    um = pycrdt.UndoManager(scopes=[m], capture_timeout_millis=0)
    um.include_origin("local")
    for idx in range(count):
        with doc.transaction(origin="local"):
            m[f"k{idx % 100}"] = float(idx)

    def cycle():
        steps = 0
        while um.undo():
            steps += 1
        while um.redo():
            steps += 1
        assert steps == 2 * count

    return best_of(cycle)


def peer_waiting_chain(count):
    """Seconds for pycrdt to take B's waiting entries, then A's one by one."""
    a = pycrdt.Doc(client_id=1)
    from_a = []
    a.observe(lambda event: from_a.append(event.update))
    ma = a.get("m", type=pycrdt.Map)
    for idx in range(count):
        ma[f"k{idx}"] = float(idx)
    b = pycrdt.Doc(client_id=2)
    b.apply_update(a.get_update())
    mb = b.get("m", type=pycrdt.Map)
    with b.transaction():
        for idx in range(count):
            mb[f"k{idx}"] = "b"
    from_b = b.get_update(a.get_state())

    def run():
        doc = pycrdt.Doc(client_id=3)
        doc.apply_update(from_b)
        for update in from_a:
            doc.apply_update(update)
        assert doc.get("m", type=pycrdt.Map).to_py() == {f"k{idx}": "b" for idx in range(count)}

    return best_of(run, repeats=1)


def row(label, arg, our_time, peer_time, sizes=""):
    print(f"{label:<18}{arg:>10}  {our_time * 1e3:8.2f}  {peer_time * 1e3:9.2f}  "
          f"{peer_time / our_time:11.2f}  {sizes}")


def main():
    if len(sys.argv) > 1:
        binary = Path(sys.argv[1])
    else:
        binary = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_crdt"
    if not binary.exists():
        print(f"crdt_peer: {binary} not built; skipped")
        return
    mine = ours(binary)
    print("case                   size   ours ms  pycrdt ms  pycrdt/ours  bytes ours/pycrdt")
    for size in SIZES:
        doc = peer_map_doc(size)
        update = doc.get_update()
        our_time, our_bytes = mine[("BM_EncodeMapState", size)]
        row("encode map state", size, our_time, best_of(doc.get_update), f"{our_bytes}/{len(update)}")
        our_time, our_bytes = mine[("BM_ApplyMapUpdate", size)]
        peer_time = best_of(lambda: pycrdt.Doc(client_id=2).apply_update(update))
        row("apply map state", size, our_time, peer_time, f"{our_bytes}/{len(update)}")
    updates = peer_small_updates(SMALL)
    our_time, _ = mine[("BM_ApplySmallUpdates", SMALL)]
    row("one-entry updates", SMALL, our_time, best_of(lambda: apply_all(updates)))
    our_time, _ = mine[("BM_UndoRedoMapEdits", SMALL)]
    row("undo+redo edits", SMALL, our_time, peer_undo_redo(SMALL))
    our_time, _ = mine[("BM_ApplyWaitingChain", CHAIN)]
    row("waiting chain", CHAIN, our_time, peer_waiting_chain(CHAIN))


if __name__ == "__main__":
    main()
