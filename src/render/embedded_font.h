// The one font face every rendered text is drawn with, compiled into the
// program: its bytes, its metrics, shaping a run and reading glyph outlines.
// Read text_paint.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace cmx::render {

// The font file's bytes, as embedded at build time.
std::span<const unsigned char> embedded_font_data();

// In font units.
struct LineMetric {
  int32_t position = 0;
  int32_t thickness = 0;
};

struct FaceMetrics {
  int32_t units_per_em = 0;
  int32_t ascender = 0;
  int32_t descender = 0;  // negative: below the baseline
  std::optional<LineMetric> underline;
  std::optional<LineMetric> strike;
};

// Parsed once per process on first use, then shared read-only.
const FaceMetrics& embedded_face_metrics();

struct ShapedGlyph {
  uint32_t glyph = 0;
  int32_t x_advance = 0;  // font units
  int32_t x_offset = 0;
  int32_t y_offset = 0;
};

// Shapes `text` as one run with the shaper's default features; direction,
// script and language are guessed from the text.
std::vector<ShapedGlyph> shape_text(std::string_view text);

// Receives a glyph outline in font units, y up.
class GlyphOutlineSink {
 public:
  virtual ~GlyphOutlineSink() = default;
  virtual void move_to(float x, float y) = 0;
  virtual void line_to(float x, float y) = 0;
  virtual void quad_to(float cx, float cy, float x, float y) = 0;
  virtual void cubic_to(float c1x, float c1y, float c2x, float c2y, float x, float y) = 0;
  virtual void close() = 0;
};

void glyph_outline(uint32_t glyph, GlyphOutlineSink& sink);

}  // namespace cmx::render
