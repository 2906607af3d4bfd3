// Style resolution and colour equality.
#include <gtest/gtest.h>

#include <cmath>

#include "model/styles.h"

namespace cmx::model {
namespace {

bool font_eq(const Font& a, const Font& b) {
  bool color = a.color.has_value() == b.color.has_value() && (!a.color || color_eq(*a.color, *b.color));
  return a.name == b.name && a.size_pt == b.size_pt && a.bold == b.bold && a.italic == b.italic &&
         a.underline == b.underline && a.strike == b.strike && color;
}

bool is_default_font(const Font& f) { return font_eq(f, Font{}); }
bool is_default_border(const Border& b) { return !b.left && !b.right && !b.top && !b.bottom; }

StyleSheet sample_styles() {
  StyleSheet styles;
  Font bold;
  bold.bold = true;
  bold.name = "Calibri";
  styles.fonts = {Font{}, bold};
  styles.fills = {NoFill{}, SolidFill{RgbColor{"FFFF0000"}}};
  Border boxed;
  boxed.left = BorderEdge{BorderStyle::Thin, std::nullopt};
  styles.borders = {Border{}, boxed};
  styles.num_fmts = {{5, "ignored"}, {170, "0.0%"}, {170, "0.00%"}, {171, "@"}};
  Alignment centred;
  centred.h = HorizontalAlignment::Center;
  styles.cell_xfs = {
      CellXf{},                                             // 0: every field absent
      CellXf{1u, 1u, 1u, uint16_t{170}, centred},           // 1: everything set
      CellXf{9u, 1u, std::nullopt, uint16_t{5}, std::nullopt},  // 2: font past the end
      CellXf{std::nullopt, 7u, 7u, uint16_t{172}, std::nullopt},  // 3: unknown custom id
      CellXf{std::nullopt, std::nullopt, std::nullopt, uint16_t{171}, Alignment{}},
  };
  return styles;
}

TEST(ResolveCellFormat, FieldsResolveIndependently) {
  StyleSheet styles = sample_styles();

  for (std::optional<uint32_t> style : {std::optional<uint32_t>{}, std::optional<uint32_t>{5u},
                                        std::optional<uint32_t>{UINT32_MAX}, std::optional<uint32_t>{0u}}) {
    CellFormat f = resolve_cell_format(styles, style);
    EXPECT_TRUE(is_default_font(f.font));
    EXPECT_TRUE(std::holds_alternative<NoFill>(f.fill));
    EXPECT_TRUE(is_default_border(f.border));
    EXPECT_EQ(f.number_format, NumberFormat(BuiltinNumFmt{0}));
    EXPECT_EQ(f.alignment, Alignment{});
    EXPECT_FALSE(f.alignment.h.has_value());  // absent, not General
  }

  CellFormat full = resolve_cell_format(styles, 1u);
  EXPECT_TRUE(full.font.bold);
  EXPECT_EQ(full.font.name, "Calibri");
  ASSERT_TRUE(std::holds_alternative<SolidFill>(full.fill));
  EXPECT_TRUE(color_eq(std::get<SolidFill>(full.fill).color, RgbColor{"FFFF0000"}));
  EXPECT_TRUE(full.border.left.has_value());
  EXPECT_EQ(full.number_format, NumberFormat(CustomPattern{"0.0%"}));  // first of two id-170 entries
  EXPECT_EQ(full.alignment.h, HorizontalAlignment::Center);

  CellFormat bad_font = resolve_cell_format(styles, 2u);
  EXPECT_TRUE(is_default_font(bad_font.font));
  EXPECT_TRUE(std::holds_alternative<SolidFill>(bad_font.fill));
  EXPECT_EQ(bad_font.number_format, NumberFormat(BuiltinNumFmt{5}));  // built-in ids never read num_fmts

  CellFormat unknown = resolve_cell_format(styles, 3u);
  EXPECT_TRUE(std::holds_alternative<NoFill>(unknown.fill));
  EXPECT_TRUE(is_default_border(unknown.border));
  EXPECT_EQ(unknown.number_format, NumberFormat(BuiltinNumFmt{172}));  // the id itself, not 0

  EXPECT_EQ(resolve_cell_format(styles, 4u).number_format, NumberFormat(CustomPattern{"@"}));
}

TEST(ResolveCellFormat, PureAndRepeatable) {
  StyleSheet styles = sample_styles();
  CellFormat first = resolve_cell_format(styles, 1u);
  CellFormat second = resolve_cell_format(styles, 1u);
  EXPECT_TRUE(font_eq(first.font, second.font));
  EXPECT_EQ(first.number_format, second.number_format);
  EXPECT_EQ(first.alignment, second.alignment);
  EXPECT_EQ(styles.fonts.size(), 2u);
  EXPECT_EQ(styles.cell_xfs.size(), 5u);
  EXPECT_EQ(styles.num_fmts.size(), 4u);
}

TEST(ColorEq, VariantsAndTints) {
  struct Case { const char* name; Color a; Color b; bool equal; };
  const double nan = std::nan("");
  const Case cases[] = {
      {"same rgb", RgbColor{"FF0000"}, RgbColor{"FF0000"}, true},
      {"rgb case differs", RgbColor{"ff0000"}, RgbColor{"FF0000"}, false},
      {"same index", IndexedColor{8}, IndexedColor{8}, true},
      {"other index", IndexedColor{8}, IndexedColor{9}, false},
      {"theme zero tints", ThemeColor{4, 0.0}, ThemeColor{4, -0.0}, true},
      {"theme tint differs", ThemeColor{4, 0.5}, ThemeColor{4, 0.25}, false},
      {"theme idx differs", ThemeColor{4, 0.5}, ThemeColor{5, 0.5}, false},
      {"nan tint equals nothing", ThemeColor{4, nan}, ThemeColor{4, nan}, false},
      {"auto", AutoColor{}, AutoColor{}, true},
      {"variants differ", IndexedColor{0}, ThemeColor{0, 0.0}, false},
      {"auto against rgb", AutoColor{}, RgbColor{""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(color_eq(c.a, c.b), c.equal);
    EXPECT_EQ(color_eq(c.b, c.a), c.equal);
  }
}

TEST(StyleSheet, NewSheetHoldsTheDefaultTheme) {
  StyleSheet styles;
  EXPECT_TRUE(styles.fonts.empty() && styles.cell_xfs.empty() && styles.indexed_colors.empty());
  EXPECT_EQ(styles.theme, default_theme_colors());
  EXPECT_EQ(styles.theme.colors[0], "#000000");
  EXPECT_EQ(styles.theme.colors[4], "#4472c4");
  EXPECT_EQ(styles.theme.colors[11], "#954f72");
}

}  // namespace
}  // namespace cmx::model
