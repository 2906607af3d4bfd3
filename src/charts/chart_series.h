// The series of a plot with their cached data: names, category texts,
// values, x values and bubble sizes, references, colours, markers, data
// labels and per-point overrides, under the chart's budgets. Next:
// chart_model.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "charts/chart_labels.h"

namespace cmx::charts {

struct SeriesMarker {
  std::optional<std::string> symbol;
  std::optional<double> size;
  std::optional<std::string> fill;
  friend bool operator==(const SeriesMarker&, const SeriesMarker&) = default;
};

struct ChartDataPoint {
  std::optional<uint32_t> idx;
  std::optional<double> explosion;
  std::string color;
  friend bool operator==(const ChartDataPoint&, const ChartDataPoint&) = default;
};

struct ChartSeries {
  std::optional<uint32_t> idx;
  std::optional<uint32_t> order;
  std::optional<std::string> name;
  std::optional<std::string> category_ref;
  std::optional<std::string> values_ref;
  std::vector<std::string> categories;
  std::vector<double> values;  // NaN where a point is missing
  std::optional<std::vector<double>> x_values;
  std::optional<std::vector<double>> bubble_sizes;
  std::optional<std::string> format_code;
  std::string color;
  std::optional<ChartLineStyle> line;
  std::optional<SeriesMarker> marker;
  std::optional<bool> smooth;  // true or absent, never false
  std::optional<ChartDataLabels> data_labels;
  std::optional<std::vector<ChartDataPoint>> point_overrides;
  std::optional<std::vector<std::string>> axis_ids;
  std::optional<std::string> grouping;
  // NaN entries never compare equal: compare lists of missing points apart.
  friend bool operator==(const ChartSeries&, const ChartSeries&) = default;
};

// What a plot passes down to its series.
struct PlotSeriesContext {
  std::optional<std::string> grouping;
  std::vector<std::string> axis_ids;
  bool vary_colors = false;  // the plot gives each point its own automatic colour
};

// The `ser` children of a plot, at most `budgets.series` of them (the caller
// lowers that count afterwards); every point read is charged to
// `budgets.points`.
std::vector<ChartSeries> read_plot_series(std::span<const XmlNode> plot_children, const PlotSeriesContext& plot,
                                          ChartBudgets& budgets, const Theme& theme);

// The first `numCache` (else `numLit`) below the element as a dense list.
std::vector<double> read_number_cache(const xml::XmlElement* element, ChartBudgets& budgets);

// The trimmed text of the first `f` below the element; absent when empty.
std::optional<std::string> read_reference_text(const xml::XmlElement* element);

// The first `solidFill` below the first `spPr` among the children, resolved.
std::optional<std::string> read_shape_fill_color(std::span<const XmlNode> children, const Theme& theme);

}  // namespace cmx::charts
