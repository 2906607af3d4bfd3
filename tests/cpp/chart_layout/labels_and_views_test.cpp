#include <gtest/gtest.h>

#include <cmath>

#include "chart_layout/label_numbers.h"
#include "chart_layout/plot_view.h"

namespace cmx::chart_layout {
namespace {

TEST(FormatLabelNumber, ShortForm) {
  const std::pair<double, const char*> cases[] = {
      {99.996, "100.0"}, {5.004, "5"}, {150.7, "151"}, {12.34, "12.3"}, {2.25, "2.2"},
      {2.35, "2.4"},     {-0.004, "-0"}, {2.5, "2.5"}, {3.004, "3"},     {-12.34, "-12.3"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(format_label_number(v), text) << v;
}

TEST(FormatChartNumber, CodesItCoversAndRefuses) {
  struct Case {
    double value;
    const char* code;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {1234.5, "#,##0.00", "1,234.50"},
      {0.5, "0%", "50%"},
      {-3, "0;(0)", "(3)"},
      {0, "0;-0;\"nil\"", "nil"},
      {0, "0;-0;\"zero\"", std::nullopt},  // its letter e reads as a scientific form
      {7, "[Red]0.0", "7.0"},
      {5, "#.##", "5."},
      {0.5, "#.00", ".50"},
      {1, "yyyy", std::nullopt},
      {1, "[>100]0", std::nullopt},
      {-0.004, "0.00", "0.00"},
      {-2.5, "0.0", "-2.5"},
      {12, "[$€-407] #,##0", "€ 12"},
      {1234567, "#,##0", "1,234,567"},
      {3.5, "General", "3.5"},
      {3, "0.0?", "3.0 "},
      {3, "\"No. \"0\" kg\"", "No. 3 kg"},
      {3, "0\" units\"", std::nullopt},  // its letter s reads as a time
      {1, "[Blue", std::nullopt},
      {5, ";;;", ""},  // hides the label
      {NAN, "0", std::nullopt},
      {1, "", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(format_chart_number(c.value, c.code), c.text) << c.code;
}

TEST(TickLabelText, FallsBackToShortForms) {
  EXPECT_EQ(tick_label_text(0.25, std::nullopt, true), "25%");
  EXPECT_EQ(tick_label_text(0.125, std::nullopt, true), "12.5%");
  EXPECT_EQ(tick_label_text(2.25, std::nullopt, false), "2.2");
  EXPECT_EQ(tick_label_text(2, std::string("yyyy"), false), "2");
  EXPECT_EQ(tick_label_text(2, std::string("0.00"), false), "2.00");
  EXPECT_EQ(group_thousands("1234567.891"), "1,234,567.891");
  EXPECT_EQ(split_format_literals("\"x\"#,##0 \"kg\""), (std::pair<std::string, std::string>{"x", " kg"}));
}

TEST(LabelFieldText, Fields) {
  charts::ChartSeries s;
  s.name = "Sales";
  s.values = {10, 30};
  s.categories = {"North"};
  RenderSeries series = build_render_series(s, nullptr);
  SeriesBudgets budgets;
  const std::vector<SeriesView> views = build_series_views(std::span<const RenderSeries>(&series, 1), budgets);
  EXPECT_EQ(label_field_text("VALUE", views, views[0], 1, 40, std::nullopt), "30");
  EXPECT_EQ(label_field_text("PERCENTAGE", views, views[0], 1, 40, std::nullopt), "75%");
  EXPECT_EQ(label_field_text("PERCENTAGE", views, views[0], 1, 0, std::nullopt), "0%");
  EXPECT_EQ(label_field_text("SERIESNAME", views, views[0], 0, 40, std::nullopt), "Sales");
  EXPECT_EQ(label_field_text("CATEGORYNAME", views, views[0], 0, 40, std::nullopt), "North");
  EXPECT_EQ(label_field_text("CATEGORYNAME", views, views[0], 5, 40, std::nullopt), "6");
  EXPECT_EQ(label_field_text("value", views, views[0], 1, 40, std::nullopt), "");
}

TEST(PlotRules, ColoursMarkersAndLines) {
  EXPECT_EQ(normalise_colour_text("A1B2C3"), "#A1B2C3");
  EXPECT_EQ(normalise_colour_text("#a1b2c3"), "#a1b2c3");
  EXPECT_EQ(colour_or_palette(std::nullopt, 9), "#ED7D31");
  EXPECT_EQ(colour_or_palette(std::string(""), 0), "#4472C4");

  charts::ChartSeries plain;
  charts::ChartSeries none_marker;
  none_marker.marker = charts::SeriesMarker{.symbol = "none", .size = 1};
  charts::ChartSeries auto_marker;
  auto_marker.marker = charts::SeriesMarker{.symbol = "auto", .size = 100};
  auto_marker.color = "00FF00";
  auto_marker.line = charts::ChartLineStyle{.no_line = true};
  RenderSeries rs[] = {build_render_series(plain, nullptr), build_render_series(none_marker, nullptr),
                       build_render_series(auto_marker, nullptr)};
  SeriesBudgets budgets;
  const std::vector<SeriesView> views = build_series_views(rs, budgets);
  EXPECT_EQ(marker_symbol(views[0], 0, 0), MarkerSymbol::Diamond);
  EXPECT_EQ(marker_symbol(views[1], 0, 1), std::nullopt);
  EXPECT_EQ(marker_symbol(views[2], 0, 4), MarkerSymbol::Star);
  EXPECT_DOUBLE_EQ(marker_size_px(views[0], 0), 7.0 * 4 / 3);
  EXPECT_DOUBLE_EQ(marker_size_px(views[1], 0), 2.0 * 4 / 3);
  EXPECT_DOUBLE_EQ(marker_size_px(views[2], 0), 96);
  EXPECT_EQ(point_fill_colour(views[2], 0, 5), "#00FF00");
  EXPECT_EQ(point_fill_colour(views[0], 0, 5), "#70AD47");
  EXPECT_FALSE(series_line_style(rs[2]).visible);
  EXPECT_TRUE(series_line_style(rs[0]).visible);
  EXPECT_EQ(series_line_style(rs[0]).width, 2);
  EXPECT_EQ(category_label_text(views, 5), "6");
}

TEST(PlotRules, ValueAndCategoryAxesByUniqueId) {
  charts::ChartModel chart;
  chart.primary_kind = "line";
  chart.all_axes = std::vector<charts::ChartAxis>{{.kind = "category", .id = std::string("1")},
                                                  {.kind = "value", .id = std::string("2")},
                                                  {.kind = "value", .id = std::string("3")},
                                                  {.kind = "value", .id = std::string("3")}};
  chart.plots.push_back(charts::ChartPlot{.kind = "line", .axis_ids = {"1", "2"}});
  chart.plots.push_back(charts::ChartPlot{.kind = "line", .axis_ids = {"1", "3", "2"}});
  chart.plots.push_back(charts::ChartPlot{.kind = "scatter", .axis_ids = {"2", "2"}});
  const ChartRenderModel model = build_render_model(chart);
  EXPECT_EQ(find_value_axes(model, model.plots[0]).value_axis, &model.axes[1]);
  EXPECT_EQ(find_value_axes(model, model.plots[1]).value_axis, &model.axes[1]);  // "3" is not unique
  EXPECT_EQ(find_value_axes(model, model.plots[2]).x_axis, nullptr);            // equal ids
  EXPECT_EQ(find_category_axis(model.axes, chart.plots[0].axis_ids), &model.axes[0]);
}

}  // namespace
}  // namespace cmx::chart_layout
