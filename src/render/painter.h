// Paints a finished display list into an RGBA image and encodes it as PNG.
// Failures are texts ("bad color: #12"), the first one ends the painting.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/result.h"
#include "chart_layout/display_list.h"

namespace cmx::render {

// Red, green, blue, alpha, each 0..255.
using ColorBytes = std::array<uint8_t, 4>;

// "#" and six or eight hexadecimal digits, either case; anything else fails
// with "bad color: {text}".
Result<ColorBytes, std::string> parse_color_text(std::string_view text);

// PNG bytes of the painted list; the image is ceil(width) × ceil(height),
// at least 1 × 1. The caller has checked the size against the render caps.
Result<std::string, std::string> rasterize_to_png(const DisplayList& list);

struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // straight alpha, rows top to bottom
};

// The painting without the encoding, for the PNG step and for tests.
Result<RgbaImage, std::string> rasterize(const DisplayList& list);

}  // namespace cmx::render
