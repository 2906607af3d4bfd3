#include "chart_layout/render_model.h"

#include <gtest/gtest.h>

#include "chart_layout/plot_view.h"

namespace cmx::chart_layout {
namespace {

using charts::ChartDataLabel;
using charts::ChartDataLabels;
using charts::ChartDataPoint;
using charts::ChartSeries;

ChartDataLabel point_label(uint32_t idx, ChartDataLabels settings) {
  ChartDataLabel label;
  label.idx = idx;
  label.settings = std::move(settings);
  return label;
}

TEST(MergeDataLabels, DeleteAndPrecedence) {
  const ChartDataLabels shows{.show_value = true};
  const ChartDataLabels deletes{.deleted = true};
  EXPECT_FALSE(merge_data_labels(nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(merge_data_labels(&deletes, nullptr, &shows, nullptr));  // the series' delete wins
  auto shown = merge_data_labels(nullptr, nullptr, &shows, nullptr);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(shown->show_value);
  EXPECT_FALSE(shown->show_percent);
  const ChartDataLabels low{.text_style = charts::ChartTextStyle{.size_pt = 8, .color = "#00FF00"}, .separator = ";",
                            .show_percent = true};
  const ChartDataLabels high{.text_style = charts::ChartTextStyle{.size_pt = 12}, .show_percent = false};
  auto merged = merge_data_labels(&high, nullptr, nullptr, &low);
  ASSERT_TRUE(merged);
  EXPECT_EQ(merged->text.size_pt, 12);
  EXPECT_EQ(merged->text.color, "#00FF00");
  EXPECT_EQ(merged->separator, ";");
  EXPECT_FALSE(merged->show_percent);
}

TEST(BuildRenderSeries, PlotLabelsAndNumberFormat) {
  ChartSeries series;
  series.format_code = "0.0";
  const ChartDataLabels plot{.show_value = true};
  const RenderSeries view = build_render_series(series, &plot);
  ASSERT_TRUE(view.labels);
  EXPECT_TRUE(view.labels->show_value);
  EXPECT_EQ(view.labels->number_format, "0.0");
  series.data_labels = ChartDataLabels{.number_format = "0%"};
  EXPECT_EQ(build_render_series(series, &plot).labels->number_format, "0%");
}

TEST(BuildRenderSeries, UnindexedPointGainsItsOwnLabel) {
  ChartSeries series;
  series.values = {1, 2, 3, 4, 5};
  series.point_overrides = std::vector<ChartDataPoint>{{std::nullopt, std::nullopt, "#FF0000"}};
  ChartDataLabels labels{.show_series_name = true};
  labels.labels = std::vector<ChartDataLabel>{point_label(3, ChartDataLabels{.show_value = true})};
  series.data_labels = labels;
  const RenderSeries view = build_render_series(series, nullptr);
  ASSERT_EQ(view.points.size(), 2u);
  EXPECT_TRUE(view.points[0].indexed);
  EXPECT_EQ(view.points[0].index, 3u);
  EXPECT_EQ(view.points[0].fill, "#FF0000");
  EXPECT_TRUE(view.points[0].labels->show_value);
  EXPECT_FALSE(view.points[1].indexed);
  EXPECT_EQ(view.points[1].fill, "#FF0000");
  EXPECT_FALSE(view.points[1].labels->show_value);

  SeriesBudgets budgets;
  const SeriesView index = build_series_view(view, budgets);
  EXPECT_EQ(index.record(3), &view.points[0]);
  EXPECT_EQ(index.record(1), &view.points[1]);
}

TEST(BuildRenderSeries, PointLabelLevelsAndRepeats) {
  ChartSeries series;
  ChartDataLabels plot{.position = "outEnd", .show_category_name = true};
  plot.labels = std::vector<ChartDataLabel>{point_label(3, ChartDataLabels{.separator = "/", .show_percent = true}),
                                            point_label(3, ChartDataLabels{.separator = "!"}),
                                            point_label(5, ChartDataLabels{.show_value = true})};
  ChartDataLabels own{.show_series_name = true};
  own.labels = std::vector<ChartDataLabel>{point_label(3, ChartDataLabels{.number_format = "0"}),
                                           point_label(3, ChartDataLabels{.number_format = "0.00"})};
  series.data_labels = own;
  const RenderSeries view = build_render_series(series, &plot);
  ASSERT_EQ(view.points.size(), 2u);
  const LabelSettings& three = *view.points[0].labels;
  EXPECT_EQ(three.number_format, "0.00");  // the second series label counts
  EXPECT_TRUE(three.show_series_name);     // the series block
  EXPECT_EQ(three.separator, "/");         // the first plot label of index 3
  EXPECT_TRUE(three.show_percent);
  EXPECT_EQ(three.position, "outEnd");     // the plot block
  EXPECT_EQ(view.points[1].index, 5u);
  EXPECT_TRUE(view.points[1].labels->show_value);
}

TEST(BuildRenderSeries, ResolvesOnlyTheFirst4096PointLabels) {
  ChartSeries series;
  ChartDataLabels own;
  own.labels.emplace();
  for (uint32_t i = 0; i < 5000; ++i) own.labels->push_back(point_label(i, ChartDataLabels{.show_value = true}));
  series.data_labels = own;
  EXPECT_EQ(build_render_series(series, nullptr).points.size(), kMaxPointLabelsResolved);
}

TEST(BuildRenderSeries, MarkerSymbolsAndAxisKinds) {
  EXPECT_EQ(marker_symbol_from_text("circle"), MarkerSymbol::Circle);
  EXPECT_EQ(marker_symbol_from_text("Circle"), MarkerSymbol::Other);
  EXPECT_EQ(marker_symbol_from_text(std::nullopt), MarkerSymbol::Other);
  EXPECT_EQ(marker_symbol_from_text("x"), MarkerSymbol::X);
  EXPECT_EQ(axis_kind_from_text("value"), AxisKind::Value);
  EXPECT_EQ(axis_kind_from_text("cat"), AxisKind::Category);
  EXPECT_EQ(axis_kind_from_text(""), AxisKind::Category);
  EXPECT_EQ(axis_kind_from_text("date"), AxisKind::Date);
}

TEST(BuildRenderModel, TakesTheChartsFields) {
  charts::ChartModel chart;
  chart.primary_kind = "line";
  chart.title = "T";
  chart.legend = charts::ChartLegend{.position = "left", .overlay = true};
  chart.axes = charts::PrimaryAxes{charts::ChartAxis{.kind = "category", .title = "Months"},
                                   charts::ChartAxis{.kind = "value", .title = "Euros", .min = 1, .max = 9}};
  chart.plot_area_layout = charts::PlotAreaLayout{0.1, 0.2, 0.5, 0.6};
  chart.plots.push_back(charts::ChartPlot{.kind = "line"});
  chart.plots.back().series.emplace_back();
  const ChartRenderModel model = build_render_model(chart);
  EXPECT_TRUE(model.legend_present);
  EXPECT_TRUE(model.legend_overlay);
  EXPECT_EQ(model.legend_position, "left");
  EXPECT_EQ(model.fallback_min, 1);
  EXPECT_EQ(model.fallback_max, 9);
  EXPECT_EQ(model.fallback_category_title, "Months");
  EXPECT_EQ(model.fallback_value_title, "Euros");
  ASSERT_TRUE(model.manual_layout);
  EXPECT_EQ(model.manual_layout->width, 0.5);
  ASSERT_EQ(model.plots.size(), 1u);
  EXPECT_EQ(model.plots[0].series.size(), 1u);
  EXPECT_TRUE(model.axes.empty());
}

}  // namespace
}  // namespace cmx::chart_layout
