#!/usr/bin/env python3
"""Opening a package of many parts: our source package record beside openpyxl and python-calamine.

A workbook of N sheets, each with a table and a chart (so about six parts per sheet), is written with xlsxwriter.
Each reader opens it in a child process of its own and the time is taken inside the child around the open; our
side is tests/cpp/workbook/source_package_dump from $CMX_BUILD_DIR (default build/release), which builds the whole
record (templates, relationships, content types, inventory with its structure check), timed around the process.

Usage: bench/open_many_parts.py [--sheets 200,800]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import xlsxwriter

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "workbook" / "source_package_dump"

PEERS = {
    "openpyxl": "import openpyxl; openpyxl.load_workbook(sys.argv[1])",
    # Its open is lazy: reading every sheet is what an open means here.
    "python-calamine": "import python_calamine; wb = python_calamine.CalamineWorkbook.from_path(sys.argv[1]); "
    "[wb.get_sheet_by_index(i).to_python() for i in range(len(wb.sheet_names))]",
}


def write_workbook(path, sheets):
    book = xlsxwriter.Workbook(str(path))
    for index in range(sheets):
        sheet = book.add_worksheet(f"S{index}")
        for row in range(10):
            sheet.write_row(row + 1, 0, [row, row * 2, row * 3])
        sheet.add_table(1, 0, 10, 2, {"columns": [{"header": "a"}, {"header": "b"}, {"header": "c"}]})
        chart = book.add_chart({"type": "column"})
        chart.add_series({"values": [sheet.name, 2, 1, 10, 1]})
        sheet.insert_chart("E2", chart)
    book.close()


def time_peer(code, path):
    child = f"import sys, time\nstart = time.perf_counter()\n{code}\nprint(time.perf_counter() - start)"
    run = subprocess.run([sys.executable, "-c", child, str(path)], capture_output=True, text=True)
    if run.returncode != 0:
        return None
    return float(run.stdout.strip().splitlines()[-1])


def time_ours(path):
    start = time.perf_counter()
    run = subprocess.run([str(TOOL), str(path)], capture_output=True, text=True, check=True)
    seconds = time.perf_counter() - start
    record = json.loads(run.stdout)
    assert "error" not in record, record
    return seconds, len(record["parts"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sheets", default="200,800")
    args = parser.parse_args()
    if not TOOL.exists():
        print(f"open_many_parts: {TOOL} not built", file=sys.stderr)
        return
    with tempfile.TemporaryDirectory() as folder:
        for sheets in map(int, args.sheets.split(",")):
            path = Path(folder) / f"many_{sheets}.xlsx"
            write_workbook(path, sheets)
            ours, parts = min(time_ours(path) for _ in range(3))
            line = f"open_many_parts sheets={sheets} parts={parts}: ours {ours * 1000:.1f} ms"
            for name, code in PEERS.items():
                peer = time_peer(code, path)
                if peer is None:
                    line += f", {name} unavailable"
                else:
                    line += f", {name} {peer * 1000:.1f} ms ({peer / ours:.1f}x ours)"
            print(line)


if __name__ == "__main__":
    main()
