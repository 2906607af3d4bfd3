#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <limits>

#include "render/embedded_font.h"
#include "render/painter.h"
#include "render/png_encoder.h"
#include "render/viewport.h"
#include "render_test_util.h"

namespace cmx::render {
namespace {

using testing::is_white;
using testing::list_of;
using testing::paint;
using testing::pixel;
using Px = std::array<uint8_t, 4>;

Result<RgbaImage, std::string> try_paint(std::vector<DrawCommand> commands, float w = 20, float h = 20) {
  return rasterize(list_of(w, h, std::move(commands)));
}

FillRect fill(float x, float y, float w, float h, const char* color, std::optional<Rect> clip = std::nullopt) {
  return FillRect{x, y, w, h, clip, SharedString(color)};
}

TEST(Painter, ImageSizeIsTheCeilingAndAtLeastOnePixel) {
  struct Case {
    const char* name;
    float w, h;
    uint32_t iw, ih;
  } cases[] = {
      {"fraction", 0.2f, 0.2f, 1, 1},
      {"ceil", 10.5f, 3, 11, 3},
      {"negative", -4, 2, 1, 2},
      {"nan", std::nanf(""), 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RgbaImage image = paint(list_of(c.w, c.h, {}));
    EXPECT_EQ(image.width, c.iw);
    EXPECT_EQ(image.height, c.ih);
    for (uint32_t y = 0; y < image.height; ++y) {
      for (uint32_t x = 0; x < image.width; ++x) EXPECT_TRUE(is_white(image, x, y));
    }
  }
}

TEST(Painter, ColourTexts) {
  struct Case {
    const char* name;
    const char* text;
    std::optional<ColorBytes> bytes;
  } cases[] = {
      {"lower", "#ff8000", ColorBytes{255, 128, 0, 255}},
      {"upper", "#FF8000", ColorBytes{255, 128, 0, 255}},
      {"alpha", "#ff000080", ColorBytes{255, 0, 0, 128}},
      {"plus_digit", "#+f0000", ColorBytes{15, 0, 0, 255}},
      {"no_hash", "ff0000", std::nullopt},
      {"three", "#fff", std::nullopt},
      {"five", "#12345", std::nullopt},
      {"seven", "#1234567", std::nullopt},
      {"not_hex", "#gg0000", std::nullopt},
      {"plus_plus", "#++0000", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = parse_color_text(c.text);
    if (c.bytes) {
      ASSERT_TRUE(parsed.has_value());
      EXPECT_EQ(*parsed, *c.bytes);
    } else {
      ASSERT_FALSE(parsed.has_value());
      EXPECT_EQ(parsed.error(), std::string("bad color: ") + c.text);
    }
  }
}

TEST(Painter, FillsCoverWholePixelsExactly) {
  RgbaImage image = paint(list_of(20, 20, {fill(2, 3, 5, 4, "#336699"), fill(10, 10, 4, 4, "#FF000080")}));
  EXPECT_EQ(pixel(image, 2, 3), (Px{0x33, 0x66, 0x99, 255}));
  EXPECT_EQ(pixel(image, 6, 6), (Px{0x33, 0x66, 0x99, 255}));
  EXPECT_TRUE(is_white(image, 7, 6));
  EXPECT_TRUE(is_white(image, 2, 7));
  // Half-transparent red over white: half-tinted, still opaque.
  const Px tinted = pixel(image, 11, 11);
  EXPECT_EQ(tinted[0], 255);
  EXPECT_NEAR(tinted[1], 127, 1);
  EXPECT_NEAR(tinted[2], 127, 1);
  EXPECT_EQ(tinted[3], 255);
}

TEST(Painter, FailuresAndWhatIsNotAFailure) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    DrawCommand command;
    std::optional<std::string> error;
  } cases[] = {
      {"zero_width", fill(1, 1, 0, 5, "#000000"), std::nullopt},
      {"negative_width", fill(1, 1, -1, 5, "#000000"), "invalid fill rectangle"},
      {"infinite", fill(inf, 1, 1, 5, "#000000"), "invalid fill rectangle"},
      {"clip_outside_bad_colour", fill(1, 1, 2, 2, "#12", Rect{100, 100, 5, 5}), "bad color: #12"},
      {"line_clip_outside_bad_colour", Line{0, 0, 5, 5, 1, Rect{100, 100, 5, 5}, std::nullopt, SharedString("#12")},
       std::nullopt},
      {"line_bad_colour", Line{0, 0, 5, 5, 1, std::nullopt, std::nullopt, SharedString("red")}, "bad color: red"},
      {"line_not_finite", Line{0, 0, inf, 5, 1, std::nullopt, std::nullopt, SharedString("#000000")}, std::nullopt},
      {"path_one_move", Path{std::nullopt, SharedString("#000000"), std::nullopt, 0, {PathElement{PathOp::MoveTo}}},
       "path has no drawable commands"},
      {"path_only_closes",
       Path{std::nullopt, SharedString("#000000"), std::nullopt, 0, {{PathOp::Close}, {PathOp::Close}}},
       "path has no drawable commands"},
      {"path_beyond_float",
       Path{std::nullopt, SharedString("#000000"), std::nullopt, 0,
            {PathElement{PathOp::MoveTo}, PathElement{PathOp::LineTo, 0, 0, 0, 0, 1e39, 1}}},
       "path contains a non-finite coordinate"},
      {"path_bad_stroke",
       Path{std::nullopt, SharedString("#000000"), SharedString("#0000"), 1,
            {PathElement{PathOp::LineTo, 0, 0, 0, 0, 5, 5}}},
       "bad color: #0000"},
      {"text_empty_clip_bad_colour", Text{.clip = Rect{0, 0, 0, 10}, .text = "x", .color = "#zzzzzz"},
       "bad color: #zzzzzz"},
      {"text_bad_background",
       Text{.clip = Rect{0, 0, 10, 10}, .background = SharedString("#1"), .text = "x", .color = "#000000"},
       "bad color: #1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = try_paint({c.command});
    if (c.error) {
      ASSERT_FALSE(image.has_value());
      EXPECT_EQ(image.error(), *c.error);
    } else {
      EXPECT_TRUE(image.has_value());
    }
  }
  // The first failure ends the painting.
  auto image = try_paint({fill(0, 0, 1, 1, "#1"), fill(0, 0, -1, 1, "#000000")});
  ASSERT_FALSE(image.has_value());
  EXPECT_EQ(image.error(), "bad color: #1");
}

TEST(Painter, ClipsCutOnTheirRectangle) {
  // Two commands through one clip: both land, the second over the first.
  RgbaImage image = paint(list_of(20, 20, {fill(0, 0, 20, 20, "#ff0000", Rect{5, 5, 10, 10}),
                                           fill(0, 0, 8, 20, "#0000ff", Rect{5, 5, 10, 10})}));
  EXPECT_TRUE(is_white(image, 4, 10));
  EXPECT_TRUE(is_white(image, 15, 10));
  EXPECT_TRUE(is_white(image, 10, 4));
  EXPECT_EQ(pixel(image, 6, 10), (Px{0, 0, 255, 255}));
  EXPECT_EQ(pixel(image, 9, 10), (Px{255, 0, 0, 255}));
  // A fractional clip edge covers its pixel partly.
  RgbaImage half = paint(list_of(10, 10, {fill(0, 0, 10, 10, "#000000", Rect{0, 0, 4.5f, 10})}));
  EXPECT_EQ(pixel(half, 3, 5), (Px{0, 0, 0, 255}));
  EXPECT_NEAR(pixel(half, 4, 5)[0], 128, 2);
  EXPECT_TRUE(is_white(half, 5, 5));
}

TEST(Painter, DashPatternsStayInImagePixels) {
  for (float scale : {1.0f, 2.0f}) {
    SCOPED_TRACE(scale);
    // Scaled, the stroke covers rows 10 and 11 fully at scale 2.
    // A 1-pixel line on whole pixel rows, dotted: 1 on, 2 off, from x = 0.
    DisplayList list = list_of(12, 12, {Line{0, 5.5f, 10, 5.5f, 1, std::nullopt, SharedString("dotted"),
                                             SharedString("#000000")}});
    RgbaImage image = paint(scale_display_list(std::move(list), scale));
    const uint32_t row = static_cast<uint32_t>(5 * scale);
    const uint32_t end = static_cast<uint32_t>(10 * scale);
    for (uint32_t x = 0; x < end; ++x) {
      SCOPED_TRACE(x);
      if (x % 3 == 0) {
        EXPECT_EQ(pixel(image, x, row), (Px{0, 0, 0, 255}));
      } else {
        EXPECT_TRUE(is_white(image, x, row));
      }
    }
  }
  RgbaImage dashed = paint(list_of(12, 4, {Line{0, 1.5f, 12, 1.5f, 1, std::nullopt, SharedString("dashed"),
                                                SharedString("#000000")}}));
  const bool on[12] = {1, 1, 1, 1, 0, 0, 1, 1, 1, 1, 0, 0};
  for (uint32_t x = 0; x < 12; ++x) EXPECT_EQ(!is_white(dashed, x, 1), on[x]) << x;
}

TEST(Painter, DoubleAndUnknownLineStyles) {
  // Vertical, width 3: two strokes 1.8 wide centred 2.4 left and right.
  RgbaImage image = paint(list_of(20, 10, {Line{10, 0, 10, 10, 3, std::nullopt, SharedString("double"),
                                                SharedString("#000000")}}));
  EXPECT_EQ(pixel(image, 7, 5), (Px{0, 0, 0, 255}));
  EXPECT_EQ(pixel(image, 12, 5), (Px{0, 0, 0, 255}));
  EXPECT_TRUE(is_white(image, 10, 5));
  EXPECT_TRUE(is_white(image, 5, 5));
  EXPECT_TRUE(is_white(image, 14, 5));
  for (const char* style : {"Dashed", "solid", "dotted "}) {
    SCOPED_TRACE(style);
    RgbaImage solid = paint(list_of(12, 4, {Line{0, 1.5f, 12, 1.5f, 1, std::nullopt, SharedString(style),
                                                 SharedString("#000000")}}));
    for (uint32_t x = 0; x < 12; ++x) EXPECT_EQ(pixel(solid, x, 1), (Px{0, 0, 0, 255}));
  }
}

TEST(Painter, PathsFillAndStroke) {
  // A lone LineTo starts at the origin; stroked, it paints.
  RgbaImage line = paint(list_of(10, 10, {Path{std::nullopt, SharedString("#ffffff"), SharedString("#000000"), 2,
                                                {PathElement{PathOp::LineTo, 0, 0, 0, 0, 9, 9}}}}));
  EXPECT_FALSE(is_white(line, 4, 4));
  // A closed square fills its whole pixels.
  RgbaImage square = paint(list_of(10, 10, {Path{std::nullopt, SharedString("#00ff00"), std::nullopt, 0,
                                                  {PathElement{PathOp::MoveTo, 0, 0, 0, 0, 2, 2},
                                                   PathElement{PathOp::LineTo, 0, 0, 0, 0, 6, 2},
                                                   PathElement{PathOp::LineTo, 0, 0, 0, 0, 6, 6},
                                                   PathElement{PathOp::LineTo, 0, 0, 0, 0, 2, 6},
                                                   PathElement{PathOp::Close}}}}));
  EXPECT_EQ(pixel(square, 3, 3), (Px{0, 255, 0, 255}));
  EXPECT_TRUE(is_white(square, 7, 3));
}

TEST(EmbeddedFace, Metrics) {
  EXPECT_EQ(embedded_font_data().size(), 628032u);
  const FaceMetrics& m = embedded_face_metrics();
  EXPECT_EQ(m.units_per_em, 2048);
  EXPECT_EQ(m.ascender, 1950);
  EXPECT_EQ(m.descender, -550);
  ASSERT_TRUE(m.underline && m.strike);
  EXPECT_EQ(m.underline->position, -103);
  EXPECT_EQ(m.underline->thickness, 194);
  EXPECT_EQ(m.strike->position, 512);
  EXPECT_EQ(m.strike->thickness, 134);
  // A character outside the cmap shapes to glyph 0 with its advance.
  std::vector<ShapedGlyph> emoji = shape_text("\xF0\x9F\x98\x80");
  ASSERT_EQ(emoji.size(), 1u);
  EXPECT_EQ(emoji[0].glyph, 0u);
  EXPECT_EQ(emoji[0].x_advance, 1038);
}

// The columns that hold ink in rows [top, bottom).
std::pair<int, int> ink_columns(const RgbaImage& image, uint32_t top, uint32_t bottom) {
  int first = -1, last = -1;
  for (uint32_t x = 0; x < image.width; ++x) {
    for (uint32_t y = top; y < bottom; ++y) {
      if (!is_white(image, x, y)) {
        if (first < 0) first = static_cast<int>(x);
        last = static_cast<int>(x);
      }
    }
  }
  return {first, last};
}

double run_width_px(std::string_view text, float size_pt) {
  int64_t units = 0;
  for (const ShapedGlyph& g : shape_text(text)) units += g.x_advance;
  return units * (size_pt * 1.3333334f / 2048.0);
}

TEST(TextPaint, AlignmentPlacesTheRun) {
  const double w = run_width_px("HHHH", 11);
  ASSERT_GT(w, 20);
  struct Case {
    const char* name;
    TextAlign align;
    double start;
  } cases[] = {
      {"left", TextAlign::Left, 50},
      {"center", TextAlign::Center, 50 - w / 2},
      {"right", TextAlign::Right, 50 - w},
      {"other_byte_centres", static_cast<TextAlign>(7), 50 - w / 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text t{.align = c.align, .x = 50, .y = 20, .clip = Rect{0, 0, 100, 30}, .text = "HHHH", .color = "#000000"};
    RgbaImage image = paint(list_of(100, 30, {t}));
    auto [first, last] = ink_columns(image, 0, 30);
    // H's side bearings keep ink a little inside the advance box.
    EXPECT_GE(first, static_cast<int>(std::floor(c.start)));
    EXPECT_LE(first, static_cast<int>(c.start) + 3);
    EXPECT_LE(last, static_cast<int>(std::ceil(c.start + w)));
    EXPECT_GE(last, static_cast<int>(c.start + w) - 3);
  }
}

TEST(TextPaint, ClipAndDecorations) {
  Text base{.x = 2, .y = 20, .clip = Rect{0, 0, 100, 30}, .text = "Wide text here", .color = "#000000"};
  // Crossing the clip's right edge cuts the run at its pixel bound.
  Text cut = base;
  cut.clip = Rect{0, 0, 30.5f, 30};
  RgbaImage clipped = paint(list_of(100, 30, {cut}));
  EXPECT_LE(ink_columns(clipped, 0, 30).second, 30);
  EXPECT_GT(ink_columns(clipped, 0, 30).second, 25);
  // A zero-width clip paints nothing.
  Text none = base;
  none.clip.width = 0;
  EXPECT_EQ(ink_columns(paint(list_of(100, 30, {none})), 0, 30).first, -1);
  // An empty text with a background paints its 4-pixel box only.
  Text empty = base;
  empty.text = "";
  empty.x = 50;
  empty.background = SharedString("#ff0000");
  empty.underline = true;
  RgbaImage box = paint(list_of(100, 30, {empty}));
  EXPECT_EQ(pixel(box, 49, 15), (Px{255, 0, 0, 255}));
  EXPECT_EQ(pixel(box, 50, 15), (Px{255, 0, 0, 255}));
  EXPECT_TRUE(is_white(box, 53, 15));
  EXPECT_TRUE(is_white(box, 46, 15));
  // The underline runs the whole run width below the baseline; ink of the
  // glyphs leaves gaps there without it.
  Text under = base;
  under.text = "a a";
  under.underline = true;
  RgbaImage underlined = paint(list_of(100, 30, {under}));
  const double w = run_width_px("a a", 11);
  for (int x = 3; x < static_cast<int>(w); ++x) EXPECT_FALSE(is_white(underlined, x, 20)) << x;
  Text plain = base;
  plain.text = "a a";
  RgbaImage without = paint(list_of(100, 30, {plain}));
  EXPECT_TRUE(is_white(without, static_cast<uint32_t>(2 + w / 2), 21));
}

TEST(TextPaint, BoldThickensByAFixedAmount) {
  auto ink = [](const RgbaImage& image) {
    double sum = 0;
    for (size_t i = 0; i < image.pixels.size(); i += 4) sum += 255 - image.pixels[i];
    return sum / 255;
  };
  auto ink_rows = [](const RgbaImage& image) {
    int rows = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
      bool any = false;
      for (uint32_t x = 0; x < image.width; ++x) any = any || !is_white(image, x, y);
      rows += any;
    }
    return rows;
  };
  // The bold copy moves 0.35 pixel right: a stem gains a fraction of a pixel
  // of ink per row (its anti-aliased edges darken twice), the same at 11
  // points as at 44; a shift that grew with the size would gain 4 times more.
  std::vector<double> gains;
  for (float size : {11.0f, 44.0f}) {
    SCOPED_TRACE(size);
    Text regular{.x = 2, .y = 1.5f * size, .size = size, .clip = Rect{0, 0, 200, 100}, .text = "l", .color = "#000000"};
    Text bold = regular;
    bold.bold = true;
    const RgbaImage plain = paint(list_of(200, 100, {regular}));
    const double extra = ink(paint(list_of(200, 100, {bold}))) - ink(plain);
    gains.push_back(extra / ink_rows(plain));
    EXPECT_GT(gains.back(), 0.3);
    EXPECT_LT(gains.back(), 0.8);
  }
  EXPECT_LT(gains[1] / gains[0], 1.5);
}

std::string inflate_all(std::string_view compressed) {
  std::string out(1 << 20, '\0');
  uLongf size = out.size();
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
            Z_OK);
  out.resize(size);
  return out;
}

TEST(PngEncoder, ChunksAndRowFilters) {
  // A uniform image: the first row ties Sub and Paeth (Paeth, later, wins);
  // every later row is zero under Up, which stops the search.
  const uint32_t w = 3, h = 3;
  std::vector<uint8_t> rgba(w * h * 4, 200);
  auto png = encode_png(rgba, w, h);
  ASSERT_TRUE(png.has_value());
  const std::string& bytes = *png;
  ASSERT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  std::vector<std::string> types;
  std::string idat;
  for (size_t at = 8; at < bytes.size();) {
    const uint32_t len = (uint8_t(bytes[at]) << 24) | (uint8_t(bytes[at + 1]) << 16) | (uint8_t(bytes[at + 2]) << 8) |
                         uint8_t(bytes[at + 3]);
    const std::string type = bytes.substr(at + 4, 4);
    types.push_back(type);
    const uint32_t crc = (uint8_t(bytes[at + 8 + len]) << 24) | (uint8_t(bytes[at + 9 + len]) << 16) |
                         (uint8_t(bytes[at + 10 + len]) << 8) | uint8_t(bytes[at + 11 + len]);
    EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + at + 4), len + 4));
    if (type == "IHDR") {
      EXPECT_EQ(bytes.substr(at + 8, 13), std::string("\0\0\0\3\0\0\0\3\x08\x06\0\0\0", 13));
    }
    if (type == "IDAT") idat += bytes.substr(at + 8, len);
    at += 12 + len;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  const std::string raw = inflate_all(idat);
  ASSERT_EQ(raw.size(), (w * 4 + 1) * h);
  EXPECT_EQ(raw[0], 4);
  EXPECT_EQ(raw[w * 4 + 1], 2);
  EXPECT_EQ(raw[2 * (w * 4 + 1)], 2);
}

}  // namespace
}  // namespace cmx::render
