// What the chart layout and every plot family share: the emitter context and
// its emitters, the view of one plot (PlotView, SeriesView, PlotArea,
// ContentBox), the axis scale record, the series palette, and the rules for
// point values, colours, markers, series lines, category labels and the short
// number text of labels. Next: label_numbers.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chart_layout/op_sink.h"
#include "chart_layout/render_model.h"
#include "chart_layout/text_style.h"

namespace cmx::chart_layout {

// Operations one chart may emit; the render's budget binds first.
inline constexpr uint64_t kChartEmitLimit = 100000;
inline constexpr uint64_t kSeriesBudget = 1024;
inline constexpr uint64_t kPointRecordBudget = 200000;

inline constexpr std::array<std::string_view, 8> kSeriesPalette = {
    "#4472C4", "#ED7D31", "#A5A5A5", "#FFC000", "#5B9BD5", "#70AD47", "#264478", "#9E480E"};
std::string palette_colour(uint64_t index);

struct ChartEmitter {
  ChartOpSink& sink;
  uint64_t remaining = kChartEmitLimit;
  // False when nothing more may be emitted; sets BudgetExhausted when the
  // render's budget is spent.
  bool ready();
  void push(ChartDrawOp operation);
};

struct SeriesBudgets {
  uint64_t series = kSeriesBudget;
  uint64_t point_records = kPointRecordBudget;
};

// Point number -> point record of one series.
struct SeriesView {
  bool any_unindexed = false;
  uint64_t first_unindexed = 0;
  std::vector<std::pair<uint64_t, uint64_t>> pairs;  // (idx, position), sorted, first of each idx
  const RenderSeries* series = nullptr;
  const PointStyle* record(uint64_t point) const;
};

struct AxisScale {
  bool logarithmic = false;
  double log_base = 10;
  double min = 0;
  double max = 1;
  double major = 1;
  bool reversed = false;
  bool percent = false;
  friend bool operator==(const AxisScale&, const AxisScale&) = default;
};

struct FallbackScaling {
  std::optional<double> min;
  std::optional<double> max;
};

struct PlotView {
  charts::ChartTextStyle chart_props;
  std::optional<FallbackScaling> fallback_scaling;
  std::string family;
  std::vector<SeriesView> series;
  const TextStyle* body_style = nullptr;
  std::optional<std::string> category_title;
  std::optional<std::string> value_title;
  const RenderPlot* plot = nullptr;
  const RenderAxis* value_axis = nullptr;
  const RenderAxis* x_axis = nullptr;
  const RenderAxis* category_axis = nullptr;
  bool secondary = false;
};

struct PlotArea {
  double x = 0, y = 0, width = 0, height = 0;
  double left_margin = 0;
};
struct ContentBox {
  double x = 0, y = 0, width = 0, height = 0;
};

// Emitters: nothing under the skip rules of ChartEmitter::ready.
void emit_fill_rect(ChartEmitter& emitter, std::string_view colour, double x, double y, double width, double height);
void emit_text(ChartEmitter& emitter, std::string_view text, const TextStyle& style, render::TextAlign align, double x,
               double baseline, double max_width);
void emit_line(ChartEmitter& emitter, std::string_view colour, double x1, double y1, double x2, double y2, double width);
// Nothing for an empty element list; the bounds are not used by the sink.
void emit_path(ChartEmitter& emitter, const render::Rect& bounds, std::vector<render::PathElement> elements,
               std::string_view fill, std::optional<ChartDrawOp::Stroke> stroke);
void emit_marker(ChartEmitter& emitter, std::optional<MarkerSymbol> symbol, std::string_view colour, double cx,
                 double cy, double size);

std::vector<SeriesView> build_series_views(std::span<const RenderSeries> series, SeriesBudgets& budgets);
SeriesView build_series_view(const RenderSeries& series, SeriesBudgets& budgets);

struct ValueAxes {
  const RenderAxis* x_axis = nullptr;
  const RenderAxis* value_axis = nullptr;
};
ValueAxes find_value_axes(const ChartRenderModel& model, const RenderPlot& plot);
const RenderAxis* find_category_axis(std::span<const RenderAxis> axes, std::span<const std::string> ids);
// The plot's family text, else the chart's.
const std::string& plot_family(const ChartRenderModel& model, const RenderPlot& plot);

// Valid only when i is inside the values and the value is finite.
std::optional<double> point_value(const SeriesView& view, uint64_t i);
std::string normalise_colour_text(std::string_view text);
std::string colour_or_palette(const std::optional<std::string>& colour, uint64_t palette_index);
std::string point_fill_colour(const SeriesView& view, uint64_t i, uint64_t palette_index);
// None means no marker.
std::optional<MarkerSymbol> marker_symbol(const SeriesView& view, uint64_t i, uint64_t series_index);
double marker_size_px(const SeriesView& view, uint64_t i);
struct SeriesLineStyle {
  bool visible = true;
  double width = 2;
};
SeriesLineStyle series_line_style(const RenderSeries& series);

// The largest number of points of any series (cartesian families and radar).
uint64_t category_count(std::span<const SeriesView> views);
// Whether categories run backwards: a category axis reversed unlike "bar".
bool categories_reversed(const PlotView& view);
uint64_t display_position(uint64_t category, uint64_t count, bool reversed);
// The fraction of the axis length at which v lies, in [0, 1].
double axis_fraction(const AxisScale& scale, double v);

std::string category_label_text(std::span<const SeriesView> views, uint64_t i);
TextStyle category_label_style(const PlotView& view);
// The grouping of a plot: its own, else the first series', else "clustered".
std::string plot_grouping(const PlotView& view);

// No fraction digits at or above 100 or within 0.01 of a whole number, else
// one; ties to even on the exact binary value.
std::string format_label_number(double v);

std::vector<render::PathElement> regular_polygon_path(int n, double cx, double cy, double radius, double start_angle);
std::vector<render::PathElement> cross_marker_path(double cx, double cy, double radius, double angle);

}  // namespace cmx::chart_layout
