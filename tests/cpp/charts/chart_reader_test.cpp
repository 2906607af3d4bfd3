#include "charts/chart_reader.h"

#include <gtest/gtest.h>

#include <cmath>

#include "chart_xml_util.h"
#include "test_util.h"

namespace cmx::charts {
namespace {

using testing::chart_part;

Result<ChartModel, ChartRefusal> read(const std::string& part,
                                      const model::WorkbookTheme& theme = model::default_theme_colors()) {
  return read_chart_model(part, theme);
}

ChartModel model_of(const std::string& part) {
  Result<ChartModel, ChartRefusal> model = read(part);
  EXPECT_TRUE(model.has_value()) << part;
  return model ? std::move(*model) : ChartModel{};
}

ChartPlot plot_of(const std::string& plot_element) {
  ChartModel model = model_of(chart_part(plot_element));
  EXPECT_EQ(model.plots.size(), 1u);
  return model.plots.empty() ? ChartPlot{} : model.plots.front();
}

std::string pt(int idx, const std::string& value) {
  return "<c:pt idx=\"" + std::to_string(idx) + "\"><c:v>" + value + "</c:v></c:pt>";
}

std::string values_ser(const std::string& extra = "", const std::string& points = pt(0, "1") + pt(1, "2") + pt(2, "3")) {
  return "<c:ser><c:idx val=\"0\"/><c:order val=\"0\"/><c:cat><c:strRef><c:f>S!$A$1:$A$3</c:f><c:strCache>" +
         pt(0, "a") + pt(1, "b") + pt(2, "c") + "</c:strCache></c:strRef></c:cat><c:val>" +
         testing::num_cache(points) + "</c:val>" + extra + "</c:ser>";
}

TEST(ChartReader, PlotKindsAndPrimaryKind) {
  struct Case {
    std::string_view name;
    std::string plot;
    std::string kind;
    std::string primary;
  };
  const Case cases[] = {
      {"bar", "<c:barChart><c:barDir val=\"bar\"/></c:barChart>", "bar", "bar"},
      {"column", "<c:barChart><c:barDir val=\"col\"/></c:barChart>", "column", "column"},
      {"barDir without value", "<c:barChart><c:barDir/></c:barChart>", "column", "column"},
      {"no barDir", "<c:barChart/>", "column", "column"},
      {"barDir as c:val", "<c:barChart><c:barDir c:val=\"bar\"/></c:barChart>", "bar", "bar"},
      {"barDir letter case", "<c:barChart><c:barDir val=\"Bar\"/></c:barChart>", "column", "column"},
      {"pie", "<c:pieChart/>", "pie", "pie"},
      {"line", "<c:lineChart/>", "line", "line"},
      {"area", "<c:areaChart/>", "area", "line"},
      {"radar", "<c:radarChart/>", "radar", "line"},
      {"stock", "<c:stockChart/>", "stock", "line"},
      {"bar of pie", "<c:ofPieChart/>", "ofPie", "pie"},
      {"bubble", "<c:bubbleChart/>", "bubble", "line"},
      {"scatter", "<c:scatterChart/>", "scatter", "line"},
      {"surface", "<c:surfaceChart/>", "surface", "line"},
      {"doughnut", "<c:doughnutChart/>", "doughnut", "doughnut"},
      {"unknown before a known plot", "<c:layout/><c:fooChart/><c:lineChart/>", "line", "line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChartModel model = model_of(chart_part(c.plot));
    ASSERT_EQ(model.plots.size(), 1u);
    EXPECT_EQ(model.plots[0].kind, c.kind);
    EXPECT_EQ(model.primary_kind, c.primary);
  }
}

TEST(ChartReader, Refusals) {
  std::string deep_open, deep_close;
  for (int i = 0; i < 40; ++i) {
    deep_open += "<c:g>";
    deep_close += "</c:g>";
  }
  std::string too_deep_open, too_deep_close;
  for (int i = 0; i < 70; ++i) {
    too_deep_open += "<c:g>";
    too_deep_close += "</c:g>";
  }
  struct Case {
    std::string_view name;
    std::string part;
    std::optional<ChartRefusal> refusal;
  };
  const std::string ns(testing::kNamespaces);
  const Case cases[] = {
      {"3D plot", chart_part("<c:bar3DChart/>"), ChartRefusal::ThreeDimensional},
      {"3D beside a 2D plot", chart_part("<c:barChart/><c:line3DChart/>"), ChartRefusal::ThreeDimensional},
      {"3D in an extension list",
       chart_part("<c:barChart/><c:extLst><c:ext><c:pie3DChart/></c:ext></c:extLst>"), ChartRefusal::ThreeDimensional},
      {"no plot area", "<c:chartSpace" + ns + "><c:chart/></c:chartSpace>", ChartRefusal::NoPlotArea},
      {"no known plot", chart_part("<c:layout/><c:catAx/>"), ChartRefusal::NoKnownPlot},
      {"deep plot area found", "<c:chartSpace" + ns + ">" + deep_open + "<c:plotArea><c:pieChart/></c:plotArea>" +
                                   deep_close + "</c:chartSpace>",
       std::nullopt},
      {"nesting beyond the parser's depth", "<c:chartSpace" + ns + ">" + too_deep_open + too_deep_close + "</c:chartSpace>",
       ChartRefusal::Unreadable},
      {"malformed", "<c:chartSpace" + ns + "><c:chart>", ChartRefusal::Unreadable},
      {"doctype", "<!DOCTYPE x><c:chartSpace" + ns + "/>", ChartRefusal::Unreadable},
      {"not text", std::string("\xFF\xFE\x00", 3), ChartRefusal::Unreadable},
      {"empty", "", ChartRefusal::Unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<ChartModel, ChartRefusal> model = read(c.part);
    if (c.refusal) {
      EXPECT_THAT(model, FailsWith(*c.refusal));
      EXPECT_EQ(read_chart_part(c.part, model::default_theme_colors()), nullptr);
    } else {
      EXPECT_TRUE(model.has_value());
      EXPECT_NE(read_chart_part(c.part, model::default_theme_colors()), nullptr);
    }
  }
}

TEST(ChartReader, RefusalMessagesAreDistinct) {
  const ChartRefusal all[] = {ChartRefusal::Unreadable, ChartRefusal::ThreeDimensional, ChartRefusal::NoPlotArea,
                              ChartRefusal::NoKnownPlot};
  std::set<std::string_view> messages;
  for (ChartRefusal refusal : all) {
    EXPECT_FALSE(chart_refusal_message(refusal).empty());
    messages.insert(chart_refusal_message(refusal));
  }
  EXPECT_EQ(messages.size(), std::size(all));
}

TEST(ChartReader, PlotSettings) {
  struct Case {
    std::string_view name;
    std::string plot;
    ChartPlot expected;
  };
  std::vector<Case> cases;
  auto add = [&](std::string_view name, std::string kind_element, std::string children, std::string kind, auto edit) {
    ChartPlot expected;
    expected.kind = std::move(kind);
    edit(expected);
    cases.push_back({name, "<c:" + kind_element + ">" + children + "</c:" + kind_element + ">", std::move(expected)});
  };
  add("gap width with spaces", "barChart", "<c:gapWidth val=\" 150 \"/>", "column", [](ChartPlot& p) { p.gap_width = 150; });
  add("negative overlap", "barChart", "<c:overlap val=\"-27\"/>", "column", [](ChartPlot& p) { p.overlap = -27; });
  add("overlap 100 stacked", "barChart", "<c:grouping val=\"stacked\"/><c:overlap val=\"100\"/>", "column",
      [](ChartPlot& p) {
        p.grouping = "stacked";
        p.overlap = 100;
      });
  add("hexadecimal gap", "barChart", "<c:gapWidth val=\"0x10\"/>", "column", [](ChartPlot& p) { p.gap_width = 16; });
  add("infinite gap", "barChart", "<c:gapWidth val=\"1e999\"/>", "column", [](ChartPlot&) {});
  add("text gap", "barChart", "<c:gapWidth val=\"wide\"/>", "column", [](ChartPlot&) {});
  add("percent stacked", "barChart", "<c:grouping val=\"percentStacked\"/>", "column",
      [](ChartPlot& p) { p.grouping = "percentStacked"; });
  add("clustered", "barChart", "<c:grouping val=\"clustered\"/>", "column", [](ChartPlot& p) { p.grouping = "clustered"; });
  add("grouping letter case", "lineChart", "<c:grouping val=\"Standard\"/>", "line", [](ChartPlot&) {});
  add("vary colours 0", "pieChart", "<c:varyColors val=\"0\"/>", "pie", [](ChartPlot& p) { p.vary_colors = false; });
  add("vary colours false", "pieChart", "<c:varyColors val=\"false\"/>", "pie", [](ChartPlot& p) { p.vary_colors = false; });
  add("vary colours without value", "pieChart", "<c:varyColors/>", "pie", [](ChartPlot&) {});
  add("vary colours other text", "pieChart", "<c:varyColors val=\"off\"/>", "pie", [](ChartPlot&) {});
  add("pie angle", "pieChart", "<c:firstSliceAng val=\"90\"/>", "pie", [](ChartPlot& p) { p.first_slice_angle = 90; });
  add("doughnut hole", "doughnutChart", "<c:firstSliceAng val=\"0\"/><c:holeSize val=\"50\"/>", "doughnut",
      [](ChartPlot& p) {
        p.first_slice_angle = 0;
        p.doughnut_hole_size = 50;
      });
  add("scatter style", "scatterChart", "<c:scatterStyle val=\"lineMarker\"/>", "scatter",
      [](ChartPlot& p) { p.scatter_style = "lineMarker"; });
  add("scatter style unknown", "scatterChart", "<c:scatterStyle val=\"dots\"/>", "scatter", [](ChartPlot&) {});
  add("radar style", "radarChart", "<c:radarStyle val=\"filled\"/>", "radar", [](ChartPlot& p) { p.radar_style = "filled"; });
  add("bubble settings", "bubbleChart", "<c:bubbleScale val=\"75\"/><c:sizeRepresents val=\"w\"/>", "bubble",
      [](ChartPlot& p) {
        p.bubble_scale = 75;
        p.size_represents = "w";
      });
  add("surface wireframe", "surfaceChart", "<c:wireframe val=\"1\"/>", "surface", [](ChartPlot& p) { p.wireframe = true; });
  add("stock lines and bars", "stockChart", "<c:hiLowLines/><c:upDownBars><c:gapWidth val=\"150\"/></c:upDownBars>",
      "stock", [](ChartPlot& p) {
        p.has_hi_low_lines = true;
        p.has_up_down_bars = true;
      });
  add("line markers", "lineChart", "<c:marker val=\"1\"/>", "line", [](ChartPlot& p) { p.show_marker = true; });
  add("axis ids, empty skipped", "lineChart", "<c:axId val=\"10\"/><c:axId val=\"\"/><c:axId/><c:axId val=\"20\"/>",
      "line", [](ChartPlot& p) { p.axis_ids = {"10", "20"}; });
  std::string many_ids;
  std::vector<std::string> sixteen;
  for (int i = 0; i < 20; ++i) {
    many_ids += "<c:axId val=\"" + std::to_string(i) + "\"/>";
    if (i < 16) sixteen.push_back(std::to_string(i));
  }
  add("axis ids capped", "lineChart", many_ids, "line", [&](ChartPlot& p) { p.axis_ids = sixteen; });
  add("plot labels", "lineChart", "<c:dLbls><c:showVal val=\"1\"/><c:dLblPos val=\"t\"/></c:dLbls>", "line",
      [](ChartPlot& p) {
        p.labels_enabled = true;
        p.data_labels = ChartDataLabels{};
        p.data_labels->show_value = true;
        p.data_labels->position = "t";
      });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plot_of(c.plot), c.expected);
  }
}

TEST(ChartReader, LabelsEnabled) {
  const std::string deleted = "<c:dLbls><c:delete val=\"1\"/></c:dLbls>";
  struct Case {
    std::string_view name;
    std::string children;
    bool expected;
  };
  const Case cases[] = {
      {"none", "", false},
      {"empty plot labels", "<c:dLbls/>", true},
      {"plot labels without delete", "<c:dLbls><c:showVal val=\"0\"/></c:dLbls>", true},
      {"delete true is not deleted", "<c:dLbls><c:delete val=\"true\"/></c:dLbls>", true},
      {"delete without value", "<c:dLbls><c:delete/></c:dLbls>", true},
      {"deleted plot labels", deleted, false},
      {"deleted plot labels, series shows", deleted + "<c:ser><c:dLbls><c:showVal val=\"1\"/></c:dLbls></c:ser>", true},
      {"series labels deleted", "<c:ser>" + deleted + "</c:ser><c:ser/>", false},
      {"second series shows", "<c:ser/><c:ser><c:dLbls/></c:ser>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plot_of("<c:lineChart>" + c.children + "</c:lineChart>").labels_enabled, c.expected);
  }
}

TEST(ChartReader, PlotAreaLayout) {
  auto layout = [](const std::string& manual) {
    return model_of(chart_part("<c:layout><c:manualLayout>" + manual + "</c:manualLayout></c:layout><c:pieChart/>"))
        .plot_area_layout;
  };
  auto manual = [](std::string target, std::string x, std::string w, std::string mode = "edge") {
    return "<c:layoutTarget val=\"" + target + "\"/><c:xMode val=\"" + mode + "\"/><c:yMode val=\"edge\"/><c:x val=\"" +
           x + "\"/><c:y val=\"0.1\"/><c:w val=\"" + w + "\"/><c:h val=\"0.9\"/>";
  };
  struct Case {
    std::string_view name;
    std::string manual;
    std::optional<PlotAreaLayout> expected;
  };
  const Case cases[] = {
      {"inner edge, may overflow", manual("inner", "0.1", "0.95"), PlotAreaLayout{0.1, 0.1, 0.95, 0.9}},
      {"outer target", manual("outer", "0.1", "0.9"), std::nullopt},
      {"factor mode", manual("inner", "0.1", "0.9", "factor"), std::nullopt},
      {"x beyond 1", manual("inner", "1.5", "0.9"), std::nullopt},
      {"zero width", manual("inner", "0.1", "0"), std::nullopt},
      {"x with spaces is not plain", manual("inner", " 0.1", "0.9"), std::nullopt},
      {"missing target", "<c:xMode val=\"edge\"/><c:yMode val=\"edge\"/><c:x val=\"0\"/><c:y val=\"0\"/>"
                         "<c:w val=\"1\"/><c:h val=\"1\"/>",
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(layout(c.manual), c.expected);
  }
  EXPECT_EQ(model_of(chart_part("<c:layout/><c:pieChart/>")).plot_area_layout, std::nullopt);
}

TEST(ChartReader, AutomaticPointColours) {
  const std::string gap_values = pt(0, "5") + pt(2, "7") + pt(3, "x") + pt(4, "1");
  const std::string own_point = "<c:dPt><c:idx val=\"4\"/><c:spPr><a:solidFill><a:srgbClr val=\"010203\"/>"
                                "</a:solidFill></c:spPr></c:dPt>";
  // A pie of one series: each finite value's index gets its automatic
  // colour, after the part's own overrides.
  ChartPlot pie = plot_of("<c:pieChart><c:varyColors val=\"1\"/>" + values_ser(own_point, gap_values) + "</c:pieChart>");
  ASSERT_EQ(pie.series.size(), 1u);
  EXPECT_EQ(pie.series[0].point_overrides,
            (std::vector<ChartDataPoint>{{4, std::nullopt, "#010203"},
                                         {0, std::nullopt, "#4472C4"},
                                         {2, std::nullopt, "#A5A5A5"}}));

  const std::string fill = "<c:spPr><a:solidFill><a:srgbClr val=\"FF0000\"/></a:solidFill></c:spPr>";
  EXPECT_FALSE(plot_of("<c:pieChart>" + values_ser(fill) + "</c:pieChart>").series[0].point_overrides);
  EXPECT_FALSE(plot_of("<c:pieChart><c:varyColors val=\"0\"/>" + values_ser() + "</c:pieChart>").series[0].point_overrides);

  ChartPlot one_bar = plot_of("<c:barChart><c:varyColors val=\"1\"/>" + values_ser() + "</c:barChart>");
  ASSERT_TRUE(one_bar.series[0].point_overrides);
  EXPECT_EQ(one_bar.series[0].point_overrides->size(), 3u);
  ChartPlot two_bars = plot_of("<c:barChart><c:varyColors val=\"1\"/>" + values_ser() + values_ser() + "</c:barChart>");
  EXPECT_FALSE(two_bars.series[0].point_overrides);
  EXPECT_FALSE(two_bars.series[1].point_overrides);
  ChartPlot line = plot_of("<c:lineChart><c:varyColors val=\"1\"/>" + values_ser() + "</c:lineChart>");
  EXPECT_FALSE(line.series[0].point_overrides);
}

TEST(ChartReader, SeriesSummaryAxesAndCategoryLabels) {
  const std::string axes =
      "<c:catAx><c:axId val=\"1\"/><c:crossAx val=\"2\"/></c:catAx><c:valAx><c:axId val=\"2\"/>"
      "<c:scaling><c:min val=\"0\"/><c:max val=\"10\"/></c:scaling></c:valAx><c:serAx><c:axId val=\"3\"/></c:serAx>";
  ChartModel model = model_of(chart_part("<c:barChart><c:axId val=\"1\"/><c:axId val=\"2\"/>" + values_ser() +
                                         "</c:barChart><c:lineChart>" + values_ser() + "</c:lineChart>" + axes));
  ASSERT_EQ(model.series.size(), 2u);
  EXPECT_EQ(model.series[1].color, "#4472C4");  // positions restart in every plot
  EXPECT_EQ(model.series[0].categories, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(model.series[0].values, (std::vector<double>{1, 2, 3}));
  EXPECT_FALSE(model.series[0].idx);
  EXPECT_FALSE(model.series[0].values_ref);
  EXPECT_FALSE(model.series[0].axis_ids);
  EXPECT_EQ(model.plots[0].series[0].axis_ids, (std::vector<std::string>{"1", "2"}));
  ASSERT_TRUE(model.all_axes);
  ASSERT_EQ(model.all_axes->size(), 3u);
  EXPECT_EQ((*model.all_axes)[2].kind, "series");
  ASSERT_TRUE(model.axes && model.axes->category && model.axes->value);
  EXPECT_EQ(model.axes->category->category_labels, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE((*model.all_axes)[0].category_labels);
  EXPECT_EQ(model.axes->value->max, 10);

  model = model_of(chart_part("<c:lineChart/><c:dateAx><c:axId val=\"5\"/></c:dateAx>"));
  ASSERT_TRUE(model.axes && model.axes->category);
  EXPECT_EQ(model.axes->category->kind, "date");
  EXPECT_FALSE(model.axes->value);
  EXPECT_FALSE(model.axes->category->category_labels);

  model = model_of(chart_part("<c:lineChart/>"));
  EXPECT_FALSE(model.axes);
  EXPECT_FALSE(model.all_axes);
  model = model_of(chart_part("<c:surfaceChart/><c:serAx/>"));
  EXPECT_FALSE(model.axes);
  ASSERT_TRUE(model.all_axes);
  EXPECT_EQ(model.all_axes->size(), 1u);
}

TEST(ChartReader, TitleLegendTextStyleAndBackground) {
  const std::string title =
      "<c:title><c:tx><c:rich><a:p><a:r><a:rPr b=\"1\"/><a:t>Sales</a:t></a:r></a:p></c:rich></c:tx></c:title>";
  const std::string axis_title =
      "<c:valAx><c:title><c:tx><c:rich><a:p><a:r><a:t>Units</a:t></a:r></a:p></c:rich></c:tx></c:title></c:valAx>";
  ChartModel model = model_of(chart_part("<c:lineChart/>" + axis_title, title + "<c:autoTitleDeleted val=\"0\"/>",
                                         "<c:txPr><a:p><a:pPr><a:defRPr sz=\"1000\"/></a:pPr></a:p></c:txPr>"));
  EXPECT_EQ(model.title, "Sales");
  EXPECT_EQ(model.title_style, (ChartTextStyle{std::nullopt, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt}));
  EXPECT_EQ(model.text_style, (ChartTextStyle{10, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_FALSE(model.legend);

  // Without a chart title the first axis title stands in.
  model = model_of(chart_part("<c:lineChart/>" + axis_title));
  EXPECT_EQ(model.title, "Units");
  model = model_of(chart_part("<c:lineChart/>", "<c:title><c:overlay val=\"0\"/></c:title>"));
  EXPECT_FALSE(model.title);
  EXPECT_FALSE(model.title_style);

  model = model_of(chart_part("<c:lineChart/>", "<c:plotVisOnly val=\"1\"/>"));
  EXPECT_FALSE(model.legend);
  const std::string with_legend = chart_part("<c:lineChart/>");
  model = model_of(with_legend.substr(0, with_legend.find("</c:chart>")) +
                   "<c:legend><c:legendPos val=\"r\"/><c:overlay val=\"0\"/></c:legend></c:chart></c:chartSpace>");
  EXPECT_EQ(model.legend, (ChartLegend{std::nullopt, "right", true, false}));

  struct FillCase {
    std::string_view name;
    std::string sp_pr;
    std::optional<ChartFill> expected;
  };
  const std::string red = "<a:srgbClr val=\"FF0000\"/>";
  const FillCase fills[] = {
      {"no spPr", "", std::nullopt},
      {"empty spPr", "<c:spPr/>", std::nullopt},
      {"outline only", "<c:spPr><a:ln/></c:spPr>", std::nullopt},
      {"no fill", "<c:spPr><a:solidFill>" + red + "</a:solidFill><a:noFill/></c:spPr>", ChartFill{NoFill{}}},
      {"solid", "<c:spPr><a:solidFill><a:schemeClr val=\"bg1\"/></a:solidFill></c:spPr>", ChartFill{SolidFill{"#FFFFFF"}}},
      {"solid unresolved", "<c:spPr><a:solidFill><a:prstClr val=\"red\"/></a:solidFill></c:spPr>",
       ChartFill{UnsupportedFill{}}},
      {"gradient", "<c:spPr><a:gradFill><a:gsLst><a:gs pos=\"0\">" + red + "</a:gs><a:gs pos=\"100000\">"
                   "<a:schemeClr val=\"accent1\"/></a:gs></a:gsLst></a:gradFill></c:spPr>",
       ChartFill{GradientFill{{"#FF0000", "#4472C4"}}}},
      {"gradient without stops", "<c:spPr><a:gradFill/></c:spPr>", ChartFill{UnsupportedFill{}}},
      {"gradient with a preset stop", "<c:spPr><a:gradFill><a:gsLst><a:gs>" + red +
                                          "</a:gs><a:gs><a:prstClr val=\"red\"/></a:gs></a:gsLst></a:gradFill></c:spPr>",
       ChartFill{UnsupportedFill{}}},
      {"pattern", "<c:spPr><a:pattFill prst=\"pct5\"><a:fgClr>" + red + "</a:fgClr><a:bgClr><a:prstClr val=\"x\"/>"
                  "</a:bgClr></a:pattFill></c:spPr>",
       ChartFill{PatternFill{"#FF0000", std::nullopt}}},
      {"picture", "<c:spPr><a:blipFill/></c:spPr>", ChartFill{UnsupportedFill{}}},
      {"group", "<c:spPr><a:grpFill/></c:spPr>", ChartFill{UnsupportedFill{}}},
  };
  for (const FillCase& c : fills) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(model_of(chart_part("<c:pieChart/>", "", c.sp_pr)).background, c.expected);
  }
}

TEST(ChartReader, WorkbookThemeColours) {
  model::WorkbookTheme theme = model::default_theme_colors();
  theme.colors[4] = "#4f81bd";
  theme.colors[5] = "";
  const std::string scheme_ser = [](const char* name) {
    return std::string("<c:ser><c:spPr><a:solidFill><a:schemeClr val=\"") + name +
           "\"><a:lumMod val=\"60000\"/></a:schemeClr></a:solidFill></c:spPr></c:ser>";
  }("accent1");
  auto model = read(chart_part("<c:lineChart>" + scheme_ser +
                               "<c:ser><c:spPr><a:solidFill><a:schemeClr val=\"accent2\"/></a:solidFill></c:spPr>"
                               "</c:ser></c:lineChart>"),
                    theme);
  ASSERT_TRUE(model.has_value());
  ASSERT_EQ(model->series.size(), 2u);
  EXPECT_EQ(model->series[0].color, "#4F81BD");
  // An empty workbook slot gives no colour, so the automatic one stands.
  EXPECT_EQ(model->series[1].color, "#ED7D31");
}

TEST(ChartReader, HostileCountsStopAtTheLimits) {
  std::string plots;
  for (int i = 0; i < 65; ++i) plots += i == 64 ? "<c:pieChart/>" : "<c:lineChart/>";
  ChartModel model = model_of(chart_part(plots));
  EXPECT_EQ(model.plots.size(), MAX_CHART_PLOTS);
  EXPECT_EQ(model.plots.back().kind, "line");

  // The series budget is shared by the plots of one chart.
  std::string many;
  for (int i = 0; i < 1100; ++i) many += "<c:ser/>";
  model = model_of(chart_part("<c:lineChart>" + many + "</c:lineChart><c:barChart>" + many + "</c:barChart>"));
  ASSERT_EQ(model.plots.size(), 2u);
  EXPECT_EQ(model.plots[0].series.size(), MAX_CHART_SERIES);
  EXPECT_TRUE(model.plots[1].series.empty());
  EXPECT_EQ(model.series.size(), MAX_CHART_SERIES);

  // The point budget is shared by the series: each far index spends
  // 100,000, and the series after the second read nothing.
  const std::string far = "<c:ser><c:val>" + testing::num_cache(pt(99999999, "1")) + "</c:val></c:ser>";
  model = model_of(chart_part("<c:lineChart>" + far + far + far + values_ser() + "</c:lineChart>"));
  ASSERT_EQ(model.plots[0].series.size(), 4u);
  EXPECT_EQ(model.plots[0].series[0].values.size(), 100000u);
  EXPECT_EQ(model.plots[0].series[1].values.size(), 100000u);
  EXPECT_TRUE(model.plots[0].series[2].values.empty());
  EXPECT_TRUE(model.plots[0].series[3].values.empty());
  EXPECT_TRUE(model.plots[0].series[3].categories.empty());

  // Over the element budget the part does not parse.
  std::string points;
  points.reserve(6000010);
  for (int i = 0; i < 1000000; ++i) points += "<c:p/>";
  EXPECT_THAT(read(chart_part("<c:lineChart><c:ser><c:val><c:numCache>" + points +
                              "</c:numCache></c:val></c:ser></c:lineChart>")),
              FailsWith(ChartRefusal::Unreadable));
}

TEST(ChartReader, EveryTruncatedPrefixReadsOrIsRefused) {
  const std::string part = chart_part(
      "<c:layout/><c:barChart><c:barDir val=\"col\"/><c:grouping val=\"clustered\"/>" +
          values_ser("<c:dLbls><c:dLbl><c:idx val=\"1\"/><c:showVal val=\"1\"/></c:dLbl></c:dLbls>") +
          "<c:gapWidth val=\"150\"/><c:axId val=\"1\"/><c:axId val=\"2\"/></c:barChart><c:catAx><c:axId val=\"1\"/>"
          "</c:catAx><c:valAx><c:axId val=\"2\"/></c:valAx>",
      "<c:title><c:tx><c:rich><a:p><a:r><a:t>T</a:t></a:r></a:p></c:rich></c:tx></c:title>",
      "<c:spPr><a:solidFill><a:schemeClr val=\"bg1\"/></a:solidFill></c:spPr>");
  ASSERT_TRUE(read(part).has_value());
  for (size_t len = 0; len < part.size(); ++len) {
    Result<ChartModel, ChartRefusal> model = read(part.substr(0, len));
    ASSERT_FALSE(model.has_value()) << len;
    EXPECT_EQ(model.error(), ChartRefusal::Unreadable) << len;
  }
}

}  // namespace
}  // namespace cmx::charts
