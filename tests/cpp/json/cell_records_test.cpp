// Cell values, positions, targets, locations and the read and find requests:
// readers with their refusals in both reading contexts, writers in both
// key orders, and round trips over random records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

using testing::RandomRecords;
using testing::random_target;
using testing::random_value;

struct Case {
  std::string_view name;
  std::string_view input;
  std::string_view expected;  // what was read, written again, or the error text
};

std::string read_cell_value(std::string_view text) {
  auto tree = parse_json_value(text);
  if (!tree) return "bad test input";
  auto value = cell_value_from_json_value(*tree);
  if (!value) return json_error_text(value.error());
  return json_value_to_string(cell_value_to_json_value(*value));
}

TEST(CellRecords, CellValuesFromTrees) {
  const Case cases[] = {
      {"integer number", R"({"kind":"number","value":3})", R"({"kind":"number","value":3.0})"},
      {"array form", R"(["text","a"])", R"({"kind":"text","value":"a"})"},
      {"extra keys ignored", R"({"kind":"text","value":"a","extra":[1]})", R"({"kind":"text","value":"a"})"},
      {"empty ignores value", R"({"kind":"empty","value":5,"x":null})", R"({"kind":"empty"})"},
      {"empty alone", R"(["empty"])", R"({"kind":"empty"})"},
      {"bool", R"({"value":false,"kind":"bool"})", R"({"kind":"bool","value":false})"},
      {"error text", R"({"kind":"error","value":"#N/A"})", R"({"kind":"error","value":"#N/A"})"},
      {"error as unit map", R"({"kind":"error","value":{"#N/A":null}})", R"({"kind":"error","value":"#N/A"})"},
      {"error as empty map", R"({"kind":"error","value":{"#CALC!":{}}})", R"({"kind":"error","value":"#CALC!"})"},
      {"missing value", R"({"kind":"number"})", "missing field `value`"},
      {"capital kind", R"({"kind":"Number","value":3})",
       "unknown variant `Number`, expected one of `empty`, `number`, `text`, `bool`, `error`"},
      {"empty with an element", R"(["empty",1])", "invalid length 1, expected 0 elements in sequence"},
      {"number without value", R"(["number"])", "invalid length 0, expected struct variant CellValue::Number with 1 element"},
      {"number too long", R"(["number",1,2])", "invalid length 2, expected 1 element in sequence"},
      {"lower-case error", R"({"kind":"error","value":"#n/a"})",
       "unknown variant `#n/a`, expected one of `#DIV/0!`, `#N/A`, `#NAME?`, `#NULL!`, `#NUM!`, `#REF!`, "
       "`#VALUE!`, `#SPILL!`, `#CALC!`"},
      {"error padded", R"({"kind":"error","value":" #N/A"})",
       "unknown variant ` #N/A`, expected one of `#DIV/0!`, `#N/A`, `#NAME?`, `#NULL!`, `#NUM!`, `#REF!`, "
       "`#VALUE!`, `#SPILL!`, `#CALC!`"},
      {"error map with two keys", R"({"kind":"error","value":{"#N/A":null,"#REF!":null}})",
       "invalid value: map, expected map with a single key"},
      {"error map with a value", R"({"kind":"error","value":{"#N/A":1}})", "invalid type: integer `1`, expected unit"},
      {"error number", R"({"kind":"error","value":7})", "invalid type: integer `7`, expected string or map"},
      {"number as string", R"({"kind":"number","value":"3"})", "invalid type: string \"3\", expected f64"},
      {"bool as integer", R"({"kind":"bool","value":1})", "invalid type: integer `1`, expected a boolean"},
      {"text as null", R"({"kind":"text","value":null})", "invalid type: null, expected a string"},
      {"no kind", R"({"value":3})", "missing field `kind`"},
      {"empty array", "[]", "missing field `kind`"},
      {"integer kind", R"({"kind":1})", "invalid type: integer `1`, expected variant identifier"},
      {"not a record", "5", "invalid type: integer `5`, expected internally tagged enum CellValue"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_cell_value(c.input), c.expected);
  }
}

std::string from_text(std::string_view text) {
  auto target = read_json_text(text, [](JsonReader& r) { return deserialize_range_target(r); });
  if (!target) return json_error_text(target.error());
  CompactWriter w;
  serialize_range_target(w, *target);
  return w.take();
}

std::string from_step(std::string_view text) {
  auto tree = parse_json_value(text);
  if (!tree) return "bad test input";
  auto target = deserialize_range_target_from_content(content_from_value(*tree));
  if (!target) return json_error_text(target.error());
  CompactWriter w;
  serialize_range_target(w, *target);
  return w.take();
}

TEST(CellRecords, RangeTargets) {
  constexpr std::string_view kRowCol = R"({"sheetId":"s","range":{"kind":"rowCol","start":{"row":0,"col":0},"end":{"row":2,"col":3}}})";
  const Case text_cases[] = {
      {"row and column corners", R"({"sheetId":"s","range":{"kind":"rowCol","start":{"row":0,"col":0},"end":{"row":2,"col":3}}})", kRowCol},
      {"corner as array", R"({"range":{"end":{"col":3,"row":2},"start":[0,0],"kind":"rowCol"},"sheetId":"s"})", kRowCol},
      {"target as array", R"(["s",["rowCol",[0,0],[2,3]]])", kRowCol},
      {"a1", R"({"sheetId":"s","range":{"a1":"B2:D9","kind":"a1"}})",
       R"({"sheetId":"s","range":{"kind":"a1","a1":"B2:D9"}})"},
      {"row beyond the sheet is read", R"(["s",["rowCol",[4000000,0],[4000000,0]]])",
       R"({"sheetId":"s","range":{"kind":"rowCol","start":{"row":4000000,"col":0},"end":{"row":4000000,"col":0}}})"},
      {"short corner", R"(["s",["rowCol",[0],[2,3]]])",
       "invalid length 1, expected struct CellPosition with 2 elements at line 1 column 26"},
      {"negative row", R"(["s",["rowCol",{"row":-1,"col":0},[2,3]]])",
       "invalid value: integer `-1`, expected u32 at line 1 column 41"},
      {"fractional row", R"(["s",["rowCol",{"row":1.5,"col":0},[2,3]]])",
       "invalid type: floating point `1.5`, expected u32 at line 1 column 42"},
      {"index tag in text", R"({"sheetId":"s","range":{"kind":1,"start":[0,0],"end":[0,0]}})",
       "invalid type: integer `1`, expected variant identifier at line 1 column 32"},
      {"unknown kind", R"({"sheetId":"s","range":{"kind":"A1","a1":"B2"}})",
       "unknown variant `A1`, expected `a1` or `rowCol` at line 1 column 35"},
      {"extra key", R"({"sheetId":"s","extra":1,"range":{"kind":"a1","a1":"B2"}})",
       "unknown field `extra`, expected `sheetId` or `range` at line 1 column 22"},
      {"repeated key", R"({"sheetId":"s","sheetId":"t","range":{"kind":"a1","a1":"B2"}})",
       "duplicate field `sheetId` at line 1 column 24"},
      {"both missing", "{}", "missing field `sheetId` at line 1 column 2"},
      {"a1 body with an extra key", R"(["s",{"kind":"a1","a1":"B2","x":1}])",
       "unknown field `x`, expected `a1` at line 1 column 35"},
      {"a1 twice", R"(["s",{"kind":"a1","a1":"B2","a1":"C3"}])", "duplicate field `a1` at line 1 column 39"},
      {"a1 body empty", R"(["s",["a1"]])", "invalid length 0, expected struct variant RangeAddress::A1 with 1 element at line 1 column 12"},
      {"row-col body short", R"(["s",["rowCol",[0,0]]])",
       "invalid length 1, expected struct variant RangeAddress::RowCol with 2 elements at line 1 column 22"},
      {"missing end", R"(["s",{"kind":"rowCol","start":[0,0]}])", "missing field `end` at line 1 column 37"},
      {"a1 not a string", R"(["s",{"kind":"a1","a1":5}])", "invalid type: integer `5`, expected a string at line 1 column 26"},
      {"short target", R"(["s"])", "invalid length 1, expected struct RangeTarget with 2 elements at line 1 column 5"},
      {"not a record", R"("s")", "invalid type: string \"s\", expected struct RangeTarget at line 1 column 3"},
      {"range not a record", R"(["s",5])", "invalid type: integer `5`, expected internally tagged enum RangeAddress at line 1 column 6"},
  };
  for (const Case& c : text_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(from_text(c.input), c.expected);
  }
  // Inside an edit step the target is read out of a parsed value.
  const Case step_cases[] = {
      {"index tag", R"({"sheetId":"s","range":{"kind":1,"start":[0,0],"end":[2,3]}})", kRowCol},
      {"index tag zero", R"({"sheetId":"s","range":[0,"B2"]})", R"({"sheetId":"s","range":{"kind":"a1","a1":"B2"}})"},
      {"index out of range", R"({"sheetId":"s","range":{"kind":2}})",
       "invalid value: integer `2`, expected variant index 0 <= i < 2"},
      {"repeated key keeps the last", R"({"sheetId":"x","sheetId":"s","range":{"kind":"a1","a1":"B2"}})",
       R"({"sheetId":"s","range":{"kind":"a1","a1":"B2"}})"},
      {"extra key", R"({"sheetId":"s","range":{"kind":"a1","a1":"B2"},"extra":1})",
       "unknown field `extra`, expected `sheetId` or `range`"},
  };
  for (const Case& c : step_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(from_step(c.input), c.expected);
  }
}

std::string describe(const ReadRequest& request) {
  std::string out = "ranges";
  for (const RangeTarget& target : request.ranges) out += " " + target.sheet_id;
  return out;
}

std::string describe(const FindRequest& request) {
  std::string out = "text " + request.text;
  if (request.sheet_ids) {
    out += " ids";
    for (const std::string& id : *request.sheet_ids) out += " " + id;
  }
  if (request.limit) out += " limit " + std::to_string(*request.limit);
  return out;
}

template <typename Read>
std::string read_request(std::string_view text, Read&& read) {
  auto request = read_json_text(text, read);
  if (!request) return json_error_text(request.error());
  return describe(*request);
}

TEST(CellRecords, ReadAndFindRequests) {
  auto read = [](JsonReader& r) { return deserialize_read_request(r); };
  const Case read_cases[] = {
      {"empty object", "{}", "ranges"},
      {"empty array", "[]", "ranges"},
      {"two ranges", R"({"ranges":[["a",["a1","A1"]],{"sheetId":"b","range":["a1","B2"]}]})", "ranges a b"},
      {"ranges twice", R"({"ranges":[],"ranges":[]})", "duplicate field `ranges` at line 1 column 21"},
      {"unknown key", R"({"range":[]})", "unknown field `range`, expected `ranges` at line 1 column 8"},
      {"ranges not a list", R"({"ranges":{}})", "invalid type: map, expected a sequence at line 1 column 10"},
  };
  for (const Case& c : read_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_request(c.input, read), c.expected);
  }
  auto find = [](JsonReader& r) { return deserialize_find_request(r); };
  const Case find_cases[] = {
      {"text only", R"({"text":"a"})", "text a"},
      {"array with text only", R"(["a"])", "text a"},
      {"nulls", R"({"text":"a","sheetIds":null,"limit":null})", "text a"},
      {"all members", R"({"limit":5,"sheetIds":["s1","s2"],"text":"a"})", "text a ids s1 s2 limit 5"},
      {"array of three", R"(["a",[],0])", "text a ids limit 0"},
      {"minus zero limit", R"({"text":"a","limit":-0})", "text a limit 0"},
      {"no text", R"({"limit":5})", "missing field `text` at line 1 column 11"},
      {"empty array", "[]", "invalid length 0, expected struct FindRequest with 3 elements at line 1 column 2"},
      {"negative limit", R"({"text":"a","limit":-1})", "invalid value: integer `-1`, expected u32 at line 1 column 22"},
      {"id not a string", R"({"text":"a","sheetIds":[1]})", "invalid type: integer `1`, expected a string at line 1 column 25"},
      {"unknown key", R"({"text":"a","max":1})",
       "unknown field `max`, expected one of `text`, `sheetIds`, `limit` at line 1 column 17"},
  };
  for (const Case& c : find_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_request(c.input, find), c.expected);
  }
}

TEST(CellRecords, WrittenForms) {
  RangeTarget a1{"s", RangeAddressA1{"B2"}};
  RangeTarget row_col{"s", RangeAddressRowCol{{0, 0}, {2, 3}}};
  EXPECT_EQ(json_value_to_string(range_target_to_json_value(a1)), R"({"range":{"a1":"B2","kind":"a1"},"sheetId":"s"})");
  EXPECT_EQ(json_value_to_string(range_target_to_json_value(row_col)),
            R"({"range":{"end":{"col":3,"row":2},"kind":"rowCol","start":{"col":0,"row":0}},"sheetId":"s"})");

  struct LocationCase {
    uint32_t row, col;
    std::string_view a1;
  };
  for (const LocationCase& c : {LocationCase{1, 1, "B2"}, LocationCase{0, 16383, "XFD1"},
                                LocationCase{1048575, 0, "A1048576"}, LocationCase{99, 26, "AA100"}}) {
    SCOPED_TRACE(c.a1);
    EXPECT_EQ(make_cell_location("s", c.row, c.col).a1, c.a1);
  }
  CellLocation location = make_cell_location("s\"1", 1, 1);
  EXPECT_EQ(json_value_to_string(cell_location_to_json_value(location)),
            R"({"a1":"B2","col":1,"row":1,"sheetId":"s\"1"})");
  CompactWriter compact;
  serialize_cell_location(compact, location);
  EXPECT_EQ(compact.text(), R"({"sheetId":"s\"1","row":1,"col":1,"a1":"B2"})");

  EXPECT_EQ(json_value_to_string(cell_value_to_json_value(model::CellValue())), R"({"kind":"empty"})");
  EXPECT_EQ(json_value_to_string(cell_value_to_json_value(model::CellValue::error(model::CellErrorCode::Div0))),
            R"({"kind":"error","value":"#DIV/0!"})");
  EXPECT_EQ(json_value_to_string(cell_value_to_json_value(model::CellValue::number(3))),
            R"({"kind":"number","value":3.0})");

  StepReceipt receipt{0, true, a1, {location}};
  CompactWriter w;
  write_step_receipt(w, receipt);
  EXPECT_EQ(w.text(),
            R"({"stepIndex":0,"changed":true,"target":{"sheetId":"s","range":{"kind":"a1","a1":"B2"}},)"
            R"("changedCells":[{"sheetId":"s\"1","row":1,"col":1,"a1":"B2"}]})");
  receipt.target = row_col;
  receipt.changed_cells.clear();
  CompactWriter w2;
  write_step_receipt(w2, receipt);
  EXPECT_EQ(w2.text(),
            R"({"stepIndex":0,"changed":true,"target":{"sheetId":"s","range":{"kind":"rowCol",)"
            R"("start":{"row":0,"col":0},"end":{"row":2,"col":3}}},"changedCells":[]})");
}

TEST(CellRecords, RandomRecordsReadBackAndCountExactly) {
  RandomRecords rnd(202);
  for (int i = 0; i < 1000; ++i) {
    RangeTarget target = random_target(rnd);
    StepReceipt receipt{static_cast<uint32_t>(rnd.u64()), rnd.coin(), target, {}};
    JsonValue::Array cells;
    for (uint32_t n = rnd.below(4); n > 0; --n) {
      receipt.changed_cells.push_back(make_cell_location(rnd.text(), rnd.below(1048576), rnd.below(16384)));
      cells.push_back(cell_location_to_json_value(receipt.changed_cells.back()));
    }
    bool counts_match = false;
    std::string text = testing::written_and_counted([&](auto& w) { write_step_receipt(w, receipt); }, counts_match);
    EXPECT_TRUE(counts_match) << text;
    // The compact receipt is as long as the same receipt as a value tree.
    JsonObject tree;
    value_map_insert_u32(tree, "stepIndex", receipt.step_index);
    value_map_insert_bool(tree, "changed", receipt.changed);
    tree.insert("target", range_target_to_json_value(target));
    tree.insert("changedCells", JsonValue(std::move(cells)));
    EXPECT_EQ(json_value_length(JsonValue(tree)), text.size());
    // The tree builder gives the same members, and the compact text read
    // back as a tree is that tree.
    JsonValue built = step_receipt_to_json_value(receipt);
    EXPECT_EQ(built, JsonValue(tree));
    auto reread = parse_json_value(text);
    ASSERT_TRUE(reread.has_value()) << text;
    EXPECT_EQ(*reread, built);

    std::string target_text = testing::written_and_counted([&](auto& w) { serialize_range_target(w, target); }, counts_match);
    EXPECT_TRUE(counts_match);
    auto back = read_json_text(target_text, [](JsonReader& r) { return deserialize_range_target(r); });
    ASSERT_TRUE(back.has_value()) << target_text;
    EXPECT_EQ(*back, target);
    auto from_tree = parse_json_value(json_value_to_string(range_target_to_json_value(target)));
    ASSERT_TRUE(from_tree.has_value());
    auto back_from_tree = deserialize_range_target_from_content(content_from_value(*from_tree));
    ASSERT_TRUE(back_from_tree.has_value());
    EXPECT_EQ(*back_from_tree, target);

    model::CellValue value = random_value(rnd);
    auto value_back = parse_json_value(json_value_to_string(cell_value_to_json_value(value)));
    ASSERT_TRUE(value_back.has_value());
    auto read_value = cell_value_from_json_value(*value_back);
    ASSERT_TRUE(read_value.has_value());
    EXPECT_EQ(*read_value, value);
  }
}

}  // namespace
}  // namespace cmx::json
