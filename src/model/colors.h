// Colour texts: theme colours with tints, the indexed palette, and whether a
// style sheet still holds nothing but defaults.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "model/styles.h"

namespace cmx::model {

// The standard 64-entry indexed palette, "#rrggbb" in lower case.
const std::array<std::string_view, 64>& standard_indexed_palette();

// The colour text of a colour, or absent when it has none (Auto, a theme
// number of 12 or more, an index of 64 or more). RGB texts and workbook
// palette entries come back exactly as stored. Never fails.
std::optional<std::string> resolve_color_rgb(const StyleSheet& styles, const Color& color);

// Applies a tint to "#rrggbb" channel values in HSL space.
std::array<uint8_t, 3> apply_tint(std::array<uint8_t, 3> rgb, double tint);

// Six hexadecimal digits, with or without one leading "#".
std::optional<std::array<uint8_t, 3>> parse_hex_rgb(std::string_view text);
// Eight (red, green, blue, alpha), with or without one leading "#".
std::optional<std::array<uint8_t, 4>> parse_hex_rgba(std::string_view text);

// "#" and six lower-case hexadecimal digits.
std::string rgb_text(const std::array<uint8_t, 3>& rgb);

// True when no table holds a record, the theme equals the default texts byte
// for byte and the palette is empty. Caches play no part.
bool stylesheet_is_default(const StyleSheet& styles);

}  // namespace cmx::model
