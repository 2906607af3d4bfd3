// The rasteriser's pieces the painter and the text painter share: an RGBA
// image with premultiplied alpha, a drawing target (the image or a window of
// it seen through a coverage mask) and fills of vertex sources onto it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "agg_alpha_mask_u8.h"
#include "agg_basics.h"
#include "agg_color_rgba.h"
#include "agg_path_storage.h"
#include "agg_pixfmt_amask_adaptor.h"
#include "agg_pixfmt_rgba.h"
#include "agg_rasterizer_scanline_aa.h"
#include "agg_renderer_base.h"
#include "agg_renderer_scanline.h"
#include "agg_rendering_buffer.h"
#include "agg_scanline_u.h"

namespace cmx::render {

using PixFmt = agg::pixfmt_rgba32_pre;
// The rasteriser and its scanline, kept across the fills of one painting so
// that their buffers are allocated once.
struct Rasterizer {
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  agg::scanline_u8 sl;
};

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // rows top to bottom, 4 bytes a pixel
};

// A window of the image: what lies outside it is never touched. Drawing
// coordinates are relative to its top-left corner.
struct Target {
  Image* image = nullptr;
  int x = 0, y = 0, width = 0, height = 0;
  const std::vector<uint8_t>* mask = nullptr;  // width × height coverage, or none
};

inline Target whole_image(Image& image) {
  return Target{&image, 0, 0, static_cast<int>(image.width), static_cast<int>(image.height), nullptr};
}

// Fills `source` with the non-zero rule, anti-aliased, source-over.
template <typename VertexSource>
void fill_source(Rasterizer& raster, const Target& t, VertexSource& source, agg::rgba8 premultiplied) {
  auto& ras = raster.ras;
  auto& sl = raster.sl;
  if (t.width <= 0 || t.height <= 0) return;
  agg::rendering_buffer buf(t.image->pixels.data() + (static_cast<size_t>(t.y) * t.image->width + t.x) * 4,
                            static_cast<unsigned>(t.width), static_cast<unsigned>(t.height),
                            static_cast<int>(t.image->width * 4));
  PixFmt pixf(buf);
  ras.reset();
  // Clipping in doubles before the fixed-point conversion keeps far-away
  // geometry from overflowing.
  ras.clip_box(0, 0, t.width, t.height);
  ras.filling_rule(agg::fill_non_zero);
  ras.add_path(source);
  if (t.mask) {
    agg::rendering_buffer mask_buf(const_cast<uint8_t*>(t.mask->data()), static_cast<unsigned>(t.width),
                                   static_cast<unsigned>(t.height), t.width);
    agg::amask_no_clip_gray8 amask(mask_buf);
    agg::pixfmt_amask_adaptor<PixFmt, agg::amask_no_clip_gray8> masked(pixf, amask);
    agg::renderer_base<decltype(masked)> ren(masked);
    agg::render_scanlines_aa_solid(ras, sl, ren, premultiplied);
  } else {
    agg::renderer_base<PixFmt> ren(pixf);
    agg::render_scanlines_aa_solid(ras, sl, ren, premultiplied);
  }
}

// Finite corners, sides not negative and each within a 32-bit float.
inline bool valid_box(double left, double top, double right, double bottom) {
  constexpr double kMax = 3.4028234663852886e38;  // the largest 32-bit float
  return std::isfinite(left) && std::isfinite(top) && std::isfinite(right) && std::isfinite(bottom) &&
         right >= left && bottom >= top && right - left < kMax && bottom - top < kMax;
}

// The rectangle (left, top)-(right, bottom) as a closed path.
inline agg::path_storage rect_path(double left, double top, double right, double bottom) {
  agg::path_storage p;
  p.move_to(left, top);
  p.line_to(right, top);
  p.line_to(right, bottom);
  p.line_to(left, bottom);
  p.close_polygon();
  return p;
}

}  // namespace cmx::render
