// The record, list, word and tagged-record rules in their three reading
// modes, with their messages and places.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "json/json.h"

namespace cmx::json {
namespace {

// A two-member record of unsigned integers, as cell positions are.
constexpr FieldSpec kPositionFields[] = {{"row"}, {"col"}};
constexpr RecordSpec kPosition{"struct CellPosition", kPositionFields};

struct Position {
  uint32_t row = 0;
  uint32_t col = 0;
};

JsonResult<Position> read_position(JsonReader& reader) {
  Position p;
  CMX_TRY(read_record(reader, kPosition, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(uint32_t v, r.read_u32());
    (index == 0 ? p.row : p.col) = v;
    return {};
  }));
  return p;
}

template <typename Source>
JsonResult<Position> position_from(const Source& source) {
  Position p;
  CMX_TRY(read_record(source, kPosition, [&](size_t index, const auto& v) -> JsonResult<void> {
    JsonResult<uint32_t> n = [&] {
      if constexpr (std::is_same_v<Source, Content>) return content_to_u32(v);
      else return value_to_u32(v);
    }();
    CMX_TRY(n);
    (index == 0 ? p.row : p.col) = *n;
    return {};
  }));
  return p;
}

template <typename T>
std::string outcome(const JsonResult<T>& result) {
  return result.has_value() ? "ok" : json_error_text(result.error());
}

struct Case {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

TEST(JsonRecords, FromText) {
  const Case cases[] = {
      {"object", "{\"row\":1,\"col\":2}", "ok"},
      {"members in any order", "{ \"col\" : 2 , \"row\" : 1 }", "ok"},
      {"escaped name", "{\"\\u0072ow\":1,\"col\":2}", "ok"},
      {"array form", "[1,2]", "ok"},
      {"missing member", "{\"row\":1}", "missing field `col` at line 1 column 9"},
      {"missing first in order", "{}", "missing field `row` at line 1 column 2"},
      {"duplicate", "{\"row\":1,\"row\" :2}", "duplicate field `row` at line 1 column 15"},
      {"unknown", "{\"rows\" : 1}", "unknown field `rows`, expected `row` or `col` at line 1 column 8"},
      {"value of wrong kind", "{\"row\":\"1\",\"col\":2}", "invalid type: string \"1\", expected u32 at line 1 column 10"},
      {"float member", "{\"row\":2.0,\"col\":2}", "invalid type: floating point `2.0`, expected u32 at line 1 column 10"},
      {"short array", "[1]", "invalid length 1, expected struct CellPosition with 2 elements at line 1 column 3"},
      {"empty array", "[ ]", "invalid length 0, expected struct CellPosition with 2 elements at line 1 column 3"},
      {"long array", "[1,2,3]", "trailing characters at line 1 column 6"},
      {"long array comma", "[1,2,]", "trailing comma at line 1 column 6"},
      {"string", "\"x\"", "invalid type: string \"x\", expected struct CellPosition at line 1 column 3"},
      {"null", "null", "invalid type: null, expected struct CellPosition at line 1 column 4"},
      {"syntax first", "{\"row\":1,}", "trailing comma at line 1 column 10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(read_json_text(c.input, read_position)), c.expected);
  }
}

TEST(JsonRecords, FromBufferedAndTreeValues) {
  struct TwoCase {
    std::string_view name;
    std::string_view input;
    std::string_view buffered;
    std::string_view tree;
  };
  const TwoCase cases[] = {
      {"object", "{\"row\":1,\"col\":2}", "ok", "ok"},
      {"array", "[1,2]", "ok", "ok"},
      // A tree keeps the last of a repeated name; a buffered value refuses it.
      {"repeated", "{\"row\":1,\"col\":2,\"row\":3}", "duplicate field `row`", "ok"},
      // A tree visits names in byte order, a buffered value in document order.
      {"two unknown", "{\"zz\":1,\"aa\":2}", "unknown field `zz`, expected `row` or `col`",
       "unknown field `aa`, expected `row` or `col`"},
      {"missing", "{\"col\":1}", "missing field `row`", "missing field `row`"},
      {"short", "[1]", "invalid length 1, expected struct CellPosition with 2 elements",
       "invalid length 1, expected struct CellPosition with 2 elements"},
      {"long", "[1,2,3]", "invalid length 3, expected 2 elements in sequence",
       "invalid length 3, expected fewer elements in array"},
      {"kind", "true", "invalid type: boolean `true`, expected struct CellPosition",
       "invalid type: boolean `true`, expected struct CellPosition"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto content = read_json_text(c.input, [](JsonReader& r) { return r.read_content(); });
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(outcome(position_from(*content)), c.buffered);
    auto tree = parse_json_value(c.input);
    ASSERT_TRUE(tree.has_value());
    EXPECT_EQ(outcome(position_from(*tree)), c.tree);
  }
  // The repeated name's last value wins in the tree.
  auto tree = parse_json_value("{\"row\":1,\"col\":2,\"row\":3}");
  EXPECT_EQ(position_from(*tree)->row, 3u);
}

TEST(JsonRecords, DefaultsIgnoredMembersAndArrayDefaults) {
  static constexpr FieldSpec fields[] = {
      {"name", Presence::Required},
      {"note", Presence::Optional},
      {"limit", Presence::Defaulted, /*array_default=*/true},
  };
  constexpr RecordSpec strict{"struct Sample", fields};
  constexpr RecordSpec lenient{"struct Sample", fields, /*ignore_unknown=*/true};
  auto run = [](const RecordSpec& spec, std::string_view text) {
    return outcome(read_json_text(text, [&](JsonReader& reader) {
      return read_record(reader, spec, [](size_t index, JsonReader& r) -> JsonResult<void> {
        if (index == 1) {
          CMX_ASSIGN_OR_RETURN(bool none, r.read_null_if_next());
          if (none) return {};
        }
        if (index == 2) return r.read_u32().has_value() ? JsonResult<void>() : unexpected(custom_error("bad"));
        CMX_TRY(r.read_string());
        return {};
      });
    }));
  };
  EXPECT_EQ(run(strict, "{\"name\":\"a\"}"), "ok");
  EXPECT_EQ(run(strict, "{\"name\":\"a\",\"note\":null}"), "ok");
  EXPECT_EQ(run(strict, "[\"a\",null]"), "ok");
  EXPECT_EQ(run(strict, "[\"a\"]"), "invalid length 1, expected struct Sample with 3 elements at line 1 column 5");
  EXPECT_EQ(run(strict, "{\"name\":\"a\",\"other\":[1]}"),
            "unknown field `other`, expected one of `name`, `note`, `limit` at line 1 column 19");
  // Ignored members are still read to their end and must be well formed.
  EXPECT_EQ(run(lenient, "{\"other\":[[{\"x\":1}]],\"name\":\"a\"}"), "ok");
  EXPECT_EQ(run(lenient, "{\"other\":[1,],\"name\":\"a\"}"), "trailing comma at line 1 column 13");
}

TEST(JsonRecords, NameLists) {
  constexpr std::string_view one[] = {"nowSerial"};
  constexpr std::string_view two[] = {"sheetId", "range"};
  constexpr std::string_view three[] = {"value", "formula", "displayText"};
  EXPECT_EQ(format_name_list(one), "`nowSerial`");
  EXPECT_EQ(format_name_list(two), "`sheetId` or `range`");
  EXPECT_EQ(format_name_list(three), "one of `value`, `formula`, `displayText`");
  EXPECT_EQ(struct_with_elements("struct RangeTarget", 1), "struct RangeTarget with 1 element");
  EXPECT_EQ(elements_in_sequence(1), "1 element in sequence");
}

constexpr std::string_view kVisibility[] = {"visible", "hidden", "veryHidden", "unknown"};

TEST(JsonWords, FromText) {
  const Case cases[] = {
      {"string", "\"hidden\"", "ok"},
      {"object form", "{ \"veryHidden\" : null }", "ok"},
      {"unknown word", "\"Hidden\"",
       "unknown variant `Hidden`, expected one of `visible`, `hidden`, `veryHidden`, `unknown` at line 1 column 8"},
      {"unknown word as key", "{\"nope\":null}",
       "unknown variant `nope`, expected one of `visible`, `hidden`, `veryHidden`, `unknown` at line 1 column 7"},
      {"value not null", "{\"hidden\":1}", "invalid type: integer `1`, expected unit at line 1 column 11"},
      {"value empty object", "{\"hidden\":{}}", "invalid type: map, expected unit at line 1 column 10"},
      {"second member", "{\"hidden\":null,\"visible\":null}", "expected value at line 1 column 14"},
      {"unclosed", "{\"hidden\":null", "EOF while parsing an object at line 1 column 14"},
      {"empty object", "{}", "expected value at line 1 column 2"},
      {"key no string", "{1:null}", "key must be a string at line 1 column 2"},
      {"number", "5", "expected value at line 1 column 1"},
      {"null", "null", "expected value at line 1 column 1"},
      {"array", "[\"hidden\"]", "expected value at line 1 column 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(read_json_text(c.input, [](JsonReader& r) { return read_word(r, kVisibility); })),
              c.expected);
  }
}

TEST(JsonWords, FromBufferedAndTreeValues) {
  struct TwoCase {
    std::string_view input;
    std::string_view buffered;
    std::string_view tree;
  };
  const TwoCase cases[] = {
      {"\"visible\"", "ok", "ok"},
      {"{\"hidden\":null}", "ok", "ok"},
      {"{\"hidden\":{}}", "ok", "invalid type: map, expected unit"},
      {"{\"hidden\":[]}", "invalid type: sequence, expected unit", "invalid type: sequence, expected unit"},
      {"{}", "invalid value: map, expected map with a single key", "invalid value: map, expected map with a single key"},
      {"{\"a\":null,\"b\":null}", "invalid value: map, expected map with a single key",
       "invalid value: map, expected map with a single key"},
      {"3", "invalid type: integer `3`, expected string or map", "invalid type: integer `3`, expected string or map"},
      {"\"x\"", "unknown variant `x`, expected one of `visible`, `hidden`, `veryHidden`, `unknown`",
       "unknown variant `x`, expected one of `visible`, `hidden`, `veryHidden`, `unknown`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto tree = parse_json_value(c.input);
    ASSERT_TRUE(tree.has_value());
    EXPECT_EQ(outcome(word_from_content(content_from_value(*tree), kVisibility)), c.buffered);
    EXPECT_EQ(outcome(word_from_value(*tree, kVisibility)), c.tree);
  }
  EXPECT_EQ(*word_from_value(*parse_json_value("\"unknown\""), kVisibility), 3u);
}

// A tagged record of two variants: {"kind":"a1","a1":text} or
// {"kind":"rowCol","start":position,"end":position}.
constexpr std::string_view kAddressWords[] = {"a1", "rowCol"};
constexpr TaggedSpec kAddress{"RangeAddress", "kind", kAddressWords};
constexpr FieldSpec kA1Fields[] = {{"a1"}};
constexpr RecordSpec kA1{"struct variant RangeAddress::A1", kA1Fields};
constexpr FieldSpec kRowColFields[] = {{"start"}, {"end"}};
constexpr RecordSpec kRowCol{"struct variant RangeAddress::RowCol", kRowColFields};

JsonResult<std::string> read_address_variant(const TaggedContent& tagged) {
  std::string out;
  if (tagged.variant == 0) {
    CMX_TRY(read_record(tagged.rest, kA1, [&](size_t, const Content& v) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(out, content_to_string(v));
      return {};
    }));
    return out;
  }
  CMX_TRY(read_record(tagged.rest, kRowCol, [&](size_t, const Content& v) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(Position p, position_from(v));
    out += std::to_string(p.row) + ":" + std::to_string(p.col) + ";";
    return {};
  }));
  return out;
}

JsonResult<std::string> read_address(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, read_tagged(reader, kAddress));
  return read_address_variant(tagged);
}

TEST(JsonTagged, FromText) {
  const Case cases[] = {
      {"tag first", "{\"kind\":\"a1\",\"a1\":\"B2\"}", "ok"},
      {"tag last", "{\"a1\":\"B2\",\"kind\":\"a1\"}", "ok"},
      {"row col", "{\"start\":{\"row\":1,\"col\":2},\"kind\":\"rowCol\",\"end\":[3,4]}", "ok"},
      {"array form", "[\"a1\",\"B2\"]", "ok"},
      {"missing tag", "{\"a1\":\"B2\"}", "missing field `kind` at line 1 column 11"},
      {"empty array", "[]", "missing field `kind` at line 1 column 2"},
      {"second tag", "{\"kind\":\"a1\",\"kind\":\"a1\"}", "duplicate field `kind` at line 1 column 19"},
      {"unknown word", "{\"kind\":\"b1\"}", "unknown variant `b1`, expected `a1` or `rowCol` at line 1 column 12"},
      {"tag not a string", "{\"kind\":0}", "invalid type: integer `0`, expected variant identifier at line 1 column 9"},
      {"null", "null", "invalid type: null, expected internally tagged enum RangeAddress at line 1 column 4"},
      {"number", " 12", "invalid type: integer `12`, expected internally tagged enum RangeAddress at line 1 column 3"},
      // Faults of the variant are found after the object: placed after its "}".
      {"variant unknown member", "{\"kind\":\"a1\",\"b\":1} ", "unknown field `b`, expected `a1` at line 1 column 19"},
      {"variant repeated member", "{\"kind\":\"a1\",\"a1\":\"B2\",\"a1\":\"C3\"}",
       "duplicate field `a1` at line 1 column 33"},
      {"variant missing member", "{\"kind\":\"rowCol\",\"start\":[0,0]}", "missing field `end` at line 1 column 31"},
      {"variant inner fault", "{\"kind\":\"rowCol\",\"start\":[0,-1],\"end\":[0,0]}",
       "invalid value: integer `-1`, expected u32 at line 1 column 44"},
      {"variant short array", "[\"a1\"]", "invalid length 0, expected struct variant RangeAddress::A1 with 1 element at line 1 column 6"},
      {"variant long array", "[\"a1\",\"B2\",\"C3\"]", "invalid length 2, expected 1 element in sequence at line 1 column 16"},
      // Buffered members count against the nesting limit.
      {"buffered nesting", "{\"kind\":\"a1\",\"a1\":[[[]]]}", "invalid type: sequence, expected a string at line 1 column 25"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(read_json_text(c.input, read_address)), c.expected);
  }
  std::string deep = "{\"kind\":\"a1\",\"a1\":";
  deep.append(127, '[');
  EXPECT_EQ(outcome(read_json_text(deep, read_address)), "recursion limit exceeded at line 1 column 145");
}

TEST(JsonTagged, VariantFaultsArePlacedByTheEnclosingReader) {
  // A list of tagged records: the fault of an element that is not the last
  // is placed after the comma and whitespace that follow it; of the last,
  // after the "]".
  auto read_all = [](JsonReader& reader) -> JsonResult<int> {
    int count = 0;
    CMX_TRY(read_list(reader, [&](JsonReader& r) -> JsonResult<void> {
      CMX_TRY(read_address(r));
      ++count;
      return {};
    }));
    return count;
  };
  std::string_view middle = "[[\"a1\",\"A1\"], [\"a1\",\"A1\",\"x\"] ,  [\"a1\",\"B2\"]]";
  std::string expected = "invalid length 2, expected 1 element in sequence at line 1 column ";
  expected += std::to_string(middle.rfind("[\"a1\""));
  EXPECT_EQ(outcome(read_json_text(middle, read_all)), expected);
  std::string_view last = "[[\"a1\",\"A1\"],[\"a1\"] ]";
  EXPECT_EQ(outcome(read_json_text(last, read_all)),
            "invalid length 0, expected struct variant RangeAddress::A1 with 1 element at line 1 column 21");
  EXPECT_EQ(outcome(read_json_text("{\"a\":1}", read_all)),
            "invalid type: map, expected a sequence at line 1 column 0");
}

TEST(JsonTagged, FromBufferedAndTreeValues) {
  constexpr TaggedSpec indexed{"RangeAddress", "kind", kAddressWords, /*allow_index=*/true};
  struct TwoCase {
    std::string_view input;
    std::string_view buffered;
    std::string_view tree;
  };
  const TwoCase cases[] = {
      {"{\"a1\":\"B2\",\"kind\":\"a1\"}", "ok", "ok"},
      {"{\"kind\":1,\"start\":[0,0],\"end\":[1,1]}", "ok", "invalid type: integer `1`, expected variant identifier"},
      {"{\"kind\":2}", "invalid value: integer `2`, expected variant index 0 <= i < 2",
       "invalid type: integer `2`, expected variant identifier"},
      {"{\"kind\":-1}", "invalid type: integer `-1`, expected variant identifier",
       "invalid type: integer `-1`, expected variant identifier"},
      {"{\"a1\":\"B2\"}", "missing field `kind`", "missing field `kind`"},
      {"[]", "missing field `kind`", "missing field `kind`"},
      {"\"a1\"", "invalid type: string \"a1\", expected internally tagged enum RangeAddress",
       "invalid type: string \"a1\", expected internally tagged enum RangeAddress"},
      // The tree's byte order puts "a1" before "zz".
      {"{\"kind\":\"a1\",\"zz\":1,\"a1\":2}", "unknown field `zz`, expected `a1`",
       "invalid type: integer `2`, expected a string"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto content = read_json_text(c.input, [](JsonReader& r) { return r.read_content(); });
    ASSERT_TRUE(content.has_value());
    auto buffered = tagged_from_content(*content, indexed);
    std::string got = buffered.has_value() ? outcome(read_address_variant(*buffered)) : outcome(buffered);
    EXPECT_EQ(got, c.buffered);
    auto tree = parse_json_value(c.input);
    ASSERT_TRUE(tree.has_value());
    auto from_tree = tagged_from_value(*tree, indexed);
    got = from_tree.has_value() ? outcome(read_address_variant(*from_tree)) : outcome(from_tree);
    EXPECT_EQ(got, c.tree);
  }
  // A repeated tag in a buffered value.
  auto repeated = read_json_text("{\"kind\":\"a1\",\"kind\":\"a1\"}", [](JsonReader& r) { return r.read_content(); });
  EXPECT_EQ(outcome(tagged_from_content(*repeated, kAddress)), "duplicate field `kind`");
}

TEST(JsonTagged, UnitVariantDropsMembersButNotElements) {
  auto object = read_json_text("{\"x\":1,\"y\":[2]}", [](JsonReader& r) { return r.read_content(); });
  EXPECT_TRUE(read_unit_variant(*object).has_value());
  auto empty = read_json_text("[]", [](JsonReader& r) { return r.read_content(); });
  EXPECT_TRUE(read_unit_variant(*empty).has_value());
  auto array = read_json_text("[1]", [](JsonReader& r) { return r.read_content(); });
  EXPECT_EQ(outcome(read_unit_variant(*array)), "invalid length 1, expected 0 elements in sequence");
}

TEST(JsonValueReading, RepeatedNamesLastWinsAndByteOrder) {
  auto value = parse_json_value("{\"b\":1,\"a\":{\"z\":true,\"Z\":false},\"b\":[2]}");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(json_value_to_string(*value), "{\"a\":{\"Z\":false,\"z\":true},\"b\":[2]}");
  const JsonObject& object = value->as_object();
  ASSERT_NE(object.find("b"), nullptr);
  EXPECT_EQ(object.find("b")->kind(), JsonValue::Kind::Array);
  EXPECT_EQ(object.find("c"), nullptr);
  // Buffered values keep every member in document order.
  auto content = read_json_text("{\"b\":1,\"a\":2,\"b\":3}", [](JsonReader& r) { return r.read_content(); });
  ASSERT_TRUE(content.has_value());
  ASSERT_EQ(content->as_object().size(), 3u);
  EXPECT_EQ(content->as_object()[0].key, "b");
  EXPECT_EQ(content->as_object()[2].value.as_number().as_u64(), 3u);
}

TEST(JsonLists, ReserveHintIsCapped) {
  EXPECT_EQ(list_reserve_hint(10, 24), 10u);
  EXPECT_EQ(list_reserve_hint(1000000, 24), 43690u);
  EXPECT_EQ(list_reserve_hint(5, 0), 5u);
  auto tree = parse_json_value("{}");
  EXPECT_EQ(outcome(value_list(*tree)), "invalid type: map, expected a sequence");
  EXPECT_EQ(outcome(content_list(Content())), "invalid type: null, expected a sequence");
}

}  // namespace
}  // namespace cmx::json
