#include "model/colors.h"

#include <algorithm>
#include <cmath>

namespace cmx::model {
namespace {

constexpr std::array<std::string_view, 64> kStandardPalette = {
    "#000000", "#ffffff", "#ff0000", "#00ff00", "#0000ff", "#ffff00", "#ff00ff", "#00ffff",
    "#000000", "#ffffff", "#ff0000", "#00ff00", "#0000ff", "#ffff00", "#ff00ff", "#00ffff",
    "#800000", "#008000", "#000080", "#808000", "#800080", "#008080", "#c0c0c0", "#808080",
    "#9999ff", "#993366", "#ffffcc", "#ccffff", "#660066", "#ff8080", "#0066cc", "#ccccff",
    "#000080", "#ff00ff", "#ffff00", "#00ffff", "#800080", "#800000", "#008080", "#0000ff",
    "#00ccff", "#ccffff", "#ccffcc", "#ffff99", "#99ccff", "#ff99cc", "#cc99ff", "#ffcc99",
    "#3366ff", "#33cccc", "#99cc00", "#ffcc00", "#ff9900", "#ff6600", "#666699", "#969696",
    "#003366", "#339966", "#003300", "#333300", "#993300", "#993366", "#333399", "#333333",
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <size_t N>
std::optional<std::array<uint8_t, N>> parse_hex_bytes(std::string_view text) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  if (text.size() != 2 * N) return std::nullopt;
  std::array<uint8_t, N> bytes{};
  for (size_t i = 0; i < N; ++i) {
    int high = hex_value(text[2 * i]);
    int low = hex_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return bytes;
}

// SpreadsheetML numbers the first two pairs of the scheme swapped.
std::optional<size_t> theme_position(uint8_t idx) {
  switch (idx) {
    case 0: return 1;
    case 1: return 0;
    case 2: return 3;
    case 3: return 2;
    default: return idx < 12 ? std::optional<size_t>(idx) : std::nullopt;
  }
}

uint8_t to_channel(double value) {
  double scaled = std::round(value * 255.0);  // halves away from zero
  if (!(scaled > 0.0)) return 0;
  if (scaled > 255.0) return 255;
  return static_cast<uint8_t>(scaled);
}

}  // namespace

std::optional<std::array<uint8_t, 3>> parse_hex_rgb(std::string_view text) { return parse_hex_bytes<3>(text); }
std::optional<std::array<uint8_t, 4>> parse_hex_rgba(std::string_view text) { return parse_hex_bytes<4>(text); }

const std::array<std::string_view, 64>& standard_indexed_palette() { return kStandardPalette; }

std::string rgb_text(const std::array<uint8_t, 3>& rgb) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "#";
  for (uint8_t channel : rgb) {
    out.push_back(kDigits[channel >> 4]);
    out.push_back(kDigits[channel & 15]);
  }
  return out;
}

std::array<uint8_t, 3> apply_tint(std::array<uint8_t, 3> rgb, double tint) {
  const double r = rgb[0] / 255.0, g = rgb[1] / 255.0, b = rgb[2] / 255.0;
  const double max = std::max({r, g, b});
  const double min = std::min({r, g, b});
  const double lightness = (max + min) * 0.5;
  const double delta = max - min;
  double hue = 0.0, saturation = 0.0;
  if (delta != 0.0) {
    saturation = delta / (1.0 - std::fabs(2.0 * lightness - 1.0));
    double sixths;
    if (max == r) {
      sixths = std::fmod((g - b) / delta, 6.0);
      if (sixths < 0.0) sixths += 6.0;
    } else if (max == g) {
      sixths = (b - r) / delta + 2.0;
    } else {
      sixths = (r - g) / delta + 4.0;
    }
    hue = sixths * 60.0;
  }
  double tinted = tint < 0.0 ? lightness * (1.0 + tint) : lightness * (1.0 - tint) + tint;
  tinted = std::clamp(tinted, 0.0, 1.0);

  const double chroma = (1.0 - std::fabs(2.0 * tinted - 1.0)) * saturation;
  const double h = hue / 60.0;
  const double x = chroma * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
  double rr = 0, gg = 0, bb = 0;
  switch (static_cast<int>(h)) {
    case 0: rr = chroma, gg = x; break;
    case 1: rr = x, gg = chroma; break;
    case 2: gg = chroma, bb = x; break;
    case 3: gg = x, bb = chroma; break;
    case 4: rr = x, bb = chroma; break;
    default: rr = chroma, bb = x; break;
  }
  const double m = tinted - chroma * 0.5;
  return {to_channel(rr + m), to_channel(gg + m), to_channel(bb + m)};
}

std::optional<std::string> resolve_color_rgb(const StyleSheet& styles, const Color& color) {
  if (const auto* indexed = std::get_if<IndexedColor>(&color)) {
    size_t n = indexed->index;
    if (n >= 64) return std::nullopt;
    if (n < styles.indexed_colors.size() && !styles.indexed_colors[n].empty()) {
      return styles.indexed_colors[n];
    }
    return std::string(kStandardPalette[n]);
  }
  if (const auto* rgb = std::get_if<RgbColor>(&color)) return rgb->text;
  if (const auto* theme = std::get_if<ThemeColor>(&color)) {
    auto position = theme_position(theme->idx);
    if (!position) return std::nullopt;
    const std::string& stored = styles.theme.colors[*position];
    auto channels = parse_hex_rgb(stored);
    if (!channels) return stored;
    if (theme->tint == 0.0) return rgb_text(*channels);
    return rgb_text(apply_tint(*channels, theme->tint));
  }
  return std::nullopt;  // Auto
}

bool stylesheet_is_default(const StyleSheet& styles) {
  return styles.fonts.empty() && styles.fills.empty() && styles.borders.empty() &&
         styles.cell_xfs.empty() && styles.num_fmts.empty() &&
         styles.theme == default_theme_colors() && styles.indexed_colors.empty();
}

}  // namespace cmx::model
