#include "chart_layout/layout.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/colors.h"

namespace cmx::chart_layout {
namespace {

struct Emitted {
  std::vector<render::DrawCommand> commands;
  uint64_t budget = kChartOpBudget;
  ChartOpSinkStatus status = ChartOpSinkStatus::Healthy;
};

Emitted emit(const charts::ChartModel& chart, ChartFrame frame, render::Rect clip = {0, 0, 1000, 1000}) {
  Emitted out;
  const ChartRenderModel model = build_render_model(chart);
  ChartOpSink sink{out.commands, out.budget, clip};
  build_chart_display_list(model, frame, sink);
  out.status = sink.status;
  return out;
}

charts::ChartModel column_chart(size_t plots = 1) {
  charts::ChartModel chart;
  chart.primary_kind = "column";
  for (size_t p = 0; p < plots; ++p) {
    chart.plots.push_back(charts::ChartPlot{.kind = "column"});
    charts::ChartSeries s;
    s.values = {1, 2, 3};
    chart.plots.back().series.push_back(s);
  }
  return chart;
}

TEST(BackgroundColour, FillKinds) {
  using charts::ChartFill;
  const std::pair<std::optional<ChartFill>, std::optional<std::string>> cases[] = {
      {std::nullopt, "#FFFFFF"},
      {ChartFill{charts::NoFill{}}, std::nullopt},
      {ChartFill{charts::UnsupportedFill{}}, "#FFFFFF"},
      {ChartFill{charts::SolidFill{"#123456"}}, "#123456"},
      {ChartFill{charts::PatternFill{"#FF0000", "#0000FF"}}, "#7F007F"},
      {ChartFill{charts::PatternFill{"#FF0000", std::nullopt}}, "#FF0000"},
      {ChartFill{charts::PatternFill{std::nullopt, "#00FF00"}}, "#00FF00"},
      {ChartFill{charts::PatternFill{"red", "#0000FF"}}, "red"},
      {ChartFill{charts::PatternFill{std::nullopt, std::nullopt}}, "#FFFFFF"},
      {ChartFill{charts::GradientFill{{"#FF000080", "#0000FF80"}}}, "#7F007F80"},
      {ChartFill{charts::GradientFill{{"FF0000", "#0000FF"}}}, "#7F007F"},
      {ChartFill{charts::GradientFill{{"#FF000000", "#0000FF00"}}}, "#7F007F00"},
      {ChartFill{charts::GradientFill{{"#FF0000", "blue"}}}, "#FFFFFF"},
  };
  for (const auto& [fill, colour] : cases) EXPECT_EQ(background_colour(fill), colour);
  EXPECT_EQ(model::parse_hex_rgb("#0aFf10"), (std::array<uint8_t, 3>{10, 255, 16}));
  EXPECT_EQ(model::parse_hex_rgb("0aFf1"), std::nullopt);
  EXPECT_EQ(model::parse_hex_rgba("0aFf1080"), (std::array<uint8_t, 4>{10, 255, 16, 128}));
}

TEST(BuildChartDisplayList, BackgroundTitleAndFrameClamp) {
  charts::ChartModel chart = column_chart();
  chart.title = "Sales";
  Emitted out = emit(chart, {10, 20, 300, 200});
  ASSERT_EQ(out.commands.size(), 2u);
  const auto& background = std::get<render::FillRect>(out.commands[0]);
  EXPECT_EQ(background.color.view(), "#FFFFFF");
  EXPECT_EQ(background.x, 10.0f);
  const auto& title = std::get<render::Text>(out.commands[1]);
  EXPECT_EQ(title.text.view(), "Sales");
  EXPECT_TRUE(title.bold);
  EXPECT_EQ(title.align, render::TextAlign::Center);
  EXPECT_FLOAT_EQ(title.size, 13.0f * 72 / 96);
  EXPECT_FLOAT_EQ(title.y, 20 + 9.5f + 0.95f * 13);
  EXPECT_FLOAT_EQ(title.x, 10 + 9.5f + (300 - 19) / 2.0f);

  out = emit(chart, {0, 0, 300, 40});  // (20 - 21.5) / 1.22 is below 1
  EXPECT_FLOAT_EQ(std::get<render::Text>(out.commands[1]).size, 0.75f);

  out = emit(chart, {0, 0, NAN, 200});  // width 0: nothing at all
  EXPECT_TRUE(out.commands.empty());
  EXPECT_EQ(out.status, ChartOpSinkStatus::Healthy);

  chart.title.reset();
  chart.background = charts::ChartFill{charts::NoFill{}};
  out = emit(chart, {0, 0, 300, 200});
  EXPECT_TRUE(out.commands.empty());

  chart.background.reset();
  out = emit(chart, {5e12, 0, 300, 200}, {0, 0, 2e9, 1000});
  ASSERT_EQ(out.commands.size(), 1u);
  EXPECT_EQ(std::get<render::FillRect>(out.commands[0]).x, 1e9f);
}

TEST(BuildChartDisplayList, FailedSinkStopsTheChart) {
  charts::ChartModel chart = column_chart();
  chart.title = "Sales";
  chart.legend = charts::ChartLegend{};
  Emitted out;
  out.budget = 1;
  const ChartRenderModel model = build_render_model(chart);
  ChartOpSink sink{out.commands, out.budget, render::Rect{0, 0, 500, 500}};
  build_chart_display_list(model, {0, 0, 300, 200}, sink);
  EXPECT_EQ(sink.status, ChartOpSinkStatus::BudgetExhausted);
  EXPECT_EQ(out.commands.size(), 1u);

  chart.background = charts::ChartFill{charts::SolidFill{"#123456"}};
  out = emit(chart, {0, 0, 300, -5});  // a negative height leaves only the title, which needs a width
  ASSERT_EQ(out.commands.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<render::Text>(out.commands[0]));
}

TEST(ChartPage, PlotAreaMarginsAndRoom) {
  const TextStyle body;
  charts::ChartModel chart = column_chart();
  ChartRenderModel model = build_render_model(chart);
  ChartPage page = lay_out_chart_page(model, {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_DOUBLE_EQ(page.area.x, page.margins.left);
  EXPECT_DOUBLE_EQ(page.area.width, 400 - page.margins.left - page.margins.right - 9.5);
  EXPECT_DOUBLE_EQ(page.area.height, 300 - page.margins.bottom - page.area.y);

  chart.plot_area_layout = charts::PlotAreaLayout{0.1, 0.1, 0.01, 0.8};
  model = build_render_model(chart);
  page = lay_out_chart_page(model, {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_DOUBLE_EQ(page.area.width, 24);
  EXPECT_DOUBLE_EQ(page.area.height, 240);
  EXPECT_DOUBLE_EQ(page.area.x, 40);

  chart.plot_area_layout.reset();
  model = build_render_model(chart);
  page = lay_out_chart_page(model, {0, 0, 30, 20}, 9.5, body, body);  // too small for the margins
  EXPECT_DOUBLE_EQ(page.area.height, 0);
  EXPECT_DOUBLE_EQ(page.area.width, 24);

  charts::ChartModel pies;
  pies.primary_kind = "pie";
  pies.plots = {charts::ChartPlot{.kind = "pie"}, charts::ChartPlot{.kind = "doughnut"}};
  model = build_render_model(pies);
  page = lay_out_chart_page(model, {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_EQ(page.margins.left, 14.1);
  EXPECT_EQ(page.margins.top, 4.6);
  EXPECT_EQ(page.margins.right, 4.6);
  EXPECT_EQ(page.margins.bottom, 14.1);

  charts::ChartModel many = column_chart(65);
  model = build_render_model(many);
  page = lay_out_chart_page(model, {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_EQ(page.views.size(), kMaxLaidOutPlots);
}

TEST(ChartPage, LegendReservesMoveThePlotArea) {
  const TextStyle body;
  charts::ChartModel chart = column_chart();
  chart.plots[0].series[0].name = "Series name";
  const ChartPage plain = lay_out_chart_page(build_render_model(chart), {0, 0, 400, 300}, 9.5, body, body);
  chart.legend = charts::ChartLegend{.position = "left"};
  const ChartPage left = lay_out_chart_page(build_render_model(chart), {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_GT(left.legend.reserves.left, 0);
  EXPECT_DOUBLE_EQ(left.area.x, plain.area.x + left.legend.reserves.left);
  EXPECT_DOUBLE_EQ(left.content.x, left.legend.reserves.left);
  chart.legend->overlay = true;
  const ChartPage overlaid = lay_out_chart_page(build_render_model(chart), {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_DOUBLE_EQ(overlaid.area.x, plain.area.x);
  EXPECT_DOUBLE_EQ(overlaid.area.width, plain.area.width);
  chart.legend = charts::ChartLegend{.position = "bottom"};
  const ChartPage bottom = lay_out_chart_page(build_render_model(chart), {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_DOUBLE_EQ(bottom.content.height, 300 - 9.5 - bottom.legend.layout->height - 12 - 9.5);
}

TEST(ChartPage, ExtraRoomForBarTitlesAndSecondaryAxes) {
  const TextStyle body;
  charts::ChartModel chart;
  chart.primary_kind = "bar";
  chart.all_axes = std::vector<charts::ChartAxis>{{.kind = "category", .id = std::string("1"), .title = "Region"},
                                                  {.kind = "value", .id = std::string("2")},
                                                  {.kind = "value", .id = std::string("3")}};
  chart.plots = {charts::ChartPlot{.kind = "bar", .axis_ids = {"1", "2"}},
                 charts::ChartPlot{.kind = "line", .axis_ids = {"1", "3"}}};
  const ChartRenderModel model = build_render_model(chart);
  const ChartPage page = lay_out_chart_page(model, {0, 0, 400, 300}, 9.5, body, body);
  EXPECT_EQ(page.extra_top, 18);
  EXPECT_EQ(page.extra_right, 38);
  EXPECT_TRUE(page.views[1].secondary);
  EXPECT_EQ(find_secondary_value_axis(model, false), &model.axes[2]);
  EXPECT_EQ(find_secondary_value_axis(model, true), nullptr);
}

TEST(PlotGeometry, DispatchByFamilyText) {
  const std::pair<const char*, PlotGeometry> cases[] = {
      {"pie", PlotGeometry::Pie},          {"ofPie", PlotGeometry::Pie},
      {"doughnut", PlotGeometry::Pie},     {"line", PlotGeometry::Line},
      {"area", PlotGeometry::Area},        {"stock", PlotGeometry::Stock},
      {"radar", PlotGeometry::Radar},      {"scatter", PlotGeometry::ScatterBubbleSurface},
      {"bubble", PlotGeometry::ScatterBubbleSurface}, {"surface", PlotGeometry::ScatterBubbleSurface},
      {"bar", PlotGeometry::HorizontalBars}, {"column", PlotGeometry::VerticalBars},
      {"Bar", PlotGeometry::VerticalBars}, {"", PlotGeometry::VerticalBars},
  };
  for (const auto& [family, geometry] : cases) EXPECT_EQ(plot_geometry(family), geometry) << family;
}

}  // namespace
}  // namespace cmx::chart_layout
