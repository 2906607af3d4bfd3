#include "chart_layout/layout.h"

#include <algorithm>
#include <cmath>

#include "model/colors.h"

namespace cmx::chart_layout {
namespace {

constexpr double kOuterInset = 9.5;
constexpr double kTitleGap = 12;
constexpr double kTitleLineFactor = 1.22;
constexpr double kTitleBaselineFactor = 0.95;
constexpr double kExtraTopRoom = 18;
constexpr double kExtraRightRoom = 38;
constexpr double kSmallestPlotWidth = 24;
constexpr double kFrameBound = 1e9;

std::string hex_colour(std::initializer_list<unsigned> channels) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "#";
  for (unsigned c : channels) {
    out += kDigits[(c >> 4) & 15];
    out += kDigits[c & 15];
  }
  return out;
}

std::string gradient_colour(const std::vector<std::string>& stops) {
  if (stops.empty()) return "#FFFFFF";
  std::vector<std::array<unsigned, 4>> rgba;
  for (const std::string& stop : stops) {
    if (auto six = model::parse_hex_rgb(stop)) {
      rgba.push_back({(*six)[0], (*six)[1], (*six)[2], 255});
    } else if (auto eight = model::parse_hex_rgba(stop)) {
      rgba.push_back({(*eight)[0], (*eight)[1], (*eight)[2], (*eight)[3]});
    } else {
      return "#FFFFFF";
    }
  }
  uint64_t alpha_sum = 0;
  for (const auto& c : rgba) alpha_sum += c[3];
  const uint64_t n = rgba.size();
  std::array<unsigned, 3> mixed{};
  for (size_t ch = 0; ch < 3; ++ch) {
    uint64_t sum = 0;
    for (const auto& c : rgba) sum += alpha_sum > 0 ? uint64_t{c[ch]} * c[3] : c[ch];
    mixed[ch] = static_cast<unsigned>(alpha_sum > 0 ? sum / alpha_sum : sum / n);
  }
  const unsigned alpha = static_cast<unsigned>(alpha_sum / n);
  std::string out = hex_colour({mixed[0], mixed[1], mixed[2]});
  if (alpha != 255) out += hex_colour({alpha}).substr(1);
  return out;
}

double clamp_frame_value(double v) { return std::isfinite(v) ? std::clamp(v, -kFrameBound, kFrameBound) : 0; }

// NaN never replaces a number.
double larger(double a, double b) { return std::fmax(a, b); }

bool round_family(const std::string& family) {
  return family == "pie" || family == "doughnut" || family == "ofPie" || family == "radar";
}

}  // namespace

PlotGeometry plot_geometry(std::string_view family) {
  if (family == "pie" || family == "ofPie" || family == "doughnut") return PlotGeometry::Pie;
  if (family == "line") return PlotGeometry::Line;
  if (family == "area") return PlotGeometry::Area;
  if (family == "stock") return PlotGeometry::Stock;
  if (family == "radar") return PlotGeometry::Radar;
  if (family == "scatter" || family == "bubble" || family == "surface") return PlotGeometry::ScatterBubbleSurface;
  if (family == "bar") return PlotGeometry::HorizontalBars;
  return PlotGeometry::VerticalBars;
}

std::optional<std::string> background_colour(const std::optional<charts::ChartFill>& fill) {
  if (!fill) return "#FFFFFF";
  if (std::holds_alternative<charts::NoFill>(*fill)) return std::nullopt;
  if (const auto* solid = std::get_if<charts::SolidFill>(&*fill)) return solid->color;
  if (const auto* pattern = std::get_if<charts::PatternFill>(&*fill)) {
    if (pattern->foreground && pattern->background) {
      const auto a = model::parse_hex_rgb(*pattern->foreground);
      const auto b = model::parse_hex_rgb(*pattern->background);
      if (!a || !b) return *pattern->foreground;
      return hex_colour({(unsigned{(*a)[0]} + (*b)[0]) / 2, (unsigned{(*a)[1]} + (*b)[1]) / 2,
                         (unsigned{(*a)[2]} + (*b)[2]) / 2});
    }
    if (pattern->foreground) return *pattern->foreground;
    if (pattern->background) return *pattern->background;
    return "#FFFFFF";
  }
  if (const auto* gradient = std::get_if<charts::GradientFill>(&*fill)) return gradient_colour(gradient->stops);
  return "#FFFFFF";
}

const RenderAxis* find_secondary_value_axis(const ChartRenderModel& model, bool bar_family) {
  if (model.plots.empty()) return nullptr;
  const RenderAxis* first = find_value_axes(model, model.plots.front()).value_axis;
  if (!first) return nullptr;
  for (const RenderPlot& plot : model.plots) {
    if ((plot_family(model, plot) == "bar") != bar_family) continue;
    const RenderAxis* axis = find_value_axes(model, plot).value_axis;
    if (axis && (*axis)->id != (*first)->id) return axis;
  }
  return nullptr;
}

void draw_plot(ChartEmitter&, const PlotView& view, const PlotArea&, const ContentBox&) {
  // Each family's geometry draws its plot inside the area (cartesian
  // families) or the content box (pie-like and radar plots).
  switch (plot_geometry(view.family)) {
    case PlotGeometry::Pie:
    case PlotGeometry::Line:
    case PlotGeometry::Area:
    case PlotGeometry::Stock:
    case PlotGeometry::Radar:
    case PlotGeometry::ScatterBubbleSurface:
    case PlotGeometry::VerticalBars:
    case PlotGeometry::HorizontalBars:
      break;
  }
}

ChartFrame clamp_chart_frame(const ChartFrame& frame) {
  return {clamp_frame_value(frame.x), clamp_frame_value(frame.y), clamp_frame_value(frame.width),
          clamp_frame_value(frame.height)};
}

ChartPage lay_out_chart_page(const ChartRenderModel& model, const ChartFrame& frame, double title_block,
                             const TextStyle& body, const TextStyle& legend_style) {
  const double x = frame.x, y = frame.y, width = frame.width, height = frame.height;
  ChartPage page;
  SeriesBudgets budgets;
  std::vector<PlotView>& views = page.views;
  const size_t plot_count = std::min(model.plots.size(), kMaxLaidOutPlots);
  if (plot_count > 0) {
    std::vector<std::vector<SeriesView>> series_views;
    for (size_t p = 0; p < plot_count; ++p) series_views.push_back(build_series_views(model.plots[p].series, budgets));
    const RenderAxis* first_value_axis = find_value_axes(model, model.plots.front()).value_axis;
    for (size_t p = 0; p < plot_count; ++p) {
      const RenderPlot& plot = model.plots[p];
      PlotView view;
      view.chart_props = model.chart_props;
      view.family = plot_family(model, plot);
      view.series = std::move(series_views[p]);
      view.body_style = &body;
      view.plot = &plot;
      const ValueAxes axes = find_value_axes(model, plot);
      view.value_axis = axes.value_axis;
      view.x_axis = axes.x_axis;
      view.category_axis = find_category_axis(model.axes, plot->axis_ids);
      if (model.axes.empty() && plot->axis_ids.empty()) {
        view.fallback_scaling = FallbackScaling{model.fallback_min, model.fallback_max};
        view.category_title = model.fallback_category_title;
        view.value_title = model.fallback_value_title;
      } else {
        if (view.category_axis) view.category_title = (*view.category_axis)->title;
        if (view.value_axis) view.value_title = (*view.value_axis)->title;
      }
      view.secondary = view.value_axis && first_value_axis && (*view.value_axis)->id != (*first_value_axis)->id;
      views.push_back(std::move(view));
    }
  } else {
    PlotView view;
    view.chart_props = model.chart_props;
    view.family = model.chart_family;
    view.series = build_series_views(model.series, budgets);
    view.body_style = &body;
    for (const RenderAxis& axis : model.axes) {
      if (axis.kind != AxisKind::Value) {
        view.category_axis = &axis;
        break;
      }
    }
    view.fallback_scaling = FallbackScaling{model.fallback_min, model.fallback_max};
    view.category_title = model.fallback_category_title;
    view.value_title = model.fallback_value_title;
    views.push_back(std::move(view));
  }

  std::optional<ChartMargins> measured;
  for (const PlotView& view : views) {
    if (round_family(view.family) || view.secondary) continue;
    const ChartMargins m = measure_plot_margins(view, width);
    if (!measured) {
      measured = m;
      continue;
    }
    measured->left = larger(measured->left, m.left);
    measured->top = larger(measured->top, m.top);
    measured->right = larger(measured->right, m.right);
    measured->bottom = larger(measured->bottom, m.bottom);
    measured->right_with_legend = larger(measured->right_with_legend, m.right_with_legend);
  }
  const ChartMargins margins = page.margins = measured.value_or(ChartMargins{});

  bool bar_title = false;
  if (plot_count > 0) {
    for (const PlotView& view : views) {
      if (view.family == "bar" && view.category_title && !view.category_title->empty()) bar_title = true;
    }
  } else {
    bar_title = model.chart_family == "bar" && model.fallback_category_title && !model.fallback_category_title->empty();
  }
  const double extra_top = page.extra_top = bar_title || find_secondary_value_axis(model, true) ? kExtraTopRoom : 0;
  const double extra_right = page.extra_right = find_secondary_value_axis(model, false) ? kExtraRightRoom : 0;

  page.legend = layout_legend(model, frame, legend_style, title_block, extra_top, margins, views);
  const LegendReserves& r = page.legend.reserves;

  const double content_top = y + title_block + r.top;
  const double available_width = std::max(0.0, width - r.left - r.right);
  const double right_margin = r.right > 0 ? margins.right_with_legend : margins.right + kOuterInset;
  PlotArea& area = page.area;
  if (model.manual_layout) {
    const ManualLayout& l = *model.manual_layout;
    area.x = x + width * l.x;
    area.y = y + height * l.y;
    area.width = std::max(kSmallestPlotWidth, width * l.width);
    area.height = std::max(kSmallestPlotWidth, height * l.height);
  } else {
    area.x = x + r.left + margins.left;
    area.y = std::min(content_top + extra_top + margins.top, y + height);
    area.width = std::max(kSmallestPlotWidth, available_width - margins.left - right_margin - extra_right);
    area.height = std::max(0.0, y + height - r.bottom - margins.bottom - area.y);
  }
  area.left_margin = margins.left;
  double content_bottom = y + height;
  if (r.bottom > 0) {
    content_bottom = y + height - kOuterInset - page.legend.layout->height - kTitleGap;
  } else if (r.top > 0) {
    content_bottom = y + height - kOuterInset;
  }
  page.content = ContentBox{x + std::min(r.left, width), content_top, available_width,
                            std::max(0.0, content_bottom - content_top)};
  return page;
}

void build_chart_display_list(const ChartRenderModel& model, ChartFrame frame, ChartOpSink& sink) {
  frame = clamp_chart_frame(frame);
  const double x = frame.x, y = frame.y, width = frame.width, height = frame.height;
  ChartEmitter emitter{sink};

  const TextStyle body = make_text_style(model.chart_props, 400, 10);
  const TextStyle legend_style = make_text_style(merge_text_props(model.legend_props, model.chart_props), 400, 10);

  if (const std::optional<std::string> colour = background_colour(model.background)) {
    emit_fill_rect(emitter, *colour, x, y, width, height);
  }

  double title_block = kOuterInset;
  if (model.title && !model.title->empty()) {
    TextStyle style = make_text_style(merge_text_props(model.title_props, model.chart_props), 600, 13);
    const double s =
        std::min(style.size_px, std::max(1.0, (0.5 * height - kOuterInset - kTitleGap) / kTitleLineFactor));
    style.size_px = s;
    emit_text(emitter, *model.title, style, render::TextAlign::Center, x + kOuterInset,
              y + kOuterInset + kTitleBaselineFactor * s, std::max(0.0, width - 2 * kOuterInset));
    title_block = kTitleLineFactor * s + kOuterInset + kTitleGap;
  }

  const ChartPage page = lay_out_chart_page(model, frame, title_block, body, legend_style);
  for (const PlotView& view : page.views) {
    if (!emitter.ready()) break;
    draw_plot(emitter, view, page.area, page.content);
  }
  draw_legend(emitter, page.legend.layout, legend_style);
}

}  // namespace cmx::chart_layout
