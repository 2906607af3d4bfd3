// The per-frame view of a parsed chart that the chart geometry reads: the
// chart model's values by reference, with data labels resolved per series
// and per point, marker symbols decoded and axes given their kind. Built by
// chart_frames.cpp for one frame; it must not outlive the chart model.
// Next: plot_view.h.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "charts/chart_model.h"

namespace cmx::chart_layout {

// Per-point labels of one list that the resolution looks at.
inline constexpr size_t kMaxPointLabelsResolved = 4096;

struct LabelSettings {
  charts::ChartTextStyle text;
  std::optional<std::string> separator;
  std::optional<std::string> position;
  std::optional<std::string> number_format;
  bool show_value = false;
  bool show_category_name = false;
  bool show_series_name = false;
  bool show_percent = false;
  bool show_legend_key = false;
  bool show_bubble_size = false;
  friend bool operator==(const LabelSettings&, const LabelSettings&) = default;
};

enum class MarkerSymbol : uint8_t {
  Auto = 0, None = 1, Circle = 2, Dash = 3, Diamond = 4, Dot = 5, Plus = 6, Square = 7, Star = 8, Triangle = 9,
  X = 10, Other = 255,
};

struct MarkerStyle {
  bool present = false;
  std::optional<double> size_pt;
  MarkerSymbol symbol = MarkerSymbol::Other;
};

struct PointStyle {
  bool indexed = false;
  uint64_t index = 0;
  std::optional<double> explosion;
  std::optional<LabelSettings> labels;
  std::optional<std::string> fill;
  std::optional<std::string> label_text;
  std::optional<std::vector<charts::DataLabelSegment>> label_runs;
};

struct RenderSeries {
  const charts::ChartSeries* source = nullptr;
  MarkerStyle marker;
  std::optional<LabelSettings> labels;
  std::vector<PointStyle> points;

  std::span<const std::string> categories() const { return source->categories; }
  std::span<const double> values() const { return source->values; }
  std::span<const double> x_values() const {
    return source->x_values ? std::span<const double>(*source->x_values) : std::span<const double>();
  }
  std::span<const double> bubble_sizes() const {
    return source->bubble_sizes ? std::span<const double>(*source->bubble_sizes) : std::span<const double>();
  }
  const std::optional<std::string>& name() const { return source->name; }
  const std::string& fill() const { return source->color; }
  const std::optional<std::string>& grouping() const { return source->grouping; }
  const std::optional<charts::ChartLineStyle>& line() const { return source->line; }
  // The largest of its numbers of categories, values, x values and sizes.
  size_t point_count() const;
};

enum class AxisKind : uint8_t { Category = 0, Value = 1, Date = 2, Series = 3 };

struct RenderAxis {
  const charts::ChartAxis* axis = nullptr;
  AxisKind kind = AxisKind::Category;
  const charts::ChartAxis* operator->() const { return axis; }
};

struct RenderPlot {
  const charts::ChartPlot* plot = nullptr;
  std::vector<RenderSeries> series;
  const charts::ChartPlot* operator->() const { return plot; }
};

struct ManualLayout {
  double x = 0, y = 0, width = 0, height = 0;
};

struct ChartRenderModel {
  charts::ChartTextStyle chart_props;
  std::optional<charts::ChartTextStyle> title_props;
  std::optional<charts::ChartTextStyle> legend_props;
  std::optional<ManualLayout> manual_layout;  // absent: automatic
  std::optional<charts::ChartFill> background;
  std::optional<double> fallback_min;
  std::optional<double> fallback_max;
  std::vector<RenderSeries> series;
  std::vector<RenderPlot> plots;
  std::vector<RenderAxis> axes;
  std::optional<std::string> legend_position;
  bool legend_present = false;
  bool legend_overlay = false;
  std::string chart_family;
  std::optional<std::string> title;
  std::optional<std::string> fallback_category_title;
  std::optional<std::string> fallback_value_title;
};

ChartRenderModel build_render_model(const charts::ChartModel& chart);
RenderSeries build_render_series(const charts::ChartSeries& series, const charts::ChartDataLabels* plot_labels);
// The first level to state each member, L1 first; none when no level is
// present or the first to state deletion deletes.
std::optional<LabelSettings> merge_data_labels(const charts::ChartDataLabels* l1, const charts::ChartDataLabels* l2,
                                               const charts::ChartDataLabels* l3, const charts::ChartDataLabels* l4);
MarkerSymbol marker_symbol_from_text(const std::optional<std::string>& text);
AxisKind axis_kind_from_text(const std::string& kind);

}  // namespace cmx::chart_layout
