// Axes and the legend of a chart, read from single elements. Next:
// chart_labels.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart_text_styles.h"

namespace cmx::charts {

struct ChartAxis {
  std::string kind = "value";  // "category", "date", "series" or "value"
  std::optional<std::string> id;
  std::optional<std::string> title;
  std::optional<double> min;
  std::optional<double> max;
  std::optional<double> log_base;
  bool reversed = false;
  std::optional<std::string> crosses;  // "autoZero", "min" or "max"
  std::optional<double> crosses_at;
  std::optional<double> major_unit;
  std::optional<double> minor_unit;
  std::optional<std::string> cross_between;  // "between" or "midCat"
  std::optional<std::string> position;       // "bottom", "left", "right" or "top"
  std::optional<std::string> cross_axis_id;
  std::optional<std::string> number_format;
  std::optional<std::string> major_tick_mark;
  std::optional<std::string> minor_tick_mark;
  std::optional<std::string> tick_label_position;
  bool deleted = false;
  bool has_major_gridlines = false;
  bool has_minor_gridlines = false;
  std::optional<ChartLineStyle> major_gridline_style;
  std::optional<ChartLineStyle> minor_gridline_style;
  std::optional<ChartLineStyle> line_style;
  std::optional<ChartTextStyle> text_style;
  // Filled by the model reader for the primary category axis only.
  std::optional<std::vector<std::string>> category_labels;
  friend bool operator==(const ChartAxis&, const ChartAxis&) = default;
};

struct ChartLegend {
  std::optional<ChartTextStyle> text_style;
  std::optional<std::string> position;  // "bottom", "left", "right", "top" or "topRight"
  bool shown = true;
  bool overlay = false;
  friend bool operator==(const ChartLegend&, const ChartLegend&) = default;
};

// `catAx`, `valAx`, `serAx` and `dateAx`.
bool is_axis_element(std::string_view local);

// Never fails: every field the element does not give is absent or default.
ChartAxis read_axis(const xml::XmlElement& axis, const Theme& theme);
ChartLegend read_legend(const xml::XmlElement& legend, const Theme& theme);

}  // namespace cmx::charts
