#include "chart_layout/chart_frames.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>

#include "base/number_text.h"
#include "chart_layout/layout.h"
#include "chart_layout/parsed_chart_cache.h"
#include "model/address.h"
#include "model/anchor_rect.h"
#include "opc/package_archive.h"

namespace cmx::chart_layout {
namespace {

using render::Rect;

struct PlacedChartFrame {
  render::ChartRegion region;
  const model::SheetChart* chart = nullptr;
  double x = 0, y = 0, width = 0, height = 0;
};

// Where column (row) `index` starts, the default size past the measured ones.
float pane_edge(const std::vector<float>& edges, uint32_t explicit_count, float default_size, uint32_t index) {
  if (index < edges.size()) return edges[index];
  const float last = edges.empty() ? 0.0f : edges.back();
  const uint32_t beyond = index > explicit_count ? index - explicit_count : 0;
  return last + static_cast<float>(beyond) * default_size;
}

bool scatter_like(std::string_view family) { return family == "scatter" || family == "bubble"; }

const std::string& family_of(const charts::ChartModel& chart, const charts::ChartPlot& plot) {
  return plot.kind.empty() ? chart.primary_kind : plot.kind;
}

std::string kind_label(const charts::ChartModel& chart) {
  if (chart.plots.size() > 1) return "combo chart";
  const std::string& family =
      chart.plots.empty() || chart.plots.front().kind.empty() ? chart.primary_kind : chart.plots.front().kind;
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kLabels = {{
      {"bar", "bar chart"},         {"pie", "pie chart"},         {"ofPie", "pie chart"},
      {"line", "line chart"},       {"area", "area chart"},       {"radar", "radar chart"},
      {"stock", "stock chart"},     {"bubble", "bubble chart"},   {"scatter", "scatter chart"},
      {"surface", "surface chart"}, {"doughnut", "doughnut chart"},
  }};
  for (const auto& [name, label] : kLabels) {
    if (family == name) return std::string(label);
  }
  return "column chart";
}

std::string chart_title(const charts::ChartModel& chart) {
  return chart.title && !chart.title->empty() ? *chart.title : "Untitled chart";
}

bool fits_f32(double v) { return std::isfinite(static_cast<float>(v)); }

// The frame rectangle and its clip, or none when it misses its pane.
std::optional<PlacedChartFrame> place_frame(const model::SheetChart& chart, const model::GridMetrics& metrics,
                                            const Rect& viewport, uint32_t frozen_rows, uint32_t frozen_cols,
                                            float freeze_x, float freeze_y) {
  const auto anchor = model::anchor_pixel_rect(chart.anchor, metrics, frozen_rows, frozen_cols);
  if (!anchor.has_value()) return std::nullopt;
  const double x = anchor->in_frozen_cols ? anchor->x : anchor->x - viewport.x;
  const double x_low = anchor->in_frozen_cols ? 0.0 : freeze_x;
  const double x_high = anchor->in_frozen_cols ? std::min(freeze_x, viewport.width) : viewport.width;
  const double y = anchor->in_frozen_rows ? anchor->y : anchor->y - viewport.y;
  const double y_low = anchor->in_frozen_rows ? 0.0 : freeze_y;
  const double y_high = anchor->in_frozen_rows ? std::min(freeze_y, viewport.height) : viewport.height;
  const double left = std::max(x, x_low);
  const double right = std::min(x + anchor->width, x_high);
  const double top = std::max(y, y_low);
  const double bottom = std::min(y + anchor->height, y_high);
  if (!(right > left) || !(bottom > top)) return std::nullopt;
  for (double v : {left, top, right - left, bottom - top, x, y, anchor->width, anchor->height}) {
    if (!fits_f32(v)) return std::nullopt;
  }
  PlacedChartFrame placed;
  placed.region.label = model::chart_frame_key(chart);
  placed.region.frame = Rect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(anchor->width),
                             static_cast<float>(anchor->height)};
  placed.region.clip = Rect{static_cast<float>(left), static_cast<float>(top), static_cast<float>(right - left),
                            static_cast<float>(bottom - top)};
  placed.region.anchored_to_cells = model::anchor_kind(chart.anchor) != model::ChartAnchorKind::Absolute;
  placed.chart = &chart;
  placed.x = x, placed.y = y, placed.width = anchor->width, placed.height = anchor->height;
  return placed;
}

Result<void, ChartRenderError> draw_placeholder(const PlacedChartFrame& frame, uint64_t& budget,
                                                std::vector<render::DrawCommand>& commands) {
  const float x = static_cast<float>(frame.x), y = static_cast<float>(frame.y);
  const float w = static_cast<float>(frame.width), h = static_cast<float>(frame.height);
  if (!std::isfinite(x) || !std::isfinite(y) || !(std::isfinite(w) && w > 0) || !(std::isfinite(h) && h > 0)) {
    return {};
  }
  const Rect clip = frame.region.clip;
  CMX_TRY(push_draw_command(budget, kChartOpBudget, commands,
                            render::FillRect{x, y, w, h, clip, SharedString(kPlaceholderFill)}));
  if (w > 1 && h > 1) {
    const float l = x + 0.5f, t = y + 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
    const std::array<std::array<float, 4>, 4> edges = {{{l, t, r, t}, {r, t, r, b}, {r, b, l, b}, {l, b, l, t}}};
    for (const auto& e : edges) {
      CMX_TRY(push_draw_command(budget, kChartOpBudget, commands,
                                render::Line{e[0], e[1], e[2], e[3], 1, clip, std::nullopt,
                                             SharedString(kPlaceholderBorder)}));
    }
  }
  return {};
}

template <typename T>
Result<void, ChartRenderError> grow(std::vector<T>& list, T item) {
  try {
    list.push_back(std::move(item));
    return {};
  } catch (const std::bad_alloc&) {
    return unexpected(ChartRenderError{DisplayListAllocationFailed{}});
  }
}

}  // namespace

bool is_known_chart_family(std::string_view family) {
  static constexpr std::array<std::string_view, 12> kFamilies = {"bar",    "pie",     "line",    "area",
                                                                 "radar",  "stock",   "ofPie",   "column",
                                                                 "bubble", "scatter", "surface", "doughnut"};
  return std::find(kFamilies.begin(), kFamilies.end(), family) != kFamilies.end();
}

std::string chart_summary(const charts::ChartModel& chart) {
  std::vector<const charts::ChartSeries*> series;
  for (const charts::ChartSeries& s : chart.series) series.push_back(&s);
  if (series.empty()) {
    for (const charts::ChartPlot& plot : chart.plots) {
      for (const charts::ChartSeries& s : plot.series) series.push_back(&s);
    }
  }
  size_t categories = 0;
  for (const charts::ChartSeries* s : series) {
    categories = std::max({categories, s->categories.size(), s->values.size(),
                           s->x_values ? s->x_values->size() : 0, s->bubble_sizes ? s->bubble_sizes->size() : 0});
  }
  return chart_title(chart) + ", " + kind_label(chart) + ", " + format_u64(series.size()) + " series, " +
         format_u64(categories) + " categories";
}

std::optional<ChartRenderError> gate_chart(const charts::ChartModel& chart, const std::string& part) {
  if (chart.plots.empty()) {
    if (!is_known_chart_family(chart.primary_kind)) return UnsupportedChartFamily{part, chart.primary_kind};
  }
  for (const charts::ChartPlot& plot : chart.plots) {
    if (!plot.kind.empty() && !is_known_chart_family(plot.kind)) return UnsupportedChartFamily{part, plot.kind};
  }
  for (const charts::ChartPlot& plot : chart.plots) {
    if (plot.grouping && (*plot.grouping == "stacked" || *plot.grouping == "percentStacked")) {
      return UnsupportedChartFeature{part, "stacked chart grouping"};
    }
  }
  const UnsupportedChartFeature secondary{part, "secondary-axis chart combinations"};
  const std::vector<charts::ChartAxis> no_axes;
  const std::vector<charts::ChartAxis>& axes = chart.all_axes ? *chart.all_axes : no_axes;
  const size_t value_axes = static_cast<size_t>(
      std::count_if(axes.begin(), axes.end(), [](const charts::ChartAxis& a) { return a.kind == "value"; }));
  const size_t category_axes = static_cast<size_t>(std::count_if(
      axes.begin(), axes.end(), [](const charts::ChartAxis& a) { return a.kind == "date" || a.kind == "category"; }));
  const bool all_scatter =
      chart.plots.empty()
          ? scatter_like(chart.primary_kind)
          : std::all_of(chart.plots.begin(), chart.plots.end(),
                        [&](const charts::ChartPlot& p) { return scatter_like(family_of(chart, p)); });
  if (value_axes > (all_scatter ? 2u : 1u) || category_axes > 1) return secondary;
  const charts::ChartPlot* first_with_ids = nullptr;
  for (const charts::ChartPlot& plot : chart.plots) {
    if (plot.axis_ids.empty()) continue;
    if (!first_with_ids) {
      first_with_ids = &plot;
    } else if (plot.axis_ids != first_with_ids->axis_ids) {
      return secondary;
    }
  }
  for (const charts::ChartAxis& axis : axes) {
    if (axis.log_base) return UnsupportedChartFeature{part, "logarithmic chart axes"};
  }
  return std::nullopt;
}

std::string placeholder_note(const charts::ChartModel* chart, const ChartRenderError& error) {
  if (const auto* family = std::get_if<UnsupportedChartFamily>(&error)) {
    return chart_title(*chart) + ", " + family->family + " chart, not shown";
  }
  if (std::holds_alternative<UnsupportedChartFeature>(error)) return chart_summary(*chart) + ", not shown";
  return "Chart, not shown";
}

Result<void, ChartRenderError> render_chart_frames(std::span<const model::SheetChart> charts,
                                                   const model::GridMetrics& metrics, const render::Rect& viewport,
                                                   uint32_t frozen_rows, uint32_t frozen_cols,
                                                   std::vector<render::DrawCommand>& commands,
                                                   std::vector<render::ChartRegion>& regions,
                                                   session::WorkbookSession& session, std::string_view sheet_name) {
  uint64_t budget = kChartOpBudget;
  const float freeze_x = pane_edge(metrics.col_edges, metrics.explicit_cols, metrics.default_col_px,
                                   std::min(frozen_cols, model::MAX_COLS));
  const float freeze_y = pane_edge(metrics.row_edges, metrics.explicit_rows, metrics.default_row_px,
                                   std::min(frozen_rows, model::MAX_ROWS));

  std::vector<PlacedChartFrame> placed;
  for (const model::SheetChart& chart : charts) {
    std::optional<PlacedChartFrame> frame =
        place_frame(chart, metrics, viewport, frozen_rows, frozen_cols, freeze_x, freeze_y);
    if (frame) CMX_TRY(grow(placed, std::move(*frame)));
  }

  for (PlacedChartFrame& frame : placed) {
    if (budget == 0) return unexpected(ChartRenderError{ChartOpBudgetExceeded{kChartOpBudget}});
    const std::string& part = frame.chart->part;
    std::optional<ChartRenderError> refusal;
    std::shared_ptr<const charts::ChartModel> chart;
    std::optional<std::string_view> bytes;
    if (!session.source_package) {
      refusal = ChartSourceUnavailable{part};
    } else if (!(bytes = opc::find_package_part(session.source_package->parts, part))) {
      refusal = ChartPartMissing{part};
    } else if (!(chart = get_parsed_chart(session, part, *bytes, sheet_name))) {
      refusal = ChartParseFailed{part};
    } else {
      refusal = gate_chart(*chart, part);
    }
    if (refusal) {
      frame.region.note = placeholder_note(chart.get(), *refusal);
    } else {
      const std::string summary = chart_summary(*chart);
      const ChartRenderModel model = build_render_model(*chart);
      const size_t mark = commands.size();
      ChartOpSink sink{commands, budget, frame.region.clip};
      build_chart_display_list(model, ChartFrame{frame.x, frame.y, frame.width, frame.height}, sink);
      switch (sink.status) {
        case ChartOpSinkStatus::BudgetExhausted:
          return unexpected(ChartRenderError{ChartOpBudgetExceeded{kChartOpBudget}});
        case ChartOpSinkStatus::AllocationFailed:
          return unexpected(ChartRenderError{DisplayListAllocationFailed{}});
        case ChartOpSinkStatus::InvalidGeometry:
          commands.resize(mark);
          frame.region.note = summary + ", not shown";
          frame.region.placeholder = true;
          break;
        case ChartOpSinkStatus::Healthy:
          frame.region.note = summary;
          break;
      }
    }
    chart.reset();
    if (refusal) frame.region.placeholder = true;
    if (frame.region.placeholder) CMX_TRY(draw_placeholder(frame, budget, commands));
    CMX_TRY(grow(regions, std::move(frame.region)));
  }
  return {};
}

}  // namespace cmx::chart_layout
