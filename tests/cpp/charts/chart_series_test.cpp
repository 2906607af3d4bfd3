#include "charts/chart_series.h"

#include <gtest/gtest.h>

#include <cmath>

#include "chart_xml_util.h"

namespace cmx::charts {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<ChartSeries> series_of(const std::string& plot_children, ChartBudgets& budgets,
                                   const PlotSeriesContext& plot = {}) {
  const xml::XmlElement wrap = testing::parse_wrapped("<c:barChart>" + plot_children + "</c:barChart>");
  return read_plot_series(testing::first_element(wrap).children, plot, budgets, Theme{});
}

std::vector<ChartSeries> series_of(const std::string& plot_children, const PlotSeriesContext& plot = {}) {
  ChartBudgets budgets;
  return series_of(plot_children, budgets, plot);
}

ChartSeries one_series(const std::string& ser_children, const PlotSeriesContext& plot = {}) {
  std::vector<ChartSeries> all = series_of("<c:ser>" + ser_children + "</c:ser>", plot);
  EXPECT_EQ(all.size(), 1u);
  return all.empty() ? ChartSeries{} : all.front();
}

// Lists with missing points: NaN entries match NaN.
void expect_numbers(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << "entry " << i;
    } else {
      EXPECT_EQ(actual[i], expected[i]) << "entry " << i;
    }
  }
}

std::string pt(const std::string& idx, const std::string& value) {
  const std::string attr = idx.empty() ? "" : " idx=\"" + idx + "\"";
  return "<c:pt" + attr + "><c:v>" + value + "</c:v></c:pt>";
}

TEST(ChartSeries, NumberCacheDenseList) {
  struct Case {
    std::string_view name;
    std::string cache;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {"gap stays missing, count does not pad", "<c:ptCount val=\"5\"/>" + pt("0", "1") + pt("1", "2") + pt("3", "4"),
       {1, 2, kNaN, 4}},
      {"points beyond the count ignored", "<c:ptCount val=\"3\"/>" + pt("0", "1") + pt("7", "8"), {1}},
      {"later duplicate wins", pt("0", "1") + pt("0", "5"), {5}},
      {"count zero", "<c:ptCount val=\"0\"/>" + pt("0", "1"), {}},
      {"negative count ignored", "<c:ptCount val=\"-1\"/>" + pt("0", "1") + pt("1", "2"), {1, 2}},
      {"fractional count ignored", "<c:ptCount val=\"3.0\"/>" + pt("4", "1"), {kNaN, kNaN, kNaN, kNaN, 1}},
      {"running index", pt("", "1") + pt("", "2") + pt("7", "3") + pt("", "4"),
       {1, 2, kNaN, kNaN, kNaN, kNaN, kNaN, 3, 4}},
      {"unreadable number keeps its position free", pt("", "1") + pt("", "abc") + pt("", "3"), {1, 3}},
      {"value forms", pt("0", "0x10") + pt("1", " 2.5 ") + pt("2", "1e400") + pt("3", "NaN") + pt("4", "6"),
       {16, 2.5, kNaN, kNaN, 6}},
      {"plus in idx", pt("+1", "9"), {kNaN, 9}},
      {"malformed idx takes the running index", pt("0", "1") + pt("x", "2"), {1, 2}},
      {"point without v", "<c:pt idx=\"0\"/>" + pt("", "7"), {7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChartSeries series = one_series("<c:val>" + testing::num_cache(c.cache) + "</c:val>");
    expect_numbers(series.values, c.expected);
  }
}

TEST(ChartSeries, FarIndexFillsTheListUpToTheCapAndChargesIt) {
  const std::string far = "<c:ser><c:val>" + testing::num_cache(pt("99999999", "1")) + "</c:val></c:ser>";
  const std::string later = "<c:ser><c:val>" + testing::num_cache(pt("0", "1")) + "</c:val></c:ser>";
  ChartBudgets budgets;
  std::vector<ChartSeries> all = series_of(far, budgets);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].values.size(), MAX_CHART_LIST_READ);
  EXPECT_TRUE(std::all_of(all[0].values.begin(), all[0].values.end(), [](double v) { return std::isnan(v); }));
  EXPECT_EQ(budgets.points, MAX_CHART_POINTS - 100000);

  budgets.points = 1000;
  all = series_of(far + later, budgets);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].values.size(), 1000u);
  EXPECT_EQ(budgets.points, 0u);
  EXPECT_TRUE(all[1].values.empty());
}

TEST(ChartSeries, CategoriesScatterValuesAndReferences) {
  const std::string str_cat =
      "<c:cat><c:strRef><c:f> Sheet1!$A$2:$A$4 </c:f><c:strCache><c:ptCount val=\"3\"/>" + pt("0", " North ") +
      pt("2", "South") + "</c:strCache></c:strRef></c:cat>";
  const std::string values = "<c:val>" + testing::num_cache(pt("0", "1") + pt("1", "2") + pt("2", "3")) + "</c:val>";
  ChartSeries series = one_series(str_cat + values);
  EXPECT_EQ(series.categories, (std::vector<std::string>{"North", "", "South"}));
  EXPECT_EQ(series.category_ref, "Sheet1!$A$2:$A$4");
  EXPECT_EQ(series.values_ref, "Sheet1!$B$1:$B$3");
  expect_numbers(series.values, {1, 2, 3});
  EXPECT_FALSE(series.x_values);

  // Numeric categories keep their cached text.
  series = one_series("<c:cat><c:numRef><c:f>S!$A$1</c:f><c:numCache><c:formatCode>General</c:formatCode>" +
                      pt("0", "2020") + pt("1", "2021.50") + "</c:numCache></c:numRef></c:cat>");
  EXPECT_EQ(series.categories, (std::vector<std::string>{"2020", "2021.50"}));

  // Multi-level categories hold their points in levels: none read.
  series = one_series("<c:cat><c:multiLvlStrRef><c:f>S!$A$1:$B$2</c:f><c:multiLvlStrCache><c:ptCount val=\"2\"/>"
                      "<c:lvl>" + pt("0", "a") + "</c:lvl></c:multiLvlStrCache></c:multiLvlStrRef></c:cat>");
  EXPECT_TRUE(series.categories.empty());
  EXPECT_EQ(series.category_ref, "S!$A$1:$B$2");

  const std::string x_values =
      "<c:xVal><c:numRef><c:f>S!$A$1:$A$2</c:f><c:numCache>" + pt("0", "1.5") + pt("1", "x") +
      "</c:numCache></c:numRef></c:xVal>";
  const std::string y_values = "<c:yVal>" + testing::num_cache(pt("0", "10") + pt("1", "20")) + "</c:yVal>";
  series = one_series(x_values + y_values);
  EXPECT_EQ(series.categories, (std::vector<std::string>{"1.5", "x"}));
  ASSERT_TRUE(series.x_values);
  expect_numbers(*series.x_values, {1.5, kNaN});
  expect_numbers(series.values, {10, 20});
  EXPECT_EQ(series.category_ref, "S!$A$1:$A$2");

  // With a `cat` as well: categories and their reference from it, x numbers from the xVal.
  series = one_series(str_cat + x_values + y_values);
  EXPECT_EQ(series.categories, (std::vector<std::string>{"North", "", "South"}));
  EXPECT_EQ(series.category_ref, "Sheet1!$A$2:$A$4");
  ASSERT_TRUE(series.x_values);
  expect_numbers(*series.x_values, {1.5});

  // An xVal holding only strings gives neither.
  series = one_series("<c:xVal><c:strRef><c:f>S!$A$1</c:f><c:strCache>" + pt("0", "a") +
                      "</c:strCache></c:strRef></c:xVal>" + y_values);
  EXPECT_TRUE(series.categories.empty());
  EXPECT_FALSE(series.x_values);

  series = one_series("<c:bubbleSize>" + testing::num_cache(pt("0", "4")) + "</c:bubbleSize>");
  ASSERT_TRUE(series.bubble_sizes);
  expect_numbers(*series.bubble_sizes, {4});
  EXPECT_FALSE(one_series("<c:bubbleSize/>").bubble_sizes);
}

TEST(ChartSeries, NameIndexOrderFormatSmoothAndMarker) {
  ChartSeries series = one_series(
      "<c:idx val=\"3\"/><c:order val=\"x\"/><c:tx><c:strRef><c:f>S!$B$1</c:f><c:strCache>" + pt("0", "Revenue") +
      "</c:strCache></c:strRef></c:tx><c:val>" +
      testing::num_cache(pt("0", "1"), "<c:formatCode> 0.0% </c:formatCode>") + "</c:val><c:smooth val=\"1\"/>");
  EXPECT_EQ(series.idx, 3u);
  EXPECT_EQ(series.order, std::nullopt);
  EXPECT_EQ(series.name, "Revenue");
  EXPECT_EQ(series.format_code, " 0.0% ");
  EXPECT_EQ(series.smooth, true);

  for (std::string_view text : {"<c:smooth val=\"0\"/>", "<c:smooth val=\"true\"/>", "<c:smooth/>", ""}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(one_series(std::string(text)).smooth, std::nullopt);
  }
  EXPECT_EQ(one_series("<c:val>" + testing::num_cache(pt("0", "1"), "<c:formatCode/>") + "</c:val>").format_code,
            std::nullopt);

  struct MarkerCase {
    std::string_view name;
    std::string marker;
    std::optional<SeriesMarker> expected;
  };
  const MarkerCase markers[] = {
      {"symbol only", "<c:marker><c:symbol val=\"none\"/></c:marker>", SeriesMarker{"none", std::nullopt, std::nullopt}},
      {"empty marker", "<c:marker/>", std::nullopt},
      {"size and fill",
       "<c:marker><c:symbol val=\"circle\"/><c:size val=\"7\"/><c:spPr><a:solidFill><a:schemeClr val=\"accent2\"/>"
       "</a:solidFill></c:spPr></c:marker>",
       SeriesMarker{"circle", 7, "#ED7D31"}},
  };
  for (const MarkerCase& c : markers) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(one_series(c.marker).marker, c.expected);
  }
}

TEST(ChartSeries, ColoursByPositionAndOwnFill) {
  std::vector<ChartSeries> all = series_of("<c:ser/><c:ser/><c:ser/>");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].color, "#4472C4");
  EXPECT_EQ(all[1].color, "#ED7D31");
  EXPECT_EQ(all[2].color, "#A5A5A5");

  ChartSeries series = one_series(
      "<c:spPr><a:solidFill><a:srgbClr val=\"112233\"/></a:solidFill><a:ln w=\"28575\"><a:solidFill>"
      "<a:schemeClr val=\"accent4\"/></a:solidFill></a:ln></c:spPr>");
  EXPECT_EQ(series.color, "#112233");
  EXPECT_EQ(series.line, (ChartLineStyle{28575, "#FFC000", false}));
}

TEST(ChartSeries, DataPointOverrides) {
  const std::string own_fill = "<c:spPr><a:solidFill><a:srgbClr val=\"112233\"/></a:solidFill></c:spPr>";
  const std::string point2 = "<c:dPt><c:idx val=\"2\"/><c:explosion val=\"15\"/></c:dPt>";
  PlotSeriesContext vary;
  vary.vary_colors = true;
  struct Case {
    std::string_view name;
    std::string ser;
    PlotSeriesContext plot;
    std::optional<std::vector<ChartDataPoint>> expected;
  };
  const Case cases[] = {
      {"series fill", own_fill + point2, {}, std::vector<ChartDataPoint>{{2, 15, "#112233"}}},
      {"vary colours by point index", point2, vary, std::vector<ChartDataPoint>{{2, 15, "#A5A5A5"}}},
      {"no vary: series position", point2, {}, std::vector<ChartDataPoint>{{2, 15, "#4472C4"}}},
      {"own point fill",
       "<c:dPt><c:idx val=\"1\"/><c:spPr><a:solidFill><a:srgbClr val=\"ABCDEF\"/></a:solidFill></c:spPr></c:dPt>",
       vary, std::vector<ChartDataPoint>{{1, std::nullopt, "#ABCDEF"}}},
      {"bad index drops the point", "<c:dPt><c:idx val=\"x\"/></c:dPt>", {}, std::nullopt},
      {"no idx child kept without index", "<c:dPt><c:bubble3D val=\"0\"/></c:dPt>", vary,
       std::vector<ChartDataPoint>{{std::nullopt, std::nullopt, "#4472C4"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(one_series(c.ser, c.plot).point_overrides, c.expected);
  }
}

TEST(ChartSeries, PlotContextAndLabelsCopied) {
  PlotSeriesContext plot;
  plot.grouping = "stacked";
  plot.axis_ids = {"1", "2"};
  ChartSeries series = one_series("<c:dLbls><c:showVal val=\"1\"/></c:dLbls>", plot);
  EXPECT_EQ(series.grouping, "stacked");
  EXPECT_EQ(series.axis_ids, (std::vector<std::string>{"1", "2"}));
  ASSERT_TRUE(series.data_labels);
  EXPECT_EQ(series.data_labels->show_value, true);
  series = one_series("");
  EXPECT_FALSE(series.grouping);
  EXPECT_FALSE(series.axis_ids);
  EXPECT_FALSE(series.data_labels);
}

TEST(ChartSeries, SeriesBudgetLimitsOnePlot) {
  std::string many;
  for (int i = 0; i < 1100; ++i) many += "<c:ser/>";
  ChartBudgets budgets;
  EXPECT_EQ(series_of(many, budgets).size(), MAX_CHART_SERIES);
  budgets.series = 0;
  EXPECT_TRUE(series_of(many, budgets).empty());
}

}  // namespace
}  // namespace cmx::charts
