// The chart geometry's drawing operations and the sink that checks each one,
// clips it to its frame and appends it to the display list under the
// render's shared operation budget. Next: render_model.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"
#include "chart_layout/chart_render_error.h"
#include "chart_layout/display_list.h"
#include "chart_layout/text_style.h"

namespace cmx::chart_layout {

// Chart commands one render may append, placeholders included.
inline constexpr uint64_t kChartOpBudget = 65536;

// Display-list pixels at scale 1, 64-bit until the sink converts them.
struct ChartDrawOp {
  struct FillRect {
    std::string color;
    double x = 0, y = 0, width = 0, height = 0;
  };
  struct Text {
    std::string text;
    TextStyle style;
    double x = 0;  // left edge of the text's box
    double y = 0;  // baseline
    double max_width = 0;
    render::TextAlign align = render::TextAlign::Left;
  };
  struct Line {
    std::string color;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    double width = 1;
  };
  struct Stroke {
    std::string color;
    double width = 1;
  };
  struct Path {
    std::vector<render::PathElement> elements;
    std::string fill;
    std::optional<Stroke> stroke;
  };
  std::variant<FillRect, Text, Line, Path> op;
};

enum class ChartOpSinkStatus : uint8_t { Healthy, BudgetExhausted, InvalidGeometry, AllocationFailed };

// One frame's target; borrows the list and the render's budget.
struct ChartOpSink {
  std::vector<render::DrawCommand>& commands;
  uint64_t& budget;
  render::Rect clip;
  ChartOpSinkStatus status = ChartOpSinkStatus::Healthy;
};

// True while the sink stays healthy (a text wholly outside the clip is
// dropped and still counts one unit); false once it has failed.
bool push_chart_op(ChartOpSink& sink, ChartDrawOp operation);

// A ready-made command under the same budget.
Result<void, ChartRenderError> push_draw_command(uint64_t& budget, uint64_t limit,
                                                 std::vector<render::DrawCommand>& commands,
                                                 render::DrawCommand command);

struct TextBoxOutside {};
struct TextBoxNonFinite {};
using TextBox = std::variant<TextBoxOutside, render::Rect, TextBoxNonFinite>;

// From one size above the baseline to a quarter size below it, cut by `clip`.
TextBox place_text_box(const render::Rect& clip, float x, float y, float max_width, float size_px);

// The Text command of a placed text; `size_pt` is size_px × 72 / 96.
render::Text make_chart_text_command(ChartDrawOp::Text text, float size_pt, const render::Rect& box);

}  // namespace cmx::chart_layout
