#include "charts/chart_colors.h"

#include <gtest/gtest.h>

#include "chart_xml_util.h"

namespace cmx::charts {
namespace {

std::optional<std::string> resolve(const std::string& fill_children, const Theme& theme = Theme{}) {
  const xml::XmlElement wrap = testing::parse_wrapped("<a:solidFill>" + fill_children + "</a:solidFill>");
  return resolve_scheme_color(testing::first_element(wrap), theme);
}

TEST(ChartColors, ColourTextRule) {
  struct Case {
    std::string_view name;
    std::string_view text;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"lower case", "ed7d31", "#ED7D31"},
      {"with hash", "#ED7D31", "#ED7D31"},
      {"plus sign reads as a leading zero", "+12345", "#012345"},
      {"four digits", "ED7D", std::nullopt},
      {"eight digits", "FFED7D31", std::nullopt},
      {"leading space", " ED7D3", std::nullopt},
      {"two hashes", "##ED7D31", std::nullopt},
      {"not hexadecimal", "GG0000", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(color_from_text(c.text), c.expected);
  }
}

TEST(ChartColors, SchemeAndLiteralColours) {
  Theme workbook_theme = chart_theme(model::WorkbookTheme{{"#000000", "#FFFFFF", "#1F497D", "#EEECE1", "#4F81BD",
                                                           "#c0504d", "#9BBB59", "#8064A2", "", "#F79646",
                                                           "#0000FF", "#800080"}});
  struct Case {
    std::string_view name;
    std::string fill;
    std::optional<std::string> expected;
    bool workbook = false;
  };
  const Case cases[] = {
      {"srgb", "<a:srgbClr val=\"ed7d31\"/>", "#ED7D31"},
      {"srgb without val stops the search", "<a:srgbClr/><a:schemeClr val=\"accent1\"/>", std::nullopt},
      {"srgb with empty val", "<a:srgbClr val=\"\"/>", std::nullopt},
      {"system colour passed over", "<a:sysClr val=\"windowText\" lastClr=\"000000\"/><a:schemeClr val=\"accent2\"/>",
       "#ED7D31"},
      {"tx1", "<a:schemeClr val=\"tx1\"/>", "#000000"},
      {"text1", "<a:schemeClr val=\"text1\"/>", "#000000"},
      {"bg1", "<a:schemeClr val=\"bg1\"/>", "#FFFFFF"},
      {"bg2 is lt2", "<a:schemeClr val=\"bg2\"/>", "#E7E6E6"},
      {"tx2 is dk2", "<a:schemeClr val=\"tx2\"/>", "#44546A"},
      {"accent6", "<a:schemeClr val=\"accent6\"/>", "#70AD47"},
      {"hlink", "<a:schemeClr val=\"hlink\"/>", "#0563C1"},
      {"folHlink", "<a:schemeClr val=\"folHlink\"/>", "#954F72"},
      {"placeholder colour", "<a:schemeClr val=\"phClr\"/>", "#000000"},
      {"capitalised name", "<a:schemeClr val=\"Accent1\"/>", "#000000"},
      {"scheme without val", "<a:schemeClr/>", std::nullopt},
      // Luminance, tint and shade modifiers are not applied: the base colour stands.
      {"luminance modifiers", "<a:schemeClr val=\"accent1\"><a:lumMod val=\"75000\"/></a:schemeClr>", "#4472C4"},
      {"tint", "<a:schemeClr val=\"accent2\"><a:tint val=\"50000\"/></a:schemeClr>", "#ED7D31"},
      {"preset only", "<a:prstClr val=\"black\"/>", std::nullopt},
      {"nothing", "", std::nullopt},
      {"workbook accent2 lower case", "<a:schemeClr val=\"accent2\"/>", "#C0504D", true},
      {"workbook dk2", "<a:schemeClr val=\"tx2\"/>", "#1F497D", true},
      {"empty workbook slot", "<a:schemeClr val=\"accent5\"/>", std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(resolve(c.fill, c.workbook ? workbook_theme : Theme{}), c.expected);
  }
}

TEST(ChartColors, WorkbookTextsReplaceTheDefaults) {
  model::WorkbookTheme texts = model::default_theme_colors();
  texts.colors[4] = "#4472c4";
  texts.colors[8] = "";
  texts.colors[9] = "##70ad47";
  const Theme theme = chart_theme(texts);
  EXPECT_EQ(theme.slots[4], "4472C4");
  EXPECT_EQ(theme.slots[8], "");
  EXPECT_EQ(theme.slots[9], "70AD47");
}

TEST(ChartColors, AutomaticColoursCycleThroughEight) {
  EXPECT_EQ(automatic_point_color(0), "#4472C4");
  EXPECT_EQ(automatic_point_color(6), "#264478");
  EXPECT_EQ(automatic_point_color(7), "#9E480E");
  EXPECT_EQ(automatic_point_color(8), "#4472C4");
  EXPECT_EQ(automatic_point_color(UINT64_MAX), "#9E480E");
}

TEST(ChartColors, GradientStops) {
  auto stops = [](const std::string& body, size_t limit) {
    const xml::XmlElement wrap = testing::parse_wrapped("<a:gsLst>" + body + "</a:gsLst>");
    return collect_fill_stop_colors(&testing::first_element(wrap), limit, Theme{});
  };
  auto stop = [](const std::string& color) { return "<a:gs pos=\"0\">" + color + "</a:gs>"; };
  const std::string red = stop("<a:srgbClr val=\"FF0000\"/>");
  const std::string accent = stop("<a:schemeClr val=\"accent1\"/>");
  const std::string preset = stop("<a:prstClr val=\"black\"/>");
  using Stops = std::vector<std::string>;
  EXPECT_EQ(stops(red + accent, 10), (Stops{"#FF0000", "#4472C4"}));
  EXPECT_EQ(stops(red + preset + accent, 10), std::nullopt);
  EXPECT_EQ(stops("", 10), Stops{});
  std::string eleven;
  for (int i = 0; i < 10; ++i) eleven += red;
  EXPECT_EQ(stops(eleven + preset, MAX_GRADIENT_STOPS), Stops(10, "#FF0000"));
  EXPECT_EQ(collect_fill_stop_colors(nullptr, 10, Theme{}), Stops{});
}

}  // namespace
}  // namespace cmx::charts
