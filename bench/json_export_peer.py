"""Python's json on the export document of bench/json_export_bench.cpp (built
the same way): MB/s of json.loads and of compact json.dumps, the peer figures
for reading and writing structured export documents."""
import json

from json_peer import best_of


def column_letters(col: int) -> str:
    out = ""
    col += 1
    while col:
        col, rem = divmod(col - 1, 26)
        out = chr(65 + rem) + out
    return out


def make_document(cells: int) -> dict:
    sheet = {"sheetId": "sheet:0", "index": 0, "name": "Data \"2024\""}
    items = []
    for i in range(cells):
        a1 = f"{column_letters(i % 20)}{i // 20 + 1}"
        value = ({"kind": "text", "value": f"name {i} caf\u00e9"} if i % 3 == 0
                 else {"kind": "number", "value": i * 0.37})
        items.append({"id": f"s0!{a1}", "anchor": {"kind": "cell", "sheet": sheet, "a1": a1}, "value": value,
                      "formula": f"SUM(A1:A{i + 1})" if i % 5 == 0 else None, "displayText": str(i),
                      "numberFormat": "General", "formulaResult": None, "merge": None})
    return {"schemaVersion": 1, "anchorScope": "snapshot", "dateSystem": "1900",
            "calculation": {"policy": "asStored", "freshness": "unverified"},
            "included": {"hiddenSheets": False, "hiddenRows": False, "hiddenColumns": False,
                         "definedNames": True, "hiddenNames": False},
            "sheets": [{"id": "s0", "anchor": {"kind": "sheet", "sheet": sheet}, "kind": "worksheet",
                        "visibility": "visible", "usedRange": "A1:T1000", "selectedRange": "A1:T1000",
                        "hiddenRows": [], "hiddenColumns": [], "merges": [], "tables": [], "hyperlinks": [],
                        "objects": [], "cells": items, "source": None, "truncated": False}],
            "definedNames": [], "diagnostics": [], "truncated": False}


def main() -> None:
    doc = make_document(20000)
    text = json.dumps(doc, separators=(",", ":"), ensure_ascii=False)
    size = len(text.encode("utf-8"))
    load = best_of(lambda: json.loads(text))
    dump = best_of(lambda: json.dumps(doc, separators=(",", ":"), ensure_ascii=False))
    print(f"json_export_peer: document {size} bytes")
    print(f"json_export_peer: python json.loads {size / load / 1e6:.1f} MB/s")
    print(f"json_export_peer: python json.dumps {size / dump / 1e6:.1f} MB/s")


if __name__ == "__main__":
    main()
