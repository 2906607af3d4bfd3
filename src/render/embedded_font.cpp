#include "render/embedded_font.h"

#include <hb-ot.h>
#include <hb.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace cmx::render {

namespace {

struct Face {
  hb_font_t* font = nullptr;
  FaceMetrics metrics;
};

[[noreturn]] void invalid_font() {
  std::fputs("embedded carlito is a valid font\n", stderr);
  std::abort();
}

std::optional<LineMetric> line_metric(hb_font_t* font, hb_ot_metrics_tag_t position, hb_ot_metrics_tag_t size) {
  hb_position_t p = 0;
  hb_position_t t = 0;
  if (!hb_ot_metrics_get_position(font, position, &p) || !hb_ot_metrics_get_position(font, size, &t)) {
    return std::nullopt;
  }
  return LineMetric{p, t};
}

// Built under the one-time guard of a function-local static; never freed.
const Face& face() {
  static const Face built = [] {
    std::span<const unsigned char> data = embedded_font_data();
    hb_blob_t* blob = hb_blob_create(reinterpret_cast<const char*>(data.data()), static_cast<unsigned>(data.size()),
                                     HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t* hb_face = hb_face_create(blob, 0);
    hb_blob_destroy(blob);
    if (hb_face_get_glyph_count(hb_face) == 0) invalid_font();
    Face out;
    out.font = hb_font_create(hb_face);
    hb_face_destroy(hb_face);
    const int upem = static_cast<int>(hb_face_get_upem(hb_font_get_face(out.font)));
    // Positions in font units: shaping and outlines need no scaling back.
    hb_font_set_scale(out.font, upem, upem);
    hb_font_make_immutable(out.font);
    out.metrics.units_per_em = upem;
    hb_position_t ascender = 0;
    hb_position_t descender = 0;
    if (!hb_ot_metrics_get_position(out.font, HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER, &ascender) ||
        !hb_ot_metrics_get_position(out.font, HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER, &descender)) {
      invalid_font();
    }
    out.metrics.ascender = ascender;
    out.metrics.descender = descender;
    out.metrics.underline = line_metric(out.font, HB_OT_METRICS_TAG_UNDERLINE_OFFSET, HB_OT_METRICS_TAG_UNDERLINE_SIZE);
    out.metrics.strike = line_metric(out.font, HB_OT_METRICS_TAG_STRIKEOUT_OFFSET, HB_OT_METRICS_TAG_STRIKEOUT_SIZE);
    return out;
  }();
  return built;
}

GlyphOutlineSink& sink_of(void* data) { return *static_cast<GlyphOutlineSink*>(data); }

hb_draw_funcs_t* make_draw_funcs() {
  hb_draw_funcs_t* funcs = hb_draw_funcs_create();
  hb_draw_funcs_set_move_to_func(
      funcs, [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float x, float y, void*) { sink_of(d).move_to(x, y); },
      nullptr, nullptr);
  hb_draw_funcs_set_line_to_func(
      funcs, [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float x, float y, void*) { sink_of(d).line_to(x, y); },
      nullptr, nullptr);
  hb_draw_funcs_set_quadratic_to_func(
      funcs,
      [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float cx, float cy, float x, float y, void*) {
        sink_of(d).quad_to(cx, cy, x, y);
      },
      nullptr, nullptr);
  hb_draw_funcs_set_cubic_to_func(
      funcs,
      [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, float c1x, float c1y, float c2x, float c2y, float x, float y,
         void*) { sink_of(d).cubic_to(c1x, c1y, c2x, c2y, x, y); },
      nullptr, nullptr);
  hb_draw_funcs_set_close_path_func(
      funcs, [](hb_draw_funcs_t*, void* d, hb_draw_state_t*, void*) { sink_of(d).close(); }, nullptr, nullptr);
  hb_draw_funcs_make_immutable(funcs);
  return funcs;
}

}  // namespace

const FaceMetrics& embedded_face_metrics() { return face().metrics; }

std::vector<ShapedGlyph> shape_text(std::string_view text) {
  hb_font_t* font = face().font;
  hb_buffer_t* buffer = hb_buffer_create();
  hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()), 0, static_cast<int>(text.size()));
  hb_buffer_guess_segment_properties(buffer);
  hb_shape(font, buffer, nullptr, 0);
  unsigned count = 0;
  const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
  const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer, &count);
  std::vector<ShapedGlyph> out(count);
  for (unsigned i = 0; i < count; ++i) {
    out[i] = ShapedGlyph{info[i].codepoint, pos[i].x_advance, pos[i].x_offset, pos[i].y_offset};
  }
  hb_buffer_destroy(buffer);
  return out;
}

void glyph_outline(uint32_t glyph, GlyphOutlineSink& sink) {
  static hb_draw_funcs_t* const funcs = make_draw_funcs();
#if HB_VERSION_ATLEAST(7, 0, 0)
  hb_font_draw_glyph(face().font, glyph, funcs, &sink);  // the same call, renamed in 7.0
#else
  hb_font_get_glyph_shape(face().font, glyph, funcs, &sink);
#endif
}

}  // namespace cmx::render
