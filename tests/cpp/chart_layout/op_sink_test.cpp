#include "chart_layout/op_sink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "chart_layout/chart_render_error.h"

namespace cmx::chart_layout {
namespace {

using render::DrawCommand;
using render::PathElement;
using render::PathOp;
using render::Rect;
using render::TextAlign;

ChartDrawOp fill(double x, double y, double w, double h) { return {ChartDrawOp::FillRect{"#112233", x, y, w, h}}; }
ChartDrawOp line(double x1, double y1, double x2, double y2, double width) {
  return {ChartDrawOp::Line{"#000000", x1, y1, x2, y2, width}};
}
ChartDrawOp text(double x, double y, double max_width, double size_px = 10, uint16_t weight = 400,
                 TextAlign align = TextAlign::Left) {
  TextStyle style;
  style.size_px = size_px;
  style.weight = weight;
  return {ChartDrawOp::Text{"label", style, x, y, max_width, align}};
}
ChartDrawOp path(std::vector<PathElement> elements, std::optional<double> stroke_width) {
  ChartDrawOp::Path p{std::move(elements), "#ff0000", std::nullopt};
  if (stroke_width) p.stroke = ChartDrawOp::Stroke{"#000000", *stroke_width};
  return {std::move(p)};
}

struct Case {
  const char* name;
  ChartDrawOp op;
  bool healthy;       // the push returns true
  size_t appended;    // commands appended
};

TEST(PushChartOp, ChecksEachKindAndAlwaysTakesOneUnit) {
  const double big = 1e39;  // finite as a double, infinite as a float
  const Case cases[] = {
      {"fill", fill(1, 2, 3, 4), true, 1},
      {"fill of width zero", fill(1, 2, 0, 4), false, 0},
      {"fill of negative height", fill(1, 2, 3, -1), false, 0},
      {"fill at 1e30", fill(1e30, 0, 1, 1), true, 1},
      {"fill at 1e39", fill(big, 0, 1, 1), false, 0},
      {"fill of tiny positive width", fill(0, 0, 1e-300, 1), true, 1},
      {"line of zero length", line(5, 5, 5, 5, 1), true, 1},
      {"line of width zero", line(0, 0, 1, 1, 0), false, 0},
      {"line with NaN end", line(0, 0, NAN, 1, 1), false, 0},
      {"path without stroke", path({{PathOp::MoveTo, 0, 0, 0, 0, 1, 1}, {PathOp::Close}}, std::nullopt), true, 1},
      {"path with stroke width zero", path({{PathOp::MoveTo, 0, 0, 0, 0, 1, 1}}, 0.0), false, 0},
      {"path without elements", path({}, std::nullopt), true, 1},
      {"path with infinite control point", path({{PathOp::CubicTo, 0, 0, big, 0, 1, 1}}, std::nullopt), false, 0},
      {"quad ignores second control point", path({{PathOp::QuadTo, 0, 0, big, 0, 1, 1}}, std::nullopt), true, 1},
      {"text inside", text(10, 20, 50), true, 1},
      {"text left of clip", text(-100, 20, 50), true, 0},
      {"text right of clip", text(300, 20, 50), true, 0},
      {"text above clip", text(10, -50, 50), true, 0},
      {"text below clip", text(10, 250, 50), true, 0},
      {"text of max width zero", text(10, 20, 0), false, 0},
      {"text of size zero", text(10, 20, 50, 0), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DrawCommand> commands;
    uint64_t budget = 10;
    ChartOpSink sink{commands, budget, Rect{0, 0, 200, 200}};
    EXPECT_EQ(push_chart_op(sink, c.op), c.healthy);
    EXPECT_EQ(commands.size(), c.appended);
    EXPECT_EQ(budget, 9u);
    EXPECT_EQ(sink.status, c.healthy ? ChartOpSinkStatus::Healthy : ChartOpSinkStatus::InvalidGeometry);
  }
}

TEST(PushChartOp, FailedSinkRefusesWithoutCharging) {
  std::vector<DrawCommand> commands;
  uint64_t budget = 1;
  ChartOpSink sink{commands, budget, Rect{0, 0, 100, 100}};
  EXPECT_TRUE(push_chart_op(sink, fill(0, 0, 1, 1)));
  EXPECT_EQ(budget, 0u);
  EXPECT_FALSE(push_chart_op(sink, fill(0, 0, 1, 1)));
  EXPECT_EQ(sink.status, ChartOpSinkStatus::BudgetExhausted);
  budget = 5;  // a failed status is final, whatever the budget
  EXPECT_FALSE(push_chart_op(sink, fill(0, 0, 1, 1)));
  EXPECT_EQ(budget, 5u);
  EXPECT_EQ(commands.size(), 1u);
}

TEST(PushChartOp, ClipsTextBoxAndKeepsCentreAnchor) {
  std::vector<DrawCommand> commands;
  uint64_t budget = 10;
  ChartOpSink sink{commands, budget, Rect{20, 0, 100, 100}};
  ASSERT_TRUE(push_chart_op(sink, text(0, 50, 60, 16, 600, TextAlign::Center)));
  ASSERT_TRUE(push_chart_op(sink, text(30, 50, 60, 16, 599)));
  ASSERT_EQ(commands.size(), 2u);
  const auto& centred = std::get<render::Text>(commands[0]);
  EXPECT_EQ(centred.clip, (Rect{20, 34, 40, 20}));  // cut at the clip's left, 16 above to 4 below the baseline
  EXPECT_EQ(centred.x, 30.0f);                      // x + max_width / 2 of the uncut box
  EXPECT_EQ(centred.size, 12.0f);                   // 16 px in points
  EXPECT_TRUE(centred.bold);
  EXPECT_EQ(centred.text.view(), "label");
  EXPECT_EQ(centred.color.view(), kDefaultChartTextColor);
  const auto& left = std::get<render::Text>(commands[1]);
  EXPECT_FALSE(left.bold);
  EXPECT_EQ(left.x, 30.0f);
}

TEST(PushDrawCommand, BudgetAndMessage) {
  std::vector<DrawCommand> commands;
  uint64_t budget = 1;
  EXPECT_TRUE(push_draw_command(budget, kChartOpBudget, commands, render::FillRect{}).has_value());
  auto refused = push_draw_command(budget, kChartOpBudget, commands, render::FillRect{});
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(chart_render_error_message(refused.error()), "chart rendering exceeds the 65536-operation frame limit");
  EXPECT_EQ(budget, 0u);
  EXPECT_EQ(commands.size(), 1u);
}

TEST(ChartRenderError, EveryVariantHasItsMessageAndDebugForm) {
  struct ErrorCase {
    ChartRenderError error;
    const char* message;
    const char* debug;
  };
  const ErrorCase cases[] = {
      {ChartSourceUnavailable{"xl/charts/chart1.xml"}, "cannot render chart xl/charts/chart1.xml: source part is unavailable",
       "ChartSourceUnavailable { part: \"xl/charts/chart1.xml\" }"},
      {ChartPartMissing{"c.xml"}, "cannot render chart c.xml: package part is missing", "ChartPartMissing { part: \"c.xml\" }"},
      {ChartParseFailed{"c.xml"}, "cannot render chart c.xml: chart data is invalid", "ChartParseFailed { part: \"c.xml\" }"},
      {UnsupportedChartFamily{"c.xml", "funnel"}, "cannot render chart c.xml: funnel charts are unsupported",
       "UnsupportedChartFamily { part: \"c.xml\", family: \"funnel\" }"},
      {UnsupportedChartFeature{"c.xml", "logarithmic chart axes"},
       "cannot render chart c.xml: logarithmic chart axes is unsupported",
       "UnsupportedChartFeature { part: \"c.xml\", feature: \"logarithmic chart axes\" }"},
      {ChartOpBudgetExceeded{65536}, "chart rendering exceeds the 65536-operation frame limit",
       "ChartOpBudgetExceeded { max: 65536 }"},
      {DisplayListAllocationFailed{}, "chart display-list allocation failed", "DisplayListAllocationFailed"},
  };
  std::set<std::string> messages;
  for (const ErrorCase& c : cases) {
    EXPECT_EQ(chart_render_error_message(c.error), c.message);
    EXPECT_EQ(chart_render_error_debug(c.error), c.debug);
    messages.insert(chart_render_error_message(c.error));
  }
  EXPECT_EQ(messages.size(), std::variant_size_v<ChartRenderError>);
  EXPECT_EQ(chart_render_error_debug(ChartPartMissing{"c.xml"}, /*multiline=*/true),
            "ChartPartMissing {\n    part: \"c.xml\",\n}");
}

}  // namespace
}  // namespace cmx::chart_layout
