// The numeric side of chart axes: the range and step a value axis (or the x
// axis of scatter and bubble plots) shows, its tick values, the mapping of a
// value onto pixels, and the room a plot's axes need around the plot area.
// Nothing here emits. Next: legend.h.
#pragma once

#include <optional>
#include <vector>

#include "chart_layout/plot_view.h"

namespace cmx::chart_layout {

// Points one data range reads.
inline constexpr uint64_t kMaxScalePoints = 200000;
// Tick values one axis gives.
inline constexpr size_t kMaxTicks = 64;

struct ChartMargins {
  double left = 14.1;
  double top = 4.6;
  double right = 4.6;
  double bottom = 14.1;
  double right_with_legend = 0;
};

AxisScale compute_value_axis_scale(const PlotView& view);
AxisScale compute_x_axis_scale(const PlotView& view, double width);
// Ascending; at least two values.
std::vector<double> axis_tick_values(const AxisScale& scale, std::optional<double> step);
double map_axis_value(const AxisScale& scale, double x, double y, double width, double height, bool horizontal,
                      double value);
ChartMargins measure_plot_margins(const PlotView& view, double frame_width);

}  // namespace cmx::chart_layout
