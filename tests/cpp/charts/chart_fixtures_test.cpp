// Chart parts written by xlsxwriter (tests/fixtures/charts, with the script
// that made them): one per chart type and per option, each read into the
// model that the options it was made with imply.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "charts/chart_reader.h"

namespace cmx::charts {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kRegions = {"North", "South", "East"};
const std::vector<double> kSales = {10, 20, 30};
const std::vector<double> kCosts = {5, 15, 25};

std::optional<ChartModel> fixture_model(std::string_view name) {
  const fs::path path = fs::path(CMX_SOURCE_DIR) / "tests" / "fixtures" / "charts" / (std::string(name) + ".xml");
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Result<ChartModel, ChartRefusal> model = read_chart_model(bytes, model::default_theme_colors());
  EXPECT_TRUE(model.has_value()) << name;
  if (!model) return std::nullopt;
  return std::move(*model);
}

const ChartSeries& first_series(const ChartModel& model) {
  static const ChartSeries kNone;
  if (model.plots.empty() || model.plots[0].series.empty()) {
    ADD_FAILURE() << "no series";
    return kNone;
  }
  return model.plots[0].series[0];
}

// The sales series over the regions, as every case but scatter writes it.
void expect_sales_series(const ChartSeries& series) {
  EXPECT_EQ(series.name, "Sales");
  EXPECT_EQ(series.categories, kRegions);
  EXPECT_EQ(series.values, kSales);
  EXPECT_EQ(series.category_ref, "Sheet1!$A$2:$A$4");
  EXPECT_EQ(series.values_ref, "Sheet1!$B$2:$B$4");
  EXPECT_EQ(series.format_code, "General");
  EXPECT_EQ(series.idx, 0u);
  EXPECT_EQ(series.order, 0u);
}

TEST(ChartFixtures, EachTypeAndOptionReadsIntoItsModel) {
  struct Case {
    std::string_view name;
    std::string_view kind;
    std::string_view primary;
    std::function<void(const ChartModel&)> check;
  };
  const Case cases[] = {
      {"column_gap_overlap", "column", "column",
       [](const ChartModel& m) {
         const ChartPlot& plot = m.plots[0];
         EXPECT_EQ(plot.gap_width, 80);
         EXPECT_EQ(plot.overlap, -10);
         EXPECT_EQ(plot.grouping, "clustered");
         ASSERT_EQ(plot.series.size(), 2u);
         expect_sales_series(plot.series[0]);
         EXPECT_EQ(plot.series[0].color, "#FF0000");
         EXPECT_EQ(plot.series[1].color, "#ED7D31");
         EXPECT_EQ(plot.series[1].values, kCosts);
         EXPECT_FALSE(plot.series[0].point_overrides);
         ASSERT_TRUE(m.axes && m.axes->category && m.axes->value);
         EXPECT_EQ(m.axes->category->category_labels, kRegions);
         EXPECT_EQ(m.axes->category->position, "bottom");
         EXPECT_EQ(m.axes->value->position, "left");
         EXPECT_TRUE(m.axes->value->has_major_gridlines);
         EXPECT_EQ(m.legend, (ChartLegend{std::nullopt, "right", true, false}));
         EXPECT_EQ(m.series.size(), 2u);
       }},
      {"bar_stacked", "bar", "bar",
       [](const ChartModel& m) {
         EXPECT_EQ(m.plots[0].grouping, "stacked");
         EXPECT_EQ(m.plots[0].overlap, 100);
         EXPECT_EQ(first_series(m).grouping, "stacked");
       }},
      {"bar_percent_stacked", "bar", "bar",
       [](const ChartModel& m) { EXPECT_EQ(m.plots[0].grouping, "percentStacked"); }},
      {"line_marker_smooth", "line", "line",
       [](const ChartModel& m) {
         const ChartSeries& series = first_series(m);
         expect_sales_series(series);
         EXPECT_EQ(series.marker, (SeriesMarker{"circle", 7, std::nullopt}));
         EXPECT_EQ(series.smooth, true);
         EXPECT_EQ(m.plots[0].grouping, "standard");
       }},
      {"pie_percent_labels", "pie", "pie",
       [](const ChartModel& m) {
         const ChartSeries& series = first_series(m);
         expect_sales_series(series);
         ASSERT_TRUE(series.data_labels);
         EXPECT_EQ(series.data_labels->show_percent, true);
         EXPECT_EQ(series.data_labels->position, "outEnd");
         EXPECT_TRUE(m.plots[0].labels_enabled);
         EXPECT_TRUE(m.plots[0].vary_colors);
         // Every slice gets its own automatic colour.
         EXPECT_EQ(series.point_overrides, (std::vector<ChartDataPoint>{{0, std::nullopt, "#4472C4"},
                                                                        {1, std::nullopt, "#ED7D31"},
                                                                        {2, std::nullopt, "#A5A5A5"}}));
         EXPECT_EQ(m.legend->position, "bottom");
         EXPECT_FALSE(m.axes);
       }},
      {"doughnut_hole", "doughnut", "doughnut",
       [](const ChartModel& m) {
         EXPECT_EQ(m.plots[0].doughnut_hole_size, 60);
         EXPECT_EQ(m.plots[0].first_slice_angle, 90);
       }},
      {"scatter_markers", "scatter", "line",
       [](const ChartModel& m) {
         const ChartSeries& series = first_series(m);
         EXPECT_EQ(series.name, "Costs");
         EXPECT_EQ(series.categories, (std::vector<std::string>{"10", "20", "30"}));
         EXPECT_EQ(series.x_values, kSales);
         EXPECT_EQ(series.values, kCosts);
         EXPECT_EQ(m.plots[0].scatter_style, "lineMarker");
         ASSERT_TRUE(m.all_axes);
         EXPECT_EQ(m.all_axes->size(), 2u);
         ASSERT_TRUE(m.axes);
         EXPECT_FALSE(m.axes->category);
       }},
      {"area_percent_stacked", "area", "line",
       [](const ChartModel& m) { EXPECT_EQ(m.plots[0].grouping, "percentStacked"); }},
      {"radar_filled", "radar", "line", [](const ChartModel& m) { EXPECT_EQ(m.plots[0].radar_style, "filled"); }},
      {"stock_high_low_close", "stock", "line",
       [](const ChartModel& m) {
         EXPECT_TRUE(m.plots[0].has_hi_low_lines);
         EXPECT_EQ(m.plots[0].series.size(), 3u);
       }},
      {"axis_scaling", "line", "line",
       [](const ChartModel& m) {
         ASSERT_TRUE(m.axes && m.axes->value && m.axes->category);
         const ChartAxis& value = *m.axes->value;
         EXPECT_EQ(value.min, 1);
         EXPECT_EQ(value.max, 1000);
         EXPECT_EQ(value.log_base, 10);
         EXPECT_TRUE(value.reversed);
         EXPECT_EQ(value.number_format, "0.0%");
         EXPECT_EQ(value.major_unit, 10);
         ASSERT_TRUE(value.major_gridline_style);
         EXPECT_EQ(value.major_gridline_style->color, "#00FF00");
         EXPECT_EQ(m.axes->category->title, "Region");
         // A chart without its own title takes the first axis title.
         EXPECT_EQ(m.title, "Region");
       }},
      {"labels_inside_base", "column", "column",
       [](const ChartModel& m) {
         const std::optional<ChartDataLabels>& labels = first_series(m).data_labels;
         ASSERT_TRUE(labels);
         EXPECT_EQ(labels->show_value, true);
         EXPECT_EQ(labels->position, "inBase");
         EXPECT_EQ(labels->number_format, "#,##0.00");
       }},
      {"labels_inside_end", "column", "column",
       [](const ChartModel& m) { EXPECT_EQ(first_series(m).data_labels->position, "inEnd"); }},
      {"labels_center_category", "line", "line",
       [](const ChartModel& m) {
         const std::optional<ChartDataLabels>& labels = first_series(m).data_labels;
         ASSERT_TRUE(labels);
         EXPECT_EQ(labels->position, "ctr");
         EXPECT_EQ(labels->show_category_name, true);
         EXPECT_EQ(labels->show_series_name, true);
         EXPECT_EQ(labels->separator, "; ");
       }},
      {"legend_top", "column", "column", [](const ChartModel& m) { EXPECT_EQ(m.legend->position, "top"); }},
      {"legend_left", "column", "column", [](const ChartModel& m) { EXPECT_EQ(m.legend->position, "left"); }},
      {"legend_overlay_right", "column", "column",
       [](const ChartModel& m) {
         EXPECT_EQ(m.legend->position, "right");
         EXPECT_TRUE(m.legend->overlay);
       }},
      {"legend_none", "column", "column", [](const ChartModel& m) { EXPECT_FALSE(m.legend); }},
      {"title_font_area_fill", "column", "column",
       [](const ChartModel& m) {
         EXPECT_EQ(m.title, "Quarterly");
         ASSERT_TRUE(m.title_style);
         EXPECT_EQ(m.title_style->size_pt, 14);
         EXPECT_EQ(m.title_style->bold, true);
         EXPECT_EQ(m.title_style->color, "#0000FF");
         EXPECT_EQ(m.background, ChartFill{SolidFill{"#FFFFCC"}});
         EXPECT_EQ(m.plot_area_layout, (PlotAreaLayout{0.15, 0.2, 0.7, 0.6}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ChartModel> model = fixture_model(c.name);
    if (!model) continue;
    ASSERT_FALSE(model->plots.empty());
    EXPECT_EQ(model->plots[0].kind, c.kind);
    EXPECT_EQ(model->primary_kind, c.primary);
    c.check(*model);
  }
}

}  // namespace
}  // namespace cmx::charts
