#include "chart_layout/axes.h"

#include <gtest/gtest.h>

#include <cmath>

#include "chart_layout/label_numbers.h"

namespace cmx::chart_layout {
namespace {

// One plot of the given family over series of values (and x values), with an
// optional value axis and x axis.
struct PlotFixture {
  std::vector<charts::ChartSeries> series;
  std::vector<RenderSeries> render;
  charts::ChartAxis value_axis{.kind = "value"};
  charts::ChartAxis x_axis{.kind = "value"};
  std::vector<RenderAxis> axes;
  TextStyle body;
  PlotView view;

  PlotFixture(std::string family, std::vector<std::vector<double>> values, bool with_axis = false,
              std::vector<std::vector<double>> xs = {}) {
    for (size_t i = 0; i < values.size(); ++i) {
      charts::ChartSeries s;
      s.values = values[i];
      if (i < xs.size()) s.x_values = xs[i];
      series.push_back(std::move(s));
    }
    finish(std::move(family), with_axis);
  }

  void finish(std::string family, bool with_axis) {
    render.clear();
    for (const charts::ChartSeries& s : series) render.push_back(build_render_series(s, nullptr));
    axes = {RenderAxis{&value_axis, AxisKind::Value}, RenderAxis{&x_axis, AxisKind::Value}};
    SeriesBudgets budgets;
    view.series = build_series_views(render, budgets);
    view.family = std::move(family);
    view.body_style = &body;
    view.value_axis = with_axis ? &axes[0] : nullptr;
    view.x_axis = with_axis ? &axes[1] : nullptr;
  }
};

std::vector<std::string> labels_of(const AxisScale& scale, std::optional<double> step = std::nullopt) {
  std::vector<std::string> out;
  for (double tick : axis_tick_values(scale, step)) out.push_back(tick_label_text(tick, std::nullopt, scale.percent));
  return out;
}

TEST(ValueAxisScale, DataRangeToBoundsStepAndLabels) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> values;
    std::optional<double> explicit_min, explicit_max, major_unit;
    double min, max, major;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"3, 7, 12", {{3, 7, 12}}, {}, {}, {}, 0, 14, 2, {"0", "2", "4", "6", "8", "10", "12", "14"}},
      {"-5 and 5", {{-5, 5}}, {}, {}, {}, -6, 6, 2, {"-6", "-4", "-2", "0", "2", "4", "6"}},
      {"all zero", {{0, 0}}, {}, {}, {}, 0, 6 * 0.2, 0.2, {"0", "0.2", "0.4", "0.6", "0.8", "1", "1.2"}},
      {"explicit maximum", {{250, 10}}, {}, 100, {}, 0, 100, 20, {"0", "20", "40", "60", "80", "100"}},
      {"fine major unit", {{0.5}}, 0, 1, 0.001, 0, 1, 0.001, {"0", "0.2", "0.5", "0.8", "1"}},
      {"two series, missing point", {{1, NAN, 40}, {-3}}, {}, {}, {}, -10, 50, 10,
       {"-10", "0", "10", "20", "30", "40", "50"}},
      {"large values", {{1234567}}, {}, {}, {}, 0, 1400000, 200000,
       {"0", "200000", "400000", "600000", "800000", "1000000", "1200000", "1400000"}},
      {"explicit bounds inverted", {{5}}, 10, 2, {}, 10, 11, 0.2, {"10", "10.2", "10.4", "10.6", "10.8", "11"}},
      {"negative only", {{-2, -8}}, {}, {}, {}, -9, 0, 1,
       {"-9", "-8", "-7", "-6", "-5", "-4", "-3", "-2", "-1", "0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool axis = c.explicit_min || c.explicit_max || c.major_unit;
    PlotFixture plot("column", c.values, axis);
    plot.value_axis.min = c.explicit_min;
    plot.value_axis.max = c.explicit_max;
    plot.value_axis.major_unit = c.major_unit;
    const AxisScale scale = compute_value_axis_scale(plot.view);
    EXPECT_DOUBLE_EQ(scale.min, c.min);
    EXPECT_DOUBLE_EQ(scale.max, c.max);
    EXPECT_DOUBLE_EQ(scale.major, c.major);
    EXPECT_FALSE(scale.logarithmic);
    EXPECT_EQ(labels_of(scale, c.major_unit), c.labels);
  }
}

TEST(ValueAxisScale, StackedPercentLogAndFallback) {
  PlotFixture stacked("column", {{1, -2}, {3, -4}});
  stacked.series[0].grouping = "stacked";
  stacked.finish("column", false);
  AxisScale scale = compute_value_axis_scale(stacked.view);
  EXPECT_DOUBLE_EQ(scale.min, -8);  // sums 4 and -6, headroom 0.5, step 2
  EXPECT_DOUBLE_EQ(scale.max, 6);

  PlotFixture percent("column", {{1, 1}, {3, -1}});
  percent.series[0].grouping = "percentStacked";
  percent.finish("column", false);
  scale = compute_value_axis_scale(percent.view);
  EXPECT_TRUE(scale.percent);
  EXPECT_EQ(labels_of(scale).front(), "-60%");
  EXPECT_EQ(labels_of(scale).back(), "120%");

  PlotFixture logarithmic("line", {{5, 500}}, true);
  logarithmic.value_axis.log_base = 10;
  logarithmic.value_axis.min = 1;
  scale = compute_value_axis_scale(logarithmic.view);
  EXPECT_TRUE(scale.logarithmic);
  EXPECT_EQ(axis_tick_values(scale, std::nullopt), (std::vector<double>{1, 10, 100}));

  PlotFixture fallback("line", {{5}});
  fallback.view.fallback_scaling = FallbackScaling{2, 3};
  scale = compute_value_axis_scale(fallback.view);
  EXPECT_DOUBLE_EQ(scale.min, 2);
  EXPECT_DOUBLE_EQ(scale.max, 3);
}

TEST(XAxisScale, NiceStepsFromTheWidth) {
  PlotFixture scatter("scatter", {{1, 1, 1}}, false, {{0.3, 5, 9.7}});
  AxisScale scale = compute_x_axis_scale(scatter.view, 400);
  EXPECT_DOUBLE_EQ(scale.major, 1);
  EXPECT_DOUBLE_EQ(scale.min, 0);
  EXPECT_DOUBLE_EQ(scale.max, 10);

  PlotFixture narrow("scatter", {{1, 1}}, false, {{0, 100}});
  scale = compute_x_axis_scale(narrow.view, 20);  // two target ticks
  EXPECT_DOUBLE_EQ(scale.major, 50);

  PlotFixture missing("scatter", {{NAN}}, false, {{7}});
  scale = compute_x_axis_scale(missing.view, 400);  // no counted point
  EXPECT_DOUBLE_EQ(scale.min, 0);
  EXPECT_DOUBLE_EQ(scale.max, 1);

  PlotFixture stated("scatter", {{1, 1}}, true, {{2, 3}});
  stated.x_axis.min = 2.5;
  stated.x_axis.max = NAN;  // stated, so never moved
  scale = compute_x_axis_scale(stated.view, 400);
  EXPECT_DOUBLE_EQ(scale.min, 2.5);
  EXPECT_DOUBLE_EQ(scale.max, 3);
}

TEST(MapAxisValue, LinearReversedAndLogarithmic) {
  AxisScale scale{.min = 0, .max = 10, .reversed = true};
  EXPECT_DOUBLE_EQ(map_axis_value(scale, 0, 100, 50, 200, false, 10), 300);  // bottom edge
  EXPECT_DOUBLE_EQ(map_axis_value(scale, 0, 100, 50, 200, false, 0), 100);   // top edge
  scale.reversed = false;
  EXPECT_DOUBLE_EQ(map_axis_value(scale, 10, 0, 100, 0, true, 2.5), 35);
  EXPECT_DOUBLE_EQ(map_axis_value(scale, 10, 0, 100, 0, true, NAN), 10);
  EXPECT_DOUBLE_EQ(map_axis_value(scale, 10, 0, 100, 0, true, 99), 110);
  const AxisScale log{.logarithmic = true, .log_base = 10, .min = 1, .max = 100};
  EXPECT_DOUBLE_EQ(map_axis_value(log, 0, 0, 100, 0, true, 10), 50);
  EXPECT_DOUBLE_EQ(map_axis_value(log, 0, 0, 100, 0, true, 0.001), 0);
  EXPECT_DOUBLE_EQ(axis_fraction(log, 10), 0.5);
}

TEST(MeasurePlotMargins, ByFamilyAndDeletedAxes) {
  PlotFixture empty("column", {});
  const ChartMargins none = measure_plot_margins(empty.view, 400);
  EXPECT_EQ(none.left, 14.1);
  EXPECT_EQ(none.bottom, 14.1);

  PlotFixture column("column", {{3, 7, 12}}, true);
  ChartMargins m = measure_plot_margins(column.view, 400);
  // Widest value label "14": 2 × 5 px; then 0.6 × 10 + 7.
  EXPECT_DOUBLE_EQ(m.left, 9.5 + 10 + 6 + 7);
  EXPECT_DOUBLE_EQ(m.top, 4.6);
  EXPECT_DOUBLE_EQ(m.bottom, 10 + 6 + 7 + 9.5);  // one line of category labels
  EXPECT_DOUBLE_EQ(m.right, 4.6);

  column.value_axis.deleted = true;
  column.view.value_title = "Euros";
  m = measure_plot_margins(column.view, 400);
  EXPECT_DOUBLE_EQ(m.left, 14.1 + 14);  // no labels, the title band
  EXPECT_DOUBLE_EQ(m.top, 4.6);

  PlotFixture bar("bar", {{3, 7, 12}}, true);
  bar.series[0].categories = {"  North  ", "South\nEast", "W"};
  bar.finish("bar", true);
  m = measure_plot_margins(bar.view, 400);
  EXPECT_DOUBLE_EQ(m.left, 25 + 9.5 + 6 + 7);  // "North" trimmed, 5 × 5 px
  EXPECT_DOUBLE_EQ(m.right_with_legend, 5);     // half of "14"
  EXPECT_DOUBLE_EQ(m.bottom, 10 + 6 + 7 + 9.5);

  // Labels past the first series' categories come from the next series that has them.
  PlotFixture two("bar", {{1}, {1, 2, 3}}, true);
  two.series[0].categories = {"a"};
  two.series[1].categories = {"x", "wide label", "y"};
  two.finish("bar", true);
  EXPECT_DOUBLE_EQ(measure_plot_margins(two.view, 400).left, 50 + 9.5 + 6 + 7);

  column.value_axis.deleted = false;
  column.view.value_title.reset();
  column.series[0].categories = {"a\nb\nc"};
  column.finish("column", true);
  m = measure_plot_margins(column.view, 400);
  EXPECT_DOUBLE_EQ(m.bottom, (1 + 2.4) * 10 + 6 + 7 + 9.5);

  PlotFixture scatter("scatter", {{1, 1}}, true, {{0, 1000}});
  m = measure_plot_margins(scatter.view, 400);
  EXPECT_DOUBLE_EQ(m.right, 4.6 + 10);  // "1000" at 10 px, halved
}

}  // namespace
}  // namespace cmx::chart_layout
