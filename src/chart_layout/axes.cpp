#include "chart_layout/axes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/number_text.h"
#include "base/unicode.h"
#include "chart_layout/label_numbers.h"

namespace cmx::chart_layout {

using unicode::count_scalars;
using unicode::decode_utf8;
using unicode::is_white_space;
namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;

std::optional<double> finite_or_none(const std::optional<double>& v) {
  return v && std::isfinite(*v) ? v : std::nullopt;
}

bool positive_finite(const std::optional<double>& v) { return v && std::isfinite(*v) && *v > 0; }

double plus_zero(double v) { return v == 0 ? 0.0 : v; }

// floor(v / step + 1e-9) × step, when finite.
void round_down(double& v, double step) {
  const double q = std::floor(v / step + 1e-9);
  const double r = q * step;
  if (std::isfinite(q) && std::isfinite(r)) v = plus_zero(r);
}
void round_up(double& v, double step) {
  const double q = std::ceil(v / step - 1e-9);
  const double r = q * step;
  if (std::isfinite(q) && std::isfinite(r)) v = plus_zero(r);
}

double value_at(const SeriesView& view, uint64_t i) { return point_value(view, i).value_or(0); }

std::optional<double> axis_major(const RenderAxis* axis) {
  if (!axis) return std::nullopt;
  return (*axis)->major_unit;
}

std::string_view trimmed(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t next = start;
    if (!is_white_space(decode_utf8(text, next))) break;
    start = next;
  }
  text.remove_prefix(start);
  // Trailing white space: walk forward and remember the last non-space end.
  size_t end = 0;
  for (size_t pos = 0; pos < text.size();) {
    const char32_t cp = decode_utf8(text, pos);
    if (!is_white_space(cp)) end = pos;
  }
  return text.substr(0, end);
}

}  // namespace

AxisScale compute_value_axis_scale(const PlotView& view) {
  AxisScale scale;
  const std::string grouping = plot_grouping(view);
  double data_max = 0;
  double data_min = 0;
  if (grouping == "stacked" || grouping == "percentStacked") {
    uint64_t n = 0;
    for (const SeriesView& s : view.series) n = std::max<uint64_t>(n, s.series->point_count());
    n = std::min(n, kMaxScalePoints);
    for (uint64_t i = 0; i < n; ++i) {
      double positive = 0, negative = 0, magnitude = 0;
      for (const SeriesView& s : view.series) {
        const double v = value_at(s, i);
        if (v > 0) {
          positive += v;
        } else {
          negative += v;
        }
        magnitude += std::fabs(v);
      }
      if (grouping == "stacked") {
        data_max = std::max(data_max, positive);
        data_min = std::min(data_min, negative);
      } else if (magnitude > 0) {
        data_max = std::max(data_max, 1 + negative / magnitude);
        data_min = std::min(data_min, negative / magnitude);
      }
    }
    if (grouping == "percentStacked") {
      if (data_max <= 0) data_max = 1;
      scale.percent = true;
    }
  } else {
    uint64_t remaining = kMaxScalePoints;
    for (const SeriesView& s : view.series) {
      const uint64_t count =
          std::min<uint64_t>(remaining, std::max(s.series->values().size(), s.series->points.size()));
      remaining -= count;
      for (uint64_t i = 0; i < count; ++i) {
        const double v = value_at(s, i);
        data_max = std::max(data_max, v);
        data_min = std::min(data_min, v);
      }
    }
  }

  std::optional<double> explicit_min, explicit_max;
  if (view.value_axis) {
    explicit_min = finite_or_none((*view.value_axis)->min);
    explicit_max = finite_or_none((*view.value_axis)->max);
  } else if (view.fallback_scaling) {
    explicit_min = finite_or_none(view.fallback_scaling->min);
    explicit_max = finite_or_none(view.fallback_scaling->max);
  }
  double max = explicit_max.value_or(data_max);
  double min = explicit_min.value_or(data_min);
  if (min >= max) max = min + 1;
  if (!std::isfinite(max - min) || min == max || min > max) min = 0, max = 1;

  const std::optional<double> log_base = view.value_axis ? (*view.value_axis)->log_base : std::nullopt;
  if (log_base && std::isfinite(*log_base) && *log_base > 1 && min > 0) {
    scale.logarithmic = true;
    scale.log_base = *log_base;
  } else {
    const double d = (max - min) * 0.05;
    if (!explicit_max && max > 0) max += d;
    if (!explicit_min && min < 0) min -= d;
  }

  const std::optional<double> unit = axis_major(view.value_axis);
  if (positive_finite(unit)) {
    scale.major = *unit;
  } else {
    const double t = max - min;
    if (std::isfinite(t) && t > 0) {
      const double h = std::pow(10.0, std::round(std::log10(t)) - 1);
      scale.major = t / h >= 20 ? h * 5 : t / h >= 10 ? h * 2 : h;
    } else {
      scale.major = 1;
    }
  }
  if (!scale.logarithmic) {
    if (!explicit_min) round_down(min, scale.major);
    if (!explicit_max) round_up(max, scale.major);
  }
  scale.min = min;
  scale.max = max;
  scale.reversed = view.value_axis && (*view.value_axis)->reversed;
  return scale;
}

AxisScale compute_x_axis_scale(const PlotView& view, double width) {
  AxisScale scale;
  bool counted = false;
  double min = 0, max = 1;
  uint64_t remaining = kMaxScalePoints;
  for (const SeriesView& s : view.series) {
    const std::span<const double> xs = s.series->x_values();
    const uint64_t count = std::min<uint64_t>(remaining, xs.size());
    remaining -= count;
    for (uint64_t i = 0; i < count; ++i) {
      if (!std::isfinite(xs[i]) || !point_value(s, i)) continue;
      if (!counted) min = max = xs[i], counted = true;
      min = std::min(min, xs[i]);
      max = std::max(max, xs[i]);
    }
  }
  const RenderAxis* axis = view.x_axis;
  const bool states_min = axis && (*axis)->min.has_value();
  const bool states_max = axis && (*axis)->max.has_value();
  if (axis) {
    if (auto v = finite_or_none((*axis)->min)) min = *v;
    if (auto v = finite_or_none((*axis)->max)) max = *v;
  }
  const bool valid = min < max && std::isfinite(max - min);
  if (!valid) {
    const double m = std::min(min, 0.0);
    min = m;
    max = 1 + m;
  }
  const std::optional<double> log_base = axis ? (*axis)->log_base : std::nullopt;
  if (log_base && std::isfinite(*log_base) && *log_base > 1 && valid && min > 0) {
    scale.logarithmic = true;
    scale.log_base = *log_base;
  }
  const std::optional<double> unit = axis_major(axis);
  if (positive_finite(unit)) {
    scale.major = *unit;
  } else {
    const double c = std::isfinite(width) ? std::clamp(width / 20, 2.0, 12.0) : 4.0;
    const double raw = (max - min) / c;
    scale.major = 1;
    if (std::isfinite(raw) && raw > 0) {
      const double p = std::pow(10.0, std::floor(std::log10(raw)));
      const double u = raw / p * 0.999999999;
      const double step = u <= 1 ? p : u <= 2 ? p * 2 : u <= 5 ? p * 5 : p * 10;
      if (std::isfinite(step) && step != 0) scale.major = step;
    }
  }
  if (!scale.logarithmic) {
    if (!states_min) round_down(min, scale.major);
    if (!states_max) round_up(max, scale.major);
  }
  scale.min = min;
  scale.max = max;
  scale.reversed = axis && (*axis)->reversed;
  return scale;
}

std::vector<double> axis_tick_values(const AxisScale& scale, std::optional<double> step) {
  std::vector<double> ticks;
  if (scale.logarithmic) {
    const double lb = std::log(scale.log_base);
    const double first = std::ceil(std::log(scale.min) / lb);
    const double last = std::floor(std::log(scale.max) / lb);
    if (std::isfinite(first) && std::isfinite(last) && last - first < static_cast<double>(kMaxTicks)) {
      for (double k = first; k <= last; ++k) {
        const double v = std::pow(scale.log_base, k);
        if (std::isfinite(v)) ticks.push_back(v);
      }
      if (ticks.size() >= 2) return ticks;
      ticks.clear();
    }
  }
  const double s = step && std::isfinite(*step) && *step > 0 ? *step : scale.major;
  if (std::isfinite(s) && s > 0) {
    const double n = std::floor((scale.max - scale.min) / s);
    if (n >= 1 && n < static_cast<double>(kMaxTicks)) {
      for (size_t i = 0; i < kMaxTicks; ++i) {
        const double v = scale.min + static_cast<double>(i) * s;
        if (!std::isfinite(v) || v > scale.max + 1e-9 * s) break;
        ticks.push_back(v);
      }
      if (ticks.size() >= 2) return ticks;
      ticks.clear();
    }
  }
  const double span = scale.max - scale.min;
  return {scale.min + span * 0, scale.min + span * 0.25, scale.min + span * 0.5, scale.min + span * 0.75, scale.max};
}

double map_axis_value(const AxisScale& scale, double x, double y, double width, double height, bool horizontal,
                      double value) {
  double t;
  if (scale.logarithmic && scale.log_base > 1 && scale.min > 0 && scale.min < scale.max) {
    const double v = std::isnan(value) || value < scale.min ? scale.min : value;
    const double lb = std::log(scale.log_base);
    auto lg = [&](double a) { return std::log(std::max(a, kSmallestNormal)) / lb; };
    t = (lg(v) - lg(scale.min)) / (lg(scale.max) - lg(scale.min));
  } else {
    t = (value - scale.min) / (scale.max - scale.min);
  }
  if (!std::isfinite(t)) t = 0;
  t = std::clamp(t, 0.0, 1.0);
  if (scale.reversed) t = 1 - t;
  return horizontal ? x + t * width : y + (1 - t) * height;
}

ChartMargins measure_plot_margins(const PlotView& view, double frame_width) {
  ChartMargins margins;
  if (view.series.empty()) return margins;
  const TextStyle value_style =
      view.value_axis ? make_text_style(merge_text_props((*view.value_axis)->text_style, view.chart_props), 400, 10)
                      : make_text_style(view.chart_props, 400, 10);
  const double sv = value_style.size_px;
  const double spv = value_style.spacing_px;

  const bool value_labels = !(view.value_axis && (*view.value_axis)->deleted);
  double widest_value = 0;
  double last_value_width = 0;
  if (value_labels) {
    const AxisScale scale = compute_value_axis_scale(view);
    const std::optional<std::string> code = view.value_axis ? (*view.value_axis)->number_format : std::nullopt;
    for (double tick : axis_tick_values(scale, axis_major(view.value_axis))) {
      last_value_width = half_em_width(tick_label_text(tick, code, scale.percent), sv, spv);
      widest_value = std::max(widest_value, last_value_width);
    }
  }
  const double wv = 9.5 + widest_value;

  const bool category_labels_shown = !(view.category_axis && (*view.category_axis)->deleted);
  const TextStyle category_style = category_label_style(view);
  const double sc = category_style.size_px;
  const uint64_t n = std::min(category_count(view.series), kMaxScalePoints);
  const bool category_labels = category_labels_shown && n > 0;
  size_t most_lines = 0;
  double widest_line = 0;
  const bool bar = view.family == "bar";
  if (category_labels) {
    // The first series with a category at i never moves back as i grows, so
    // one cursor replaces a walk over the series per label.
    size_t first = 0;
    for (uint64_t i = 0; i < n; ++i) {
      while (first < view.series.size() && view.series[first].series->categories().size() <= i) ++first;
      const std::string label =
          first < view.series.size() ? view.series[first].series->categories()[i] : format_u64(i + 1);
      size_t lines = 0;
      std::string_view rest = label;
      while (!rest.empty()) {
        const size_t cut = rest.find('\n');
        const std::string_view line = rest.substr(0, cut);
        ++lines;
        if (bar) widest_line = std::max(widest_line, half_em_width(trimmed(line), sc, category_style.spacing_px));
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
      }
      most_lines = std::max(most_lines, lines);
    }
  }
  const double line_factor = 1 + 1.2 * static_cast<double>(most_lines > 1 ? most_lines - 1 : 0);
  const bool value_title = view.value_title && !view.value_title->empty();
  const bool category_title = view.category_title && !view.category_title->empty();
  const double bv = value_title ? 1.4 * sv : 0;
  const double bc = category_title ? 1.4 * sv : 0;

  double e = 0;
  if (bar) {
    if (value_labels) e = last_value_width / 2;
  } else if ((view.family == "scatter" || view.family == "bubble") &&
             !(view.x_axis && (*view.x_axis)->deleted)) {
    const AxisScale xs = compute_x_axis_scale(view, frame_width);
    const std::vector<double> ticks = axis_tick_values(xs, axis_major(view.x_axis));
    const std::optional<std::string> code = view.x_axis ? (*view.x_axis)->number_format : std::nullopt;
    const std::string label = tick_label_text(ticks.back(), code, xs.percent);
    e = half_em_width(label, view.body_style->size_px, view.body_style->spacing_px) / 2;
  }

  if (bar) {
    margins.left = (category_labels ? widest_line + 9.5 + 0.6 * sc + 7 : 14.1) + bc;
    margins.top = 4.6;
    margins.bottom = (value_labels ? sv + 0.6 * sv + 7 + 9.5 : 14.1) + bv;
  } else {
    margins.left = (value_labels ? wv + 0.6 * sv + 7 : 14.1) + bv;
    margins.top = value_labels ? std::max(4.6, 0.5 * sv - 0.7) : 4.6;
    margins.bottom = (category_labels ? line_factor * sc + 0.6 * sc + 7 + 9.5 : 14.1) + bc;
  }
  margins.right = 4.6 + e;
  margins.right_with_legend = e;
  return margins;
}

}  // namespace cmx::chart_layout
