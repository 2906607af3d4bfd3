"""Python's json on the document of bench/json_bench.cpp (built the same
way), for the peer figures of the JSON reader and writer: MB/s of loads and
of compact dumps with sorted keys."""
import json
import time


def make_document(cells: int) -> str:
    items = []
    for i in range(cells):
        items.append({
            "id": f"c{i}", "row": i, "col": i % 50, "value": i * 0.37,
            "text": f"name {i} \"quoted\" caf\u00e9", "flag": i % 3 == 0, "tags": ["a", "b"],
        })
    return json.dumps(items, separators=(",", ":"), ensure_ascii=False)


def best_of(fn, rounds: int = 7) -> float:
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    text = make_document(20000)
    size = len(text.encode("utf-8"))
    value = json.loads(text)
    load = best_of(lambda: json.loads(text))
    dump = best_of(lambda: json.dumps(value, separators=(",", ":"), sort_keys=True, ensure_ascii=False))
    print(f"json_peer: document {size} bytes")
    print(f"json_peer: python json.loads {size / load / 1e6:.1f} MB/s")
    print(f"json_peer: python json.dumps {size / dump / 1e6:.1f} MB/s")


if __name__ == "__main__":
    main()
