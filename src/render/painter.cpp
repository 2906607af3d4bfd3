#include "render/painter.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "agg_conv_curve.h"
#include "agg_conv_dash.h"
#include "agg_conv_stroke.h"
#include "agg_pixfmt_gray.h"
#include "base/saturate.h"
#include "render/png_encoder.h"
#include "render/raster.h"
#include "render/text_paint.h"

namespace cmx::render {

namespace {

constexpr double kMiterLimit = 4;

std::string bad_color(std::string_view text) { return "bad color: " + std::string(text); }

std::optional<int> hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

// Two digits at `at`; a leading plus sign before one digit reads as that digit.
Result<uint8_t, std::string> parse_hex_pair(std::string_view digits, size_t at, std::string_view whole) {
  const char first = digits[at];
  const char second = digits[at + 1];
  std::optional<int> low = hex_digit(second);
  if (!low) return unexpected(bad_color(whole));
  if (first == '+') return static_cast<uint8_t>(*low);
  std::optional<int> high = hex_digit(first);
  if (!high) return unexpected(bad_color(whole));
  return static_cast<uint8_t>(*high * 16 + *low);
}

agg::rgba8 premultiplied(const ColorBytes& c) {
  agg::rgba8 out(c[0], c[1], c[2], c[3]);
  out.premultiply();
  return out;
}

Result<agg::rgba8, std::string> paint_color(const SharedString& text) {
  CMX_ASSIGN_OR_RETURN(ColorBytes bytes, parse_color_text(text.view()));
  return premultiplied(bytes);
}

struct DashPattern {
  double on;
  double off;
};

// Style texts count only when they are exactly one of the three words.
enum class LineStyle { Solid, Dashed, Dotted, Double };
LineStyle line_style(const std::optional<SharedString>& style) {
  if (!style) return LineStyle::Solid;
  const std::string_view s = style->view();
  if (s == "dashed") return LineStyle::Dashed;
  if (s == "dotted") return LineStyle::Dotted;
  if (s == "double") return LineStyle::Double;
  return LineStyle::Solid;
}

// Cuts the segment to `box` (Liang–Barsky); false when nothing is left.
// `t0` is how far along the original segment the kept part starts (0..1).
bool clip_segment(double& x1, double& y1, double& x2, double& y2, double lo_x, double lo_y, double hi_x,
                  double hi_y, double& t0) {
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  double a = 0, b = 1;
  auto edge = [&](double p, double q) {
    if (p == 0) return q >= 0;
    const double r = q / p;
    if (p < 0) {
      if (r > b) return false;
      a = std::max(a, r);
    } else {
      if (r < a) return false;
      b = std::min(b, r);
    }
    return true;
  };
  if (!edge(-dx, x1 - lo_x) || !edge(dx, hi_x - x1) || !edge(-dy, y1 - lo_y) || !edge(dy, hi_y - y1)) return false;
  const double nx1 = x1 + a * dx, ny1 = y1 + a * dy;
  x2 = x1 + b * dx;
  y2 = y1 + b * dy;
  x1 = nx1;
  y1 = ny1;
  t0 = a;
  return true;
}

class Painter {
 public:
  explicit Painter(Image& image) : image_(image) {}

  Result<void, std::string> paint(const DrawCommand& command) {
    return std::visit([&](const auto& c) { return paint_one(c); }, command);
  }

 private:
  Result<void, std::string> paint_one(const FillRect& c) {
    const double left = c.x, top = c.y, right = double{c.x} + c.width, bottom = double{c.y} + c.height;
    if (!valid_box(left, top, right, bottom)) return unexpected(std::string("invalid fill rectangle"));
    CMX_ASSIGN_OR_RETURN(agg::rgba8 color, paint_color(c.color));
    CMX_ASSIGN_OR_RETURN(std::optional<Target> target, clip_target(c.clip));
    if (!target) return {};
    agg::path_storage p = rect_path(left - target->x, top - target->y, right - target->x, bottom - target->y);
    fill_source(ras_, *target, p, color);
    return {};
  }

  Result<void, std::string> paint_one(const Line& c) {
    CMX_ASSIGN_OR_RETURN(std::optional<Target> target, clip_target(c.clip));
    if (!target) return {};
    CMX_ASSIGN_OR_RETURN(agg::rgba8 color, paint_color(c.color));
    const double x1 = double{c.x1} - target->x, y1 = double{c.y1} - target->y;
    const double x2 = double{c.x2} - target->x, y2 = double{c.y2} - target->y;
    const double w = c.width;
    switch (line_style(c.style)) {
      case LineStyle::Double: {
        const double e = std::max(0.8 * w, 0.8);
        const double w2 = std::max(0.6 * w, 0.5);
        const bool across = std::abs(x1 - x2) >= std::abs(y1 - y2);
        const double ox = across ? 0 : e, oy = across ? e : 0;
        stroke_segment(*target, color, std::nullopt, x1 - ox, y1 - oy, x2 - ox, y2 - oy, w2);
        stroke_segment(*target, color, std::nullopt, x1 + ox, y1 + oy, x2 + ox, y2 + oy, w2);
        break;
      }
      case LineStyle::Dashed: stroke_segment(*target, color, DashPattern{4, 2}, x1, y1, x2, y2, w); break;
      case LineStyle::Dotted: stroke_segment(*target, color, DashPattern{1, 2}, x1, y1, x2, y2, w); break;
      case LineStyle::Solid: stroke_segment(*target, color, std::nullopt, x1, y1, x2, y2, w); break;
    }
    return {};
  }

  Result<void, std::string> paint_one(const Path& c) {
    CMX_ASSIGN_OR_RETURN(agg::path_storage path, build_path(c.elements));
    CMX_ASSIGN_OR_RETURN(agg::rgba8 fill, paint_color(c.fill));
    std::optional<agg::rgba8> stroke;
    if (c.stroke) {
      CMX_ASSIGN_OR_RETURN(stroke, paint_color(*c.stroke));
    }
    CMX_ASSIGN_OR_RETURN(std::optional<Target> target, clip_target(c.clip));
    if (!target) return {};
    if (target->x != 0 || target->y != 0) {
      path.translate_all_paths(-target->x, -target->y);
    }
    agg::conv_curve<agg::path_storage> curve(path);
    fill_source(ras_, *target, curve, fill);
    if (stroke) {
      agg::conv_stroke<agg::conv_curve<agg::path_storage>> outline(curve);
      set_stroke(outline, c.stroke_width);
      fill_source(ras_, *target, outline, *stroke);
    }
    return {};
  }

  Result<void, std::string> paint_one(const Text& c) {
    CMX_ASSIGN_OR_RETURN(agg::rgba8 color, paint_color(c.color));
    std::optional<agg::rgba8> background;
    if (c.background) {
      CMX_ASSIGN_OR_RETURN(background, paint_color(*c.background));
    }
    paint_text(ras_, image_, glyphs_, c, color, background);
    return {};
  }

  template <typename Stroke>
  static void set_stroke(Stroke& s, double width) {
    s.width(width);
    s.line_cap(agg::butt_cap);
    s.line_join(agg::miter_join);
    s.miter_limit(kMiterLimit);
  }

  void stroke_segment(const Target& t, agg::rgba8 color, std::optional<DashPattern> dash, double x1, double y1,
                      double x2, double y2, double width) {
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) return;
    // Only the part near the target is stroked, so that a long dashed line
    // costs what it shows; the dash phase carries over the cut.
    const double margin = std::abs(width) + 2;
    const double length = std::hypot(x2 - x1, y2 - y1);
    double t0 = 0;
    if (!clip_segment(x1, y1, x2, y2, -margin, -margin, t.width + margin, t.height + margin, t0)) return;
    agg::path_storage p;
    p.move_to(x1, y1);
    p.line_to(x2, y2);
    if (dash) {
      agg::conv_dash<agg::path_storage> dashed(p);
      dashed.add_dash(dash->on, dash->off);
      dashed.dash_start(std::fmod(t0 * length, dash->on + dash->off));
      agg::conv_stroke<agg::conv_dash<agg::path_storage>> s(dashed);
      set_stroke(s, width);
      fill_source(ras_, t, s, color);
    } else {
      agg::conv_stroke<agg::path_storage> s(p);
      set_stroke(s, width);
      fill_source(ras_, t, s, color);
    }
  }

  static Result<agg::path_storage, std::string> build_path(const std::vector<PathElement>& elements) {
    agg::path_storage path;
    size_t steps = 0;
    bool open = false;
    bool last_move = false;
    bool last_close = false;
    double mx = 0, my = 0;
    auto narrow = [](double v, double& out) {
      const float f = static_cast<float>(v);
      out = f;
      return std::isfinite(f);
    };
    auto start_figure = [&] {
      if (!open) {
        path.move_to(mx, my);
        ++steps;
        open = true;
      }
    };
    for (const PathElement& e : elements) {
      double x1, y1, x2, y2, x, y;
      if (!narrow(e.x1, x1) || !narrow(e.y1, y1) || !narrow(e.x2, x2) || !narrow(e.y2, y2) || !narrow(e.x, x) ||
          !narrow(e.y, y)) {
        if (e.op != PathOp::Close) return unexpected(std::string("path contains a non-finite coordinate"));
      }
      switch (e.op) {
        case PathOp::MoveTo:
          if (last_move) {
            path.modify_vertex(path.total_vertices() - 1, x, y);
          } else {
            path.move_to(x, y);
            ++steps;
          }
          mx = x, my = y;
          open = true;
          last_move = true;
          last_close = false;
          continue;
        case PathOp::LineTo: start_figure(); path.line_to(x, y); break;
        case PathOp::QuadTo: start_figure(); path.curve3(x1, y1, x, y); break;
        case PathOp::CubicTo: start_figure(); path.curve4(x1, y1, x2, y2, x, y); break;
        case PathOp::Close:
          if (steps == 0 || last_close) continue;
          path.close_polygon();
          ++steps;
          open = false;
          last_move = false;
          last_close = true;
          continue;
      }
      ++steps;
      last_move = false;
      last_close = false;
    }
    if (steps < 2) return unexpected(std::string("path has no drawable commands"));
    return path;
  }

  // The target of a command with this clip: the whole image without one;
  // none when the clip has no area inside the image.
  Result<std::optional<Target>, std::string> clip_target(const std::optional<Rect>& clip) {
    if (!clip) return std::optional<Target>(whole_image(image_));
    auto max_nan = [](float a, float b) { return std::isnan(a) ? b : std::isnan(b) ? a : std::max(a, b); };
    auto min_nan = [](float a, float b) { return std::isnan(a) ? b : std::isnan(b) ? a : std::min(a, b); };
    const float left = max_nan(clip->x, 0);
    const float top = max_nan(clip->y, 0);
    const float right = min_nan(clip->x + clip->width, static_cast<float>(image_.width));
    const float bottom = min_nan(clip->y + clip->height, static_cast<float>(image_.height));
    if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right) || !std::isfinite(bottom) ||
        !(left < right) || !(top < bottom)) {
      return std::optional<Target>();
    }
    const Rect r{left, top, right - left, bottom - top};
    if (!cached_clip_ || !(*cached_clip_ == r)) {
      const int ox = saturate_cast<int>(std::floor(left));
      const int oy = saturate_cast<int>(std::floor(top));
      const int mw = saturate_cast<int>(std::ceil(right)) - ox;
      const int mh = saturate_cast<int>(std::ceil(bottom)) - oy;
      if (mw <= 0 || mh <= 0) return unexpected(std::string("invalid clip mask size"));
      mask_.assign(static_cast<size_t>(mw) * mh, 0);
      agg::rendering_buffer buf(mask_.data(), mw, mh, mw);
      agg::pixfmt_gray8 pixf(buf);
      agg::renderer_base<agg::pixfmt_gray8> ren(pixf);
      agg::path_storage p = rect_path(left - ox, top - oy, right - ox, bottom - oy);
      ras_.ras.reset();
      ras_.ras.clip_box(0, 0, mw, mh);
      ras_.ras.filling_rule(agg::fill_non_zero);
      ras_.ras.add_path(p);
      agg::render_scanlines_aa_solid(ras_.ras, ras_.sl, ren, agg::gray8(255));
      cached_clip_ = r;
      clip_target_ = Target{&image_, ox, oy, mw, mh, &mask_};
    }
    return std::optional<Target>(clip_target_);
  }

  Image& image_;
  Rasterizer ras_;
  GlyphCache glyphs_;
  // The mask of the last clip rectangle: the commands of one clip share it.
  std::optional<Rect> cached_clip_;
  std::vector<uint8_t> mask_;
  Target clip_target_;
};

uint32_t image_size(float size) {
  const double c = std::ceil(static_cast<double>(size));
  return std::max<uint32_t>(1, saturate_cast<uint32_t>(c));
}

}  // namespace

Result<ColorBytes, std::string> parse_color_text(std::string_view text) {
  if (text.empty() || text[0] != '#' || (text.size() != 7 && text.size() != 9)) {
    return unexpected(bad_color(text));
  }
  const std::string_view digits = text.substr(1);
  ColorBytes out{0, 0, 0, 255};
  for (size_t i = 0; i * 2 < digits.size(); ++i) {
    CMX_ASSIGN_OR_RETURN(out[i], parse_hex_pair(digits, i * 2, text));
  }
  return out;
}

Result<RgbaImage, std::string> rasterize(const DisplayList& list) {
  Image image;
  image.width = image_size(list.width);
  image.height = image_size(list.height);
  const uint64_t bytes = uint64_t{image.width} * image.height * 4;
  if (bytes > (uint64_t{1} << 34)) return unexpected(std::string("invalid pixmap size"));
  image.pixels.assign(bytes, 255);
  Painter painter(image);
  for (const DrawCommand& command : list.commands) {
    CMX_TRY(painter.paint(command));
  }
  // Back to straight alpha; every pixel is opaque in practice, so this rarely
  // changes a byte.
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    const unsigned a = image.pixels[i + 3];
    if (a == 255) continue;
    for (size_t k = 0; k < 3; ++k) {
      image.pixels[i + k] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (image.pixels[i + k] * 255u + a / 2) / a));
    }
  }
  return RgbaImage{image.width, image.height, std::move(image.pixels)};
}

Result<std::string, std::string> rasterize_to_png(const DisplayList& list) {
  CMX_ASSIGN_OR_RETURN(RgbaImage image, rasterize(list));
  return encode_png(image.pixels, image.width, image.height);
}

}  // namespace cmx::render
