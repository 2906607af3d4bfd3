"""Workbook.render_png and the Png it returns: Pillow decodes every image, the viewport follows the range, the
used range, the scale and the crops, every refusal comes with its class and message, and Png.write replaces its
target only once the new file is complete."""

import errno
import io
import math
import os
import pathlib
import stat
import subprocess
import sys
import textwrap

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
openpyxl = pytest.importorskip("openpyxl")
Image = pytest.importorskip("PIL.Image")
from openpyxl.styles import PatternFill  # noqa: E402
from openpyxl.utils import get_column_letter  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOUR = ROOT / "examples" / "tour.xlsx"


# A column 65/7 characters wide measures exactly 70 pixels; rows keep the default 15 points, 20 pixels.
CELL_W, CELL_H = 70, 20


def book_of(tmp_path, build=None, name="book.xlsx", columns=8):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Sheet"
    for index in range(1, columns + 1):
        ws.column_dimensions[get_column_letter(index)].width = 65 / 7
    ws.sheet_format.customHeight = True
    if build is not None:
        build(ws)
    path = tmp_path / name
    wb.save(path)
    return cx.Workbook.open_path(path)


def decoded(png):
    with Image.open(io.BytesIO(png.bytes)) as image:
        assert image.format == "PNG" and image.mode == "RGBA"
        image.load()
        return image.copy()


def test_png_result(tmp_path):
    book = book_of(tmp_path, lambda ws: ws.__setitem__("B2", 42))
    png = book.render_png("sheet", range="A1:C3")
    image = decoded(png)
    assert image.size == (png.width, png.height)
    first, second = png.bytes, png.bytes
    assert first == second and first is not second and len(png) == len(first)
    assert repr(png) == f"Png(width={png.width}, height={png.height}, bytes={len(first)})"
    with pytest.raises(AttributeError):
        png.width = 3
    assert (png.width, png.height) == (3 * CELL_W, 3 * CELL_H)


def test_fill_colours_are_exact_at_every_scale(tmp_path):
    def build(ws):
        ws["A1"].fill = PatternFill("solid", fgColor="1E90FF")
        ws["B2"].fill = PatternFill("solid", fgColor="00AA00")

    book = book_of(tmp_path, build)
    w, h = CELL_W, CELL_H
    for scale in (1, 2.0, 0.5):
        png = book.render_png(0, range="A1:B2", scale=scale)
        assert (png.width, png.height) == (math.ceil(2 * w * scale), math.ceil(2 * h * scale))
        image = decoded(png)
        assert image.getpixel((int(w * scale / 2), int(h * scale / 2))) == (0x1E, 0x90, 0xFF, 255)
        assert image.getpixel((int(w * scale * 1.5), int(h * scale * 1.5))) == (0x00, 0xAA, 0x00, 255)


def test_default_viewport_is_the_used_range_or_a1_to_z50(tmp_path):
    empty = book_of(tmp_path, name="empty.xlsx")
    assert empty.render_png(0).bytes == empty.render_png(0, range="A1:Z50").bytes
    book = book_of(tmp_path, lambda ws: (ws.__setitem__("B2", 1), ws.__setitem__("D5", "x")))
    assert book.render_png(0).bytes == book.render_png(0, range="B2:D5").bytes
    # The range's corners are normalised before rendering.
    assert book.render_png(0, range="d5:b2").bytes == book.render_png(0, range="B2:D5").bytes


def test_charts_widen_only_the_default_viewport(tmp_path):
    from openpyxl.chart import BarChart, Reference

    def build(ws, anchors):
        for row in range(1, 6):
            ws.append([f"k{row}", row * 3])
        for anchor in anchors:
            chart = BarChart()
            chart.add_data(Reference(ws, min_col=2, min_row=1, max_row=5))
            ws.add_chart(chart, anchor)

    near = book_of(tmp_path, lambda ws: build(ws, ["E2"]), name="near.xlsx")
    cells = near.render_png(0, range="A1:B5")
    assert (cells.width, cells.height) == (2 * CELL_W, 5 * CELL_H)
    widened = near.render_png(0)
    assert widened.width > 4 * CELL_W and widened.height > 5 * CELL_H
    assert decoded(widened).size == (widened.width, widened.height)
    # A chart whose frame would break the pixel caps is left out; the render still succeeds.
    far = book_of(tmp_path, lambda ws: build(ws, ["E2", "A5000"]), name="far.xlsx")
    assert far.render_png(0).bytes == widened.bytes


def test_crops_keep_the_top_left_corner(tmp_path):
    book = book_of(tmp_path, lambda ws: ws.__setitem__("A1", "corner"))
    full = decoded(book.render_png(0, range="A1:D4"))
    for scale in (1.0, 2.0):
        png = book.render_png(0, range="A1:D4", scale=scale, max_width=50, max_height=30)
        assert (png.width, png.height) == (50, 30)
        if scale == 1.0:
            assert decoded(png).tobytes() == full.crop((0, 0, 50, 30)).tobytes()


def test_render_refusals(tmp_path):
    book = book_of(tmp_path, lambda ws: (ws.__setitem__("A1", 1), ws.__setitem__("ALL1000", 1)), columns=1000)
    w, h = CELL_W, CELL_H
    wide = math.ceil(10000 / w)  # columns making a viewport of at least 10,000 pixels
    tall = math.ceil(4097 / h)
    cases = [
        (dict(scale=0), cx.RenderError, "scale must be a positive number, got 0"),
        (dict(scale=-1), cx.RenderError, "scale must be a positive number, got -1"),
        (dict(scale=math.nan), cx.RenderError, "scale must be a positive number, got NaN"),
        (dict(scale=math.inf), cx.RenderError, "scale must be a positive number, got inf"),
        (dict(scale=1e-50), cx.RenderError, "scale must be a positive number, got 0"),  # 0 as a 32-bit float
        (dict(scale=1e39), cx.RenderError, "scale must be a positive number, got inf"),
        (dict(max_width=0), cx.RangeError, "viewport must have finite positive dimensions"),
        (dict(range=f"A1:{col_name(wide)}1", scale=2), cx.RenderError,
         f"requested render is {2 * wide * w}x{2 * h}px, exceeds the 16384px per-side cap; "
         "narrow the range or lower scale"),
        (dict(range=f"A1:{col_name(math.ceil(4096 / w))}{tall}", max_width=4096, max_height=4097), cx.RenderError,
         "requested render is 4096x4097px, exceeds the 16777216-pixel allocation cap; "
         "narrow the range or lower scale"),
        # 1,000 × 1,000 cells break the pixel caps first, the cell cap at a small scale.
        (dict(), cx.RenderError, "requested render is 70000x20000px, exceeds the 16384px per-side cap; "
         "narrow the range or lower scale"),
        # The row and the column whose edge the viewport ends on count as touched: 1,001².
        (dict(scale=0.01), cx.RangeError,
         "requested viewport spans 1002001 cells, exceeds the 250000-cell display-list cap"),
    ]
    for kwargs, cls, message in cases:
        with pytest.raises(cls) as caught:
            book.render_png(0, **kwargs)
        assert caught.value.args == (message,), kwargs
        assert isinstance(caught.value, cx.XlsxError)
    # Cropped below the cell cap, the same small scale renders.
    cropped = book.render_png(0, scale=0.01, max_width=math.floor(400 * w * 0.01),
                              max_height=math.floor(400 * h * 0.01))
    assert decoded(cropped).size == (cropped.width, cropped.height)
    # An int scale is a scale.
    assert book.render_png(0, range="A1", scale=2).width == 2 * w
    # 4,096 × 4,096 is within the allocation cap.
    square = book.render_png(0, range=f"A1:{col_name(math.ceil(4096 / w))}{tall}", max_width=4096, max_height=4096)
    assert (square.width, square.height) == (4096, 4096)


def col_name(number):
    name = ""
    while number:
        number, rest = divmod(number - 1, 26)
        name = chr(65 + rest) + name
    return name


ARGUMENT_ERRORS = [
    (dict(sheet="nope"), KeyError, 'no sheet named "nope"', None),
    (dict(sheet=True), TypeError, "sheet must be a name (str) or an index (int), not bool", None),
    (dict(sheet=0, range="A0"), cx.RangeError, "invalid range A0: address out of sheet bounds", None),
    (dict(sheet=0, range=5), TypeError, "'int' object is not an instance of 'str'", "range"),
    (dict(sheet=0, scale="big"), TypeError, "must be real number, not str", "scale"),
    (dict(sheet=0, max_width="x"), TypeError, "'str' object cannot be interpreted as an integer", "max_width"),
    (dict(sheet=0, max_height=2**32), OverflowError, "out of range integral type conversion attempted",
     "max_height"),
]


@pytest.mark.parametrize("kwargs, cls, message, note", ARGUMENT_ERRORS, ids=[str(c[0]) for c in ARGUMENT_ERRORS])
def test_render_argument_errors(tmp_path, kwargs, cls, message, note):
    book = book_of(tmp_path)
    with pytest.raises(cls) as caught:
        book.render_png(**kwargs)
    assert caught.value.args == (message,)
    assert getattr(caught.value, "__notes__", None) == ([f"while processing '{note}'"] if note else None)


def test_png_write(tmp_path):
    png = cx.Workbook.open_path(TOUR).render_png("Budget", range="A1:C8")
    target = tmp_path / "out.png"
    assert png.write(target) is None
    assert target.read_bytes() == png.bytes
    target.chmod(0o640)
    png.write(str(target))  # replacing keeps the permission bits
    assert stat.S_IMODE(target.stat().st_mode) == 0o640 and target.read_bytes() == png.bytes
    link = tmp_path / "link.png"
    link.symlink_to(target)
    target.write_bytes(b"old")
    png.write(link)  # through a link, as a plain write would
    assert link.is_symlink() and target.read_bytes() == png.bytes
    assert sorted(p.name for p in tmp_path.iterdir()) == ["link.png", "out.png"]

    missing = tmp_path / "no" / "such.png"
    with pytest.raises(FileNotFoundError) as caught:
        png.write(missing)
    assert caught.value.errno == errno.ENOENT and caught.value.filename == str(missing)
    with pytest.raises(IsADirectoryError):
        png.write(tmp_path)
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    with pytest.raises(OSError) as caught:
        png.write(fifo)
    assert caught.value.errno is None and caught.value.strerror == "not a regular file"
    assert stat.S_ISFIFO(fifo.stat().st_mode)
    with pytest.raises(TypeError) as caught:
        png.write(b"/tmp/x.png")
    assert caught.value.__notes__ == ["while processing 'path'"]
    with pytest.raises(OSError) as caught:
        png.write(str(tmp_path / "a\0b"))
    assert caught.value.errno is None


def test_png_write_failure_leaves_the_target_intact(tmp_path):
    # A file-size limit makes the write fail half way, as a full disk would.
    target = tmp_path / "keep.png"
    target.write_bytes(b"previous image")
    script = textwrap.dedent(f"""
        import resource, signal, sys
        import cindermantle_xlsx as cx
        png = cx.Workbook.open_path({str(TOUR)!r}).render_png("Budget")
        assert len(png) > 4096
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        try:
            png.write({str(target)!r})
        except OSError as error:
            print(error.errno, error.filename)
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert out.split() == [str(errno.EFBIG), str(target)]
    assert target.read_bytes() == b"previous image"
    assert [p.name for p in tmp_path.iterdir()] == ["keep.png"]
