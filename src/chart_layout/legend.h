// The chart legend: its entries (series, or points of pie-like and
// vary-colour charts), their wrapping and placement at one edge of the frame,
// the room they take from the plot area, and their drawing. Next: layout.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chart_layout/axes.h"

namespace cmx::chart_layout {

inline constexpr size_t kMaxLegendEntries = 8;

struct LegendEntry {
  std::string text;
  std::string colour;
};

struct LegendLine {
  std::vector<std::string> lines;
  std::string colour;
  double width = 0;
  double height = 0;
};

struct LegendRow {
  std::vector<LegendLine> entries;
  double width = 0;
  double height = 0;
};

struct LegendLayout {
  std::vector<LegendRow> rows;
  double x = 0, y = 0, width = 0, height = 0;
  bool horizontal = false;
};

struct LegendReserves {
  double left = 0, right = 0, top = 0, bottom = 0;
};

struct LegendPlacement {
  std::optional<LegendLayout> layout;
  LegendReserves reserves;
};

struct ChartFrame {
  double x = 0, y = 0, width = 0, height = 0;
};

std::vector<LegendEntry> build_legend_entries(const ChartRenderModel& model, SeriesBudgets budgets);
// `title_block` and `extra_top` are the layout's T and E.
LegendPlacement layout_legend(const ChartRenderModel& model, const ChartFrame& frame, const TextStyle& style,
                              double title_block, double extra_top, const ChartMargins& margins,
                              const std::vector<PlotView>& views);
void draw_legend(ChartEmitter& emitter, const std::optional<LegendLayout>& layout, const TextStyle& style);

}  // namespace cmx::chart_layout
