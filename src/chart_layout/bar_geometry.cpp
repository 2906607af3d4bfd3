#include <algorithm>
#include <cmath>

#include "chart_layout/geometry.h"
#include "model/number_format.h"

namespace cmx::chart_layout {
namespace {

std::optional<double> finite(const std::optional<double>& v) {
  return v && std::isfinite(*v) ? v : std::nullopt;
}

// (a, o): the fraction along the bar from its low end and the offset.
std::pair<double, double> bar_label_anchor(const SeriesView& series, uint64_t i) {
  const PointStyle* record = series.record(i);
  const LabelSettings* settings = record && record->labels ? &*record->labels
                                  : series.series->labels  ? &*series.series->labels
                                                           : nullptr;
  if (settings && settings->position) {
    if (*settings->position == "inBase") return {0, 3};
    if (*settings->position == "inEnd") return {1, -3};
    if (*settings->position == "ctr") return {0.5, 0};
  }
  return {1, 3};
}

void draw_bar_category_label(ChartEmitter& emitter, const PlotView& view, const PlotArea& area, bool horizontal,
                             uint64_t c, double d, double slot, const TextStyle& style) {
  const double s = style.size_px;
  const std::string text = category_label_text(view.series, c);
  const double feeds = static_cast<double>(std::count(text.begin(), text.end(), '\n'));
  std::string_view rest = text;
  for (double k = 0;; ++k) {
    const size_t feed = rest.find('\n');
    const std::string_view segment = model::trim_unicode_white_space(rest.substr(0, feed));
    if (!segment.empty()) {
      if (!emitter.ready()) return;
      if (!horizontal) {
        emit_text(emitter, segment, style, render::TextAlign::Center, area.x + d * slot + 2,
                  area.y + area.height + 0.6 * s + 7 + 0.75 * s + k * 1.2 * s, slot - 4);
      } else {
        const std::string_view cut = cut_chart_text(segment);
        const double w = half_em_width(cut, s, style.spacing_px);
        emit_text(emitter, cut, style, render::TextAlign::Left, area.x - (0.6 * s + 7) - w,
                  area.y + d * slot + slot / 2 + 0.25 * s - feeds * 1.2 * s / 2 + k * 1.2 * s, w);
      }
    }
    if (feed == std::string_view::npos) return;
    rest.remove_prefix(feed + 1);
  }
}

}  // namespace

bool stacked_grouping(const PlotView& view) {
  const std::string grouping = plot_grouping(view);
  return grouping == "stacked" || grouping == "percentStacked";
}

BarLayout bar_layout(const PlotView& view, uint64_t n, double span) {
  const bool stacked = stacked_grouping(view);
  const double k = stacked ? 1 : static_cast<double>(std::max<size_t>(view.series.size(), 1));
  const double default_overlap = stacked ? 100 : 0;
  const std::optional<double> gap_width = view.plot ? finite((*view.plot)->gap_width) : std::nullopt;
  const std::optional<double> overlap_value = view.plot ? finite((*view.plot)->overlap) : std::nullopt;
  const double gap = std::max(gap_width.value_or(150), 0.0);
  const double overlap = std::max(overlap_value.value_or(default_overlap), -100.0);
  const double gap_fraction = gap > 500 ? 5 : gap / 100;
  const double t = overlap > 100 ? 1 : overlap / 100;
  BarLayout layout;
  layout.slot = span / static_cast<double>(n);
  const double kk = k - (k - 1) * t;
  layout.bar = std::min(std::max(span, 0.5), std::max(0.5, layout.slot / std::max(gap_fraction + kk, 0.1)));
  layout.first = std::max(layout.slot - kk * layout.bar, 0.0) / 2;
  layout.step = layout.bar * (1 - t);
  return layout;
}

std::vector<std::pair<double, double>> stack_bounds(const PlotView& view, uint64_t c) {
  const std::string grouping = plot_grouping(view);
  const bool percent = grouping == "percentStacked";
  const bool stacked = percent || grouping == "stacked";
  std::vector<std::pair<double, double>> bounds;
  bounds.reserve(view.series.size());
  double scale = 1;
  if (percent) {
    const double total = point_total(view, c);
    if (!(total > 0)) {
      bounds.assign(view.series.size(), {0, 0});
      return bounds;
    }
    scale = total;
  }
  double pos = 0, neg = 0;
  for (const SeriesView& series : view.series) {
    double v = point_value(series, c).value_or(0);
    if (!stacked) {
      bounds.emplace_back(0, v);
      continue;
    }
    if (percent) v /= scale;
    if (v < 0) {
      bounds.emplace_back(neg, neg + v);
      neg += v;
    } else {
      bounds.emplace_back(pos, pos + v);
      pos += v;
    }
  }
  return bounds;
}

void draw_bar_plot(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const uint64_t n = category_count(view.series);
  if (view.series.empty() || n == 0) return;
  const bool horizontal = view.family == "bar";
  draw_category_plot_axes(emitter, view, area);
  const AxisScale scale = compute_value_axis_scale(view);
  const BarLayout layout = bar_layout(view, n, horizontal ? area.height : area.width);
  const TextStyle label_style = category_label_style(view);
  const bool stacked = stacked_grouping(view);
  const bool reversed = categories_reversed(view);
  for (uint64_t c = 0; c < n; ++c) {
    if (!emitter.ready()) return;
    const double d = static_cast<double>(display_position(c, n, reversed));
    draw_bar_category_label(emitter, view, area, horizontal, c, d, layout.slot, label_style);
    const std::vector<std::pair<double, double>> bounds = stack_bounds(view, c);
    const double total = point_total(view, c);
    for (uint64_t i = 0; i < view.series.size(); ++i) {
      const SeriesView& series = view.series[i];
      const auto [low, high] = i < bounds.size() ? bounds[i] : std::pair<double, double>{0, 0};
      const std::string colour = point_fill_colour(series, c, i);
      const double pos = static_cast<double>(stacked ? 0 : i) * layout.step + d * layout.slot + layout.first;
      const auto [a, o] = bar_label_anchor(series, c);
      if (!horizontal) {
        const double x = area.x + pos;
        const double y_low = area.y + (1 - axis_fraction(scale, low)) * area.height;
        const double y_high = area.y + (1 - axis_fraction(scale, high)) * area.height;
        if (layout.bar > 0) {
          const double top = std::isnan(std::min(y_low, y_high)) ? y_low : std::min(y_low, y_high);
          emit_fill_rect(emitter, colour, x, top, layout.bar, std::max(std::fabs(y_low - y_high), 1.0));
        }
        const double box = std::max(layout.bar, 32.0);
        draw_data_label(emitter, view, series, i, c, true, area.x + pos + (layout.bar - box) / 2,
                        y_low + a * (y_high - y_low) - o, box, total);
      } else {
        const double y = area.y + pos;
        const double x_low = area.x + axis_fraction(scale, low) * area.width;
        const double x_high = area.x + axis_fraction(scale, high) * area.width;
        if (x_high != x_low && layout.bar > 0) {
          const double left = std::isnan(std::min(x_low, x_high)) ? x_low : std::min(x_low, x_high);
          emit_fill_rect(emitter, colour, left, y, std::fabs(x_high - x_low), layout.bar);
        }
        draw_data_label(emitter, view, series, i, c, false, x_low + a * (x_high - x_low) + o, y + layout.bar, 48,
                        total);
      }
    }
  }
}

}  // namespace cmx::chart_layout
