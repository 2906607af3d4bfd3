// The chart frames of a render: each chart on the sheet placed in viewport
// pixels, left out when it misses its pane, read through the session's
// parsed-chart cache, gated, and laid out into the display list, or shown as
// a placeholder when it cannot be drawn. Only an exhausted operation budget
// or a failed allocation ends the render.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "chart_layout/chart_render_error.h"
#include "chart_layout/display_list.h"
#include "charts/chart_model.h"
#include "model/grid_metrics.h"
#include "model/workbook.h"
#include "session/session.h"

namespace cmx::chart_layout {

inline constexpr std::string_view kPlaceholderFill = "#f2f2f2";
inline constexpr std::string_view kPlaceholderBorder = "#bfbfbf";

// The twelve family texts the chart geometry draws (exact, case-sensitive).
bool is_known_chart_family(std::string_view family);

// "{title}, {kind label}, {n} series, {m} categories".
std::string chart_summary(const charts::ChartModel& chart);
// The first refusal of the gates, as the error of `part`; none when the
// chart may be drawn.
std::optional<ChartRenderError> gate_chart(const charts::ChartModel& chart, const std::string& part);
// The note of a chart refused by `error` (one of the first five variants).
std::string placeholder_note(const charts::ChartModel* chart, const ChartRenderError& error);

Result<void, ChartRenderError> render_chart_frames(std::span<const model::SheetChart> charts,
                                                   const model::GridMetrics& metrics, const render::Rect& viewport,
                                                   uint32_t frozen_rows, uint32_t frozen_cols,
                                                   std::vector<render::DrawCommand>& commands,
                                                   std::vector<render::ChartRegion>& regions,
                                                   session::WorkbookSession& session, std::string_view sheet_name);

}  // namespace cmx::chart_layout
