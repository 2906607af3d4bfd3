#include "chart_layout/op_sink.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace cmx::chart_layout {
namespace {

using render::DrawCommand;
using render::PathElement;
using render::PathOp;

bool finite32(double v) { return std::isfinite(static_cast<float>(v)); }
bool finite_positive(double v) { return finite32(v) && v > 0; }
float f32(double v) { return static_cast<float>(v); }

bool elements_finite(const std::vector<PathElement>& elements) {
  for (const PathElement& e : elements) {
    switch (e.op) {
      case PathOp::MoveTo:
      case PathOp::LineTo:
        if (!finite32(e.x) || !finite32(e.y)) return false;
        break;
      case PathOp::QuadTo:
        if (!finite32(e.x1) || !finite32(e.y1) || !finite32(e.x) || !finite32(e.y)) return false;
        break;
      case PathOp::CubicTo:
        if (!finite32(e.x1) || !finite32(e.y1) || !finite32(e.x2) || !finite32(e.y2) || !finite32(e.x) ||
            !finite32(e.y)) {
          return false;
        }
        break;
      case PathOp::Close:
        break;
    }
  }
  return true;
}

// Doubles the capacity (at least four) so a failed allocation is seen here.
bool append(std::vector<DrawCommand>& commands, DrawCommand command) {
  try {
    if (commands.size() == commands.capacity()) commands.reserve(std::max<size_t>(4, commands.capacity() * 2));
    commands.push_back(std::move(command));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The command of one checked operation; none when it is invalid, an empty
// optional inside when a text falls outside the clip.
struct Converted {
  bool valid = true;
  std::optional<DrawCommand> command;
};

Converted convert(const render::Rect& clip, ChartDrawOp::FillRect& op) {
  if (!finite32(op.x) || !finite32(op.y) || !finite_positive(op.width) || !finite_positive(op.height)) return {false};
  return {true, render::FillRect{f32(op.x), f32(op.y), f32(op.width), f32(op.height), clip, std::move(op.color)}};
}

Converted convert(const render::Rect& clip, ChartDrawOp::Line& op) {
  if (!finite32(op.x1) || !finite32(op.y1) || !finite32(op.x2) || !finite32(op.y2) || !finite_positive(op.width)) {
    return {false};
  }
  return {true, render::Line{f32(op.x1), f32(op.y1), f32(op.x2), f32(op.y2), f32(op.width), clip, std::nullopt,
                             std::move(op.color)}};
}

Converted convert(const render::Rect& clip, ChartDrawOp::Path& op) {
  if (!elements_finite(op.elements)) return {false};
  if (op.stroke && !finite_positive(op.stroke->width)) return {false};
  render::Path path;
  path.clip = clip;
  path.fill = std::move(op.fill);
  if (op.stroke) {
    path.stroke = SharedString(op.stroke->color);
    path.stroke_width = f32(op.stroke->width);
  }
  path.elements = std::move(op.elements);
  return {true, std::move(path)};
}

Converted convert(const render::Rect& clip, ChartDrawOp::Text& op) {
  const double size_pt = op.style.size_px * 72 / 96;
  if (!finite32(op.x) || !finite32(op.y) || !finite_positive(op.max_width) || !finite_positive(op.style.size_px) ||
      !(size_pt > 0)) {
    return {false};
  }
  const TextBox box = place_text_box(clip, f32(op.x), f32(op.y), f32(op.max_width), f32(op.style.size_px));
  if (std::holds_alternative<TextBoxNonFinite>(box)) return {false};
  if (std::holds_alternative<TextBoxOutside>(box)) return {true};
  return {true, make_chart_text_command(std::move(op), f32(size_pt), std::get<render::Rect>(box))};
}

}  // namespace

TextBox place_text_box(const render::Rect& clip, float x, float y, float max_width, float size_px) {
  const float top_edge = y - size_px;
  const float height = 1.25f * size_px;
  const double left = std::max<double>(x, clip.x);
  const double right = std::min(static_cast<double>(x) + max_width, static_cast<double>(clip.x) + clip.width);
  const double top = std::max<double>(top_edge, clip.y);
  const double bottom = std::min(static_cast<double>(top_edge) + height, static_cast<double>(clip.y) + clip.height);
  if (right <= left || bottom <= top) return TextBoxOutside{};
  const render::Rect out{f32(left), f32(top), f32(right - left), f32(bottom - top)};
  if (!std::isfinite(out.x) || !std::isfinite(out.y) || !std::isfinite(out.width) || !std::isfinite(out.height)) {
    return TextBoxNonFinite{};
  }
  return out;
}

render::Text make_chart_text_command(ChartDrawOp::Text text, float size_pt, const render::Rect& box) {
  render::Text out;
  out.align = text.align;
  out.bold = text.style.weight >= 600;
  const float x = f32(text.x);
  out.x = text.align == render::TextAlign::Center ? x + f32(text.max_width) / 2 : x;
  out.y = f32(text.y);
  out.size = size_pt;
  out.clip = box;
  out.family = SharedString(text.style.family);
  out.text = SharedString(text.text);
  out.color = SharedString(text.style.color);
  return out;
}

bool push_chart_op(ChartOpSink& sink, ChartDrawOp operation) {
  if (sink.status != ChartOpSinkStatus::Healthy) return false;
  if (sink.budget == 0) {
    sink.status = ChartOpSinkStatus::BudgetExhausted;
    return false;
  }
  --sink.budget;
  Converted converted = std::visit([&](auto& op) { return convert(sink.clip, op); }, operation.op);
  if (!converted.valid) {
    sink.status = ChartOpSinkStatus::InvalidGeometry;
    return false;
  }
  if (!converted.command) return true;
  if (!append(sink.commands, std::move(*converted.command))) {
    sink.status = ChartOpSinkStatus::AllocationFailed;
    return false;
  }
  return true;
}

Result<void, ChartRenderError> push_draw_command(uint64_t& budget, uint64_t limit,
                                                 std::vector<render::DrawCommand>& commands,
                                                 render::DrawCommand command) {
  if (budget == 0) return unexpected(ChartRenderError{ChartOpBudgetExceeded{limit}});
  --budget;
  if (!append(commands, std::move(command))) return unexpected(ChartRenderError{DisplayListAllocationFailed{}});
  return {};
}

}  // namespace cmx::chart_layout
