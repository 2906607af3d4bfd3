#include <algorithm>
#include <cmath>

#include "chart_layout/geometry.h"
#include "model/number_format.h"

namespace cmx::chart_layout {
namespace {

constexpr std::string_view kStockColour = "#666666";

// The horizontal centre of display position d.
struct CategoryPositions {
  double x = 0, width = 0, n = 1;
  bool on_boundaries = false;
  CategoryPositions(const PlotView& view, const PlotArea& area, uint64_t count)
      : x(area.x), width(area.width), n(static_cast<double>(count)) {
    on_boundaries = view.value_axis && (*view.value_axis)->cross_between == "midCat";
  }
  double operator()(uint64_t d) const {
    const double dd = static_cast<double>(d);
    return on_boundaries ? x + dd * width / std::max(n - 1, 1.0) : x + (dd + 0.5) * width / n;
  }
};

double value_y(const AxisScale& scale, const PlotArea& area, double v) {
  return area.y + (1 - axis_fraction(scale, v)) * area.height;
}

// Stacked values walked series by series with the running sums of each point,
// so a plot costs one pass over its values, not one per series.
class RunningStacks {
 public:
  RunningStacks(const PlotView& view, uint64_t count)
      : percent_(plot_grouping(view) == "percentStacked"), positive_(count, 0.0), negative_(count, 0.0) {
    if (!percent_) return;
    totals_.reserve(count);
    for (uint64_t i = 0; i < count; ++i) totals_.push_back(point_total(view, i));
  }
  // (low, high) of the next series at point i; callers take each point once
  // per series, series in order, as stack_bounds would give them.
  std::pair<double, double> take(const SeriesView& series, uint64_t i) {
    double v = point_value(series, i).value_or(0);
    if (percent_) {
      if (!(totals_[i] > 0)) return {0, 0};
      v /= totals_[i];
    }
    double& run = v < 0 ? negative_[i] : positive_[i];
    const double low = run;
    run += v;
    return {low, run};
  }

 private:
  bool percent_;
  std::vector<double> positive_, negative_, totals_;
};

struct PointPlot {
  uint64_t n = 0;
  AxisScale scale;
  bool stacked = false;
};

// Axes and category labels of a line or area plot; none when it has no points.
std::optional<PointPlot> begin_point_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const uint64_t n = category_count(view.series);
  if (view.series.empty() || n == 0) return std::nullopt;
  draw_category_plot_axes(emitter, view, area);
  PointPlot plot{n, compute_value_axis_scale(view), stacked_grouping(view)};
  draw_category_labels(emitter, view, area, n);
  return plot;
}

}  // namespace

void draw_category_labels(ChartEmitter& emitter, const PlotView& view, const PlotArea& area, uint64_t n) {
  const TextStyle style = category_label_style(view);
  const double s = style.size_px;
  const double slot = std::max(area.width / static_cast<double>(n), 32.0);
  const CategoryPositions x_of(view, area, n);
  const bool reversed = categories_reversed(view);
  for (uint64_t c = 0; c < n; ++c) {
    if (!emitter.ready()) return;
    const std::string text = category_label_text(view.series, c);
    const double x = x_of(display_position(c, n, reversed)) - slot / 2;
    std::string_view rest = text;
    for (double k = 0;; ++k) {
      const size_t feed = rest.find('\n');
      emit_text(emitter, model::trim_unicode_white_space(rest.substr(0, feed)), style, render::TextAlign::Center, x,
                area.y + area.height + 0.6 * s + 7 + 0.75 * s + k * 1.2 * s, slot);
      if (feed == std::string_view::npos) break;
      rest.remove_prefix(feed + 1);
    }
  }
}

void draw_line_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const std::optional<PointPlot> begun = begin_point_plot(emitter, view, area);
  if (!begun) return;
  const auto& [n, scale, stacked] = *begun;
  std::optional<RunningStacks> stacks;
  if (stacked) stacks.emplace(view, n);
  PointTotals totals(view, n);
  const bool markers = !view.plot || (*view.plot)->show_marker.value_or(true);
  const CategoryPositions x_of(view, area, n);
  const bool reversed = categories_reversed(view);
  for (uint64_t s = 0; s < view.series.size(); ++s) {
    if (!emitter.ready()) return;
    const SeriesView& series = view.series[s];
    const std::string colour = colour_or_palette(series.series->fill(), s);
    const SeriesLineStyle line = series_line_style(*series.series);
    double px = 0, py = 0;
    for (uint64_t i = 0; i < n; ++i) {
      if (i >= 1 && !emitter.ready()) return;
      const double v = stacks ? stacks->take(series, i).second : point_value(series, i).value_or(0);
      const double x = x_of(display_position(i, n, reversed));
      const double y = value_y(scale, area, v);
      if (i >= 1 && line.visible) emit_line(emitter, colour, px, py, x, y, line.width);
      const double m = markers ? draw_point_marker(emitter, series, s, i, x, y) : 0;
      draw_point_label(emitter, view, series, s, i, x, y, m, totals(i));
      px = x, py = y;
    }
  }
}

void draw_area_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const std::optional<PointPlot> begun = begin_point_plot(emitter, view, area);
  if (!begun) return;
  const auto& [n, scale, stacked] = *begun;
  const uint64_t m = std::min(n, kMaxPolygonPoints);
  std::optional<RunningStacks> stacks;
  if (stacked) stacks.emplace(view, m);
  PointTotals totals(view, m);
  const double base = std::clamp(0.0, scale.min, scale.max);
  const CategoryPositions x_of(view, area, n);
  const bool reversed = categories_reversed(view);
  const render::Rect bounds{static_cast<float>(area.x), static_cast<float>(area.y), static_cast<float>(area.width),
                            static_cast<float>(area.height)};
  for (uint64_t s = 0; s < view.series.size(); ++s) {
    if (!emitter.ready()) return;
    const SeriesView& series = view.series[s];
    std::vector<std::pair<double, double>> top(m), bottom(m);
    for (uint64_t j = 0; j < m; ++j) {
      const auto [low, high] =
          stacks ? stacks->take(series, j) : std::pair<double, double>{base, point_value(series, j).value_or(0)};
      const double x = x_of(display_position(j, n, reversed));
      top[j] = {x, value_y(scale, area, high)};
      bottom[j] = {x, value_y(scale, area, low)};
    }
    const std::string colour = colour_or_palette(series.series->fill(), s);
    std::vector<render::PathElement> path;
    path.reserve(2 * m + 1);
    path.push_back({render::PathOp::MoveTo, 0, 0, 0, 0, top[0].first, top[0].second});
    for (uint64_t j = 1; j < m; ++j) path.push_back({render::PathOp::LineTo, 0, 0, 0, 0, top[j].first, top[j].second});
    for (uint64_t j = m; j-- > 0;) {
      path.push_back({render::PathOp::LineTo, 0, 0, 0, 0, bottom[j].first, bottom[j].second});
    }
    path.push_back({render::PathOp::Close});
    emit_path(emitter, bounds, std::move(path), colour, std::nullopt);
    for (uint64_t j = 0; j + 1 < m; ++j) {
      if (!emitter.ready()) return;
      emit_line(emitter, colour, top[j].first, top[j].second, top[j + 1].first, top[j + 1].second, 1.5);
    }
    for (uint64_t j = 0; j < m; ++j) {
      draw_data_label(emitter, view, series, s, j, false, top[j].first, top[j].second - 3, 48, totals(j));
    }
  }
}

void draw_stock_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const size_t k = view.series.size();
  if (k < 3) return draw_line_plot(emitter, view, area);
  const uint64_t n = category_count(view.series);
  if (n == 0) return;
  const bool has_open = k >= 4;
  const SeriesView* open = has_open ? &view.series[k - 4] : nullptr;
  const SeriesView& high = view.series[k - 3];
  const SeriesView& low = view.series[k - 2];
  const SeriesView& close = view.series[k - 1];
  const bool high_low = k == 3 || !view.plot || (*view.plot)->has_hi_low_lines;
  const bool up_down = has_open && (!view.plot || (*view.plot)->has_up_down_bars);
  draw_category_plot_axes(emitter, view, area);
  const AxisScale scale = compute_value_axis_scale(view);
  const double slot = bar_layout(view, n, area.width).slot;
  const double tick = std::clamp(slot / 4, 1.0, 12.0);
  const TextStyle style = view.body_style ? *view.body_style : TextStyle{};
  const double s = style.size_px;
  const bool reversed = categories_reversed(view);
  for (uint64_t c = 0; c < n; ++c) {
    if (!emitter.ready()) return;
    const double x0 = area.x + static_cast<double>(display_position(c, n, reversed)) * slot;
    const double xc = x0 + slot / 2;
    auto y_of = [&](const SeriesView& series) { return value_y(scale, area, point_value(series, c).value_or(0)); };
    emit_text(emitter, category_label_text(view.series, c), style, render::TextAlign::Left, x0 + 2,
              area.y + area.height + 0.6 * s + 7 + 0.75 * s, slot - 4);
    if (high_low) emit_line(emitter, kStockColour, xc, y_of(high), xc, y_of(low), 1);
    const double y_close = y_of(close);
    if (open) {
      const double y_open = y_of(*open);
      if (up_down) {
        const double top = std::min(y_open, y_close);
        const double height = std::max(std::fabs(y_open - y_close), 1.0);
        // Screen y grows downwards: a close at or above the open is a rising day.
        if (point_value(close, c).value_or(0) >= point_value(*open, c).value_or(0)) {
          emit_fill_rect(emitter, "#FFFFFF", xc - tick, top, 2 * tick, height);
          emit_line(emitter, kStockColour, xc - tick, top, xc - tick, top + height, 1);
        } else {
          emit_fill_rect(emitter, kStockColour, xc - tick, top, 2 * tick, height);
        }
        continue;
      }
      emit_line(emitter, kStockColour, xc - tick, y_open, xc, y_open, 1);
    }
    emit_line(emitter, kStockColour, xc, y_close, xc + tick, y_close, 1);
  }
}

}  // namespace cmx::chart_layout
