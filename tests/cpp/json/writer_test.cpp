// Compact output: float forms, escapes, key order of trees, and byte counters
// that equal the written length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "json/json.h"

namespace cmx::json {
namespace {

TEST(JsonWriter, FloatForms) {
  const std::pair<double, std::string_view> cases[] = {
      // Fixed layout for decimal exponents -5..15.
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {2.0, "2.0"},
      {3.0, "3.0"},
      {42.0, "42.0"},
      {100.0, "100.0"},
      {1500.0, "1500.0"},
      {-2.5, "-2.5"},
      {0.1, "0.1"},
      {0.25, "0.25"},
      {123.45, "123.45"},
      {123.456, "123.456"},
      {123456789012.5, "123456789012.5"},
      {1e15, "1000000000000000.0"},
      {9007199254740993.0, "9007199254740992.0"},
      {0.00001, "0.00001"},
      {0.000012, "0.000012"},
      {-0.00001, "-0.00001"},
      // Scientific outside it, the exponent's sign always written.
      {1e16, "1e+16"},
      {1e21, "1e+21"},
      {1.2345678901234568e20, "1.2345678901234568e+20"},
      {1.5e300, "1.5e+300"},
      {1e-6, "1e-6"},
      {1e-7, "1e-7"},
      {0.0000012, "1.2e-6"},
      {1.5e-7, "1.5e-7"},
      {-1e-6, "-1e-6"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
      // Not finite: null.
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(expected);
    EXPECT_EQ(format_json_f64(value), expected);
    EXPECT_EQ(json_f64_length(value), expected.size());
    EXPECT_EQ(json_value_to_string(JsonValue::f64(value)), expected);
  }
}

TEST(JsonWriter, IntegersKeepTheirKind) {
  EXPECT_EQ(json_value_to_string(JsonValue::u64(std::numeric_limits<uint64_t>::max())),
            "18446744073709551615");
  EXPECT_EQ(json_value_to_string(JsonValue::i64(std::numeric_limits<int64_t>::min())),
            "-9223372036854775808");
  EXPECT_EQ(json_value_to_string(JsonValue::u64(0)), "0");
  EXPECT_EQ(json_value_to_string(JsonValue::u64(1)), "1");
  EXPECT_EQ(json_value_to_string(JsonValue::f64(1.0)), "1.0");
  EXPECT_EQ(json_i64_length(std::numeric_limits<int64_t>::min()), 20u);
  EXPECT_EQ(json_u64_length(0), 1u);
}

TEST(JsonWriter, StringEscapes) {
  struct Case {
    std::string_view name;
    std::string input;
    std::string_view expected;
  };
  const Case cases[] = {
      {"empty", "", "\"\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"short escapes", std::string("\b\t\n\f\r"), "\"\\b\\t\\n\\f\\r\""},
      {"other controls", std::string("\x01\x1b\x1f", 3), "\"\\u0001\\u001b\\u001f\""},
      {"nul byte", std::string("a\0b", 3), "\"a\\u0000b\""},
      {"tab line feed and 0x1f", "\t\n\x1f", "\"\\t\\n\\u001f\""},
      {"copied as they are", "/\x7f\xc3\xa9\xf0\x9f\x98\x80", "\"/\x7f\xc3\xa9\xf0\x9f\x98\x80\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    append_json_string(out, c.input);
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(json_string_length(c.input), out.size());
  }
  // Five bytes with two special ones count nine with their quotes.
  EXPECT_EQ(json_string_length("a\"b\\c"), 9u);
  EXPECT_EQ(json_string_length("\x01"), 8u);
}

TEST(JsonWriter, TreeKeysInByteOrder) {
  JsonObject object;
  value_map_insert_str(object, "value", "v");
  value_map_insert_str(object, "kind", "k");
  value_map_insert_str(object, "Zeta", "z");
  EXPECT_EQ(json_value_to_string(JsonValue(object)), "{\"Zeta\":\"z\",\"kind\":\"k\",\"value\":\"v\"}");

  JsonObject answer;
  value_map_insert_u32(answer, "version", 3);
  value_map_insert_bool(answer, "ok", true);
  answer.insert("failure", JsonValue());
  EXPECT_EQ(json_value_to_string(JsonValue(answer)), "{\"failure\":null,\"ok\":true,\"version\":3}");

  JsonObject receipt;
  for (std::string_view key : {"target", "stepIndex", "changedCells", "changed"}) {
    value_map_insert_u32(receipt, key, 0);
  }
  EXPECT_EQ(json_value_to_string(JsonValue(receipt)),
            "{\"changed\":0,\"changedCells\":0,\"stepIndex\":0,\"target\":0}");

  // Bytes beyond ASCII sort after every ASCII byte; an insert replaces.
  JsonObject bytes;
  value_map_insert_u32(bytes, "\xc3\xa9", 1);
  value_map_insert_u32(bytes, "z", 2);
  value_map_insert_u32(bytes, "z", 3);
  EXPECT_EQ(json_value_to_string(JsonValue(bytes)), "{\"z\":3,\"\xc3\xa9\":1}");

  EXPECT_EQ(json_value_to_string(JsonValue("text")), "\"text\"");
  std::string entries;
  write_json_object_entry(entries, "a", JsonValue(true), /*first=*/true);
  write_json_object_entry(entries, "b", JsonValue(JsonValue::Array{JsonValue(), JsonValue::u64(1)}), /*first=*/false);
  EXPECT_EQ(entries, "\"a\":true,\"b\":[null,1]");
  EXPECT_EQ(json_value_to_string(JsonValue(JsonObject())), "{}");
  EXPECT_EQ(json_value_to_string(JsonValue(JsonValue::Array())), "[]");
}

TEST(JsonWriter, BuildersForNonFiniteFloatsInsertNull) {
  JsonObject object;
  value_map_insert_f64(object, "a", std::nan(""));
  value_map_insert_f64(object, "b", 2.0);
  value_map_insert_optional_string(object, "c", std::nullopt);
  value_map_insert_optional_u32(object, "d", 7u);
  value_map_insert_kind(object, "cell");
  value_map_insert_error_value(object, model::CellErrorCode::Div0);
  std::vector<uint32_t> path = {0, 3};
  value_map_insert_path(object, path);
  std::vector<std::string> list = {"x", "y"};
  value_map_insert_string_list(object, "names", list);
  EXPECT_EQ(json_value_to_string(JsonValue(object)),
            "{\"a\":null,\"b\":2.0,\"c\":null,\"d\":7,\"kind\":\"cell\",\"names\":[\"x\",\"y\"],"
            "\"path\":[0,3],\"value\":\"#DIV/0!\"}");
}

// One record through the member writers, the counters and a tree.
struct Sample {
  std::string id;
  std::optional<std::string> note;
  bool flag = false;
  uint32_t index = 0;
  std::optional<uint32_t> limit;
  int64_t offset = 0;
  double number = 0.0;
  std::vector<std::string> names;
};

template <typename Emitter>
void emit(Emitter& e, const Sample& s) {
  e.begin_object();
  e.field_kind("sample");
  e.field_str("id", s.id);
  e.field_optional_string("note", s.note ? std::optional<std::string_view>(*s.note) : std::nullopt);
  e.field_bool("flag", s.flag);
  e.field_u32("index", s.index);
  e.field_optional_u32("limit", s.limit);
  e.field_i64("offset", s.offset);
  e.field_f64("number", s.number);
  e.field_string_list("names", s.names);
  e.field_cell_position("at", s.index, s.index + 1);
  e.field_anchor_cell("from", s.index, s.offset, s.index, -s.offset);
  e.field_extent(s.offset, s.offset / 3);
  e.key("items");
  e.begin_array();
  for (const std::string& name : s.names) {
    e.begin_element();
    e.begin_object();
    e.field_str("name", name);
    e.end_object();
  }
  e.end_array();
  e.end_object();
}

JsonValue as_tree(const Sample& s) {
  JsonObject o;
  value_map_insert_kind(o, "sample");
  value_map_insert_str(o, "id", s.id);
  value_map_insert_optional_string(o, "note", s.note ? std::optional<std::string_view>(*s.note) : std::nullopt);
  value_map_insert_bool(o, "flag", s.flag);
  value_map_insert_u32(o, "index", s.index);
  value_map_insert_optional_u32(o, "limit", s.limit);
  o.insert("offset", JsonValue::i64(s.offset));
  value_map_insert_f64(o, "number", s.number);
  value_map_insert_string_list(o, "names", s.names);
  JsonObject at;
  value_map_insert_u32(at, "row", s.index);
  value_map_insert_u32(at, "col", s.index + 1);
  o.insert("at", JsonValue(at));
  JsonObject from;
  value_map_insert_u32(from, "col", s.index);
  from.insert("colOff", JsonValue::i64(s.offset));
  value_map_insert_u32(from, "row", s.index);
  from.insert("rowOff", JsonValue::i64(-s.offset));
  o.insert("from", JsonValue(from));
  JsonObject extent;
  extent.insert("cx", JsonValue::i64(s.offset));
  extent.insert("cy", JsonValue::i64(s.offset / 3));
  o.insert("extent", JsonValue(extent));
  JsonValue::Array items;
  for (const std::string& name : s.names) {
    JsonObject item;
    value_map_insert_str(item, "name", name);
    items.push_back(JsonValue(item));
  }
  o.insert("items", JsonValue(items));
  return JsonValue(o);
}

std::string random_text(std::mt19937_64& rng) {
  static const std::string_view pieces[] = {"a", "\"", "\\", "\x01", "\t", "\n", "/", "\xc3\xa9", "\x7f", "\x1f", "Z", " "};
  std::string text;
  size_t n = rng() % 8;
  for (size_t i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
  return text;
}

TEST(JsonWriter, CountersEqualWrittenBytes) {
  std::mt19937_64 rng(20261210);
  for (int round = 0; round < 2000; ++round) {
    Sample s;
    s.id = random_text(rng);
    if (rng() % 2) s.note = random_text(rng);
    s.flag = rng() % 2;
    s.index = static_cast<uint32_t>(rng() >> (rng() % 64));
    if (rng() % 2) s.limit = static_cast<uint32_t>(rng());
    s.offset = (static_cast<int64_t>(rng()) >> (rng() % 64)) / 2;
    uint64_t bits = rng();
    std::memcpy(&s.number, &bits, sizeof s.number);
    size_t names = rng() % 4;
    for (size_t i = 0; i < names; ++i) s.names.push_back(random_text(rng));

    CompactWriter writer;
    emit(writer, s);
    ByteCounter counter;
    emit(counter, s);
    ASSERT_EQ(counter.total(), writer.text().size()) << writer.text();

    // The same record as a tree: other key order, same length, same value.
    JsonValue tree = as_tree(s);
    std::string tree_text = json_value_to_string(tree);
    ASSERT_EQ(tree_text.size(), writer.text().size());
    ASSERT_EQ(json_value_length(tree), tree_text.size());
    auto reread = parse_json_value(writer.text());
    ASSERT_TRUE(reread.has_value()) << writer.text();
    ASSERT_EQ(json_value_to_string(*reread), tree_text);
  }
}

TEST(JsonWriter, MemberWritersInDeclarationOrder) {
  CompactWriter w;
  w.begin_object();
  w.write_field_kind("a1");
  w.write_field_u32("stepIndex", 4);
  w.write_field_bool("changed", false);
  w.write_field_optional_string("tooltip", std::nullopt);
  w.write_field_f64("x", std::numeric_limits<double>::infinity());
  w.write_field_string_list("empty", {});
  w.write_field_cell_position("start", 1, 2);
  w.end_object();
  EXPECT_EQ(w.text(),
            "{\"kind\":\"a1\",\"stepIndex\":4,\"changed\":false,\"tooltip\":null,\"x\":null,"
            "\"empty\":[],\"start\":{\"row\":1,\"col\":2}}");
  ByteCounter c;
  c.begin_object();
  c.count_field_kind("a1");
  c.count_field_u32("stepIndex", 4);
  c.count_field_bool("changed", false);
  c.count_field_optional_string("tooltip", std::nullopt);
  c.count_field_f64("x", std::numeric_limits<double>::infinity());
  c.count_field_string_list("empty", {});
  c.count_field_cell_position("start", 1, 2);
  c.end_object();
  EXPECT_EQ(c.total(), w.text().size());

  CompactWriter empty;
  empty.begin_object();
  empty.end_object();
  EXPECT_EQ(empty.text(), "{}");
}

}  // namespace
}  // namespace cmx::json
