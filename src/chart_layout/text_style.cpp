#include "chart_layout/text_style.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "base/unicode.h"

namespace cmx::chart_layout {

using unicode::count_scalars;
using unicode::decode_utf8;
using unicode::is_white_space;
namespace {

// Advances of U+0020..U+007E in thousandths of an em.
constexpr std::array<uint16_t, 95> kAsciiAdvances = {
    226, 326, 401, 498, 507, 715, 682, 220, 303, 303, 498, 498, 250, 306, 252, 386,  // U+0020
    507, 507, 507, 507, 507, 507, 507, 507, 507, 507, 268, 268, 498, 498, 498, 464,  // U+0030
    894, 578, 544, 533, 615, 488, 460, 631, 623, 252, 319, 520, 420, 855, 646, 662,  // U+0040
    516, 673, 543, 460, 488, 642, 568, 890, 519, 488, 468, 306, 386, 306, 498, 498,  // U+0050
    291, 479, 526, 423, 526, 498, 305, 470, 526, 230, 240, 454, 230, 799, 526, 528,  // U+0060
    526, 526, 348, 391, 335, 526, 452, 715, 433, 452, 395, 314, 460, 314, 498,       // U+0070
};

struct WideRange {
  char32_t first, last;
};
constexpr std::array<WideRange, 8> kWideRanges = {{{0x1100, 0x115F},
                                                   {0x2E80, 0xA4CF},
                                                   {0xAC00, 0xD7A3},
                                                   {0xF900, 0xFAFF},
                                                   {0xFE30, 0xFE4F},
                                                   {0xFF00, 0xFF60},
                                                   {0xFFE0, 0xFFE6},
                                                   {0x20000, 0x3FFFD}}};

double char_em(char32_t cp) {
  if (cp >= 0x20 && cp <= 0x7E) return std::max(kAsciiAdvances[cp - 0x20] / 1000.0, 0.5);
  for (const WideRange& r : kWideRanges) {
    if (cp >= r.first && cp <= r.last) return 1;
  }
  return 0.5;
}

double spaced(double em_width, double spacing_px, size_t chars) {
  const double gaps = chars > 0 ? static_cast<double>(chars - 1) : 0;
  return std::max(0.0, em_width + spacing_px * gaps);
}

}  // namespace

charts::ChartTextStyle merge_text_props(const std::optional<charts::ChartTextStyle>& own,
                                        const charts::ChartTextStyle& chart) {
  return own ? charts::merge_text_styles(*own, chart) : chart;
}

TextStyle make_text_style(const charts::ChartTextStyle& props, uint16_t default_weight, double default_size) {
  TextStyle style;
  if (props.typeface && !props.typeface->empty()) style.family = *props.typeface;
  style.size_px = default_size;
  if (props.size_pt && std::isfinite(*props.size_pt) && *props.size_pt > 0) {
    style.size_px = std::clamp(*props.size_pt * 4 / 3, 1.0, 400.0);
  }
  if (props.spacing_pt && std::isfinite(*props.spacing_pt)) {
    style.spacing_px = std::clamp(*props.spacing_pt * 4 / 3, -400.0, 400.0);
  }
  style.weight = props.bold ? (*props.bold ? 700 : 400) : default_weight;
  style.italic = props.italic.value_or(false);
  if (props.color && !props.color->empty()) {
    style.color = props.color->front() == '#' ? *props.color : "#" + *props.color;
  }
  return style;
}

double measure_text_width(std::string_view text, double size_px, double spacing_px) {
  double em = 0;
  size_t chars = 0;
  for (size_t pos = 0; pos < text.size(); ++chars) em += char_em(decode_utf8(text, pos));
  return spaced(em * size_px, spacing_px, chars);
}

double half_em_width(std::string_view text, double size_px, double spacing_px) {
  const size_t chars = count_scalars(text);
  return spaced(0.5 * size_px * static_cast<double>(chars), spacing_px, chars);
}

std::string_view cut_chart_text(std::string_view text) {
  size_t pos = 0;
  for (size_t chars = 0; pos < text.size() && chars < kMaxChartTextChars; ++chars) decode_utf8(text, pos);
  return text.substr(0, pos);
}

std::vector<std::string> wrap_chart_text(std::string_view text, double max_width, double size_px,
                                         double spacing_px) {
  std::vector<std::string> lines;
  std::string_view rest = cut_chart_text(text);
  while (!rest.empty()) {
    // A comparison that fails (NaN) keeps the whole rest as one line.
    if (!(half_em_width(rest, size_px, spacing_px) > max_width)) {
      lines.emplace_back(rest);
      break;
    }
    // Character starts and the white space among the fitting characters.
    std::vector<size_t> ends;  // byte end of each of the first k characters
    size_t pos = 0;
    size_t last_space_end = 0;
    while (pos < rest.size()) {
      size_t next = pos;
      const char32_t cp = decode_utf8(rest, next);
      if (!ends.empty() && half_em_width(rest.substr(0, next), size_px, spacing_px) > max_width) break;
      if (is_white_space(cp)) last_space_end = next;
      ends.push_back(next);
      pos = next;
    }
    const size_t cut = last_space_end > 0 ? last_space_end : ends.back();
    lines.emplace_back(rest.substr(0, cut));
    rest.remove_prefix(cut);
  }
  return lines;
}

}  // namespace cmx::chart_layout
