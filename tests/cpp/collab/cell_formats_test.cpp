// Canonical cell formats: the text and id of a format, format equality, and
// reading a document's catalog back onto a base style sheet.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "collab/cell_formats.h"
#include "crdt/crdt.h"
#include "json/json.h"

namespace cmx::collab {
namespace {

constexpr std::string_view kDefaultText =
    R"({"font":{"name":null,"size_pt":null,"bold":false,"italic":false,"underline":false,"strike":false,"color":null},)"
    R"("fill":"None","border":{"left":null,"right":null,"top":null,"bottom":null},)"
    R"("numberFormat":{"kind":"builtin","id":0},"alignment":{"h":null,"v":null,"wrap_text":false,"shrink_to_fit":false}})";
constexpr std::string_view kDefaultId = "5802d628dc7476851ae4aaacb15f3e5b8c59db99416e7578d82d8d7ce7ebefe6";

model::CellFormat bold_red() {
  model::CellFormat format;
  format.font.name = "Calibri";
  format.font.size_pt = 11.0;
  format.font.bold = true;
  format.font.color = model::RgbColor{"#ff0000"};
  format.number_format = model::CustomPattern{"0.00%"};
  return format;
}

TEST(CellFormats, DefaultFormatTextAndId) {
  EncodedCellFormat encoded = encode_cell_format(default_cell_format());
  EXPECT_EQ(encoded.text, kDefaultText);
  EXPECT_EQ(encoded.text.size(), 299u);
  EXPECT_EQ(encoded.id, kDefaultId);
}

TEST(CellFormats, KeyOrderAndDefaultsGiveOneId) {
  const std::string canonical = encode_cell_format(bold_red()).text;
  const std::string_view variants[] = {
      // Keys in another order, optional members left out, an integer size.
      R"({"alignment":{"shrink_to_fit":false,"wrap_text":false},"numberFormat":{"pattern":"0.00%","kind":"custom"},)"
      R"("border":{},"fill":"None","font":{"strike":false,"underline":false,"italic":false,"bold":true,"size_pt":11,)"
      R"("name":"Calibri","color":{"Rgb":"#ff0000"}}})",
      // Array forms, braced words, whitespace and explicit nulls.
      R"( { "font" : ["Calibri", 11.0, true, false, false, false, {"Rgb": "#ff0000"}], "fill" : {"None": null},
            "border" : [null, null, null, null], "numberFormat" : ["custom", "0.00%"],
            "alignment" : [null, null, false, false] } )",
  };
  for (std::string_view text : variants) {
    SCOPED_TRACE(text);
    auto format = json::parse_cell_format(text);
    ASSERT_TRUE(format.has_value()) << json::json_error_text(format.error());
    EncodedCellFormat encoded = encode_cell_format(*format);
    EXPECT_EQ(encoded.text, canonical);
    EXPECT_EQ(encoded.id, encode_cell_format(bold_red()).id);
  }
  // A real difference gives another id.
  model::CellFormat other = bold_red();
  other.font.italic = true;
  EXPECT_NE(encode_cell_format(other).id, encode_cell_format(bold_red()).id);
}

TEST(CellFormats, IdOfStyleIndex) {
  model::StyleSheet styles;
  styles.cell_xfs.push_back(model::CellXf{});
  styles.cell_xfs.push_back(model::CellXf{std::nullopt, std::nullopt, std::nullopt, 14, std::nullopt});
  auto zero = cell_format_id_of_style(styles, 0);
  ASSERT_TRUE(zero.has_value());
  EXPECT_EQ(*zero, kDefaultId);
  model::CellFormat dated;
  dated.number_format = model::BuiltinNumFmt{14};
  EXPECT_EQ(cell_format_id_of_style(styles, 1).value(), encode_cell_format(dated).id);
  auto out = cell_format_id_of_style(styles, 2);
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error(), "cell style index 2 is out of range");
}

TEST(CellFormats, Equality) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto with = [](auto&& change) {
    model::CellFormat format = bold_red();
    change(format);
    return format;
  };
  struct Case {
    std::string_view name;
    model::CellFormat a, b;
    bool equal;
  };
  const Case cases[] = {
      {"same", bold_red(), bold_red(), true},
      {"signed zero tints", with([](auto& f) { f.fill = model::SolidFill{model::ThemeColor{3, 0.0}}; }),
       with([](auto& f) { f.fill = model::SolidFill{model::ThemeColor{3, -0.0}}; }), true},
      {"signed zero sizes", with([](auto& f) { f.font.size_pt = 0.0; }), with([](auto& f) { f.font.size_pt = -0.0; }), true},
      {"nan size", with([&](auto& f) { f.font.size_pt = nan; }), with([&](auto& f) { f.font.size_pt = nan; }), false},
      {"size absent and present", with([](auto& f) { f.font.size_pt.reset(); }), bold_red(), false},
      {"rgb case", with([](auto& f) { f.font.color = model::RgbColor{"#FF0000"}; }), bold_red(), false},
      {"edge colour absent", with([](auto& f) { f.border.left = model::BorderEdge{model::BorderStyle::Thin, {}}; }),
       with([](auto& f) { f.border.left = model::BorderEdge{model::BorderStyle::Thin, model::AutoColor{}}; }), false},
      {"edge style", with([](auto& f) { f.border.top = model::BorderEdge{model::BorderStyle::Thin, {}}; }),
       with([](auto& f) { f.border.top = model::BorderEdge{model::BorderStyle::Thick, {}}; }), false},
      {"builtin and custom", with([](auto& f) { f.number_format = model::BuiltinNumFmt{10}; }), bold_red(), false},
      {"general and absent alignment", with([](auto& f) { f.alignment.h = model::HorizontalAlignment::General; }),
       bold_red(), false},
      {"name absent and empty", with([](auto& f) { f.font.name = ""; }), with([](auto& f) { f.font.name.reset(); }), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cell_format_eq(c.a, c.b), c.equal);
    EXPECT_EQ(cell_format_eq(c.b, c.a), c.equal);
  }
}

// A document with a catalog map; entries are set in the order given.
class Catalog {
 public:
  Catalog() : doc_(crdt::Doc::create(7).value()), map_(doc_->get_or_create_map("xlsx:cell-formats").value()) {}

  void set(const std::string& key, crdt::Any value) {
    crdt::Transaction txn(*doc_);
    EXPECT_TRUE(map_.set(txn, key, std::move(value)).has_value());
  }
  void set_text(const std::string& key, std::string text) { set(key, crdt::Any::string(std::move(text))); }
  // Stores a format as the writers of the document do.
  std::string add(const model::CellFormat& format) {
    EncodedCellFormat encoded = encode_cell_format(format);
    set_text(encoded.id, encoded.text);
    return encoded.id;
  }
  void set_nested_map(const std::string& key) {
    crdt::Transaction txn(*doc_);
    EXPECT_TRUE(map_.insert_map(txn, key).has_value());
  }
  Result<CellFormatCatalog, std::string> read(const model::StyleSheet& base) const {
    return read_cell_format_catalog(map_, base);
  }
  std::string error(const model::StyleSheet& base = {}) const {
    auto result = read(base);
    return result.has_value() ? "read" : result.error();
  }

 private:
  std::unique_ptr<crdt::Doc> doc_;
  crdt::MapRef map_;
};

TEST(CellFormats, CatalogRefusals) {
  const std::string id(kDefaultId);
  const std::string text(kDefaultText);
  auto replace = [&](std::string_view from, std::string_view to) {
    std::string out = text;
    out.replace(out.find(from), from.size(), to);
    return out;
  };
  model::CellFormat sized;
  sized.font.size_pt = 11.0;
  const EncodedCellFormat sized_encoded = encode_cell_format(sized);
  std::string sized_integer = sized_encoded.text;
  sized_integer.replace(sized_integer.find("11.0"), 4, "11");
  std::string padded = text + std::string(kMaxCellFormatTextBytes - text.size(), ' ');

  struct Case {
    std::string_view name;
    std::string key;
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {"canonical", id, text, "read"},
      {"blank after a colon", id, replace("\"fill\":", "\"fill\": "), "cell format " + id + " is not canonical"},
      {"keys in another order", id, replace(R"("bold":false,"italic":false)", R"("italic":false,"bold":false)"),
       "cell format " + id + " is not canonical"},
      {"integer size", sized_encoded.id, sized_integer, "cell format " + sized_encoded.id + " is not canonical"},
      {"escape the writer does not use", id, replace("\"None\"", "\"\\u004eone\""), "cell format " + id + " is not canonical"},
      {"extra key", id, replace("\"fill\":", "\"x\":1,\"fill\":"), "cell format " + id + " is not canonical"},
      {"text under another id", sized_encoded.id, text, "cell format " + sized_encoded.id + " is not canonical"},
      {"exactly at the size limit", id, padded, "cell format " + id + " is not canonical"},
      {"one byte over the size limit", id, padded + " ", "cell format " + id + " exceeds its size limit"},
      {"truncated", "k", text.substr(0, 20), "invalid cell format k: EOF while parsing an object at line 1 column 20"},
      {"second value", "k", text + "{}", "invalid cell format k: trailing characters at line 1 column 300"},
      {"short rgb", "k", replace("\"color\":null}", "\"color\":{\"Rgb\":\"#12\"}}"),
       "invalid cell format k: colour \"#12\" is not \"#\" and six lower-case hexadecimal digits"},
      {"upper-case rgb", "k", replace("\"fill\":\"None\"", "\"fill\":{\"Solid\":{\"Rgb\":\"#FF0000\"}}"),
       "invalid cell format k: colour \"#FF0000\" is not \"#\" and six lower-case hexadecimal digits"},
      {"rgb with alpha", "k", replace("\"left\":null", "\"left\":{\"style\":\"Thin\",\"color\":{\"Rgb\":\"#ff00ff00\"}}"),
       "invalid cell format k: colour \"#ff00ff00\" is not \"#\" and six lower-case hexadecimal digits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Catalog catalog;
    catalog.set_text(c.key, c.value);
    EXPECT_EQ(catalog.error(), c.expected);
  }

  Catalog number;
  number.set("k", crdt::Any::number(1.0));
  EXPECT_EQ(number.error(), "cell format k is not a string");
  Catalog nested;
  nested.set_nested_map("k");
  EXPECT_EQ(nested.error(), "cell format k is not a string");

  // A well-formed lower-case colour passes the colour check.
  model::CellFormat red;
  red.fill = model::SolidFill{model::RgbColor{"#0a0b0c"}};
  Catalog fine;
  fine.add(red);
  EXPECT_EQ(fine.error(), "read");
}

model::StyleSheet base_with_default_and_dates() {
  model::StyleSheet base;
  base.fonts.push_back(model::Font{});
  base.fills.push_back(model::NoFill{});
  base.borders.push_back(model::Border{});
  base.cell_xfs.push_back(model::CellXf{0, 0, 0, 0, std::nullopt});          // 0: default
  base.cell_xfs.push_back(model::CellXf{0, 0, 0, 14, std::nullopt});         // 1: a date
  base.cell_xfs.push_back(model::CellXf{0, 0, 0, 10, std::nullopt});         // 2: percent
  base.cell_xfs.push_back(model::CellXf{std::nullopt, 0, 0, 14, std::nullopt});  // 3: equal to 1
  return base;
}

TEST(CellFormats, CatalogKeepsBaseIndexes) {
  model::StyleSheet base = base_with_default_and_dates();
  model::CellFormat dated;
  dated.number_format = model::BuiltinNumFmt{14};
  Catalog catalog;
  std::string date_id = catalog.add(dated);
  std::string default_id = catalog.add(default_cell_format());
  auto read = catalog.read(base);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(read->style_of.at(date_id), 1u);  // the lowest of the equal 1 and 3
  EXPECT_EQ(read->style_of.at(default_id), 0u);
  EXPECT_EQ(read->styles.cell_xfs, base.cell_xfs);  // nothing interned

  // Without a default cell format in the base, the default has no index.
  model::StyleSheet no_default = base;
  no_default.cell_xfs.erase(no_default.cell_xfs.begin());
  auto without = catalog.read(no_default);
  ASSERT_TRUE(without.has_value());
  EXPECT_EQ(without->style_of.at(default_id), std::nullopt);
  EXPECT_EQ(without->style_of.at(date_id), 0u);
  EXPECT_EQ(without->styles.cell_xfs.size(), no_default.cell_xfs.size());

  // An empty catalog: an unchanged copy and an empty map.
  Catalog empty;
  auto nothing = empty.read(base);
  ASSERT_TRUE(nothing.has_value());
  EXPECT_TRUE(nothing->style_of.empty());
  EXPECT_EQ(json::stylesheet_to_json(nothing->styles), json::stylesheet_to_json(base));
}

TEST(CellFormats, NewFormatsAppendInIdOrder) {
  model::StyleSheet base = base_with_default_and_dates();
  base.num_fmts.push_back(model::CustomNumFmt{164, "0.0"});
  base.num_fmts.push_back(model::CustomNumFmt{166, "#,##0"});
  model::CellFormat a = bold_red();  // custom 0.00%: a new id, 165
  model::CellFormat b;
  b.number_format = model::CustomPattern{"#,##0"};  // reuses 166
  b.fill = model::SolidFill{model::ThemeColor{4, -0.0}};
  model::CellFormat c = b;
  c.fill = model::SolidFill{model::ThemeColor{4, 0.0}};  // numerically equal to b
  std::vector<model::CellFormat> formats{a, b, c};
  std::vector<std::string> ids;
  for (const auto& f : formats) ids.push_back(encode_cell_format(f).id);

  std::string first_text;
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed);
    Catalog catalog;
    for (size_t i = 0; i < formats.size(); ++i) catalog.add(formats[reversed ? formats.size() - 1 - i : i]);
    auto read = catalog.read(base);
    ASSERT_TRUE(read.has_value()) << read.error();
    // a and b are new, c is b's equal; appended in byte order of the ids.
    const model::StyleSheet& styles = read->styles;
    ASSERT_EQ(styles.cell_xfs.size(), base.cell_xfs.size() + 2);
    std::string first = std::min(ids[0], std::min(ids[1], ids[2]));
    EXPECT_EQ(read->style_of.at(first), base.cell_xfs.size());
    EXPECT_EQ(read->style_of.at(ids[1]), read->style_of.at(ids[2]));
    for (size_t i = 0; i < formats.size(); ++i) {
      ASSERT_TRUE(read->style_of.at(ids[i]).has_value());
      EXPECT_TRUE(cell_format_eq(model::resolve_cell_format(styles, *read->style_of.at(ids[i])), formats[i]));
    }
    ASSERT_EQ(styles.num_fmts.size(), 3u);
    EXPECT_EQ(styles.num_fmts[2], (model::CustomNumFmt{165, "0.00%"}));
    // Every replica that reads the same catalog onto the same base agrees.
    std::string text = json::stylesheet_to_json(styles);
    if (first_text.empty()) first_text = text; else EXPECT_EQ(text, first_text);
  }
}

// A code under an id an earlier entry already carries resolves to that
// entry's code, so it cannot be reused: the format gets a fresh id.
TEST(CellFormats, ShadowedNumberFormatIsNotReused) {
  model::StyleSheet base = base_with_default_and_dates();
  base.num_fmts.push_back(model::CustomNumFmt{164, "0.0"});
  base.num_fmts.push_back(model::CustomNumFmt{164, "0.000"});
  model::CellFormat format;
  format.number_format = model::CustomPattern{"0.000"};
  Catalog catalog;
  std::string id = catalog.add(format);
  auto read = catalog.read(base);
  ASSERT_TRUE(read.has_value()) << read.error();
  ASSERT_TRUE(read->style_of.at(id).has_value());
  EXPECT_EQ(model::resolve_cell_format(read->styles, *read->style_of.at(id)).number_format, format.number_format);
  ASSERT_EQ(read->styles.num_fmts.size(), 3u);
  EXPECT_EQ(read->styles.num_fmts[2], (model::CustomNumFmt{165, "0.000"}));
}

TEST(CellFormats, FullNumberFormatTable) {
  model::StyleSheet base = base_with_default_and_dates();
  for (uint32_t id = 164; id < 65535; ++id) {
    base.num_fmts.push_back(model::CustomNumFmt{static_cast<uint16_t>(id), "code" + std::to_string(id)});
  }
  Catalog reused;
  model::CellFormat known;
  known.number_format = model::CustomPattern{"code300"};
  std::string id = reused.add(known);
  auto read = reused.read(base);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(model::resolve_cell_format(read->styles, *read->style_of.at(id)).number_format, known.number_format);

  Catalog full;
  full.add(bold_red());
  EXPECT_EQ(full.error(base), "number format table is full");
}

TEST(CellFormats, RandomCatalogsResolveBack) {
  std::mt19937 rng(104);
  auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
  const std::string_view rgbs[] = {"#000000", "#ff0000", "#0a0b0c"};
  for (int round = 0; round < 30; ++round) {
    Catalog catalog;
    std::vector<std::pair<std::string, model::CellFormat>> added;
    for (uint32_t n = pick(12); n > 0; --n) {
      model::CellFormat f;
      if (pick(2)) f.font.name = pick(2) ? "Calibri" : "Arial";
      if (pick(2)) f.font.size_pt = 8.0 + pick(4);
      f.font.bold = pick(2);
      if (pick(2)) f.font.color = model::RgbColor{std::string(rgbs[pick(3)])};
      if (pick(2)) f.fill = model::SolidFill{model::ThemeColor{static_cast<uint8_t>(pick(3)), pick(2) ? 0.5 : -0.0}};
      if (pick(2)) f.border.bottom = model::BorderEdge{static_cast<model::BorderStyle>(pick(7)), std::nullopt};
      if (pick(2)) {
        f.number_format = model::BuiltinNumFmt{static_cast<uint16_t>(pick(50))};
      } else {
        f.number_format = model::CustomPattern{"0." + std::string(pick(4), '0')};
      }
      if (pick(2)) f.alignment.h = static_cast<model::HorizontalAlignment>(pick(8));
      added.emplace_back(catalog.add(f), f);
    }
    model::StyleSheet base = base_with_default_and_dates();
    auto read = catalog.read(base);
    ASSERT_TRUE(read.has_value()) << read.error();
    for (const auto& [id, format] : added) {
      std::optional<uint32_t> style = read->style_of.at(id);
      EXPECT_TRUE(cell_format_eq(model::resolve_cell_format(read->styles, style), format));
    }
    // Reading again onto the grown sheet interns nothing more.
    auto again = catalog.read(read->styles);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->styles.cell_xfs.size(), read->styles.cell_xfs.size());
    EXPECT_EQ(again->style_of, read->style_of);
  }
}

}  // namespace
}  // namespace cmx::collab
