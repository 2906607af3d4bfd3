// The plot geometry of every family: the value axis and gridlines of the
// cartesian plots, data labels, bars and columns, lines, areas and stock
// marks, pie and doughnut slices, radar webs, scatter points, bubbles and
// surface cells. Each draws one plot through the emitter and keeps no state.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "chart_layout/axes.h"
#include "chart_layout/plot_view.h"

namespace cmx::chart_layout {

// Points one series of a scatter, bubble or pie plot walks.
inline constexpr uint64_t kMaxSeriesPoints = 200000;
// Spokes of a radar plot and points of an area outline.
inline constexpr uint64_t kMaxPolygonPoints = 8192;
// Cells of one surface row.
inline constexpr uint64_t kMaxSurfaceCells = 16384;

// Axes and gridlines of a cartesian plot, drawn before its marks.
void draw_category_plot_axes(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);

// (x, y) is the baseline of the label's middle line.
void draw_data_label(ChartEmitter& emitter, const PlotView& view, const SeriesView& series, uint64_t k, uint64_t i,
                     bool centred, double x, double y, double width, double total);
// The marker of point i of series k; its size, 0 for no marker.
double draw_point_marker(ChartEmitter& emitter, const SeriesView& series, uint64_t k, uint64_t i, double x, double y);
// The label of a point drawn as a marker of `marker_size` pixels at (x, y).
void draw_point_label(ChartEmitter& emitter, const PlotView& view, const SeriesView& series, uint64_t k,
                      uint64_t i, double x, double y, double marker_size, double total);
// The sum of |value| of point i over the series, finite values only.
double point_total(const PlotView& view, uint64_t i);
// point_total of points 0 .. count - 1, computed in one pass on first use.
class PointTotals {
 public:
  PointTotals(const PlotView& view, uint64_t count) : view_(view), count_(count) {}
  double operator()(uint64_t i);

 private:
  const PlotView& view_;
  uint64_t count_;
  std::vector<double> totals_;
};

struct BarLayout {
  double slot = 0;
  double bar = 0;
  double first = 0;
  double step = 0;
  friend bool operator==(const BarLayout&, const BarLayout&) = default;
};
bool stacked_grouping(const PlotView& view);
// n >= 1.
BarLayout bar_layout(const PlotView& view, uint64_t n, double span);
// (low, high) of every series at category c under the plot's grouping.
std::vector<std::pair<double, double>> stack_bounds(const PlotView& view, uint64_t c);
void draw_bar_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);

void draw_category_labels(ChartEmitter& emitter, const PlotView& view, const PlotArea& area, uint64_t n);
void draw_line_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);
void draw_area_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);
void draw_stock_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);

// Angles in radians, 0 to the right, growing clockwise on screen.
std::vector<render::PathElement> slice_path(double cx, double cy, double r, double r_in, double a0, double a1);
void draw_pie_plot(ChartEmitter& emitter, const PlotView& view, const ContentBox& box);
struct RadarFrame {
  double cx = 0, cy = 0, r = 0;
  uint64_t spokes = 0;
  bool reversed = false;
};
double radar_angle(const RadarFrame& frame, uint64_t t);
std::vector<std::pair<double, double>> radar_ring_points(const RadarFrame& frame, const AxisScale& scale, double v);
std::vector<std::pair<double, double>> radar_series_points(const RadarFrame& frame, const AxisScale& scale,
                                                           const SeriesView& series);
void draw_radar_plot(ChartEmitter& emitter, const PlotView& view, const ContentBox& box);

void draw_x_axis_labels(ChartEmitter& emitter, const PlotView& view, const PlotArea& area, const AxisScale& x_scale);
void draw_scatter_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);
void draw_bubble_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);
void draw_surface_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area);
inline constexpr std::array<std::string_view, 8> kSurfaceBands = {"#264478", "#4472C4", "#5B9BD5", "#70AD47",
                                                                  "#A9D18E", "#FFC000", "#ED7D31", "#9E480E"};

}  // namespace cmx::chart_layout
