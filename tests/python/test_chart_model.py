"""Our chart models against openpyxl's reading of the same chart parts.

Our side is the test-only driver tests/cpp/chart_model/chart_model_dump, built by CMake into $CMX_BUILD_DIR
(default build/release): it reads chart parts into chart models and prints them as JSON lines. openpyxl parses
the same parts into its chart objects; wherever both read something (plot types, grouping, series names, cached
categories and values, x values, axis bounds and number formats, title, legend position) they must agree. The
parts are the xlsxwriter fixtures of tests/fixtures/charts and every chart part of ../shared/corpus.
"""

import json
import math
import os
import re
import subprocess
import warnings
import zipfile
from pathlib import Path

import pytest

pytest.importorskip("openpyxl")

from openpyxl.chart.chartspace import ChartSpace  # noqa: E402
from openpyxl.xml.functions import fromstring  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
DRIVER = BUILD / "tests" / "cpp" / "chart_model" / "chart_model_dump"
FIXTURES = ROOT / "tests" / "fixtures" / "charts"
CORPUS = ROOT.parent / "shared" / "corpus"
CHART_PART = re.compile(r"xl/charts/chart[^/]*\.xml$", re.IGNORECASE)
MAX_LIST = 100_000

KINDS = {
    "pieChart": "pie", "lineChart": "line", "areaChart": "area", "radarChart": "radar", "stockChart": "stock",
    "ofPieChart": "ofPie", "bubbleChart": "bubble", "scatterChart": "scatter", "surfaceChart": "surface",
    "doughnutChart": "doughnut",
}
GROUPING_DEFAULTS = {"barChart": "clustered", "lineChart": "standard", "areaChart": "standard"}
POSITIONS = {"b": "bottom", "l": "left", "r": "right", "t": "top", "tr": "topRight"}


def chart_parts():
    parts = [(f"fixture {path.name}", path.read_bytes()) for path in sorted(FIXTURES.glob("*.xml"))]
    if CORPUS.is_dir():
        for book in sorted(CORPUS.rglob("*.xlsx")):
            try:
                with zipfile.ZipFile(book) as package:
                    for name in package.namelist():
                        if CHART_PART.match(name):
                            parts.append((f"{book.relative_to(CORPUS)} {name}", package.read(name)))
            except zipfile.BadZipFile:
                continue
    return parts


@pytest.fixture(scope="module")
def read_parts(tmp_path_factory):
    if not DRIVER.exists():
        pytest.skip(f"the chart model driver is not built at {DRIVER}")
    folder = tmp_path_factory.mktemp("charts")
    parts = chart_parts()
    paths = []
    for i, (_, data) in enumerate(parts):
        path = folder / f"{i}.xml"
        path.write_bytes(data)
        paths.append(str(path))
    run = subprocess.run([str(DRIVER), *paths], capture_output=True, text=True, check=True)
    ours = [json.loads(line) for line in run.stdout.splitlines()]
    assert len(ours) == len(parts)
    return [(label, data, model) for (label, data), model in zip(parts, ours)]


def plot_kind(plot):
    if plot.tagname == "barChart":
        return "bar" if plot.barDir == "bar" else "column"
    return KINDS.get(plot.tagname)


def cache_of(data_source):
    """The number cache (or literal) of a values or x-values element."""
    if data_source is None:
        return None
    if getattr(data_source, "numRef", None) is not None:
        return data_source.numRef.numCache
    return getattr(data_source, "numLit", None)


def dense(cache, convert):
    """The cache's points stored at their indices, gaps as None, bounded by ptCount."""
    if cache is None:
        return []
    count = cache.ptCount
    points = [(pt.idx, pt.v) for pt in cache.pt if count is None or pt.idx < count]
    if not points:
        return []
    out = [None] * min(max(idx for idx, _ in points) + 1, MAX_LIST)
    for idx, value in points:
        if idx < len(out):
            out[idx] = convert(value)
    return out


def finite_or_none(value):
    try:
        number = float(value)
    except (TypeError, ValueError):
        return None
    return number if math.isfinite(number) else None


def text_cache_of(cat):
    if cat is None:
        return None
    for ref, cache in (("strRef", "strCache"), ("numRef", "numCache")):
        holder = getattr(cat, ref, None)
        if holder is not None:
            return getattr(holder, cache)
    return getattr(cat, "strLit", None) or getattr(cat, "numLit", None)


def same_category(ours, theirs):
    """Our category text beside openpyxl's cached value: texts trimmed, numbers by value."""
    if theirs is None:
        return ours == ""
    if isinstance(theirs, str):
        return ours == theirs.strip()
    return finite_or_none(ours) == theirs


def series_name(ser):
    tx = ser.tx
    if tx is None:
        return None
    if tx.strRef is not None and tx.strRef.strCache is not None and tx.strRef.strCache.pt:
        text = (tx.strRef.strCache.pt[0].v or "").strip()
        return text or None
    if tx.v is not None:
        return tx.v.strip() or None
    return None


def compare(label, data, ours):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            space = ChartSpace.from_tree(fromstring(data))
        except Exception:  # openpyxl refuses some valid parts; nothing to compare then
            return False
    area = space.chart.plotArea
    theirs = [plot for plot in area._charts if plot_kind(plot)]
    if any(plot.tagname.endswith("3DChart") for plot in area._charts):
        assert ours == {"ok": False, "reason": ours.get("reason")} and not ours["ok"], label
        return True
    assert ours["ok"], (label, ours)
    assert [plot["kind"] for plot in ours["plots"]] == [plot_kind(plot) for plot in theirs], label
    for our_plot, plot in zip(ours["plots"], theirs):
        grouping = getattr(plot, "grouping", None)
        if our_plot["grouping"] is None:
            # openpyxl fills in its default where the part has no grouping.
            assert grouping in (None, GROUPING_DEFAULTS.get(plot.tagname)), label
        else:
            assert our_plot["grouping"] == grouping, label
        assert len(our_plot["series"]) == len(plot.ser), label
        for our_series, ser in zip(our_plot["series"], plot.ser):
            assert our_series["name"] == series_name(ser), label
            values = ser.val if getattr(ser, "val", None) is not None else getattr(ser, "yVal", None)
            assert our_series["values"] == dense(cache_of(values), finite_or_none), label
            if getattr(ser, "cat", None) is not None:
                cache = text_cache_of(ser.cat)
                expected = dense(cache, lambda v: v) if cache is not None else []
                assert len(our_series["categories"]) == len(expected), label
                for ours_text, theirs_value in zip(our_series["categories"], expected):
                    assert same_category(ours_text, theirs_value), (label, ours_text, theirs_value)
            x_values = getattr(ser, "xVal", None)
            if x_values is not None and getattr(ser, "cat", None) is None:
                expected = dense(cache_of(x_values), finite_or_none)
                assert our_series["x_values"] == (expected or None), label
            assert re.fullmatch(r"#[0-9A-F]{6}", our_series["color"]), label
    their_axes = {}
    for axis in area._axes:
        their_axes[str(axis.axId)] = axis
    for axis in ours["axes"]:
        theirs_axis = their_axes.get(axis["id"])
        if theirs_axis is None:
            continue
        assert axis["min"] == theirs_axis.scaling.min, label
        assert axis["max"] == theirs_axis.scaling.max, label
        if theirs_axis.numFmt is not None:
            assert axis["number_format"] == theirs_axis.numFmt.formatCode, label
    legend = space.chart.legend
    if legend is None:
        assert ours["legend"] is None, label
    else:
        assert ours["legend"]["position"] == POSITIONS.get(legend.legendPos), label
    return True


def test_fixture_and_corpus_charts_agree_with_openpyxl(read_parts):
    compared = sum(1 for label, data, ours in read_parts if compare(label, data, ours))
    fixtures = sum(1 for label, _, _ in read_parts if label.startswith("fixture"))
    # openpyxl reads nearly every part; far fewer compared means the test lost its inputs.
    assert compared >= 0.9 * len(read_parts)
    assert fixtures >= 19


def test_every_part_reads(read_parts):
    refused = [(label, ours["reason"]) for label, _, ours in read_parts if not ours["ok"]]
    assert refused == []
