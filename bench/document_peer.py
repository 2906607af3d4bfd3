"""The workbook document of 10^6 cells beside pycrdt, in one run:
- building the document (one transaction writing every sheet entry) and encoding its whole state;
- replaying that update into an empty document;
- reading every cell entry back out (our strict projection into the model; pycrdt's to_py of the sheet).

Usage: python3 bench/document_peer.py [path/to/bench_collab]
The binary defaults to $CMX_BENCH_DIR/bench/bench_collab (CMX_BENCH_DIR defaults to build/bench, which
`make bench` builds). Ratios are pycrdt's time over ours; the bytes per cell of both updates are printed.
"""
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pycrdt

ROOT = Path(__file__).resolve().parents[1]
CELLS = 1_000_000


def ours(binary, update_path):
    out = subprocess.run(
        [str(binary), "--benchmark_filter=BM_AuthoredBase|BM_BootstrapDocument|BM_HydrateReplica|BM_ProjectStrict",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True, env={**os.environ, "CMX_COLLAB_BENCH_UPDATE": str(update_path)},
    ).stdout
    results = {}
    for bench in json.loads(out)["benchmarks"]:
        name = bench["name"].split("/")[0]
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[bench["time_unit"]]
        results[name] = bench["real_time"] * scale
    return results


def timed(fn):
    start = time.perf_counter()
    value = fn()
    return time.perf_counter() - start, value


def peer_build(update_view):
    """The same document built with pycrdt's API from the values pycrdt read out of ours."""
    doc = pycrdt.Doc(client_id=1)
    with doc.transaction():
        formats = doc.get("xlsx:cell-formats", type=pycrdt.Map)
        for key, text in update_view["xlsx:cell-formats"].items():
            formats[key] = text
        meta = doc.get("xlsx", type=pycrdt.Map)
        for key, value in update_view["xlsx"].items():
            meta[key] = value
        doc.get("xlsx:sheet-order", type=pycrdt.Array).extend(update_view["xlsx:sheet-order"])
        sheets = doc.get("xlsx:sheets", type=pycrdt.Map)
        for key, sheet in update_view["xlsx:sheets"].items():
            target = pycrdt.Map()
            sheets[key] = target
            for name, value in sheet.items():
                if isinstance(value, dict):
                    nested = pycrdt.Map()
                    target[name] = nested
                    for k, v in value.items():
                        nested[k] = v
                else:
                    target[name] = value
    return doc.get_update()


def view_of(doc):
    return {
        "xlsx": doc.get("xlsx", type=pycrdt.Map).to_py(),
        "xlsx:cell-formats": doc.get("xlsx:cell-formats", type=pycrdt.Map).to_py(),
        "xlsx:sheet-order": doc.get("xlsx:sheet-order", type=pycrdt.Array).to_py(),
        "xlsx:sheets": doc.get("xlsx:sheets", type=pycrdt.Map).to_py(),
    }


def row(label, our_time, peer_time):
    print(f"{label:<32}{our_time * 1e3:10.1f}  {peer_time * 1e3:10.1f}  {peer_time / our_time:11.2f}")


def main():
    if len(sys.argv) > 1:
        binary = Path(sys.argv[1])
    else:
        binary = Path(os.environ.get("CMX_BENCH_DIR", ROOT / "build" / "bench")) / "bench" / "bench_collab"
    if not binary.exists():
        print(f"document_peer: {binary} not built; skipped")
        return
    with tempfile.TemporaryDirectory() as tmp:
        update_path = Path(tmp) / "bootstrap.bin"
        mine = ours(binary, update_path)
        update = update_path.read_bytes()
    apply_time, doc = timed(lambda: (lambda d: (d.apply_update(update), d)[1])(pycrdt.Doc(client_id=2)))
    read_time, view = timed(lambda: view_of(doc))
    build_time, peer_update = timed(lambda: peer_build(view))
    print(f"workbook document of {CELLS} cells")
    print("case                              ours ms   pycrdt ms  pycrdt/ours")
    row("build and encode the document", mine["BM_BootstrapDocument"], build_time)
    row("replay the update", mine["BM_HydrateReplica"], apply_time)
    row("read every entry back", mine["BM_ProjectStrict"], read_time)
    print(f"update bytes per cell: ours {len(update) / CELLS:.1f}, pycrdt {len(peer_update) / CELLS:.1f}")


if __name__ == "__main__":
    main()
