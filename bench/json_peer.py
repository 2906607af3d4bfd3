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


def make_hyperlinks(count: int) -> list:
    """The hyperlink list of BM_SheetHyperlinks* in bench/json_bench.cpp."""
    links = []
    for i in range(count):
        links.append({
            "range": {"start": {"row": i, "col": i % 50}, "end": {"row": i + 1, "col": i % 50 + 2, "abs_row": True}},
            "external_target": f"https://example.com/page/{i}?q=\"x\"",
            "location": f"Sheet2!A{i + 1}" if i % 2 else None,
            "tooltip": f"tip {i}", "display": None,
        })
    return links


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

    links = make_hyperlinks(20000)
    links_text = json.dumps(links, separators=(",", ":"), ensure_ascii=False)
    links_size = len(links_text.encode("utf-8"))
    load = best_of(lambda: json.loads(links_text))
    dump = best_of(lambda: json.dumps(links, separators=(",", ":"), ensure_ascii=False))
    print(f"json_peer: hyperlink list {links_size} bytes")
    print(f"json_peer: python json.loads of the hyperlinks {links_size / load / 1e6:.1f} MB/s")
    print(f"json_peer: python json.dumps of the hyperlinks {links_size / dump / 1e6:.1f} MB/s")
    fmt = {"font": {"name": "Calibri", "size_pt": 11.0, "bold": False, "italic": False, "underline": False,
                    "strike": False, "color": {"Theme": {"idx": 1, "tint": -0.25}}},
           "fill": {"Solid": {"Rgb": "#ffff00"}},
           "border": {"left": None, "right": None, "top": None, "bottom": {"style": "Thin", "color": "Auto"}},
           "numberFormat": {"kind": "custom", "pattern": "0.00%"},
           "alignment": {"h": None, "v": None, "wrap_text": False, "shrink_to_fit": False}}
    fmt_text = json.dumps(fmt, separators=(",", ":"))
    rounds = 20000
    trip = best_of(lambda: [json.dumps(json.loads(fmt_text), separators=(",", ":")) == fmt_text
                            for _ in range(rounds)], rounds=3)
    print(f"json_peer: python cell-format round trip {rounds / trip / 1e3:.0f}k/s")

    request = make_edit_request()
    request_size = len(request.encode("utf-8"))
    load = best_of(lambda: json.loads(request))
    print(f"json_peer: edit request {request_size} bytes")
    print(f"json_peer: python json.loads of the edit request {request_size / load / 1e6:.1f} MB/s")


def make_edit_request() -> str:
    """The request of BM_ParseEditRequest in bench/json_bench.cpp, byte for byte."""
    steps = []
    for _ in range(128):
        inputs = ",".join("[" + ",".join(f'"=A{r + 1}*{c}"' for c in range(10)) + "]" for r in range(10))
        cells = ",".join("[" + ",".join('{"value":{"kind":"number","value":%d}}' % (r * c) for c in range(10)) + "]"
                         for r in range(10))
        steps.append('{"op":"setCellInputs","target":{"sheetId":"s","range":{"kind":"a1","a1":"A1:J10"}},'
                     f'"inputs":[{inputs}],"expect":{{"cells":[{cells}]}}}}')
    return '{"expectVersion":"1-7","source":"agent","steps":[' + ",".join(steps) + "]}"

if __name__ == "__main__":
    main()
