"""Golden images of one chart per type: each workbook is written here by xlsxwriter, rendered by the test driver
render_png and decoded by Pillow, then compared with the reference under tests/fixtures/chart_golden (made only
by its regenerate.py) under a small tolerance."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image, ImageChops

ROOT = Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "fixtures" / "chart_golden"
sys.path.insert(0, str(GOLDEN))
import cases  # noqa: E402

BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "render" / "render_png"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"render_png not built at {TOOL}")

# Channel differences above this count as a changed pixel; at most this share of pixels may change.
CHANNEL_TOLERANCE = 24
CHANGED_SHARE = 0.002


@pytest.mark.parametrize("name", sorted(cases.CASES))
def test_chart_matches_reference(tmp_path, name):
    xlsx = cases.write_case(tmp_path / f"{name}.xlsx", name)
    out = tmp_path / f"{name}.png"
    result = subprocess.run([str(TOOL), str(xlsx), "0", cases.RANGE, "1", str(out)], capture_output=True, text=True,
                            check=True)
    answer = json.loads(result.stdout)
    assert answer["ok"], answer
    [region] = answer["charts"]
    assert region["placeholder"] is False, region
    with Image.open(out) as got, Image.open(GOLDEN / f"{name}.png") as want:
        assert got.size == want.size
        diff = ImageChops.difference(got.convert("RGBA"), want.convert("RGBA"))
        r, g, b, a = diff.split()
        largest = ImageChops.lighter(ImageChops.lighter(r, g), ImageChops.lighter(b, a))
        changed = sum(largest.histogram()[CHANNEL_TOLERANCE + 1:])
        assert changed <= CHANGED_SHARE * got.size[0] * got.size[1], f"{changed} pixels differ"
        # The plot drew its marks left of the legend: the first series colour (stock: the grey of its lines).
        x, y, w, h = (int(v) for v in region["frame"])
        colours = got.convert("RGB").crop((x, y, x + int(0.7 * w), y + h)).getcolors(maxcolors=1 << 20)
        mark = (0x66, 0x66, 0x66) if name == "stock" else (0x44, 0x72, 0xC4)
        assert any(c == mark and n > 40 for n, c in colours), name
