#!/usr/bin/env python3
"""Peer side of bench_charts: openpyxl's chart reader on the same generated
chart parts (a line chart of 8 series of 5,000 cached points, and a column of
one series of 3). Prints charts and points per second; compare with
bench_charts' charts_per_s and points_per_s."""
import time

from openpyxl.chart.chartspace import ChartSpace
from openpyxl.chart.reader import read_chart
from openpyxl.xml.functions import fromstring


def num(value):
    text = f"{value:.6f}"
    return text


def chart_part(series_count, points):
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
           '<c:chartSpace xmlns:c="http://schemas.openxmlformats.org/drawingml/2006/chart" '
           'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"><c:chart><c:plotArea><c:lineChart>'
           '<c:grouping val="standard"/><c:varyColors val="0"/>']
    for s in range(series_count):
        col = chr(ord("B") + s)
        out.append(f'<c:ser><c:idx val="{s}"/><c:order val="{s}"/><c:tx><c:strRef><c:f>Sheet1!${col}$1</c:f>'
                   f'<c:strCache><c:ptCount val="1"/><c:pt idx="0"><c:v>Series {s}</c:v></c:pt></c:strCache>'
                   f'</c:strRef></c:tx><c:cat><c:strRef><c:f>Sheet1!$A$2:$A${points + 1}</c:f><c:strCache>'
                   f'<c:ptCount val="{points}"/>')
        out.extend(f'<c:pt idx="{p}"><c:v>Label {p}</c:v></c:pt>' for p in range(points))
        out.append(f'</c:strCache></c:strRef></c:cat><c:val><c:numRef><c:f>Sheet1!${col}$2:${col}${points + 1}</c:f>'
                   f'<c:numCache><c:formatCode>General</c:formatCode><c:ptCount val="{points}"/>')
        out.extend(f'<c:pt idx="{p}"><c:v>{num(p * 0.5 + s)}</c:v></c:pt>' for p in range(points))
        out.append('</c:numCache></c:numRef></c:val><c:smooth val="0"/></c:ser>')
    out.append('<c:marker val="1"/><c:axId val="1"/><c:axId val="2"/></c:lineChart>'
               '<c:catAx><c:axId val="1"/><c:scaling><c:orientation val="minMax"/></c:scaling><c:axPos val="b"/>'
               '<c:crossAx val="2"/></c:catAx><c:valAx><c:axId val="2"/><c:scaling><c:orientation val="minMax"/>'
               '</c:scaling><c:axPos val="l"/><c:majorGridlines/><c:crossAx val="1"/></c:valAx></c:plotArea>'
               '<c:legend><c:legendPos val="r"/></c:legend></c:chart></c:chartSpace>')
    return "".join(out).encode()


def bench(name, part, points, seconds=2.0):
    runs = 0
    start = time.perf_counter()
    while time.perf_counter() - start < seconds:
        read_chart(ChartSpace.from_tree(fromstring(part)))
        runs += 1
    elapsed = time.perf_counter() - start
    print(f"openpyxl {name}: {runs / elapsed:.1f} charts/s, {runs * points / elapsed:.0f} points/s")


if __name__ == "__main__":
    bench("large chart (8 x 5,000 points)", chart_part(8, 5000), 40000)
    bench("small chart (3 points)", chart_part(1, 3), 3)
