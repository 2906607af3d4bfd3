#include <algorithm>
#include <cmath>

#include "chart_layout/geometry.h"
#include "chart_layout/label_numbers.h"

namespace cmx::chart_layout {
namespace {

constexpr std::string_view kGridColour = "#D9D9D9";
constexpr std::string_view kAxisColour = "#666666";

struct LineStyle {
  std::string colour;
  double width = 1;
};

bool hidden_line(const std::optional<charts::ChartLineStyle>& line) { return line && line->no_line; }

// None for a line that is switched off.
std::optional<LineStyle> axis_line_style(const RenderAxis* axis) {
  if (!axis || !(*axis)->line_style) return LineStyle{std::string(kAxisColour), 1};
  const charts::ChartLineStyle& line = *(*axis)->line_style;
  if (line.no_line) return std::nullopt;
  LineStyle style{line.color ? *line.color : std::string(kAxisColour), 1};
  if (line.width_emu && std::isfinite(*line.width_emu)) style.width = std::clamp(*line.width_emu / 9525, 1.0, 16.0);
  return style;
}

void emit_axis_line(ChartEmitter& emitter, const RenderAxis* axis, double x1, double y1, double x2, double y2) {
  if (const std::optional<LineStyle> style = axis_line_style(axis)) {
    emit_line(emitter, style->colour, x1, y1, x2, y2, style->width);
  }
}

}  // namespace

void draw_category_plot_axes(ChartEmitter& emitter, const PlotView& view, const PlotArea& area) {
  const RenderAxis* value_axis = view.value_axis;
  const bool horizontal = view.family == "bar";
  const bool major_grid = !value_axis || ((*value_axis)->has_major_gridlines &&
                                          !hidden_line((*value_axis)->major_gridline_style));
  const bool minor_grid = value_axis && (*value_axis)->has_minor_gridlines &&
                          !hidden_line((*value_axis)->minor_gridline_style) && (*value_axis)->minor_unit;
  const bool deleted = value_axis && (*value_axis)->deleted;
  const TextStyle style =
      value_axis ? make_text_style(merge_text_props((*value_axis)->text_style, view.chart_props), 400, 10)
                 : make_text_style(view.chart_props, 400, 10);
  const double sv = style.size_px;

  double axis_at, direction;
  if (horizontal) {
    axis_at = view.secondary ? area.y : area.y + area.height;
    direction = view.secondary ? -1 : 1;
  } else {
    axis_at = view.secondary ? area.x + area.width : area.x;
    direction = view.secondary ? 1 : -1;
  }
  std::optional<std::pair<double, double>> marks;  // (inward, outward)
  if (value_axis && (*value_axis)->major_tick_mark) {
    const std::string& mark = *(*value_axis)->major_tick_mark;
    if (mark == "cross") marks = {3.5, 3.5};
    if (mark == "out") marks = {0, 7};
    if (mark == "in") marks = {7, 0};
  }

  const AxisScale scale = compute_value_axis_scale(view);
  auto position = [&](double t) {
    const double f = axis_fraction(scale, t);
    return horizontal ? area.x + f * area.width : area.y + (1 - f) * area.height;
  };
  auto gridline = [&](double p, double width) {
    if (horizontal) {
      emit_line(emitter, kGridColour, p, area.y, p, area.y + area.height, width);
    } else {
      emit_line(emitter, kGridColour, area.x, p, area.x + area.width, p, width);
    }
  };

  if (minor_grid) {
    for (double t : axis_tick_values(scale, (*value_axis)->minor_unit)) gridline(position(t), 0.25);
  }
  const std::vector<double> ticks =
      axis_tick_values(scale, value_axis ? (*value_axis)->major_unit : std::optional<double>());
  for (auto it = ticks.rbegin(); it != ticks.rend(); ++it) {
    if (!emitter.ready()) return;
    const double t = *it;
    const double p = position(t);
    if (major_grid) gridline(p, 0.5);
    if (deleted) continue;
    const std::string text =
        tick_label_text(t, value_axis ? (*value_axis)->number_format : std::optional<std::string>(), scale.percent);
    const double w = half_em_width(text, sv, style.spacing_px);
    if (!horizontal && !view.secondary) {
      emit_text(emitter, text, style, render::TextAlign::Left, area.x - (0.6 * sv + 7) - w, p + 0.25 * sv, w);
    } else if (!horizontal) {
      emit_text(emitter, text, style, render::TextAlign::Left, area.x + area.width + 0.6 * sv + 7, p + 0.25 * sv, w);
    } else if (!view.secondary) {
      emit_text(emitter, text, style, render::TextAlign::Center, p - w,
                area.y + area.height + 0.6 * sv + 7 + 0.75 * sv, 2 * w);
    } else {
      emit_text(emitter, text, style, render::TextAlign::Center, p - w, area.y - (0.6 * sv + 7) - 0.25 * sv, 2 * w);
    }
    if (marks) {
      const double outer = axis_at + marks->second * direction;
      const double inner = axis_at - marks->first * direction;
      if (horizontal) {
        emit_line(emitter, kAxisColour, p, outer, p, inner, 1);
      } else {
        emit_line(emitter, kAxisColour, outer, p, inner, p, 1);
      }
    }
  }

  const double right = area.x + area.width;
  const double bottom = area.y + area.height;
  if (view.secondary) {
    if (horizontal) {
      emit_axis_line(emitter, value_axis, area.x, area.y, right, area.y);
    } else {
      emit_axis_line(emitter, value_axis, right, area.y, right, bottom);
    }
    return;
  }
  emit_axis_line(emitter, horizontal ? view.category_axis : value_axis, area.x, area.y, area.x, bottom);
  emit_axis_line(emitter, horizontal ? value_axis : view.category_axis, area.x, bottom, right, bottom);

  const double sc = category_label_style(view).size_px;
  const std::optional<std::string>& top_title = horizontal ? view.category_title : view.value_title;
  const std::optional<std::string>& bottom_title = horizontal ? view.value_title : view.category_title;
  const double bottom_y = horizontal ? bottom + 0.6 * sv + 7 + 2 * sv : bottom + 0.6 * sc + 7 + sc + sv;
  auto draw_top = [&] {
    if (top_title && !top_title->empty()) {
      emit_text(emitter, *top_title, style, render::TextAlign::Left, area.x - area.left_margin + 4, area.y - 5,
                area.width + area.left_margin - 4);
    }
  };
  auto draw_bottom = [&] {
    if (bottom_title && !bottom_title->empty()) {
      emit_text(emitter, *bottom_title, style, render::TextAlign::Left, area.x, bottom_y, area.width);
    }
  };
  // The value axis's title first.
  if (horizontal) {
    draw_bottom();
    draw_top();
  } else {
    draw_top();
    draw_bottom();
  }
}

}  // namespace cmx::chart_layout
