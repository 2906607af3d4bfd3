"""Chart frames in renders: workbooks with charts written by xlsxwriter, rendered by the test-only driver
tests/cpp/render/render_png (built into $CMX_BUILD_DIR, default build/release), decoded by Pillow. The driver
also lists the chart regions (label, note, placeholder flag, frame and clip in image pixels), so the images are
checked where the regions say the charts are.
"""

import json
import os
import subprocess
import zipfile
from pathlib import Path

import pytest
import xlsxwriter
from PIL import Image

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "render" / "render_png"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"render_png not built at {TOOL}")

PLACEHOLDER_FILL = (0xF2, 0xF2, 0xF2, 255)
PLACEHOLDER_BORDER = (0xBF, 0xBF, 0xBF, 255)
PALETTE = [(0x44, 0x72, 0xC4), (0xED, 0x7D, 0x31), (0xA5, 0xA5, 0xA5), (0xFF, 0xC0, 0x00)]


def render(xlsx, out, rng="A1:P40", scale=1.0):
    result = subprocess.run([str(TOOL), str(xlsx), "0", rng, str(scale), str(out)], capture_output=True, text=True,
                            check=True)
    answer = json.loads(result.stdout)
    assert answer["ok"], answer
    with Image.open(out) as im:
        assert im.format == "PNG" and im.mode == "RGBA"
        im.load()
        return answer["charts"], im.copy()


def workbook(path, charts, data=((3, 7, 12, 5), (1, 2, 3, 4))):
    """A sheet with categories in A, series in B.., and each (options, series count, cell) chart inserted."""
    wb = xlsxwriter.Workbook(str(path))
    ws = wb.add_worksheet("Data")
    ws.write_column("A1", ["North", "South", "East", "West"][: len(data[0])])
    for col, values in enumerate(data, start=1):
        ws.write_column(0, col, values)
    for options, series, cell, extra in charts:
        chart = wb.add_chart(options)
        for s in range(series):
            col = chr(ord("B") + s)
            chart.add_series({"name": f"Series {col}", "categories": f"=Data!$A$1:$A${len(data[0])}",
                              "values": f"=Data!${col}$1:${col}${len(data[0])}"})
        for method, args in extra.items():
            getattr(chart, method)(args)
        ws.insert_chart(cell, chart)
    wb.close()
    return path


def inside(region, dx, dy, scale=1.0):
    x, y, _, _ = region["frame"]
    return int(x + dx * scale), int(y + dy * scale)


def colours_in(im, box):
    x, y, w, h = (int(v) for v in box)
    return {im.getpixel((i, j))[:3] for i in range(x + 1, x + w - 1) for j in range(y + 1, y + h - 1)}


def test_drawn_chart_shows_background_title_and_legend(tmp_path):
    xlsx = workbook(tmp_path / "column.xlsx",
                    [({"type": "column"}, 2, "E2", {"set_title": {"name": "Quarterly sales"}})])
    for scale in (1.0, 2.0):
        regions, im = render(xlsx, tmp_path / f"column{scale}.png", scale=scale)
        assert len(regions) == 1
        chart = regions[0]
        assert chart["note"] == "Quarterly sales, column chart, 2 series, 4 categories"
        assert chart["placeholder"] is False
        assert chart["label"].endswith("#0")
        x, y, w, h = chart["frame"]
        assert abs(w - 480 * scale) < 2 * scale and abs(h - 288 * scale) < 8 * scale
        # The white background covers the sheet's gridlines inside the frame.
        column_b = [im.getpixel((int(x + i), int(y + h / 2))) for i in range(2, int(w) - 2)]
        assert all(p == (255, 255, 255, 255) for p in column_b[: int(w / 2)])
        # The bold title is dark and centred near the top.
        title_band = colours_in(im, (x + w / 3, y + 9.5 * scale, w / 3, 16 * scale))
        assert any(max(c) < 100 for c in title_band)
        # The legend at the right edge holds both series' swatches in palette order.
        legend = colours_in(im, (x + w * 2 / 3, y, w / 3, h))
        assert PALETTE[0] in legend and PALETTE[1] in legend


def test_refused_charts_are_placeholders(tmp_path):
    xlsx = workbook(tmp_path / "refused.xlsx", [
        ({"type": "column", "subtype": "stacked"}, 2, "E2", {}),
        ({"type": "line"}, 1, "E20", {"set_y_axis": {"log_base": 10}}),
    ])
    regions, im = render(xlsx, tmp_path / "refused.png", "A1:P40")
    assert [r["placeholder"] for r in regions] == [True, True]
    assert regions[0]["note"] == "Untitled chart, column chart, 2 series, 4 categories, not shown"
    assert regions[1]["note"] == "Untitled chart, line chart, 1 series, 4 categories, not shown"
    for region in regions:
        x, y, w, h = region["frame"]
        assert im.getpixel((int(x + w / 2), int(y + h / 2))) == PLACEHOLDER_FILL
        # The 1-pixel border half a pixel inside the top edge: darker than the fill and than gridlines (#d4d4d4).
        top = [im.getpixel((int(x + w / 2), int(y) + dy))[0] for dy in range(0, 3)]
        assert PLACEHOLDER_BORDER[0] <= min(top) <= 0xD0
        # Nothing but the fill and its border inside a placeholder.
        assert colours_in(im, (x + 2, y + 2, w - 4, h - 4)) == {PLACEHOLDER_FILL[:3]}


def test_unreadable_chart_part_is_a_placeholder(tmp_path):
    good = workbook(tmp_path / "good.xlsx", [({"type": "pie"}, 1, "E2", {})])
    bad = tmp_path / "bad.xlsx"
    # A three-dimensional plot: the chart reader refuses the part, the drawing still anchors it.
    with zipfile.ZipFile(good) as src, zipfile.ZipFile(bad, "w") as dst:
        for item in src.infolist():
            data = src.read(item.filename)
            if item.filename.startswith("xl/charts/chart"):
                data = data.replace(b"c:pieChart>", b"c:pie3DChart>")
            dst.writestr(item, data)
    regions, im = render(bad, tmp_path / "bad.png")
    assert len(regions) == 1
    assert regions[0]["note"] == "Chart, not shown" and regions[0]["placeholder"] is True
    x, y, w, h = regions[0]["frame"]
    assert im.getpixel((int(x + w / 2), int(y + h / 2))) == PLACEHOLDER_FILL


def test_frames_are_cut_at_the_range_and_missed_frames_left_out(tmp_path):
    xlsx = workbook(tmp_path / "cut.xlsx", [({"type": "bar"}, 1, "E2", {}), ({"type": "line"}, 1, "E40", {})])
    regions, im = render(xlsx, tmp_path / "cut.png", "A1:F10")
    assert len(regions) == 1  # the second chart lies below the range
    x, y, w, h = regions[0]["clip"]
    # Cut at the viewport's edges; the image rounds the viewport up to whole pixels.
    assert im.size[0] - 1 < x + w <= im.size[0] and im.size[1] - 1 < y + h <= im.size[1]
    assert regions[0]["frame"][2] > w
    assert regions[0]["note"] == "Untitled chart, bar chart, 1 series, 4 categories"


def test_pie_legend_lists_categories(tmp_path):
    xlsx = workbook(tmp_path / "pie.xlsx", [({"type": "pie"}, 1, "E2", {"set_legend": {"position": "bottom"}})])
    regions, im = render(xlsx, tmp_path / "pie.png")
    x, y, w, h = regions[0]["frame"]
    legend = colours_in(im, (x, y + h * 3 / 4, w, h / 4))
    # One swatch per slice, in palette order.
    assert all(colour in legend for colour in PALETTE)
