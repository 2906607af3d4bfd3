#include "chart_layout/plot_view.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "base/number_text.h"

namespace cmx::chart_layout {
namespace {

using render::PathElement;
using render::PathOp;

constexpr std::array<MarkerSymbol, 8> kDefaultMarkers = {MarkerSymbol::Diamond, MarkerSymbol::Square,
                                                         MarkerSymbol::Triangle, MarkerSymbol::X,
                                                         MarkerSymbol::Star,    MarkerSymbol::Dot,
                                                         MarkerSymbol::Plus,    MarkerSymbol::Dash};

PathElement move_to(double x, double y) { return {PathOp::MoveTo, 0, 0, 0, 0, x, y}; }
PathElement line_to(double x, double y) { return {PathOp::LineTo, 0, 0, 0, 0, x, y}; }
PathElement close_path() { return {PathOp::Close}; }

// The id matches exactly one axis of the list.
const RenderAxis* unique_axis(std::span<const RenderAxis> axes, const std::string& id) {
  const RenderAxis* found = nullptr;
  for (const RenderAxis& axis : axes) {
    if (axis->id && *axis->id == id) {
      if (found) return nullptr;
      found = &axis;
    }
  }
  return found;
}

}  // namespace

std::string palette_colour(uint64_t index) { return std::string(kSeriesPalette[index % kSeriesPalette.size()]); }

bool ChartEmitter::ready() {
  if (remaining == 0 || sink.status != ChartOpSinkStatus::Healthy) return false;
  if (sink.budget == 0) {
    sink.status = ChartOpSinkStatus::BudgetExhausted;
    return false;
  }
  return true;
}

void ChartEmitter::push(ChartDrawOp operation) {
  remaining = push_chart_op(sink, std::move(operation)) ? remaining - 1 : 0;
}

void emit_fill_rect(ChartEmitter& emitter, std::string_view colour, double x, double y, double width, double height) {
  if (width <= 0 || height <= 0 || !emitter.ready()) return;
  emitter.push({ChartDrawOp::FillRect{std::string(colour), x, y, width, height}});
}

void emit_text(ChartEmitter& emitter, std::string_view text, const TextStyle& style, render::TextAlign align, double x,
               double baseline, double max_width) {
  if (max_width <= 0 || text.empty() || !emitter.ready()) return;
  emitter.push({ChartDrawOp::Text{std::string(cut_chart_text(text)), style, x, baseline, max_width, align}});
}

void emit_line(ChartEmitter& emitter, std::string_view colour, double x1, double y1, double x2, double y2,
               double width) {
  if (!emitter.ready()) return;
  emitter.push({ChartDrawOp::Line{std::string(colour), x1, y1, x2, y2, width}});
}

void emit_path(ChartEmitter& emitter, const render::Rect&, std::vector<PathElement> elements, std::string_view fill,
               std::optional<ChartDrawOp::Stroke> stroke) {
  if (elements.empty() || !emitter.ready()) return;
  emitter.push({ChartDrawOp::Path{std::move(elements), std::string(fill), std::move(stroke)}});
}

void emit_marker(ChartEmitter& emitter, std::optional<MarkerSymbol> symbol, std::string_view colour, double cx,
                 double cy, double s) {
  if (!symbol) return;
  const double h = s / 2;
  std::vector<PathElement> path;
  switch (*symbol) {
    case MarkerSymbol::Square:
      emit_fill_rect(emitter, colour, cx - h, cy - h, s, s);
      return;
    case MarkerSymbol::Dash:
      path = {move_to(cx - h, cy - s / 8), line_to(cx + h, cy - s / 8), line_to(cx + h, cy + s / 8),
              line_to(cx - h, cy + s / 8), close_path()};
      break;
    case MarkerSymbol::Diamond:
      path = regular_polygon_path(4, cx, cy, h, -std::numbers::pi / 2);
      break;
    case MarkerSymbol::Dot:
      path = regular_polygon_path(24, cx, cy, s / 4, 0);
      break;
    case MarkerSymbol::Plus:
      path = cross_marker_path(cx, cy, h, 0);
      break;
    case MarkerSymbol::X:
      path = cross_marker_path(cx, cy, h, std::numbers::pi / 4);
      break;
    case MarkerSymbol::Star:
      for (int k = 0; k < 10; ++k) {
        const double angle = -std::numbers::pi / 2 + k * std::numbers::pi / 5;
        const double r = k % 2 == 0 ? h : 0.42 * h;
        const double px = cx + r * std::cos(angle);
        const double py = cy + r * std::sin(angle);
        path.push_back(k == 0 ? move_to(px, py) : line_to(px, py));
      }
      path.push_back(close_path());
      break;
    case MarkerSymbol::Triangle:
      path = regular_polygon_path(3, cx, cy, h, -std::numbers::pi / 2);
      break;
    default:
      path = regular_polygon_path(24, cx, cy, h, 0);
      break;
  }
  emit_path(emitter, render::Rect{static_cast<float>(cx - h), static_cast<float>(cy - h), static_cast<float>(s),
                                  static_cast<float>(s)},
            std::move(path), colour, std::nullopt);
}

const PointStyle* SeriesView::record(uint64_t point) const {
  const auto found = std::lower_bound(pairs.begin(), pairs.end(), point,
                                      [](const auto& pair, uint64_t idx) { return pair.first < idx; });
  if (found != pairs.end() && found->first == point) {
    const uint64_t position = any_unindexed ? std::min(found->second, first_unindexed) : found->second;
    return &series->points[position];
  }
  if (any_unindexed) return &series->points[first_unindexed];
  return nullptr;
}

SeriesView build_series_view(const RenderSeries& series, SeriesBudgets& budgets) {
  SeriesView view;
  view.series = &series;
  const uint64_t taken = std::min<uint64_t>(budgets.point_records, series.points.size());
  budgets.point_records -= taken;
  for (uint64_t position = 0; position < taken; ++position) {
    const PointStyle& record = series.points[position];
    if (record.indexed) {
      view.pairs.emplace_back(record.index, position);
    } else if (!view.any_unindexed) {
      view.any_unindexed = true;
      view.first_unindexed = position;
    }
  }
  std::stable_sort(view.pairs.begin(), view.pairs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  view.pairs.erase(std::unique(view.pairs.begin(), view.pairs.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   view.pairs.end());
  return view;
}

std::vector<SeriesView> build_series_views(std::span<const RenderSeries> series, SeriesBudgets& budgets) {
  const uint64_t taken = std::min<uint64_t>(budgets.series, series.size());
  budgets.series -= taken;
  std::vector<SeriesView> views;
  views.reserve(taken);
  for (uint64_t idx = 0; idx < taken; ++idx) views.push_back(build_series_view(series[idx], budgets));
  return views;
}

const std::string& plot_family(const ChartRenderModel& model, const RenderPlot& plot) {
  return plot->kind.empty() ? model.chart_family : plot->kind;
}

ValueAxes find_value_axes(const ChartRenderModel& model, const RenderPlot& plot) {
  const std::string& family = plot_family(model, plot);
  const std::vector<std::string>& ids = plot->axis_ids;
  auto value_axis_of = [&](const std::string& id) -> const RenderAxis* {
    const RenderAxis* axis = unique_axis(model.axes, id);
    return axis && axis->kind == AxisKind::Value ? axis : nullptr;
  };
  ValueAxes out;
  if (family == "scatter" || family == "bubble") {
    if (ids.empty() || (ids.size() >= 2 && ids[0] == ids[1])) return out;
    out.x_axis = value_axis_of(ids[0]);
    if (ids.size() >= 2) out.value_axis = value_axis_of(ids[1]);
    return out;
  }
  for (const std::string& id : ids) {
    const RenderAxis* axis = value_axis_of(id);
    if (!axis) continue;
    if (out.value_axis) return ValueAxes{};
    out.value_axis = axis;
  }
  return out;
}

const RenderAxis* find_category_axis(std::span<const RenderAxis> axes, std::span<const std::string> ids) {
  const RenderAxis* found = nullptr;
  for (const std::string& id : ids) {
    const RenderAxis* axis = unique_axis(axes, id);
    if (!axis || (axis->kind != AxisKind::Category && axis->kind != AxisKind::Date)) continue;
    if (found) return nullptr;
    found = axis;
  }
  return found;
}

std::optional<double> point_value(const SeriesView& view, uint64_t i) {
  const std::span<const double> values = view.series->values();
  if (i >= values.size() || !std::isfinite(values[i])) return std::nullopt;
  return values[i];
}

std::string normalise_colour_text(std::string_view text) {
  return !text.empty() && text.front() == '#' ? std::string(text) : "#" + std::string(text);
}

std::string colour_or_palette(const std::optional<std::string>& colour, uint64_t palette_index) {
  if (colour && !colour->empty()) return normalise_colour_text(*colour);
  return palette_colour(palette_index);
}

std::string point_fill_colour(const SeriesView& view, uint64_t i, uint64_t palette_index) {
  const PointStyle* record = view.record(i);
  if (record && record->fill) return normalise_colour_text(*record->fill);
  if (!view.series->fill().empty()) return normalise_colour_text(view.series->fill());
  return palette_colour(palette_index);
}

std::optional<MarkerSymbol> marker_symbol(const SeriesView& view, uint64_t, uint64_t series_index) {
  const MarkerStyle& marker = view.series->marker;
  MarkerSymbol symbol = marker.present ? marker.symbol : MarkerSymbol::Auto;
  if (symbol == MarkerSymbol::Auto || symbol == MarkerSymbol::Other) symbol = kDefaultMarkers[series_index % 8];
  if (symbol == MarkerSymbol::None) return std::nullopt;
  return symbol;
}

double marker_size_px(const SeriesView& view, uint64_t) {
  const MarkerStyle& marker = view.series->marker;
  const double size = marker.present && marker.size_pt ? *marker.size_pt : 7.0;
  return std::clamp(size, 2.0, 72.0) * 4 / 3;
}

SeriesLineStyle series_line_style(const RenderSeries& series) {
  const std::optional<charts::ChartLineStyle>& line = series.line();
  if (line && line->no_line) return {false, 0};
  if (line && line->width_emu && std::isfinite(*line->width_emu)) {
    return {true, std::clamp(*line->width_emu / 9525, 1.0, 16.0)};
  }
  return {true, 2};
}

uint64_t category_count(std::span<const SeriesView> views) {
  uint64_t n = 0;
  for (const SeriesView& view : views) n = std::max<uint64_t>(n, view.series->point_count());
  return n;
}

bool categories_reversed(const PlotView& view) {
  const bool bar = view.family == "bar";
  if (view.category_axis) return (*view.category_axis)->reversed != bar;
  return bar;
}

uint64_t display_position(uint64_t category, uint64_t count, bool reversed) {
  if (!reversed) return category;
  return category > count - 1 ? 0 : count - 1 - category;
}

double axis_fraction(const AxisScale& scale, double v) {
  double f;
  if (scale.logarithmic && scale.log_base > 1 && scale.min > 0 && scale.min < scale.max) {
    static constexpr double kSmallest = 2.2250738585072014e-308;
    auto lift = [](double a) { return std::isnan(a) ? kSmallest : std::max(a, kSmallest); };
    const double w = std::isnan(v) ? v : std::max(v, scale.min);
    const double lb = std::log(scale.log_base);
    const double lmin = std::log(lift(scale.min)) / lb;
    f = (std::log(lift(w)) / lb - lmin) / (std::log(lift(scale.max)) / lb - lmin);
  } else {
    f = (v - scale.min) / (scale.max - scale.min);
  }
  if (!std::isfinite(f)) f = 0;
  f = std::clamp(f, 0.0, 1.0);
  return scale.reversed ? 1 - f : f;
}

std::string category_label_text(std::span<const SeriesView> views, uint64_t i) {
  for (const SeriesView& view : views) {
    const std::span<const std::string> categories = view.series->categories();
    if (categories.size() > i) return categories[i];
  }
  return format_u64(i + 1);
}

TextStyle category_label_style(const PlotView& view) {
  if (!view.category_axis) return make_text_style(view.chart_props, 400, 10);
  return make_text_style(merge_text_props((*view.category_axis)->text_style, view.chart_props), 400, 10);
}

std::string plot_grouping(const PlotView& view) {
  if (view.plot && (*view.plot)->grouping) return *(*view.plot)->grouping;
  if (!view.series.empty() && view.series.front().series->grouping()) return *view.series.front().series->grouping();
  return "clustered";
}

std::string format_label_number(double v) {
  const double whole = std::trunc(v);
  const int digits = std::fabs(v) >= 100 || std::fabs(v - whole) < 0.01 ? 0 : 1;
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, digits);
  if (result.ec != std::errc()) return format_positional(v);
  return std::string(buffer, result.ptr);
}

std::vector<PathElement> regular_polygon_path(int n, double cx, double cy, double radius, double start_angle) {
  std::vector<PathElement> path;
  path.reserve(static_cast<size_t>(n) + 1);
  for (int k = 0; k < n; ++k) {
    const double a = start_angle + 2 * std::numbers::pi * k / n;
    const double x = cx + radius * std::cos(a);
    const double y = cy + radius * std::sin(a);
    path.push_back(k == 0 ? move_to(x, y) : line_to(x, y));
  }
  path.push_back(close_path());
  return path;
}

std::vector<PathElement> cross_marker_path(double cx, double cy, double radius, double angle) {
  static constexpr std::array<std::pair<double, double>, 12> kCorners = {{{-0.3, -1},
                                                                          {0.3, -1},
                                                                          {0.3, -0.3},
                                                                          {1, -0.3},
                                                                          {1, 0.3},
                                                                          {0.3, 0.3},
                                                                          {0.3, 1},
                                                                          {-0.3, 1},
                                                                          {-0.3, 0.3},
                                                                          {-1, 0.3},
                                                                          {-1, -0.3},
                                                                          {-0.3, -0.3}}};
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  std::vector<PathElement> path;
  path.reserve(13);
  for (size_t k = 0; k < kCorners.size(); ++k) {
    const auto [p, q] = kCorners[k];
    const double x = cx + radius * (p * c - q * s);
    const double y = cy + radius * (p * s + q * c);
    path.push_back(k == 0 ? move_to(x, y) : line_to(x, y));
  }
  path.push_back(close_path());
  return path;
}

}  // namespace cmx::chart_layout
