#include "chart_layout/legend.h"

#include <gtest/gtest.h>

#include "chart_layout/layout.h"

namespace cmx::chart_layout {
namespace {

charts::ChartSeries named(std::optional<std::string> name, std::vector<double> values = {1, 2}) {
  charts::ChartSeries s;
  s.name = std::move(name);
  s.values = std::move(values);
  return s;
}

charts::ChartModel chart_of(std::string family, std::vector<charts::ChartSeries> series) {
  charts::ChartModel chart;
  chart.primary_kind = family;
  chart.legend = charts::ChartLegend{};
  chart.plots.push_back(charts::ChartPlot{.kind = family});
  chart.plots.back().series = std::move(series);
  return chart;
}

std::vector<std::string> texts(const std::vector<LegendEntry>& entries) {
  std::vector<std::string> out;
  for (const LegendEntry& e : entries) out.push_back(e.text);
  return out;
}

TEST(LegendEntries, SeriesPointsAndPalette) {
  std::vector<charts::ChartSeries> nine(9, named(std::nullopt));
  const charts::ChartModel lines = chart_of("line", nine);
  const ChartRenderModel model = build_render_model(lines);
  std::vector<LegendEntry> entries = build_legend_entries(model, {});
  EXPECT_EQ(texts(entries), (std::vector<std::string>{"Series 1", "Series 2", "Series 3", "Series 4", "Series 5",
                                                      "Series 6", "Series 7", "Series 8"}));
  EXPECT_EQ(entries[1].colour, "#ED7D31");

  charts::ChartSeries coloured = named("", {1});
  coloured.color = "ABCDEF";
  const charts::ChartModel empty_name = chart_of("line", {coloured, named("B")});
  entries = build_legend_entries(build_render_model(empty_name), {});
  EXPECT_EQ(texts(entries), (std::vector<std::string>{"", "B"}));
  EXPECT_EQ(entries[0].colour, "#ABCDEF");

  charts::ChartSeries slices = named("S", {1, 2, 3, 4});
  slices.categories = {"a", "b"};
  slices.point_overrides = std::vector<charts::ChartDataPoint>{{1, std::nullopt, "#010203"}};
  const charts::ChartModel pie = chart_of("pie", {slices});
  entries = build_legend_entries(build_render_model(pie), {});
  EXPECT_EQ(texts(entries), (std::vector<std::string>{"a", "b", "3", "4"}));
  EXPECT_EQ(entries[1].colour, "#010203");
  EXPECT_EQ(entries[2].colour, "#A5A5A5");

  charts::ChartModel varied = chart_of("column", {named("one", {5, 6, 7})});
  varied.plots[0].vary_colors = true;
  EXPECT_EQ(build_legend_entries(build_render_model(varied), {}).size(), 3u);
  varied.plots[0].series.push_back(named("two"));
  EXPECT_EQ(texts(build_legend_entries(build_render_model(varied), {})), (std::vector<std::string>{"one", "two"}));
}

LegendPlacement lay(const charts::ChartModel& chart, ChartFrame frame, double title_block = 9.5) {
  const ChartRenderModel model = build_render_model(chart);
  const TextStyle body = make_text_style(model.chart_props, 400, 10);
  return lay_out_chart_page(model, frame, title_block, body, body).legend;
}

TEST(LayoutLegend, VerticalPlacementReserveAndCut) {
  charts::ChartModel chart = chart_of("line", {named("North"), named("South")});
  LegendPlacement p = lay(chart, {0, 0, 300, 200});
  ASSERT_TRUE(p.layout);
  EXPECT_FALSE(p.layout->horizontal);
  ASSERT_EQ(p.layout->rows.size(), 2u);
  EXPECT_DOUBLE_EQ(p.layout->height, 2 * 15.3);
  const double width = 8.5 + measure_text_width("North", 10, 0);
  EXPECT_DOUBLE_EQ(p.layout->width, width);
  EXPECT_DOUBLE_EQ(p.layout->x, 300 - 13 - width);
  EXPECT_DOUBLE_EQ(p.layout->y, (9.5 + 200) / 2 - 15.3);
  EXPECT_DOUBLE_EQ(p.reserves.right, 10 + 13 + width);

  chart.legend->position = "topRight";
  p = lay(chart, {0, 0, 300, 200});
  EXPECT_DOUBLE_EQ(p.layout->y, 9.5 + 13);

  chart.legend->position = "left";
  p = lay(chart, {0, 0, 300, 200});
  EXPECT_DOUBLE_EQ(p.layout->x, 13);
  EXPECT_DOUBLE_EQ(p.reserves.left, 10 + 13 + width);
  EXPECT_EQ(p.reserves.right, 0);

  p = lay(chart, {0, 0, 300, 9.5 + 20});  // room for one entry
  EXPECT_EQ(p.layout->rows.size(), 1u);
  p = lay(chart, {0, 0, 300, 9.5 + 10});  // room for none
  EXPECT_TRUE(p.layout->rows.empty());
  EXPECT_EQ(p.reserves.left, 0);

  chart.legend->overlay = true;
  p = lay(chart, {0, 0, 300, 200});
  EXPECT_EQ(p.layout->rows.size(), 2u);
  EXPECT_EQ(p.reserves.left, 0);
}

TEST(LayoutLegend, StackedRunsReadBottomUp) {
  charts::ChartModel chart = chart_of("column", {named("a"), named("b"), named("c")});
  chart.plots[0].grouping = "stacked";
  const LegendPlacement p = lay(chart, {0, 0, 300, 200});
  ASSERT_EQ(p.layout->rows.size(), 3u);
  EXPECT_EQ(p.layout->rows[0].entries[0].lines, (std::vector<std::string>{"c"}));
  EXPECT_EQ(p.layout->rows[2].entries[0].lines, (std::vector<std::string>{"a"}));
}

TEST(LayoutLegend, HorizontalRowsAndSmallestPlotHeight) {
  charts::ChartModel chart = chart_of("pie", {named("S", {1, 2, 3})});
  chart.legend->position = "bottom";
  LegendPlacement p = lay(chart, {0, 0, 300, 200});
  ASSERT_TRUE(p.layout);
  EXPECT_TRUE(p.layout->horizontal);
  ASSERT_EQ(p.layout->rows.size(), 1u);
  EXPECT_EQ(p.layout->rows[0].entries.size(), 3u);
  EXPECT_DOUBLE_EQ(p.layout->height, 14);
  EXPECT_DOUBLE_EQ(p.layout->y, 200 - 9.5 - 14);
  EXPECT_DOUBLE_EQ(p.reserves.bottom, 14 + 12);
  EXPECT_DOUBLE_EQ(p.layout->width, 300 - 19);

  // Pie plots keep 33.5 px free: 9.5 + 12 + 33.5 + 14 is the least that holds a row.
  p = lay(chart, {0, 0, 300, 9.5 + 12 + 33.5 + 13.9});
  EXPECT_TRUE(p.layout->rows.empty());
  EXPECT_EQ(p.reserves.bottom, 0);

  chart.legend->position = "top";
  p = lay(chart, {0, 0, 60, 200});  // rows break when the next entry passes 41 px
  EXPECT_EQ(p.layout->rows.size(), 3u);
  EXPECT_DOUBLE_EQ(p.layout->y, 9.5);
  EXPECT_DOUBLE_EQ(p.reserves.top, 3 * 14 + 12);
}

TEST(DrawLegend, SwatchesThenLinesInVerticalRows) {
  charts::ChartModel chart = chart_of("line", {named("North"), named("")});
  const ChartRenderModel model = build_render_model(chart);
  const TextStyle body = make_text_style(model.chart_props, 400, 10);
  const ChartPage page = lay_out_chart_page(model, {0, 0, 300, 200}, 9.5, body, body);
  std::vector<render::DrawCommand> commands;
  uint64_t budget = 100;
  ChartOpSink sink{commands, budget, render::Rect{0, 0, 300, 200}};
  ChartEmitter emitter{sink};
  draw_legend(emitter, page.legend.layout, body);
  ASSERT_EQ(commands.size(), 3u);  // swatch, text, and the empty name's swatch alone
  const auto& swatch = std::get<render::FillRect>(commands[0]);
  EXPECT_EQ(swatch.color.view(), "#4472C4");
  EXPECT_FLOAT_EQ(swatch.width, 5.3f);
  const auto& label = std::get<render::Text>(commands[1]);
  EXPECT_EQ(label.text.view(), "North");
  EXPECT_FLOAT_EQ(label.y, static_cast<float>(page.legend.layout->y + 7.65 + 2.4));
  EXPECT_EQ(std::get<render::FillRect>(commands[2]).color.view(), "#ED7D31");
}

}  // namespace
}  // namespace cmx::chart_layout
