// Paints one text command with the embedded face: shaping, alignment, the
// fit test against its clip, glyph outlines with synthetic bold and italic,
// background and decorations.
#pragma once

#include <map>
#include <optional>

#include "chart_layout/display_list.h"
#include "render/raster.h"

namespace cmx::render {

class GlyphCache;

// The colours are already parsed and premultiplied.
void paint_text(Rasterizer& ras, Image& image, GlyphCache& glyphs, const Text& text, agg::rgba8 color,
                std::optional<agg::rgba8> background);

// Outlines of the glyphs one painting has drawn, kept for its later texts.
class GlyphCache {
 public:
  // The glyph's outline in font units, or null when it has none.
  const agg::path_storage* outline(uint32_t glyph);

 private:
  struct Entry {
    bool drawable = false;
    agg::path_storage path;
  };
  std::map<uint32_t, Entry> entries_;
};

}  // namespace cmx::render
