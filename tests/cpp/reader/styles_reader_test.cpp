#include "reader/styles_reader.h"

#include <gtest/gtest.h>

#include "model/colors.h"
#include "test_util.h"

namespace cmx::reader {
namespace {

using model::Color;

std::string styles(const std::string& body) {
  return "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + body +
         "</styleSheet>";
}

model::StyleSheet read_ok(const std::string& body, std::optional<std::string> theme = std::nullopt) {
  auto read = read_styles_part(styles(body), theme ? std::optional<std::string_view>(*theme) : std::nullopt);
  EXPECT_TRUE(read.has_value()) << xml::parse_error_message(read.error());
  return read.has_value() ? read->styles : model::StyleSheet{};
}

std::string describe(const std::optional<Color>& color) {
  if (!color) return "none";
  return std::visit(
      [](const auto& c) -> std::string {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, model::RgbColor>) return "rgb " + c.text;
        if constexpr (std::is_same_v<T, model::ThemeColor>) {
          return "theme " + std::to_string(c.idx) + " " + (c.tint == 0.0 ? "0" : c.tint < 0 ? "-" : "+");
        }
        if constexpr (std::is_same_v<T, model::IndexedColor>) return "indexed " + std::to_string(c.index);
        return "auto";
      },
      *color);
}

TEST(StylesReader, NothingToReadGivesDefaults) {
  auto read = read_styles_part(std::nullopt, std::nullopt);
  ASSERT_TRUE(read.has_value());
  EXPECT_TRUE(model::stylesheet_is_default(read->styles));
  EXPECT_EQ(read->style_copy, std::nullopt);
}

TEST(StylesReader, HexColourRule) {
  struct Case {
    std::string text;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"FF4472C4", "#4472c4"}, {" 4472C4 ", "#4472c4"}, {"\u00a04472c4", "#4472c4"}, {"#4472c4", std::nullopt},
      {"red", std::nullopt},   {"12345", std::nullopt},  {"1234567", std::nullopt},  {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(normalize_hex_color(c.text), c.expected);
  }
}

TEST(StylesReader, FontColoursAndFlags) {
  struct Case {
    const char* label;
    std::string font;
    std::string color;
  };
  const std::vector<Case> cases = {
      {"rgb", "<color rgb=\"FFFF0000\"/>", "rgb #ff0000"},
      {"theme with tint", "<color theme=\"1\" tint=\"-0.25\"/>", "theme 1 -"},
      {"theme without tint", "<color theme=\"+4\"/>", "theme 4 0"},
      {"nan tint reads as none", "<color theme=\"4\" tint=\"nan\"/>", "theme 4 0"},
      {"infinite tint reads as none", "<color theme=\"4\" tint=\"-inf\"/>", "theme 4 0"},
      {"indexed", "<color indexed=\"64\"/>", "indexed 64"},
      {"bad rgb wins over theme", "<color rgb=\"red\" theme=\"1\"/>", "none"},
      {"theme past 8 bits", "<color theme=\"256\" indexed=\"3\"/>", "indexed 3"},
      {"auto", "<color auto=\"1\"/>", "auto"},
      {"auto true is not auto", "<color auto=\"true\"/>", "none"},
      {"replaced by none", "<color rgb=\"FF000000\"/><color/>", "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const model::StyleSheet sheet = read_ok("<fonts count=\"1\"><font>" + c.font + "</font></fonts>");
    ASSERT_EQ(sheet.fonts.size(), 1u);
    EXPECT_EQ(describe(sheet.fonts[0].color), c.color);
  }
  const model::StyleSheet sheet = read_ok(
      "<fonts><font><b/><i val=\"0\"/><u val=\"on\"/><strike val=\"TRUE\"/><sz val=\"11.5\"/>"
      "<name val=\"Calibri\"/></font><font><sz val=\"nan\"/><u val=\"none\"/></font><font><sz val=\"12\"/><sz val=\"inf\"/>"
      "<sz val=\" 9\"/></font></fonts>");
  ASSERT_EQ(sheet.fonts.size(), 3u);
  EXPECT_TRUE(sheet.fonts[0].bold);
  EXPECT_FALSE(sheet.fonts[0].italic);
  EXPECT_TRUE(sheet.fonts[0].underline);
  EXPECT_FALSE(sheet.fonts[0].strike);
  EXPECT_EQ(sheet.fonts[0].size_pt, 11.5);
  EXPECT_EQ(sheet.fonts[0].name, "Calibri");
  EXPECT_EQ(sheet.fonts[1].size_pt, std::nullopt);  // a NaN size never reaches the model
  EXPECT_FALSE(sheet.fonts[1].underline);
  for (const char* kind : {"single", "double", "singleAccounting", "doubleAccounting"}) {
    SCOPED_TRACE(kind);
    const model::StyleSheet underlined =
        read_ok(std::string("<fonts><font><u val=\"") + kind + "\"/></font></fonts>");
    EXPECT_TRUE(underlined.fonts[0].underline);
  }
  EXPECT_EQ(sheet.fonts[2].size_pt, 12.0);
}

TEST(StylesReader, Fills) {
  struct Case {
    const char* label;
    std::string fill;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"solid", "<patternFill patternType=\"solid\"><fgColor rgb=\"FFFF0000\"/></patternFill>", "solid rgb #ff0000"},
      {"none", "<patternFill patternType=\"none\"/>", "none"},
      {"no type", "<patternFill/>", "solid auto"},
      {"gray125", "<patternFill patternType=\"gray125\"/>", "solid auto"},
      {"none with colour", "<patternFill patternType=\"none\"><fgColor indexed=\"5\"/></patternFill>",
       "solid indexed 5"},
      {"background ignored", "<patternFill patternType=\"solid\"><bgColor rgb=\"FF00FF00\"/></patternFill>",
       "solid auto"},
      {"gradient", "<gradientFill><stop><color rgb=\"FF00FF00\"/></stop></gradientFill>", "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const model::StyleSheet sheet = read_ok("<fills><fill>" + c.fill + "</fill></fills>");
    ASSERT_EQ(sheet.fills.size(), 1u);
    const auto* solid = std::get_if<model::SolidFill>(&sheet.fills[0]);
    EXPECT_EQ(solid ? "solid " + describe(solid->color) : "none", c.expected);
  }
}

TEST(StylesReader, Borders) {
  const model::StyleSheet sheet = read_ok(
      "<borders><border><left style=\"mediumDashed\"><color rgb=\"FF000000\"/></left><right/>"
      "<top style=\"none\"><color rgb=\"FF000000\"/></top><bottom style=\"weird\"/>"
      "<diagonal style=\"thick\"><color rgb=\"FF00FF00\"/></diagonal></border>"
      "<border><start style=\"hair\"/><end style=\"double\"/></border></borders>");
  ASSERT_EQ(sheet.borders.size(), 2u);
  const model::Border& first = sheet.borders[0];
  ASSERT_TRUE(first.left.has_value());
  EXPECT_EQ(first.left->style, model::BorderStyle::Medium);
  EXPECT_EQ(describe(first.left->color), "rgb #000000");
  EXPECT_FALSE(first.right.has_value());
  EXPECT_FALSE(first.top.has_value());
  ASSERT_TRUE(first.bottom.has_value());
  EXPECT_EQ(first.bottom->style, model::BorderStyle::Thin);
  EXPECT_EQ(sheet.borders[1].left->style, model::BorderStyle::Hair);
  EXPECT_EQ(sheet.borders[1].right->style, model::BorderStyle::Double);
}

TEST(StylesReader, CellFormatsAndTheStrictCopy) {
  struct Case {
    const char* label;
    std::string xf;
    std::optional<uint32_t> main_font;
    std::optional<uint32_t> strict_font;
    bool copy;
  };
  const std::vector<Case> cases = {
      {"apply no", "<xf fontId=\"3\" applyFont=\"0\"/>", std::nullopt, std::nullopt, false},
      {"apply absent", "<xf fontId=\"3\"/>", 3, std::nullopt, true},
      {"apply yes", "<xf fontId=\"3\" applyFont=\"1\"/>", 3, 3, false},
      {"bad index", "<xf fontId=\"x\" applyFont=\"1\"/>", std::nullopt, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto read = read_styles_part(styles("<cellXfs>" + c.xf + "</cellXfs>"), std::nullopt);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->styles.cell_xfs.size(), 1u);
    EXPECT_EQ(read->styles.cell_xfs[0].font, c.main_font);
    EXPECT_EQ(read->style_copy.has_value(), c.copy);
    if (read->style_copy) {
      EXPECT_EQ(read->style_copy->cell_xfs[0].font, c.strict_font);
      EXPECT_EQ(read->style_copy->theme, read->styles.theme);
    }
  }
  const model::StyleSheet sheet = read_ok(
      "<cellStyleXfs><xf fontId=\"9\"/></cellStyleXfs><cellXfs>"
      "<xf numFmtId=\"164\" fillId=\"2\" borderId=\"1\" applyNumberFormat=\"1\" applyFill=\"1\" applyBorder=\"1\">"
      "<alignment horizontal=\"centerContinuous\" vertical=\"bogus\" wrapText=\"1\"/></xf>"
      "<xf numFmtId=\"70000\"><alignment horizontal=\"nope\"/></xf></cellXfs>"
      "<cellStyles><cellStyle xfId=\"0\"/></cellStyles>");
  ASSERT_EQ(sheet.cell_xfs.size(), 2u);
  EXPECT_EQ(sheet.cell_xfs[0].num_fmt_id, 164);
  EXPECT_EQ(sheet.cell_xfs[0].fill, 2u);
  EXPECT_EQ(sheet.cell_xfs[0].border, 1u);
  EXPECT_EQ(sheet.cell_xfs[0].alignment,
            (model::Alignment{model::HorizontalAlignment::CenterContinuous, std::nullopt, true, false}));
  EXPECT_EQ(sheet.cell_xfs[1].num_fmt_id, std::nullopt);
  EXPECT_EQ(sheet.cell_xfs[1].alignment, std::nullopt);
}

TEST(StylesReader, NumberFormatsAnywhere) {
  const model::StyleSheet sheet = read_ok(
      "<numFmts><numFmt numFmtId=\"164\" formatCode=\"0.0&quot;x&quot;\"/><numFmt numFmtId=\"7\" formatCode=\"a\"/>"
      "<numFmt numFmtId=\"165\"/><numFmt numFmtId=\"65536\" formatCode=\"b\"/></numFmts>"
      "<dxfs><dxf><numFmt numFmtId=\"164\" formatCode=\"dup\"/></dxf></dxfs>");
  EXPECT_EQ(sheet.num_fmts, (std::vector<model::CustomNumFmt>{{164, "0.0\"x\""}, {7, "a"}, {164, "dup"}}));
}

TEST(StylesReader, IndexedPalette) {
  const model::StyleSheet sheet = read_ok(
      "<colors><indexedColors><rgbColor rgb=\"FF000001\"/><rgbColor/><rgbColor rgb=\"00ABCDEF\"/></indexedColors>"
      "<mruColors><color rgb=\"ZZ\"/></mruColors></colors><x><colors><indexedColors><rgbColor rgb=\"ZZ\"/>"
      "</indexedColors></colors></x>");
  EXPECT_EQ(sheet.indexed_colors, (std::vector<std::string>{"#000001", "", "#abcdef"}));
  auto bad = read_styles_part(styles("<colors><indexedColors><rgbColor rgb=\"ZZZZZZ\"/></indexedColors></colors>"),
                              std::nullopt);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(xml::parse_error_message(bad.error()), "xml error: invalid indexed palette color");
}

TEST(StylesReader, TableLimits) {
  struct Case {
    const char* label;
    std::string open, item, close;
  };
  const std::vector<Case> cases = {
      {"fonts", "<fonts>", "<font/>", "</fonts>"},
      {"fills", "<fills>", "<fill/>", "</fills>"},
      {"borders", "<borders>", "<border/>", "</borders>"},
      {"cell formats", "<cellXfs>", "<xf/>", "</cellXfs>"},
      {"number formats", "<numFmts>", "<numFmt numFmtId=\"200\" formatCode=\"0\"/>", "</numFmts>"},
      {"palette", "<colors><indexedColors>", "<rgbColor/>", "</indexedColors></colors>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string items;
    for (uint64_t i = 0; i < MAX_STYLE_RECORDS; ++i) items += c.item;
    EXPECT_TRUE(read_styles_part(styles(c.open + items + c.close), std::nullopt).has_value());
    EXPECT_THAT(read_styles_part(styles(c.open + items + c.item + c.close), std::nullopt),
                FailsWithKind(xml::ParseErrorKind::TooManyStyles));
  }
}

TEST(StylesReader, ReaderRefusals) {
  EXPECT_THAT(read_styles_part(styles("<fonts>"), std::nullopt), FailsWithKind(xml::ParseErrorKind::Xml));
  EXPECT_THAT(read_styles_part(std::nullopt, std::string_view("<a><b></a>")),
              FailsWithKind(xml::ParseErrorKind::Xml));
  std::string deep;
  for (int i = 0; i < 70; ++i) deep += "<d>";
  EXPECT_THAT(read_styles_part(styles(deep), std::nullopt), FailsWithKind(xml::ParseErrorKind::DepthExceeded));
}

std::string theme(const std::string& schemes) {
  return "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><a:themeElements>" + schemes +
         "</a:themeElements></a:theme>";
}

TEST(StylesReader, ThemeColours) {
  const std::string part = theme(
      "<a:clrScheme name=\"x\"><a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/></a:dk1>"
      "<a:lt1><a:sysClr val=\"window\"/></a:lt1><a:dk2><a:srgbClr val=\"1F497D\"><a:lumMod val=\"1\"/></a:srgbClr>"
      "</a:dk2><a:lt2><a:srgbClr val=\"bad\"/></a:lt2><a:accent1><a:sysClr val=\"other\" lastClr=\"zz\"/>"
      "</a:accent1></a:clrScheme><a:srgbClr val=\"123456\"/>"
      "<a:extra><a:clrScheme><a:hlink><a:srgbClr val=\"FF00AA\"/></a:hlink></a:clrScheme></a:extra>");
  const model::StyleSheet sheet = read_ok("", part);
  const auto defaults = model::default_theme_colors().colors;
  EXPECT_EQ(sheet.theme.colors[0], "#000000");
  EXPECT_EQ(sheet.theme.colors[1], "#ffffff");
  EXPECT_EQ(sheet.theme.colors[2], "#1f497d");
  EXPECT_EQ(sheet.theme.colors[3], defaults[3]);
  EXPECT_EQ(sheet.theme.colors[4], "#000000");
  EXPECT_EQ(sheet.theme.colors[5], defaults[5]);
  EXPECT_EQ(sheet.theme.colors[10], "#ff00aa");
  // With no styles part the theme still counts.
  auto theme_only = read_styles_part(std::nullopt, std::string_view(part));
  ASSERT_TRUE(theme_only.has_value());
  EXPECT_EQ(theme_only->styles.theme.colors[2], "#1f497d");
  EXPECT_EQ(model::resolve_color_rgb(theme_only->styles, model::ThemeColor{3, 0.0}), "#1f497d");
}

}  // namespace
}  // namespace cmx::reader
