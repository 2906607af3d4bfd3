#include <algorithm>
#include <cmath>
#include <numbers>

#include "chart_layout/geometry.h"

namespace cmx::chart_layout {
namespace {

using render::PathElement;
using render::PathOp;
using Points = std::vector<std::pair<double, double>>;

constexpr double kTwoPi = 2 * std::numbers::pi;
// Steps of a full turn; a sweep of many turns is not walked further.
constexpr double kTurnSteps = 48;
constexpr double kMaxSliceSteps = 48 * 64;

PathElement at(PathOp op, double x, double y) { return {op, 0, 0, 0, 0, x, y}; }

const LabelSettings* settings_of(const SeriesView& series, uint64_t i) {
  const PointStyle* record = series.record(i);
  if (record && record->labels) return &*record->labels;
  return series.series->labels ? &*series.series->labels : nullptr;
}

// From each point to the next, closing the ring from three points on.
void emit_ring(ChartEmitter& emitter, const Points& points, std::string_view colour, double width) {
  const size_t m = points.size();
  if (m < 2) return;
  const size_t segments = m == 2 ? 1 : m;
  for (size_t t = 0; t < segments; ++t) {
    const auto& [x1, y1] = points[t];
    const auto& [x2, y2] = points[(t + 1) % m];
    emit_line(emitter, colour, x1, y1, x2, y2, width);
  }
}

}  // namespace

std::vector<PathElement> slice_path(double cx, double cy, double r, double r_in, double a0, double a1) {
  const double sweep = a1 - a0;
  double steps = std::ceil(std::fabs(sweep) / kTwoPi * kTurnSteps);
  steps = std::isnan(steps) ? 2 : std::clamp(steps, 2.0, kMaxSliceSteps);
  const int n = static_cast<int>(steps);
  auto point = [&](PathOp op, double a, double rho) { return at(op, cx + rho * std::cos(a), cy + rho * std::sin(a)); };
  std::vector<PathElement> path;
  path.reserve(2 * static_cast<size_t>(n) + 4);
  if (r_in > 0) {
    path.push_back(point(PathOp::MoveTo, a0, r));
    for (int k = 1; k <= n; ++k) path.push_back(point(PathOp::LineTo, a0 + k * sweep / n, r));
    path.push_back(point(PathOp::LineTo, a1, r_in));
    for (int k = n - 1; k >= 0; --k) path.push_back(point(PathOp::LineTo, a0 + k * sweep / n, r_in));
  } else {
    path.push_back(at(PathOp::MoveTo, cx, cy));
    path.push_back(point(PathOp::LineTo, a0, r));
    for (int k = 1; k <= n; ++k) path.push_back(point(PathOp::LineTo, a0 + k * sweep / n, r));
  }
  path.push_back({PathOp::Close});
  return path;
}

void draw_pie_plot(ChartEmitter& emitter, const PlotView& view, const ContentBox& box) {
  if (view.series.empty()) return;
  const SeriesView& series = view.series.front();
  const uint64_t count = std::min<uint64_t>(
      std::max<uint64_t>(series.series->points.size(), series.series->values().size()), kMaxSeriesPoints);
  if (emitter.remaining == 0) return;
  double total = -0.0;
  uint64_t positives = 0;
  for (uint64_t i = 0; i < count && positives < emitter.remaining; ++i) {
    const double v = point_value(series, i).value_or(0);
    if (v > 0) total += v, ++positives;
  }
  if (!(total > 0)) return;

  const double m = std::min(box.width, box.height);
  const double r = std::max(0.45 * m, std::max(0.0, std::min(0.5 * m, 10.0)));
  const double cx = box.x + box.width / 2, cy = box.y + box.height / 2;
  double r_in = 0;
  if (view.family == "doughnut") {
    const std::optional<double>& hole = view.plot ? (*view.plot)->doughnut_hole_size : std::nullopt;
    r_in = std::clamp(hole && std::isfinite(*hole) ? *hole : 50.0, 1.0, 90.0) * r / 100;
  }
  const std::optional<double>& first_angle = view.plot ? (*view.plot)->first_slice_angle : std::nullopt;
  double degrees = first_angle && std::isfinite(*first_angle) ? std::fmod(*first_angle, 360.0) : 0;
  if (degrees < 0) degrees += 360;
  double theta = degrees * std::numbers::pi / 180 - std::numbers::pi / 2;

  uint64_t i = 0;
  for (uint64_t counter = emitter.remaining; counter > 0; --counter) {
    double v = 0;
    while (i < count && !((v = point_value(series, i).value_or(0)) > 0)) ++i;
    if (i >= count) return;
    const double sweep = v / total * kTwoPi;
    const double mid = theta + sweep / 2;
    const PointStyle* record = series.record(i);
    const double explosion =
        record && record->explosion && std::isfinite(*record->explosion) ? std::clamp(*record->explosion, 0.0, 400.0)
                                                                         : 0;
    const double offset = explosion * r / 100;
    const double sx = cx + offset * std::cos(mid), sy = cy + offset * std::sin(mid);
    emit_path(emitter, render::Rect{}, slice_path(sx, sy, r, r_in, theta, theta + sweep),
              point_fill_colour(series, i, i), ChartDrawOp::Stroke{"#FFFFFF", 1});
    const LabelSettings* settings = settings_of(series, i);
    double factor = 0.62;
    if (settings && settings->position) {
      if (*settings->position == "outEnd") factor = 1.15;
      if (*settings->position == "inEnd") factor = 0.8;
      if (*settings->position == "ctr") factor = 0.5;
    }
    draw_data_label(emitter, view, series, i, i, false, sx + factor * r * std::cos(mid),
                    sy + factor * r * std::sin(mid), 48, total);
    theta += sweep;
    ++i;
  }
}

double radar_angle(const RadarFrame& frame, uint64_t t) {
  const uint64_t d = display_position(t, frame.spokes, frame.reversed);
  return static_cast<double>(d) * kTwoPi / static_cast<double>(frame.spokes) - std::numbers::pi / 2;
}

Points radar_ring_points(const RadarFrame& frame, const AxisScale& scale, double v) {
  const double reach = frame.r * axis_fraction(scale, v);
  Points points;
  points.reserve(frame.spokes);
  for (uint64_t t = 0; t < frame.spokes; ++t) {
    const double a = radar_angle(frame, t);
    points.emplace_back(frame.cx + reach * std::cos(a), frame.cy + reach * std::sin(a));
  }
  return points;
}

Points radar_series_points(const RadarFrame& frame, const AxisScale& scale, const SeriesView& series) {
  Points points;
  points.reserve(frame.spokes);
  for (uint64_t t = 0; t < frame.spokes; ++t) {
    const double a = radar_angle(frame, t);
    const double reach = frame.r * axis_fraction(scale, point_value(series, t).value_or(0));
    points.emplace_back(frame.cx + reach * std::cos(a), frame.cy + reach * std::sin(a));
  }
  return points;
}

void draw_radar_plot(ChartEmitter& emitter, const PlotView& view, const ContentBox& box) {
  const uint64_t n = category_count(view.series);
  if (view.series.empty() || n == 0) return;
  const AxisScale scale = compute_value_axis_scale(view);
  RadarFrame frame;
  frame.spokes = std::min(n, kMaxPolygonPoints);
  frame.reversed = categories_reversed(view);
  const double s = std::min(box.width, box.height);
  frame.r = std::max(0.34 * s, std::max(0.0, std::min(0.5 * s, 6.0)));
  frame.cx = box.x + 0.38 * box.width;
  frame.cy = box.y + 0.5 * box.height;

  const RenderAxis* value_axis = view.value_axis;
  const bool rings_hidden =
      value_axis && (*value_axis)->major_gridline_style && (*value_axis)->major_gridline_style->no_line;
  if (!rings_hidden) {
    for (double v : axis_tick_values(scale, value_axis ? (*value_axis)->major_unit : std::optional<double>())) {
      if (axis_fraction(scale, v) > 0) emit_ring(emitter, radar_ring_points(frame, scale, v), "#D9D9D9", 0.5);
    }
  }

  const TextStyle style = view.body_style ? *view.body_style : TextStyle{};
  const double reach = frame.r * axis_fraction(scale, scale.max);
  for (uint64_t t = 0; t < frame.spokes; ++t) {
    if (!emitter.ready()) return;
    const double a = radar_angle(frame, t);
    const double ex = frame.cx + reach * std::cos(a), ey = frame.cy + reach * std::sin(a);
    emit_line(emitter, "#666666", frame.cx, frame.cy, ex, ey, 0.5);
    emit_text(emitter, category_label_text(view.series, t), style, render::TextAlign::Left,
              frame.cx + (ex - frame.cx) * 1.1 - 16, frame.cy + (ey - frame.cy) * 1.1, 32);
  }

  const std::optional<std::string>& radar_style = view.plot ? (*view.plot)->radar_style : std::nullopt;
  const bool filled = radar_style == "filled";
  const bool markers = !filled && radar_style != "standard";
  const render::Rect bounds{static_cast<float>(box.x), static_cast<float>(box.y), static_cast<float>(box.width),
                            static_cast<float>(box.height)};
  PointTotals totals(view, frame.spokes);
  for (uint64_t k = 0; k < view.series.size(); ++k) {
    if (!emitter.ready()) return;
    const SeriesView& series = view.series[k];
    const std::string colour = colour_or_palette(series.series->fill(), k);
    const Points points = radar_series_points(frame, scale, series);
    if (filled) {
      std::vector<render::PathElement> path;
      path.reserve(points.size() + 1);
      for (size_t t = 0; t < points.size(); ++t) {
        path.push_back(at(t == 0 ? PathOp::MoveTo : PathOp::LineTo, points[t].first, points[t].second));
      }
      path.push_back({PathOp::Close});
      emit_path(emitter, bounds, std::move(path), colour, std::nullopt);
    } else if (const SeriesLineStyle line = series_line_style(*series.series); line.visible) {
      emit_ring(emitter, points, colour, line.width);
    }
    for (uint64_t t = 0; t < points.size(); ++t) {
      if (!emitter.ready()) return;
      const auto [px, py] = points[t];
      if (markers) {
        emit_marker(emitter, marker_symbol(series, t, k), point_fill_colour(series, t, k), px, py,
                    marker_size_px(series, t));
      }
      draw_data_label(emitter, view, series, k, t, false, px, py - 4, 48, totals(t));
    }
  }
}

}  // namespace cmx::chart_layout
