// The style records: their exact text, the lenient readers with their
// refusals, and write -> read -> write over random formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

using testing::RandomRecords;
using testing::reread;
using testing::written_and_counted;

constexpr std::string_view kDefaultFormat =
    R"({"font":{"name":null,"size_pt":null,"bold":false,"italic":false,"underline":false,"strike":false,"color":null},)"
    R"("fill":"None","border":{"left":null,"right":null,"top":null,"bottom":null},)"
    R"("numberFormat":{"kind":"builtin","id":0},"alignment":{"h":null,"v":null,"wrap_text":false,"shrink_to_fit":false}})";

template <typename T, typename Write>
std::string write_one(const T& record, Write&& write) {
  bool counts_match = false;
  std::string text = written_and_counted([&](auto& w) { write(w, record); }, counts_match);
  EXPECT_TRUE(counts_match) << text;
  return text;
}

auto color_writer = [](auto& w, const model::Color& c) { serialize_color(w, c); };
auto fill_writer = [](auto& w, const model::Fill& f) { serialize_fill(w, f); };
auto font_writer = [](auto& w, const model::Font& f) { serialize_font(w, f); };
auto border_writer = [](auto& w, const model::Border& b) { serialize_border(w, b); };
auto alignment_writer = [](auto& w, const model::Alignment& a) { serialize_alignment(w, a); };
auto number_format_writer = [](auto& w, const model::NumberFormat& n) { serialize_number_format(w, n); };
auto cell_format_writer = [](auto& w, const model::CellFormat& f) { serialize_cell_format(w, f); };

TEST(StyleRecords, WrittenForms) {
  model::Font calibri;
  calibri.name = "Calibri";
  calibri.size_pt = 11.0;
  calibri.color = model::ThemeColor{1, 0.0};
  model::Font odd;
  odd.size_pt = 1.5e-7;
  odd.bold = odd.strike = true;
  odd.color = model::RgbColor{"a\tb\x1f"};
  model::Border border;
  border.top = model::BorderEdge{model::BorderStyle::Double, model::IndexedColor{64}};
  border.left = model::BorderEdge{model::BorderStyle::Thin, std::nullopt};
  model::Alignment alignment;
  alignment.h = model::HorizontalAlignment::CenterContinuous;
  alignment.wrap_text = true;

  struct Case {
    std::string name;
    std::string written;
    std::string_view expected;
  };
  const Case cases[] = {
      {"rgb", write_one(model::Color(model::RgbColor{"#ff0000"}), color_writer), R"({"Rgb":"#ff0000"})"},
      {"indexed", write_one(model::Color(model::IndexedColor{64}), color_writer), R"({"Indexed":64})"},
      {"theme", write_one(model::Color(model::ThemeColor{4, -0.25}), color_writer),
       R"({"Theme":{"idx":4,"tint":-0.25}})"},
      {"auto", write_one(model::Color(model::AutoColor{}), color_writer), R"("Auto")"},
      {"solid", write_one(model::Fill(model::SolidFill{model::RgbColor{"#ffff00"}}), fill_writer),
       R"({"Solid":{"Rgb":"#ffff00"}})"},
      {"no fill", write_one(model::Fill(model::NoFill{}), fill_writer), R"("None")"},
      {"builtin", write_one(model::NumberFormat(model::BuiltinNumFmt{14}), number_format_writer),
       R"({"kind":"builtin","id":14})"},
      {"custom", write_one(model::NumberFormat(model::CustomPattern{"0.00%"}), number_format_writer),
       R"({"kind":"custom","pattern":"0.00%"})"},
      {"empty border", write_one(model::Border{}, border_writer),
       R"({"left":null,"right":null,"top":null,"bottom":null})"},
      {"border", write_one(border, border_writer),
       R"({"left":{"style":"Thin","color":null},"right":null,"top":{"style":"Double","color":{"Indexed":64}},"bottom":null})"},
      {"empty alignment", write_one(model::Alignment{}, alignment_writer),
       R"({"h":null,"v":null,"wrap_text":false,"shrink_to_fit":false})"},
      {"alignment", write_one(alignment, alignment_writer),
       R"({"h":"CenterContinuous","v":null,"wrap_text":true,"shrink_to_fit":false})"},
      {"calibri", write_one(calibri, font_writer),
       R"({"name":"Calibri","size_pt":11.0,"bold":false,"italic":false,"underline":false,"strike":false,"color":{"Theme":{"idx":1,"tint":0.0}}})"},
      {"bare font", write_one(model::Font{}, font_writer),
       R"({"name":null,"size_pt":null,"bold":false,"italic":false,"underline":false,"strike":false,"color":null})"},
      {"escapes and scientific size", write_one(odd, font_writer),
       R"({"name":null,"size_pt":1.5e-7,"bold":true,"italic":false,"underline":false,"strike":true,"color":{"Rgb":"a\tb\u001f"}})"},
      {"default cell format", write_one(model::CellFormat{}, cell_format_writer), kDefaultFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.written, c.expected);
  }
  EXPECT_EQ(kDefaultFormat.size(), 299u);
  EXPECT_EQ(cell_format_to_json(model::CellFormat{}), kDefaultFormat);
}

TEST(StyleRecords, NonFiniteSizeIsWrittenNull) {
  model::Font font;
  font.size_pt = std::numeric_limits<double>::infinity();
  std::string text = write_one(font, font_writer);
  EXPECT_NE(text.find(R"("size_pt":null)"), std::string::npos);
  auto back = read_json_text(text, [](JsonReader& r) { return deserialize_font(r); });
  ASSERT_TRUE(back.has_value());
  EXPECT_FALSE(back->size_pt.has_value());
}

TEST(StyleRecords, StyleSheetText) {
  model::StyleSheet styles;
  styles.fonts.push_back(model::Font{});
  styles.fills.push_back(model::NoFill{});
  styles.borders.push_back(model::Border{});
  styles.cell_xfs.push_back(model::CellXf{0, std::nullopt, std::nullopt, 14, std::nullopt});
  styles.cell_xfs.push_back(model::CellXf{std::nullopt, 0, 0, std::nullopt, model::Alignment{}});
  styles.num_fmts.push_back(model::CustomNumFmt{164, "0.00%"});
  styles.num_fmts.push_back(model::CustomNumFmt{165, "\"x\""});
  std::string colors;
  for (size_t i = 0; i < styles.theme.colors.size(); ++i) {
    colors += (i ? ",\"" : "\"") + styles.theme.colors[i] + "\"";
  }
  const std::string body =
      R"({"fonts":[{"name":null,"size_pt":null,"bold":false,"italic":false,"underline":false,"strike":false,"color":null}],)"
      R"("fills":["None"],"borders":[{"left":null,"right":null,"top":null,"bottom":null}],)"
      R"("cell_xfs":[{"font":0,"fill":null,"border":null,"num_fmt_id":14,"alignment":null},)"
      R"({"font":null,"fill":0,"border":0,"num_fmt_id":null,"alignment":{"h":null,"v":null,"wrap_text":false,"shrink_to_fit":false}}],)"
      R"("num_fmts":[[164,"0.00%"],[165,"\"x\""]],"theme":{"colors":[)" + colors + "]}";
  auto write = [](auto& w, const model::StyleSheet& s) { serialize_stylesheet(w, s); };
  EXPECT_EQ(write_one(styles, write), body + "}");
  styles.indexed_colors.push_back("#FF0000");
  EXPECT_EQ(write_one(styles, write), body + R"(,"indexed_colors":["#FF0000"]})");
  EXPECT_EQ(stylesheet_to_json(styles), body + R"(,"indexed_colors":["#FF0000"]})");
  EXPECT_EQ(write_one(model::StyleSheet{}, write).substr(0, 71),
            R"({"fonts":[],"fills":[],"borders":[],"cell_xfs":[],"num_fmts":[],"theme")");
}

struct ReadCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;  // the record written again, or the error text
};

template <typename Read, typename Write>
void check_reads(std::span<const ReadCase> cases, Read&& read, Write&& write) {
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reread(c.input, read, write), c.expected);
  }
}

TEST(StyleRecords, ReadColors) {
  const ReadCase cases[] = {
      {"word", R"("Auto")", R"("Auto")"},
      {"unit in braces", R"( {"Auto" : null} )", R"("Auto")"},
      {"theme as array", R"({"Theme":[4,-0.25]})", R"({"Theme":{"idx":4,"tint":-0.25}})"},
      {"theme keys reordered", R"({"Theme":{"tint":-0.25,"idx":4}})", R"({"Theme":{"idx":4,"tint":-0.25}})"},
      {"theme integer tint", R"({"Theme":{"idx":4,"tint":1,"x":[{}]}})", R"({"Theme":{"idx":4,"tint":1.0}})"},
      {"rgb kept as given", R"({"Rgb":"#12"})", R"({"Rgb":"#12"})"},
      {"indexed", R"({"Indexed":255})", R"({"Indexed":255})"},
      {"wrong case", R"("auto")",
       "unknown variant `auto`, expected one of `Rgb`, `Theme`, `Indexed`, `Auto` at line 1 column 6"},
      {"data variant as word", R"("Rgb")", "invalid type: unit variant, expected newtype variant at line 1 column 5"},
      {"struct variant as word", R"("Theme")", "invalid type: unit variant, expected struct variant at line 1 column 7"},
      {"index too large", R"({"Indexed":256})", "invalid value: integer `256`, expected u8 at line 1 column 14"},
      {"negative index", R"({"Indexed":-1})", "invalid value: integer `-1`, expected u8 at line 1 column 13"},
      {"theme short", R"({"Theme":[4]})",
       "invalid length 1, expected struct variant Color::Theme with 2 elements at line 1 column 12"},
      {"theme without tint", R"({"Theme":{"idx":4}})", "missing field `tint` at line 1 column 18"},
      {"unit with a value", R"({"Auto":5})", "invalid type: integer `5`, expected unit at line 1 column 9"},
      {"second key", R"({"Rgb":"#ff0000","Auto":null})", "expected value at line 1 column 16"},
      {"number", "5", "expected value at line 1 column 1"},
      {"null", "null", "expected value at line 1 column 1"},
  };
  check_reads(cases, [](JsonReader& r) { return deserialize_color(r); }, color_writer);
}

TEST(StyleRecords, ReadFillsAndBorders) {
  const ReadCase fills[] = {
      {"none", R"("None")", R"("None")"},
      {"none in braces", R"({"None":{}})", "invalid type: map, expected unit at line 1 column 8"},
      {"solid", R"({"Solid":"Auto"})", R"({"Solid":"Auto"})"},
      {"solid as word", R"("Solid")", "invalid type: unit variant, expected newtype variant at line 1 column 7"},
      {"unknown", R"("none")", "unknown variant `none`, expected `None` or `Solid` at line 1 column 6"},
  };
  check_reads(fills, [](JsonReader& r) { return deserialize_fill(r); }, fill_writer);
  const ReadCase borders[] = {
      {"empty object", "{}", R"({"left":null,"right":null,"top":null,"bottom":null})"},
      {"array form", R"([null,{"style":"Hair"},null,["Dashed","Auto"]])",
       R"({"left":null,"right":{"style":"Hair","color":null},"top":null,"bottom":{"style":"Dashed","color":"Auto"}})"},
      {"extra keys skipped", R"({"diagonal":{"style":"Thin"},"top":{"style":"Thick","x":1}})",
       R"({"left":null,"right":null,"top":{"style":"Thick","color":null},"bottom":null})"},
      {"edge without style", R"({"left":{"color":null}})", "missing field `style` at line 1 column 22"},
      {"unknown style", R"({"left":{"style":"Wavy"}})",
       "unknown variant `Wavy`, expected one of `Thin`, `Medium`, `Thick`, `Dashed`, `Dotted`, `Double`, `Hair` at line 1 column 23"},
      {"duplicate side", R"({"top":null,"top":null})", "duplicate field `top` at line 1 column 17"},
      {"not a record", R"("x")", "invalid type: string \"x\", expected struct Border at line 1 column 3"},
      {"short array", "[null]", "invalid length 1, expected struct Border with 4 elements at line 1 column 6"},
  };
  check_reads(borders, [](JsonReader& r) { return deserialize_border(r); }, border_writer);
}

TEST(StyleRecords, ReadFontsAndAlignments) {
  const ReadCase fonts[] = {
      {"required flags only", R"({"bold":false,"italic":false,"underline":false,"strike":false})",
       R"({"name":null,"size_pt":null,"bold":false,"italic":false,"underline":false,"strike":false,"color":null})"},
      {"integer size", R"({"size_pt":11,"bold":true,"italic":false,"underline":false,"strike":false,"zz":[1,{"a":null}]})",
       R"({"name":null,"size_pt":11.0,"bold":true,"italic":false,"underline":false,"strike":false,"color":null})"},
      {"array form", R"(["Calibri",11.0,false,false,false,false,null])",
       R"({"name":"Calibri","size_pt":11.0,"bold":false,"italic":false,"underline":false,"strike":false,"color":null})"},
      {"short array", R"(["Calibri",11.0])", "invalid length 2, expected struct Font with 7 elements at line 1 column 16"},
      {"missing flag", R"({"bold":true})", "missing field `italic` at line 1 column 13"},
      {"repeated flag", R"({"bold":true,"bold":false,"italic":false,"underline":false,"strike":false})",
       "duplicate field `bold` at line 1 column 19"},
      {"flag of another type", R"({"bold":1})", "invalid type: integer `1`, expected a boolean at line 1 column 9"},
      {"not a record", "5", "invalid type: integer `5`, expected struct Font at line 1 column 1"},
  };
  check_reads(fonts, [](JsonReader& r) { return deserialize_font(r); }, font_writer);
  const ReadCase alignments[] = {
      {"horizontal only", R"({"h":"Center","wrap_text":false,"shrink_to_fit":false})",
       R"({"h":"Center","v":null,"wrap_text":false,"shrink_to_fit":false})"},
      {"vertical in braces", R"({"v":{"Justify":null},"h":null,"wrap_text":true,"shrink_to_fit":false})",
       R"({"h":null,"v":"Justify","wrap_text":true,"shrink_to_fit":false})"},
      {"vertical word of the other enum", R"({"v":"Left","wrap_text":true,"shrink_to_fit":false})",
       "unknown variant `Left`, expected one of `Top`, `Center`, `Bottom`, `Justify`, `Distributed` at line 1 column 11"},
      {"missing shrink", R"({"wrap_text":true})", "missing field `shrink_to_fit` at line 1 column 18"},
  };
  check_reads(alignments, [](JsonReader& r) { return deserialize_alignment(r); }, alignment_writer);
}

TEST(StyleRecords, ReadNumberFormats) {
  const ReadCase cases[] = {
      {"tag last", R"({"id":14,"kind":"builtin"})", R"({"kind":"builtin","id":14})"},
      {"id zero", R"({"kind":"builtin","id":0})", R"({"kind":"builtin","id":0})"},
      {"largest id", R"({"kind":"builtin","id":65535})", R"({"kind":"builtin","id":65535})"},
      {"other keys skipped", R"({"kind":"builtin","id":14,"note":{"a":[1]}})", R"({"kind":"builtin","id":14})"},
      {"custom with a stray id", R"({"kind":"custom","pattern":"0.00","id":14})",
       R"({"kind":"custom","pattern":"0.00"})"},
      {"empty pattern", R"({"kind":"custom","pattern":""})", R"({"kind":"custom","pattern":""})"},
      {"array form", R"(["builtin",14])", R"({"kind":"builtin","id":14})"},
      {"minus zero id", R"({"kind":"builtin","id":-0})", R"({"kind":"builtin","id":0})"},
      {"id too large", R"({"kind":"builtin","id":65536})",
       "invalid value: integer `65536`, expected u16 at line 1 column 29"},
      {"negative id", R"({"kind":"builtin","id":-1})", "invalid value: integer `-1`, expected u16 at line 1 column 26"},
      {"float id", R"({"kind":"builtin","id":14.0})",
       "invalid type: floating point `14.0`, expected u16 at line 1 column 28"},
      {"missing id", R"({"kind":"builtin"})", "missing field `id` at line 1 column 18"},
      {"missing id beside a pattern", R"({"kind":"builtin","pattern":"0"})", "missing field `id` at line 1 column 32"},
      {"repeated id", R"({"kind":"builtin","id":1,"id":2})", "duplicate field `id` at line 1 column 32"},
      {"pattern of another type", R"({"kind":"custom","pattern":5})",
       "invalid type: integer `5`, expected a string at line 1 column 29"},
      {"capital tag", R"({"kind":"Builtin","id":14})",
       "unknown variant `Builtin`, expected `builtin` or `custom` at line 1 column 17"},
      {"no tag", R"({"id":14})", "missing field `kind` at line 1 column 9"},
      {"tag twice", R"({"kind":"custom","kind":"custom"})", "duplicate field `kind` at line 1 column 23"},
      {"tag of another type", R"({"kind":1})", "invalid type: integer `1`, expected variant identifier at line 1 column 9"},
      {"tag alone", R"(["builtin"])",
       "invalid length 0, expected struct variant NumberFormat::Builtin with 1 element at line 1 column 11"},
      {"array too long", R"(["builtin",14,15])", "invalid length 2, expected 1 element in sequence at line 1 column 17"},
      {"not a record", "true", "invalid type: boolean `true`, expected internally tagged enum NumberFormat at line 1 column 4"},
  };
  check_reads(cases, [](JsonReader& r) { return deserialize_number_format(r); }, number_format_writer);
}

TEST(StyleRecords, ReadCellFormats) {
  const ReadCase cases[] = {
      {"canonical", kDefaultFormat, kDefaultFormat},
      {"lenient spacing and order",
       R"({ "alignment": ["Left", null, false, false], "numberFormat": ["custom", "0.0"], "border": {},
            "fill": {"Solid": {"Theme": [3, 0.5]}}, "font": {"bold": true, "italic": false, "underline": false, "strike": false, "size_pt": 10} })",
       R"({"font":{"name":null,"size_pt":10.0,"bold":true,"italic":false,"underline":false,"strike":false,"color":null},)"
       R"("fill":{"Solid":{"Theme":{"idx":3,"tint":0.5}}},"border":{"left":null,"right":null,"top":null,"bottom":null},)"
       R"("numberFormat":{"kind":"custom","pattern":"0.0"},"alignment":{"h":"Left","v":null,"wrap_text":false,"shrink_to_fit":false}})"},
      {"missing alignment", R"({"font":{"bold":false,"italic":false,"underline":false,"strike":false},"fill":"None","border":{},"numberFormat":["builtin",0]})",
       "missing field `alignment` at line 1 column 126"},
      {"not a record", "[]", "invalid length 0, expected struct CellFormat with 5 elements at line 1 column 2"},
  };
  check_reads(cases, [](JsonReader& r) { return deserialize_cell_format(r); }, cell_format_writer);
  auto truncated = parse_cell_format(kDefaultFormat.substr(0, 100));
  ASSERT_FALSE(truncated.has_value());
  EXPECT_EQ(json_error_text(truncated.error()), "EOF while parsing a string at line 1 column 100");
  auto second = parse_cell_format(std::string(kDefaultFormat) + " {}");
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(json_error_text(second.error()), "trailing characters at line 1 column 301");
}

model::Color random_color(RandomRecords& rnd) {
  switch (rnd.below(4)) {
    case 0: return model::RgbColor{rnd.text()};
    case 1: return model::ThemeColor{static_cast<uint8_t>(rnd.below(256)), rnd.finite()};
    case 2: return model::IndexedColor{static_cast<uint8_t>(rnd.below(256))};
    default: return model::AutoColor{};
  }
}

std::optional<model::Color> maybe_color(RandomRecords& rnd) {
  if (rnd.coin()) return std::nullopt;
  return random_color(rnd);
}

model::CellFormat random_cell_format(RandomRecords& rnd) {
  model::CellFormat f;
  if (rnd.coin()) f.font.name = rnd.text();
  if (rnd.coin()) f.font.size_pt = rnd.finite();
  f.font.bold = rnd.coin();
  f.font.italic = rnd.coin();
  f.font.underline = rnd.coin();
  f.font.strike = rnd.coin();
  f.font.color = maybe_color(rnd);
  if (rnd.coin()) f.fill = model::SolidFill{random_color(rnd)};
  for (auto* side : {&f.border.left, &f.border.right, &f.border.top, &f.border.bottom}) {
    if (rnd.coin()) *side = model::BorderEdge{static_cast<model::BorderStyle>(rnd.below(7)), maybe_color(rnd)};
  }
  if (rnd.coin()) {
    f.number_format = model::BuiltinNumFmt{static_cast<uint16_t>(rnd.below(65536))};
  } else {
    f.number_format = model::CustomPattern{rnd.text(30)};
  }
  if (rnd.coin()) f.alignment.h = static_cast<model::HorizontalAlignment>(rnd.below(8));
  if (rnd.coin()) f.alignment.v = static_cast<model::VerticalAlignment>(rnd.below(5));
  f.alignment.wrap_text = rnd.coin();
  f.alignment.shrink_to_fit = rnd.coin();
  return f;
}

TEST(StyleRecords, RandomFormatsReadBackAndCountExactly) {
  RandomRecords rnd(20);
  for (int i = 0; i < 2000; ++i) {
    model::CellFormat format = random_cell_format(rnd);
    std::string text = write_one(format, cell_format_writer);
    auto back = parse_cell_format(text);
    ASSERT_TRUE(back.has_value()) << text << "\n" << json_error_text(back.error());
    // Field by field where the text could hide a difference.
    EXPECT_EQ(back->font.name, format.font.name);
    ASSERT_EQ(back->font.size_pt.has_value(), format.font.size_pt.has_value());
    if (format.font.size_pt) {
      EXPECT_EQ(std::signbit(*back->font.size_pt), std::signbit(*format.font.size_pt));
      EXPECT_EQ(*back->font.size_pt, *format.font.size_pt);
    }
    EXPECT_EQ(back->alignment, format.alignment);
    EXPECT_EQ(back->number_format, format.number_format);
    ASSERT_EQ(cell_format_to_json(*back), text);
  }
}

TEST(StyleRecords, RandomStyleSheetsCountExactly) {
  RandomRecords rnd(21);
  for (int i = 0; i < 200; ++i) {
    model::StyleSheet styles;
    for (uint32_t n = rnd.below(4); n > 0; --n) {
      model::CellFormat f = random_cell_format(rnd);
      styles.fonts.push_back(f.font);
      styles.fills.push_back(f.fill);
      styles.borders.push_back(f.border);
      styles.cell_xfs.push_back(model::CellXf{
          rnd.coin() ? std::optional<uint32_t>(rnd.below(10)) : std::nullopt, std::nullopt,
          rnd.coin() ? std::optional<uint32_t>(UINT32_MAX) : std::nullopt,
          rnd.coin() ? std::optional<uint16_t>(static_cast<uint16_t>(rnd.below(65536))) : std::nullopt,
          rnd.coin() ? std::optional<model::Alignment>(f.alignment) : std::nullopt});
      styles.num_fmts.push_back(model::CustomNumFmt{static_cast<uint16_t>(164 + rnd.below(100)), rnd.text()});
      if (rnd.coin()) styles.indexed_colors.push_back(rnd.text());
    }
    styles.theme.colors[rnd.below(12)] = rnd.text();
    auto write = [](auto& w, const model::StyleSheet& s) { serialize_stylesheet(w, s); };
    std::string text = write_one(styles, write);
    // The text is valid JSON whatever the records hold.
    EXPECT_TRUE(parse_json_value(text).has_value()) << text;
  }
}

}  // namespace
}  // namespace cmx::json
