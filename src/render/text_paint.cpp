#include "render/text_paint.h"

#include <algorithm>
#include <cmath>

#include "agg_conv_curve.h"
#include "agg_bounding_rect.h"
#include "agg_conv_transform.h"
#include "agg_trans_affine.h"
#include "base/saturate.h"
#include "render/embedded_font.h"

namespace cmx::render {

namespace {

constexpr float kPxPerPt = 1.3333334f;
constexpr double kItalicSlant = 0.21;
constexpr double kBoldShiftPx = 0.35;

// Appends outline steps to a path; a move right after a move replaces it.
class PathSink final : public GlyphOutlineSink {
 public:
  explicit PathSink(agg::path_storage& path) : path_(path) {}
  void move_to(float x, float y) override {
    if (last_move_) {
      path_.modify_vertex(path_.total_vertices() - 1, x, y);
    } else {
      path_.move_to(x, y);
      ++steps_;
    }
    last_move_ = true;
  }
  void line_to(float x, float y) override { draw(), path_.line_to(x, y); }
  void quad_to(float cx, float cy, float x, float y) override { draw(), path_.curve3(cx, cy, x, y); }
  void cubic_to(float c1x, float c1y, float c2x, float c2y, float x, float y) override {
    draw(), path_.curve4(c1x, c1y, c2x, c2y, x, y);
  }
  void close() override {
    if (steps_ == 0) return;
    path_.close_polygon();
    ++steps_;
    last_move_ = false;
  }
  size_t steps() const { return steps_; }

 private:
  void draw() {
    ++steps_;
    last_move_ = false;
  }
  agg::path_storage& path_;
  size_t steps_ = 0;
  bool last_move_ = false;
};

// Fills the rectangle when it is valid; an invalid one is skipped silently.
void fill_box(Rasterizer& ras, const Target& t, double left, double top, double right, double bottom,
              agg::rgba8 color) {
  if (!valid_box(left, top, right, bottom)) return;
  agg::path_storage p = rect_path(left - t.x, top - t.y, right - t.x, bottom - t.y);
  fill_source(ras, t, p, color);
}

double line_thickness(double t, double s) {
  const double v = t * s;
  return std::isnan(v) ? 0.5 : std::max(v, 0.5);
}

}  // namespace

const agg::path_storage* GlyphCache::outline(uint32_t glyph) {
  auto [it, inserted] = entries_.try_emplace(glyph);
  if (inserted) {
    PathSink sink(it->second.path);
    glyph_outline(glyph, sink);
    double x1, y1, x2, y2;
    const bool bounded =
        agg::bounding_rect_single(it->second.path, 0, &x1, &y1, &x2, &y2) && std::isfinite(x1) && std::isfinite(x2) &&
        std::isfinite(y1) && std::isfinite(y2);
    it->second.drawable = sink.steps() >= 2 && bounded;
  }
  return it->second.drawable ? &it->second.path : nullptr;
}

void paint_text(Rasterizer& ras, Image& image, GlyphCache& glyphs, const Text& text, agg::rgba8 color,
                std::optional<agg::rgba8> background) {
  const Rect& clip = text.clip;
  if (!(clip.width > 0) || !(clip.height > 0)) return;
  const FaceMetrics& face = embedded_face_metrics();
  const float size_px = text.size * kPxPerPt;
  const double s = static_cast<double>(size_px / static_cast<float>(face.units_per_em));
  std::vector<ShapedGlyph> run = shape_text(text.text.view());
  int64_t advance_units = 0;
  for (const ShapedGlyph& g : run) advance_units += g.x_advance;
  const double w = s * static_cast<double>(advance_units);
  const double x = text.x;
  const double y = text.y;
  const double x0 = text.align == TextAlign::Left ? x : text.align == TextAlign::Right ? x - w : x - 0.5 * w;
  const double box_top = y - face.ascender * s;
  const double box_bottom = y - face.descender * s;

  Target target = whole_image(image);
  const bool fits = x0 >= clip.x && x0 + w <= double{clip.x} + clip.width && box_top >= clip.y &&
                    box_bottom <= double{clip.y} + clip.height;
  if (!fits) {
    // The clip's pixel bounds, rounded outwards, and only where they meet
    // the image: a tall merged cell costs no more than what is shown.
    const double lx = std::floor(double{clip.x});
    const double ly = std::floor(double{clip.y});
    const double rx = std::ceil(double{clip.x} + clip.width);
    const double by = std::ceil(double{clip.y} + clip.height);
    const int left = saturate_cast<int>(std::max(lx, 0.0));
    const int top = saturate_cast<int>(std::max(ly, 0.0));
    const int right = saturate_cast<int>(std::min(rx, static_cast<double>(image.width)));
    const int bottom = saturate_cast<int>(std::min(by, static_cast<double>(image.height)));
    if (!(left < right) || !(top < bottom)) return;
    target = Target{&image, left, top, right - left, bottom - top, nullptr};
  }

  if (background) fill_box(ras, target, x0 - 2, box_top - 1, x0 + w + 2, box_bottom + 1, *background);

  const double k = text.italic ? kItalicSlant * s : 0;
  double pen = x0;
  for (const ShapedGlyph& g : run) {
    if (const agg::path_storage* outline = glyphs.outline(g.glyph)) {
      const double tx = pen + g.x_offset * s - target.x;
      const double ty = y - g.y_offset * s - target.y;
      agg::path_storage& path = const_cast<agg::path_storage&>(*outline);
      agg::trans_affine mtx(s, 0, k, -s, tx, ty);
      agg::conv_transform<agg::path_storage> placed(path, mtx);
      agg::conv_curve<agg::conv_transform<agg::path_storage>> curve(placed);
      fill_source(ras, target, curve, color);
      if (text.bold) {
        mtx.translate(kBoldShiftPx, 0);
        fill_source(ras, target, curve, color);
      }
    }
    pen += g.x_advance * s;
  }
  if (!(w > 0)) return;

  const double upem = face.units_per_em;
  const LineMetric underline = face.underline.value_or(
      LineMetric{static_cast<int32_t>(-0.1 * upem), static_cast<int32_t>(0.05 * upem)});
  const LineMetric strike = face.strike.value_or(
      LineMetric{static_cast<int32_t>(0.26 * upem), static_cast<int32_t>(0.05 * upem)});
  auto decoration = [&](const LineMetric& m) {
    const double t = line_thickness(m.thickness, s);
    const double top = y - m.position * s - t / 2;
    fill_box(ras, target, x0, top, x0 + w, top + t, color);
  };
  if (text.underline) decoration(underline);
  if (text.strike) decoration(strike);
  if (text.dashed_underline) {
    const double t = line_thickness(underline.thickness, s);
    const double top = y - underline.position * s - t / 2;
    const double dash = std::max(2 * t, 3.0);
    const double gap = std::max(t, 2.0);
    for (double at = x0; at < x0 + w; at += dash + gap) {
      fill_box(ras, target, at, top, at + std::min(dash, x0 + w - at), top + t, color);
    }
  }
}

}  // namespace cmx::render
