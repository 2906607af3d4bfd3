// The chart model: a chart part as read, with its plots, series, axes,
// title, legend, text style, plot-area layout and chart-space fill.
// Immutable once built; read_chart_part (chart_reader.h) builds it.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "charts/chart_axes.h"
#include "charts/chart_labels.h"
#include "charts/chart_series.h"

namespace cmx::charts {

// Plots, axis ids per plot and axes one chart reads.
inline constexpr size_t MAX_CHART_PLOTS = 64;
inline constexpr size_t MAX_PLOT_AXIS_IDS = 16;
inline constexpr size_t MAX_CHART_AXES = 128;

// The plot area's manual inner layout, fractions of the chart space; w and h
// above 0, x and y within [0, 1].
struct PlotAreaLayout {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;
  friend bool operator==(const PlotAreaLayout&, const PlotAreaLayout&) = default;
};

struct PrimaryAxes {
  std::optional<ChartAxis> category;  // the first catAx, else the first dateAx
  std::optional<ChartAxis> value;     // the first valAx
  friend bool operator==(const PrimaryAxes&, const PrimaryAxes&) = default;
};

struct NoFill {
  friend bool operator==(const NoFill&, const NoFill&) = default;
};
struct SolidFill {
  std::string color;
  friend bool operator==(const SolidFill&, const SolidFill&) = default;
};
// A fill the model does not carry (pictures, group fills, unresolvable colours).
struct UnsupportedFill {
  friend bool operator==(const UnsupportedFill&, const UnsupportedFill&) = default;
};
struct GradientFill {
  std::vector<std::string> stops;  // never empty
  friend bool operator==(const GradientFill&, const GradientFill&) = default;
};
struct PatternFill {
  std::optional<std::string> foreground;
  std::optional<std::string> background;
  friend bool operator==(const PatternFill&, const PatternFill&) = default;
};
using ChartFill = std::variant<NoFill, SolidFill, UnsupportedFill, GradientFill, PatternFill>;

struct ChartPlot {
  // "bar", "column", "pie", "line", "area", "radar", "stock", "ofPie",
  // "bubble", "scatter", "surface" or "doughnut".
  std::string kind;
  std::optional<double> overlap;
  std::optional<double> gap_width;
  std::optional<double> first_slice_angle;
  std::optional<double> doughnut_hole_size;
  std::optional<double> bubble_scale;
  std::optional<ChartDataLabels> data_labels;
  std::vector<std::string> axis_ids;
  std::vector<ChartSeries> series;
  std::optional<std::string> grouping;
  std::optional<std::string> scatter_style;
  std::optional<std::string> radar_style;
  std::optional<std::string> size_represents;
  bool vary_colors = true;
  bool labels_enabled = false;
  bool has_hi_low_lines = false;
  bool has_up_down_bars = false;
  std::optional<bool> wireframe;
  std::optional<bool> show_marker;
  friend bool operator==(const ChartPlot&, const ChartPlot&) = default;
};

struct ChartModel {
  std::optional<PlotAreaLayout> plot_area_layout;
  std::optional<ChartTextStyle> text_style;
  std::optional<ChartTextStyle> title_style;
  std::optional<ChartLegend> legend;
  std::optional<PrimaryAxes> axes;
  std::string primary_kind;  // "bar", "column", "line", "pie" or "doughnut"
  // Every series of every plot, carrying only its name, categories, values
  // and colour.
  std::vector<ChartSeries> series;
  std::vector<ChartPlot> plots;  // never empty
  std::optional<std::string> title;
  std::optional<std::vector<ChartAxis>> all_axes;  // never empty when present
  std::optional<ChartFill> background;
  friend bool operator==(const ChartModel&, const ChartModel&) = default;
};

}  // namespace cmx::charts
