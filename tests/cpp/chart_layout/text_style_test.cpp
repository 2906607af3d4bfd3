#include "chart_layout/text_style.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/unicode.h"

namespace cmx::chart_layout {
namespace {

using charts::ChartTextStyle;

TEST(MakeTextStyle, SizesSpacingWeightAndColour) {
  struct Case {
    const char* name;
    ChartTextStyle props;
    uint16_t default_weight;
    double size_px, spacing_px;
    uint16_t weight;
    const char* color;
  };
  const Case cases[] = {
      {"12 points", {.size_pt = 12}, 400, 16, 0, 400, "#222222"},
      {"half a point clamps to 1 px", {.size_pt = 0.5}, 400, 1, 0, 400, "#222222"},
      {"320 points clamp to 400 px", {.size_pt = 320}, 400, 400, 0, 400, "#222222"},
      {"size 0 keeps the default", {.size_pt = 0.0}, 400, 10, 0, 400, "#222222"},
      {"spacing -500 points", {.spacing_pt = -500}, 400, 10, -400, 400, "#222222"},
      {"colour without #", {.color = "FF0000"}, 400, 10, 0, 400, "#FF0000"},
      {"colour with #", {.color = "#00ff00"}, 400, 10, 0, 400, "#00ff00"},
      {"bold unset on a title", {}, 600, 10, 0, 600, "#222222"},
      {"bold false on a title", {.bold = false}, 600, 10, 0, 400, "#222222"},
      {"bold true", {.bold = true}, 400, 10, 0, 700, "#222222"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TextStyle style = make_text_style(c.props, c.default_weight, 10);
    EXPECT_DOUBLE_EQ(style.size_px, c.size_px);
    EXPECT_DOUBLE_EQ(style.spacing_px, c.spacing_px);
    EXPECT_EQ(style.weight, c.weight);
    EXPECT_EQ(style.color, c.color);
    EXPECT_EQ(style.family, kDefaultChartFamily);
  }
  EXPECT_EQ(make_text_style({.typeface = "Arial"}, 400, 10).family, "Arial");
  EXPECT_TRUE(make_text_style({.italic = true}, 400, 10).italic);
}

TEST(MergeTextProps, ElementOverChart) {
  const ChartTextStyle chart{.size_pt = 9, .typeface = "Arial", .bold = true};
  const ChartTextStyle merged = merge_text_props(ChartTextStyle{.size_pt = 14, .bold = false}, chart);
  EXPECT_EQ(merged.size_pt, 14);
  EXPECT_EQ(merged.typeface, "Arial");
  EXPECT_EQ(merged.bold, false);
  EXPECT_EQ(merge_text_props(std::nullopt, chart), chart);
}

TEST(MeasureTextWidth, TableWideAndOther) {
  EXPECT_DOUBLE_EQ(measure_text_width("ill", 10, 0), 15);  // each below half an em counts half
  EXPECT_NEAR(measure_text_width("mW", 10, 0), 16.89, 1e-9);
  EXPECT_DOUBLE_EQ(measure_text_width("\xEA\xB0\x80", 10, 0), 10);  // a Hangul syllable
  EXPECT_DOUBLE_EQ(measure_text_width("\xC3\xA9", 10, 0), 5);       // é
  EXPECT_DOUBLE_EQ(measure_text_width("ab", 10, 2), 5 + 5.26 + 2);  // "a" at 479 counts half an em
  EXPECT_DOUBLE_EQ(measure_text_width("ab", 10, -100), 0);
  EXPECT_DOUBLE_EQ(half_em_width("abcd", 10, 1), 23);
  EXPECT_DOUBLE_EQ(half_em_width("", 10, 5), 0);
}

TEST(WrapChartText, BreaksAfterWhiteSpaceOrInsideWords) {
  EXPECT_EQ(wrap_chart_text("alpha beta gamma", 60, 10, 0), (std::vector<std::string>{"alpha beta ", "gamma"}));
  EXPECT_EQ(wrap_chart_text("abcdefghij", 20, 10, 0), (std::vector<std::string>{"abcd", "efgh", "ij"}));
  EXPECT_EQ(wrap_chart_text("abc", 0, 10, 0), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(wrap_chart_text("abc", NAN, 10, 0), (std::vector<std::string>{"abc"}));
  EXPECT_TRUE(wrap_chart_text("", 50, 10, 0).empty());
  const std::string long_text(200, 'x');
  size_t total = 0;
  for (const std::string& line : wrap_chart_text(long_text, 100, 10, 0)) total += line.size();
  EXPECT_EQ(total, kMaxChartTextChars);
  EXPECT_EQ(unicode::count_scalars(cut_chart_text(std::string(130, 'y') + "\xC3\xA9")), kMaxChartTextChars);
}

}  // namespace
}  // namespace cmx::chart_layout
