"""Renders of sheet ranges, checked by Pillow and against reference images.

Our side is the test-only driver tests/cpp/render/render_png, built by CMake into $CMX_BUILD_DIR (default
build/release): it opens an .xlsx, renders one range to PNG the way the render call does. Pillow decodes every
image; colours are checked exactly where a fill covers whole pixels; each feature's image is compared with its
reference in tests/fixtures/render/, which only tests/fixtures/render/make_references.py writes.
"""

import os
import subprocess
import sys
from pathlib import Path

import openpyxl
import pytest
from openpyxl.styles import Alignment, PatternFill
from PIL import Image

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "render" / "render_png"
REFERENCES = ROOT / "tests" / "fixtures" / "render"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"render_png not built at {TOOL}")

sys.path.insert(0, str(REFERENCES))
import make_references as references  # noqa: E402  (the workbooks and the way they are rendered)

# Anti-aliased edges may differ in their last bits between builds; a fill or a missing glyph may not.
CHANNEL_TOLERANCE = 6
MAX_DIFFERING_PIXELS = 0.002


def run(xlsx, out, rng="-", scale=1.0):
    result = subprocess.run([str(TOOL), str(xlsx), "0", rng, str(scale), str(out)], capture_output=True,
                            text=True, check=True)
    return result.stdout


def decode(path):
    with Image.open(path) as im:
        assert im.format == "PNG"
        assert im.mode == "RGBA"
        im.load()
        return im.copy()


@pytest.mark.parametrize("name", sorted(references.FEATURES), ids=sorted(references.FEATURES))
def test_feature_matches_its_reference(name, tmp_path):
    out = tmp_path / f"{name}.png"
    assert '"ok":true' in references.render(name, tmp_path, out)
    got = decode(out)
    want = decode(REFERENCES / f"{name}.png")
    assert got.size == want.size
    assert all(a == 255 for a in got.getchannel("A").get_flattened_data())
    differing = 0
    for g, w in zip(got.get_flattened_data(), want.get_flattened_data()):
        if max(abs(x - y) for x, y in zip(g, w)) > CHANNEL_TOLERANCE:
            differing += 1
    assert differing <= MAX_DIFFERING_PIXELS * got.size[0] * got.size[1]


def test_fills_and_gridlines_have_exact_colours(tmp_path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.column_dimensions["A"].width = 20
    ws["A1"].fill = PatternFill("solid", fgColor="1E90FF")
    ws["B2"].fill = PatternFill("solid", fgColor="00AA00")
    ws["C3"] = 1
    xlsx = tmp_path / "fills.xlsx"
    wb.save(xlsx)
    for scale in (1.0, 2.0):
        out = tmp_path / f"fills{scale}.png"
        assert '"ok":true' in run(xlsx, out, "A1:C3", scale)
        im = decode(out)
        col_a = references.col_px(20)
        # Rows holding 11-point text are 14 points high here (the default font's height).
        row = im.size[1] / 3 / scale
        assert im.size[0] == int(-(-(col_a + 2 * 64.01171875) * scale // 1))
        px = im.load()
        assert px[int(col_a * scale / 2), int(row / 2 * scale)] == (0x1E, 0x90, 0xFF, 255)
        assert px[int((col_a + 32) * scale), int(row * 1.5 * scale)] == (0x00, 0xAA, 0x00, 255)
        # An empty cell is white; the gridline between rows 2 and 3 is grey.
        assert px[int((col_a + 96) * scale), int(row * 1.5 * scale)] == (255, 255, 255, 255)
        line = px[int((col_a + 96) * scale), int(row * 2 * scale)]
        assert line[0] == line[1] == line[2] and 0xD4 <= line[0] < 0xFF


def test_default_range_and_errors(tmp_path):
    wb = openpyxl.Workbook()
    xlsx = tmp_path / "empty.xlsx"
    wb.save(xlsx)
    out = tmp_path / "empty.png"
    assert '"ok":true' in run(xlsx, out)
    # An empty sheet renders A1:Z50.
    assert decode(out).size == (1665, 1000)
    assert '"ok":false' in run(xlsx, out, "A1:B2", 0)
    assert "scale must be a positive number" in run(xlsx, out, "A1:B2", -1)
    assert "exceeds the 16384px per-side cap" in run(xlsx, out, "A1:ZZ2", 1)


def test_tall_merged_label_renders_within_the_image(tmp_path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws["A1"] = "a label far wider than its column, in a very tall merge"
    ws["A1"].alignment = Alignment(vertical="top")
    ws.merge_cells("A1:A100000")
    xlsx = tmp_path / "tall.xlsx"
    wb.save(xlsx)
    out = tmp_path / "tall.png"
    assert '"ok":true' in run(xlsx, out, "A1:B5")
    im = decode(out)
    # The text crosses its clip (the merge, 2,000,000 pixels tall), so it is cut at the merge's right edge;
    # only the part of the clip inside the image is painted.
    px = im.load()
    ink = [x for x in range(im.size[0]) for y in range(im.size[1]) if px[x, y][0] < 128]
    assert ink and max(ink) < 65


# --- the corpus ---------------------------------------------------------------------------------------------

CORPUS = ROOT.parent / "shared" / "corpus"
# Known refusals of the render request checks; anything else from the driver is a failure.
STATED_REFUSALS = ("unreadable package", "unreadable workbook", "exceeds the", "viewport", "spans")


def corpus_sample():
    files = sorted(CORPUS.rglob("*.xlsx")) if CORPUS.is_dir() else []
    if os.environ.get("CMX_RENDER_CORPUS") == "all":
        return files
    return files[::25]


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS}")
def test_corpus_renders_or_is_refused(tmp_path):
    """Every sampled workbook's first sheet renders (default range) to a PNG Pillow reads, or is refused with a
    stated reason; never a crash. CMX_RENDER_CORPUS=all renders the whole corpus."""
    rendered = 0
    for path in corpus_sample():
        out = tmp_path / "corpus.png"
        result = run(path, out)
        if '"ok":true' in result:
            im = decode(out)
            assert im.size[0] <= 16384 and im.size[1] <= 16384
            rendered += 1
        else:
            assert any(reason in result for reason in STATED_REFUSALS), (path, result)
    assert rendered > 0
