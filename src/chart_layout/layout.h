// One chart laid out into its frame: background, title, the plot views and
// the room their axes need, the legend, the plot rectangle, and the plots
// handed to their family's geometry. Everything goes into the frame's sink;
// failures show only in its status. Next: chart_frames.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "chart_layout/legend.h"

namespace cmx::chart_layout {

inline constexpr size_t kMaxLaidOutPlots = 64;

// Which geometry draws a plot, by its family text.
enum class PlotGeometry : uint8_t { Pie, Line, Area, Stock, Radar, ScatterBubbleSurface, VerticalBars, HorizontalBars };
PlotGeometry plot_geometry(std::string_view family);

// Where a chart's parts go once its title block is known; `body` must
// outlive the views.
struct ChartPage {
  std::vector<PlotView> views;
  ChartMargins margins;
  double extra_top = 0;
  double extra_right = 0;
  LegendPlacement legend;
  PlotArea area;
  ContentBox content;
};
ChartPage lay_out_chart_page(const ChartRenderModel& model, const ChartFrame& frame, double title_block,
                             const TextStyle& body, const TextStyle& legend_style);

// Each frame value clamped to [-1e9, 1e9]; one not finite becomes 0.
ChartFrame clamp_chart_frame(const ChartFrame& frame);

void build_chart_display_list(const ChartRenderModel& model, ChartFrame frame, ChartOpSink& sink);
void draw_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area, const ContentBox& content);

const RenderAxis* find_secondary_value_axis(const ChartRenderModel& model, bool bar_family);
// The colour of the chart's background rectangle; none for a fill of none.
std::optional<std::string> background_colour(const std::optional<charts::ChartFill>& fill);

}  // namespace cmx::chart_layout
