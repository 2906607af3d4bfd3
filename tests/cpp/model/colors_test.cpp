// Colour texts: theme numbering, tints, palettes and the default style sheet.
#include <gtest/gtest.h>

#include "model/colors.h"

namespace cmx::model {
namespace {

TEST(ResolveColorRgb, Cases) {
  StyleSheet styles;
  struct Case { const char* name; Color color; std::optional<std::string> text; };
  const Case cases[] = {
      {"theme 0 reads lt1", ThemeColor{0, 0.0}, "#ffffff"},
      {"theme 1 reads dk1", ThemeColor{1, 0.0}, "#000000"},
      {"theme 2 reads lt2", ThemeColor{2, 0.0}, "#e7e6e6"},
      {"theme 3 reads dk2", ThemeColor{3, 0.0}, "#44546a"},
      {"theme 11", ThemeColor{11, 0.0}, "#954f72"},
      {"theme 12 names nothing", ThemeColor{12, 0.0}, std::nullopt},
      {"accent1 lighter", ThemeColor{4, 0.3999755851924192}, "#8faadc"},
      {"accent1 darker", ThemeColor{4, -0.249977111117893}, "#2f5597"},
      {"lt1 darker", ThemeColor{0, -0.0499893185216834}, "#f2f2f2"},
      {"dk1 half", ThemeColor{1, 0.5}, "#808080"},
      {"negative zero tint", ThemeColor{4, -0.0}, "#4472c4"},
      {"indexed 8", IndexedColor{8}, "#000000"},
      {"indexed 63", IndexedColor{63}, "#333333"},
      {"indexed 64", IndexedColor{64}, std::nullopt},
      {"indexed 65", IndexedColor{65}, std::nullopt},
      {"rgb as stored", RgbColor{"#ABCDEF"}, "#ABCDEF"},
      {"empty rgb stays empty", RgbColor{""}, ""},
      {"auto", AutoColor{}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(resolve_color_rgb(styles, c.color), c.text);
  }
}

TEST(ResolveColorRgb, ThemeTextsAsStored) {
  StyleSheet styles;
  styles.theme.colors[5] = "ED7D31";  // accent2 without "#"
  styles.theme.colors[6] = "red";
  styles.theme.colors[7] = "#12345";
  styles.theme.colors[8] = "#808080";
  styles.theme.colors[9] = "#FFC000";
  EXPECT_EQ(resolve_color_rgb(styles, ThemeColor{5, 0.0}), "#ed7d31");
  EXPECT_EQ(resolve_color_rgb(styles, ThemeColor{6, 0.5}), "red");
  EXPECT_EQ(resolve_color_rgb(styles, ThemeColor{7, 0.5}), "#12345");
  EXPECT_EQ(resolve_color_rgb(styles, ThemeColor{8, 1.0}), "#ffffff");
  EXPECT_EQ(resolve_color_rgb(styles, ThemeColor{8, -1.0}), "#000000");
  EXPECT_EQ(resolve_color_rgb(styles, ThemeColor{9, 0.0}), "#ffc000");
}

TEST(ResolveColorRgb, WorkbookPaletteOverridesBelow64) {
  StyleSheet styles;
  styles.indexed_colors = {"", "#123456", "FF00FF"};
  styles.indexed_colors.resize(70, "#abcdef");
  EXPECT_EQ(resolve_color_rgb(styles, IndexedColor{0}), "#000000");  // empty entry: standard
  EXPECT_EQ(resolve_color_rgb(styles, IndexedColor{1}), "#123456");
  EXPECT_EQ(resolve_color_rgb(styles, IndexedColor{2}), "FF00FF");
  EXPECT_EQ(resolve_color_rgb(styles, IndexedColor{65}), std::nullopt);
}

TEST(StylesheetIsDefault, TablesThemeAndPalette) {
  StyleSheet styles;
  EXPECT_TRUE(stylesheet_is_default(styles));
  styles.caches.font_lookup.in_line_length = 3;  // caches play no part
  EXPECT_TRUE(stylesheet_is_default(styles));
  StyleSheet with_font;
  with_font.fonts.push_back(Font{});
  EXPECT_FALSE(stylesheet_is_default(with_font));
  StyleSheet upper;
  upper.theme.colors[1] = "#FFFFFF";
  EXPECT_FALSE(stylesheet_is_default(upper));
  StyleSheet palette;
  palette.indexed_colors.push_back("");
  EXPECT_FALSE(stylesheet_is_default(palette));
  StyleSheet numfmt;
  numfmt.num_fmts.push_back({164, "0.0"});
  EXPECT_FALSE(stylesheet_is_default(numfmt));
}

}  // namespace
}  // namespace cmx::model
