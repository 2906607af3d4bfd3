#include "charts/chart_axes.h"

#include <gtest/gtest.h>

#include "chart_xml_util.h"

namespace cmx::charts {
namespace {

ChartAxis axis_of(const std::string& fragment) {
  const xml::XmlElement wrap = testing::parse_wrapped(fragment);
  return read_axis(testing::first_element(wrap), Theme{});
}

ChartAxis axis_with(std::string kind = "value") {
  ChartAxis axis;
  axis.kind = std::move(kind);
  return axis;
}

TEST(ChartAxes, EachSettingReadsIntoItsField) {
  struct Case {
    std::string_view name;
    std::string fragment;
    ChartAxis expected;
  };
  std::vector<Case> cases;
  auto add = [&](std::string_view name, std::string fragment, auto edit, std::string kind = "value") {
    ChartAxis expected = axis_with(kind);
    edit(expected);
    cases.push_back({name, std::move(fragment), std::move(expected)});
  };
  const auto none = [](ChartAxis&) {};
  add("category kind", "<c:catAx/>", none, "category");
  add("date kind", "<c:dateAx/>", none, "date");
  add("series kind", "<c:serAx/>", none, "series");
  add("unknown element reads as value", "<c:fooAx/>", none);
  add("id", "<c:valAx><c:axId val=\"500\"/><c:axId val=\"7\"/></c:valAx>", [](ChartAxis& a) { a.id = "500"; });
  add("empty id", "<c:valAx><c:axId val=\"\"/></c:valAx>", [](ChartAxis& a) { a.id = ""; });
  add("scaling", "<c:valAx><c:scaling><c:logBase val=\"10\"/><c:orientation val=\"maxMin\"/>"
                 "<c:max val=\"0x10\"/><c:min val=\" -5 \"/></c:scaling></c:valAx>",
      [](ChartAxis& a) {
        a.log_base = 10;
        a.reversed = true;
        a.max = 16;
        a.min = -5;
      });
  add("orientation minMax", "<c:valAx><c:scaling><c:orientation val=\"minMax\"/></c:scaling></c:valAx>", none);
  add("orientation letter case", "<c:valAx><c:scaling><c:orientation val=\"maxmin\"/></c:scaling></c:valAx>", none);
  add("malformed bound", "<c:valAx><c:scaling><c:max val=\"ten\"/></c:scaling></c:valAx>", none);
  add("crosses autoZero", "<c:valAx><c:crosses val=\"autoZero\"/></c:valAx>",
      [](ChartAxis& a) { a.crosses = "autoZero"; });
  add("crosses max", "<c:valAx><c:crosses val=\"max\"/></c:valAx>", [](ChartAxis& a) { a.crosses = "max"; });
  add("crosses letter case", "<c:valAx><c:crosses val=\"AutoZero\"/></c:valAx>", none);
  add("crosses at and units", "<c:valAx><c:crossesAt val=\"2.5\"/><c:majorUnit val=\"20\"/>"
                              "<c:minorUnit val=\"5\"/></c:valAx>",
      [](ChartAxis& a) {
        a.crosses_at = 2.5;
        a.major_unit = 20;
        a.minor_unit = 5;
      });
  add("cross between", "<c:valAx><c:crossBetween val=\"midCat\"/></c:valAx>",
      [](ChartAxis& a) { a.cross_between = "midCat"; });
  add("cross between other", "<c:valAx><c:crossBetween val=\"middle\"/></c:valAx>", none);
  add("position left", "<c:valAx><c:axPos val=\"l\"/></c:valAx>", [](ChartAxis& a) { a.position = "left"; });
  add("position top", "<c:valAx><c:axPos val=\"t\"/></c:valAx>", [](ChartAxis& a) { a.position = "top"; });
  add("position tr is not an axis position", "<c:valAx><c:axPos val=\"tr\"/></c:valAx>", none);
  add("cross axis and ticks", "<c:valAx><c:crossAx val=\" 9 \"/><c:majorTickMark val=\"out\"/>"
                              "<c:minorTickMark val=\"none\"/><c:tickLblPos val=\"nextTo\"/></c:valAx>",
      [](ChartAxis& a) {
        a.cross_axis_id = " 9 ";
        a.major_tick_mark = "out";
        a.minor_tick_mark = "none";
        a.tick_label_position = "nextTo";
      });
  add("number format", "<c:valAx><c:numFmt formatCode=\"0.0%\" sourceLinked=\"0\"/></c:valAx>",
      [](ChartAxis& a) { a.number_format = "0.0%"; });
  add("empty number format", "<c:valAx><c:numFmt formatCode=\"\"/></c:valAx>",
      [](ChartAxis& a) { a.number_format = ""; });
  add("number format without code", "<c:valAx><c:numFmt sourceLinked=\"1\"/></c:valAx>", none);
  add("deleted", "<c:valAx><c:delete val=\"1\"/></c:valAx>", [](ChartAxis& a) { a.deleted = true; });
  add("delete true is not deleted", "<c:valAx><c:delete val=\"true\"/></c:valAx>", none);
  add("gridlines without style", "<c:valAx><c:majorGridlines/><c:minorGridlines/></c:valAx>", [](ChartAxis& a) {
    a.has_major_gridlines = true;
    a.has_minor_gridlines = true;
  });
  add("gridline style",
      "<c:valAx><c:majorGridlines><c:spPr><a:ln w=\"9525\"><a:solidFill><a:schemeClr val=\"tx1\"/>"
      "</a:solidFill></a:ln></c:spPr></c:majorGridlines></c:valAx>",
      [](ChartAxis& a) {
        a.has_major_gridlines = true;
        a.major_gridline_style = ChartLineStyle{9525, "#000000", false};
      });
  add("axis line hidden", "<c:valAx><c:spPr><a:ln><a:noFill/></a:ln></c:spPr></c:valAx>",
      [](ChartAxis& a) { a.line_style = ChartLineStyle{std::nullopt, std::nullopt, true}; });
  add("spPr without line", "<c:valAx><c:spPr><a:solidFill><a:srgbClr val=\"FF0000\"/></a:solidFill></c:spPr></c:valAx>",
      none);
  add("title and text style",
      "<c:valAx><c:title><c:tx><c:rich><a:p><a:r><a:t>Units</a:t></a:r></a:p></c:rich></c:tx></c:title>"
      "<c:txPr><a:bodyPr/><a:p><a:pPr><a:defRPr sz=\"900\" b=\"1\"/></a:pPr></a:p></c:txPr></c:valAx>",
      [](ChartAxis& a) {
        a.title = "Units";
        a.text_style = ChartTextStyle{9, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt};
      });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(axis_of(c.fragment), c.expected);
  }
}

TEST(ChartAxes, LegendPositionAndOverlay) {
  struct Case {
    std::string_view name;
    std::string fragment;
    ChartLegend expected;
  };
  const ChartTextStyle small{8, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  const Case cases[] = {
      {"empty legend", "<c:legend/>", {std::nullopt, std::nullopt, true, false}},
      {"bottom", "<c:legend><c:legendPos val=\"b\"/></c:legend>", {std::nullopt, "bottom", true, false}},
      {"left", "<c:legend><c:legendPos val=\"l\"/></c:legend>", {std::nullopt, "left", true, false}},
      {"right", "<c:legend><c:legendPos val=\"r\"/></c:legend>", {std::nullopt, "right", true, false}},
      {"top", "<c:legend><c:legendPos val=\"t\"/></c:legend>", {std::nullopt, "top", true, false}},
      {"top right", "<c:legend><c:legendPos val=\"tr\"/></c:legend>", {std::nullopt, "topRight", true, false}},
      {"unknown position", "<c:legend><c:legendPos val=\"x\"/></c:legend>", {std::nullopt, std::nullopt, true, false}},
      {"overlay 1", "<c:legend><c:overlay val=\"1\"/></c:legend>", {std::nullopt, std::nullopt, true, true}},
      {"overlay without value", "<c:legend><c:overlay/></c:legend>", {std::nullopt, std::nullopt, true, true}},
      {"overlay other text", "<c:legend><c:overlay val=\"yes\"/></c:legend>", {std::nullopt, std::nullopt, true, true}},
      {"overlay false", "<c:legend><c:overlay val=\"false\"/></c:legend>", {std::nullopt, std::nullopt, true, false}},
      {"overlay 0", "<c:legend><c:overlay val=\"0\"/></c:legend>", {std::nullopt, std::nullopt, true, false}},
      {"text style", "<c:legend><c:txPr><a:p><a:pPr><a:defRPr sz=\"800\"/></a:pPr></a:p></c:txPr></c:legend>",
       {small, std::nullopt, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const xml::XmlElement wrap = testing::parse_wrapped(c.fragment);
    EXPECT_EQ(read_legend(testing::first_element(wrap), Theme{}), c.expected);
  }
}

TEST(ChartTextStyles, RunProperties) {
  struct Case {
    std::string_view name;
    std::string attributes;
    std::string children;
    std::optional<ChartTextStyle> expected;
  };
  const std::nullopt_t no = std::nullopt;
  const Case cases[] = {
      {"size", "sz=\"1400\"", "", ChartTextStyle{14, no, no, no, no, no}},
      {"size zero", "sz=\"0\"", "", no},
      {"negative size", "sz=\"-100\"", "", no},
      {"spacing at the limit", "spc=\"400000\"", "", ChartTextStyle{no, 4000, no, no, no, no}},
      {"spacing beyond", "spc=\"-400001\"", "", no},
      {"bold one", "b=\"1\"", "", ChartTextStyle{no, no, no, no, true, no}},
      {"bold false counts", "b=\"0\"", "", ChartTextStyle{no, no, no, no, false, no}},
      {"bold upper case", "b=\"TRUE\"", "", no},
      {"italic", "i=\"true\"", "", ChartTextStyle{no, no, no, no, no, true}},
      {"typeface trimmed", "", "<a:latin typeface=\" Arial \"/>", ChartTextStyle{no, no, "Arial", no, no, no}},
      {"blank typeface", "", "<a:latin typeface=\"  \"/>", no},
      {"nested colour", "", "<a:effectLst><a:solidFill><a:srgbClr val=\"00ff00\"/></a:solidFill></a:effectLst>",
       ChartTextStyle{no, no, no, "#00FF00", no, no}},
      {"unresolvable colour", "", "<a:solidFill><a:prstClr val=\"red\"/></a:solidFill>", no},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const xml::XmlElement wrap =
        testing::parse_wrapped("<c:txPr><a:p><a:pPr><a:defRPr " + c.attributes + ">" + c.children +
                               "</a:defRPr></a:pPr></a:p></c:txPr>");
    EXPECT_EQ(read_text_style(&testing::first_element(wrap), Theme{}), c.expected);
  }
}

TEST(ChartTextStyles, RunPropertiesWhenNoDefaults) {
  const xml::XmlElement wrap =
      testing::parse_wrapped("<c:rich><a:p><a:r><a:rPr i=\"1\"/><a:t>x</a:t></a:r></a:p></c:rich>");
  EXPECT_EQ(read_text_style(&testing::first_element(wrap), Theme{}),
            (ChartTextStyle{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, true}));
  EXPECT_EQ(read_text_style(nullptr, Theme{}), std::nullopt);
}

TEST(ChartTextStyles, MergeTakesPrimaryFieldsFirst) {
  const ChartTextStyle primary{18, std::nullopt, "Arial", std::nullopt, true, std::nullopt};
  const ChartTextStyle fallback{12, 1, "Calibri", "#112233", false, false};
  EXPECT_EQ(merge_text_styles(primary, fallback), (ChartTextStyle{18, 1, "Arial", "#112233", true, false}));
}

TEST(ChartTextStyles, TitleText) {
  struct Case {
    std::string_view name;
    std::string fragment;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"one run", "<c:title><c:tx><c:rich><a:p><a:r><a:t>Sales</a:t></a:r></a:p></c:rich></c:tx></c:title>", "Sales"},
      {"paragraphs joined without separator",
       "<c:title><c:tx><c:rich><a:p><a:r><a:t> Q1 </a:t></a:r></a:p><a:p><a:r><a:t>Sales </a:t></a:r></a:p>"
       "</c:rich></c:tx></c:title>",
       "Q1 Sales"},
      {"cached reference",
       "<c:title><c:tx><c:strRef><c:f>S!$A$1</c:f><c:strCache><c:ptCount val=\"1\"/><c:pt idx=\"0\">"
       "<c:v> Revenue </c:v></c:pt></c:strCache></c:strRef></c:tx></c:title>",
       "Revenue"},
      {"blank rich text falls back to the cache",
       "<c:title><c:tx><c:rich><a:p><a:r><a:t>  </a:t></a:r></a:p></c:rich><c:v>Cached</c:v></c:tx></c:title>",
       "Cached"},
      {"nothing", "<c:title><c:overlay val=\"0\"/></c:title>", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const xml::XmlElement wrap = testing::parse_wrapped(c.fragment);
    EXPECT_EQ(read_title_text(&testing::first_element(wrap)), c.expected);
  }
  EXPECT_EQ(read_title_text(nullptr), std::nullopt);
}

TEST(ChartTextStyles, TitleStyleRunOverTextProperties) {
  const std::nullopt_t no = std::nullopt;
  struct Case {
    std::string_view name;
    std::string fragment;
    std::optional<ChartTextStyle> expected;
  };
  const std::string tx_pr = "<c:txPr><a:p><a:pPr><a:defRPr sz=\"1200\"/></a:pPr></a:p></c:txPr>";
  auto rich = [](const std::string& run_properties) {
    return "<c:tx><c:rich><a:p><a:r>" + run_properties + "<a:t>T</a:t></a:r></a:p></c:rich></c:tx>";
  };
  const Case cases[] = {
      {"run bold over size", "<c:title>" + rich("<a:rPr b=\"1\"/>") + tx_pr + "</c:title>",
       ChartTextStyle{12, no, no, no, true, no}},
      {"run size overrides", "<c:title>" + rich("<a:rPr sz=\"1800\"/>") + tx_pr + "</c:title>",
       ChartTextStyle{18, no, no, no, no, no}},
      {"empty run gives the fallback", "<c:title>" + rich("<a:rPr lang=\"en-US\"/>") + tx_pr + "</c:title>",
       ChartTextStyle{12, no, no, no, no, no}},
      {"run alone", "<c:title>" + rich("<a:rPr i=\"1\"/>") + "</c:title>", ChartTextStyle{no, no, no, no, no, true}},
      {"no style", "<c:title>" + rich("") + "</c:title>", no},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const xml::XmlElement wrap = testing::parse_wrapped(c.fragment);
    EXPECT_EQ(read_title_style(testing::first_element(wrap), Theme{}), c.expected);
  }
}

}  // namespace
}  // namespace cmx::charts
