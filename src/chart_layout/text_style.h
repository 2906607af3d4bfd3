// The style of every chart text and the width estimates the chart layout
// uses in place of shaping: a table of advances for printable ASCII, one em
// for wide scripts, half an em for the rest. Next: op_sink.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart_text_styles.h"

namespace cmx::chart_layout {

// Characters of a chart text that reach the display list.
inline constexpr size_t kMaxChartTextChars = 120;
inline constexpr std::string_view kDefaultChartFamily = "Calibri, sans-serif";
inline constexpr std::string_view kDefaultChartTextColor = "#222222";

struct TextStyle {
  std::string family{kDefaultChartFamily};
  double size_px = 10;
  double spacing_px = 0;
  uint16_t weight = 400;
  bool italic = false;
  std::string color{kDefaultChartTextColor};
};

// An element's props over the chart's: each member from the element when it
// states it.
charts::ChartTextStyle merge_text_props(const std::optional<charts::ChartTextStyle>& own,
                                        const charts::ChartTextStyle& chart);

// Sizes in points become pixels (× 4/3) within [1, 400]; spacing within
// [-400, 400]; `default_size` is already in pixels.
TextStyle make_text_style(const charts::ChartTextStyle& props, uint16_t default_weight, double default_size);

// The table estimate, never below 0.
double measure_text_width(std::string_view text, double size_px, double spacing_px);
// Half an em per character plus the spacing between characters, never below 0.
double half_em_width(std::string_view text, double size_px, double spacing_px);
// The first 120 characters.
std::string_view cut_chart_text(std::string_view text);
// Lines of at most `max_width` by half_em_width, broken after the last white
// space that fits, else inside the word; at least one character per line.
std::vector<std::string> wrap_chart_text(std::string_view text, double max_width, double size_px,
                                         double spacing_px);

}  // namespace cmx::chart_layout
