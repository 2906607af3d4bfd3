#include <algorithm>
#include <cmath>

#include "chart_layout/geometry.h"
#include "chart_layout/label_numbers.h"

namespace cmx::chart_layout {
namespace {

uint64_t series_limit(const SeriesView& series) {
  return std::min<uint64_t>(series.series->point_count(), kMaxSeriesPoints);
}

bool plotted(const SeriesView& series, uint64_t i) {
  const std::span<const double> xs = series.series->x_values();
  return i < series_limit(series) && i < xs.size() && std::isfinite(xs[i]) && point_value(series, i).has_value();
}

bool any_plotted(const PlotView& view) {
  for (const SeriesView& series : view.series) {
    const uint64_t limit = std::min<uint64_t>(series_limit(series), series.series->x_values().size());
    for (uint64_t i = 0; i < limit; ++i) {
      if (plotted(series, i)) return true;
    }
  }
  return false;
}

struct XyScales {
  AxisScale x;
  AxisScale y;
  std::pair<double, double> at(const PlotArea& area, double xv, double v) const {
    return {area.x + axis_fraction(x, xv) * area.width, area.y + (1 - axis_fraction(y, v)) * area.height};
  }
};

// Axes, both scales and the x tick labels; none when nothing is drawn.
std::optional<XyScales> begin_xy_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  if (view.series.empty() || category_count(view.series) == 0) return std::nullopt;
  draw_category_plot_axes(emitter, view, area);
  XyScales scales{compute_x_axis_scale(view, area.width), compute_value_axis_scale(view)};
  draw_x_axis_labels(emitter, view, area, scales.x);
  return scales;
}

}  // namespace

void draw_x_axis_labels(ChartEmitter& emitter, const PlotView& view, const PlotArea& area, const AxisScale& x_scale) {
  if (!any_plotted(view)) return;
  const std::optional<double> unit = view.x_axis ? (*view.x_axis)->major_unit : std::nullopt;
  const std::optional<std::string> code = view.x_axis ? (*view.x_axis)->number_format : std::nullopt;
  const TextStyle style = view.body_style ? *view.body_style : TextStyle{};
  const double s = style.size_px;
  for (double t : axis_tick_values(x_scale, unit)) {
    if (!emitter.ready()) return;
    const std::string text = tick_label_text(t, code, x_scale.percent);
    const double w = half_em_width(text, s, style.spacing_px);
    emit_text(emitter, text, style, render::TextAlign::Center, area.x + axis_fraction(x_scale, t) * area.width - w,
              area.y + area.height + 0.6 * s + 7 + 0.75 * s, 2 * w);
  }
}

void draw_scatter_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const std::optional<XyScales> scales = begin_xy_plot(emitter, view, area);
  if (!scales) return;
  const std::optional<std::string>& style = view.plot ? (*view.plot)->scatter_style : std::nullopt;
  const bool lines = !style || (*style != "marker" && *style != "none");
  const bool markers = !style || (*style != "line" && *style != "smooth" && *style != "none");
  PointTotals totals(view, std::min<uint64_t>(category_count(view.series), kMaxSeriesPoints));
  for (uint64_t s = 0; s < view.series.size(); ++s) {
    const SeriesView& series = view.series[s];
    const std::string colour = colour_or_palette(series.series->fill(), s);
    const SeriesLineStyle line = series_line_style(*series.series);
    const uint64_t limit = series_limit(series);
    std::optional<std::pair<double, double>> previous;
    bool joined = false;
    for (uint64_t i = 0; i < limit; ++i) {
      if (!plotted(series, i)) {
        joined = false;
        continue;
      }
      if (!emitter.ready()) return;
      const auto [x, y] = scales->at(area, series.series->x_values()[i], *point_value(series, i));
      if (lines && line.visible && previous && joined) {
        emit_line(emitter, colour, previous->first, previous->second, x, y, line.width);
      }
      const double m = markers ? draw_point_marker(emitter, series, s, i, x, y) : 0;
      draw_point_label(emitter, view, series, s, i, x, y, m, totals(i));
      previous = {x, y};
      joined = true;
    }
  }
}

void draw_bubble_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const std::optional<XyScales> scales = begin_xy_plot(emitter, view, area);
  if (!scales) return;
  double factor = 1;
  if (view.plot) {
    const std::optional<double>& scale = (*view.plot)->bubble_scale;
    factor = std::clamp(scale && std::isfinite(*scale) ? *scale : 100.0, 0.0, 300.0) / 100;
  }
  const bool width_mode = view.plot && (*view.plot)->size_represents == "w";
  auto size_of = [](const SeriesView& series, uint64_t i) {
    const std::span<const double> sizes = series.series->bubble_sizes();
    return i < sizes.size() && sizes[i] > 0 && std::isfinite(sizes[i]) ? sizes[i] : 0.0;
  };
  double max_size = 0;
  for (const SeriesView& series : view.series) {
    const uint64_t limit = series_limit(series);
    for (uint64_t i = 0; i < limit; ++i) {
      if (plotted(series, i)) max_size = std::max(max_size, size_of(series, i));
    }
  }
  PointTotals totals(view, std::min<uint64_t>(category_count(view.series), kMaxSeriesPoints));
  const double max_r = factor * 0.125 * std::min(area.width, area.height);
  for (uint64_t s = 0; s < view.series.size(); ++s) {
    const SeriesView& series = view.series[s];
    const uint64_t limit = series_limit(series);
    for (uint64_t i = 0; i < limit; ++i) {
      if (!emitter.ready()) return;
      const double size = size_of(series, i);
      if (!(max_size > 0) || !plotted(series, i) || !(size > 0)) continue;
      double frac = std::min(size / max_size, 1.0);
      if (!width_mode) frac = std::sqrt(frac);
      const double radius = std::max(max_r * frac, 1.0);
      const auto [x, y] = scales->at(area, series.series->x_values()[i], *point_value(series, i));
      emit_path(emitter, render::Rect{}, regular_polygon_path(24, x, y, radius, 0), point_fill_colour(series, i, s),
                ChartDrawOp::Stroke{"#FFFFFF", 1});
      draw_data_label(emitter, view, series, s, i, false, x, y, 48, totals(i));
    }
  }
}

void draw_surface_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const uint64_t k = view.series.size();
  const uint64_t n = category_count(view.series);
  if (k == 0 || n == 0) return;
  const double bottom = area.y + area.height;
  emit_line(emitter, "#666666", area.x, area.y, area.x, bottom, 1);
  emit_line(emitter, "#666666", area.x, bottom, area.x + area.width, bottom, 1);
  const AxisScale scale = compute_value_axis_scale(view);
  AxisScale unreversed = scale;
  unreversed.reversed = false;
  const uint64_t m = std::min(kMaxSurfaceCells / k, n);
  const double cw = area.width / static_cast<double>(std::max<uint64_t>(m, 1));
  const double ch = area.height / static_cast<double>(k);
  const bool reversed = view.category_axis && (*view.category_axis)->reversed;
  const bool wireframe = view.plot && (*view.plot)->wireframe.value_or(false);
  const TextStyle style = view.body_style ? *view.body_style : TextStyle{};
  const double s = style.size_px;
  for (uint64_t r = 0; r < k; ++r) {
    if (!emitter.ready()) return;
    const SeriesView& series = view.series[r];
    const double y = bottom - static_cast<double>(r + 1) * ch;
    for (uint64_t c = 0; c < m; ++c) {
      const double x = area.x + static_cast<double>(display_position(c, m, reversed)) * cw;
      if (wireframe) {
        emit_line(emitter, "#666666", x, y, x + cw, y, 0.5);
        emit_line(emitter, "#666666", x, y, x, y + ch, 0.5);
      } else if (cw > 0 && ch > 0) {
        const double f = axis_fraction(unreversed, point_value(series, c).value_or(0));
        const size_t band = std::min<size_t>(static_cast<size_t>(std::round(7 * f)), 7);
        emit_fill_rect(emitter, kSurfaceBands[band], x, y, cw, ch);
      }
    }
    if (series.series->name()) {
      emit_text(emitter, *series.series->name(), style, render::TextAlign::Left, area.x - 38, y + 0.6 * ch, 36);
    }
  }
  for (uint64_t c = 0; c < m; ++c) {
    if (!emitter.ready()) return;
    emit_text(emitter, category_label_text(view.series, c), style, render::TextAlign::Left,
              area.x + static_cast<double>(display_position(c, m, reversed)) * cw + 2,
              area.y + area.height + 0.6 * s + 7 + 0.75 * s, cw - 4);
  }
}

}  // namespace cmx::chart_layout
