// The document's keys and plain values: every reader against tables of good
// and bad values with their exact messages, the writers against the readers,
// and the write rule (an unchanged rewrite changes nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "collab/layout.h"
#include "crdt/crdt.h"

namespace cmx::collab {
namespace {

using crdt::Any;

Any num(double v) { return Any::number(v); }
Any i64(int64_t v) { return Any::integer(v); }
Any str(std::string v) { return Any::string(std::move(v)); }
Any arr(std::vector<Any> v) { return Any::array(std::move(v)); }

TEST(CollabLayout, CellKeys) {
  struct Case {
    std::string_view key;
    uint32_t row = 0, col = 0;
    std::string error;
  };
  const Case cases[] = {
      {"0:0", 0, 0, ""},
      {"6:1", 6, 1, ""},
      {"1048575:16383", 1048575, 16383, ""},
      {"1048576:0", 0, 0, "cell key 1048576:0 is out of bounds"},
      {"0:16384", 0, 0, "cell key 0:16384 is out of bounds"},
      {"00:1", 0, 0, "noncanonical cell key 00:1"},
      {"+0:1", 0, 0, "noncanonical cell key +0:1"},
      {"0:1:2", 0, 0, "invalid cell column in 0:1:2"},
      {"01", 0, 0, "invalid cell key 01"},
      {":1", 0, 0, "invalid cell row in :1"},
      {"-1:1", 0, 0, "invalid cell row in -1:1"},
      {"4294967296:0", 0, 0, "invalid cell row in 4294967296:0"},
      {"4294967295:0", 0, 0, "cell key 4294967295:0 is out of bounds"},
      {"1:", 0, 0, "invalid cell column in 1:"},
      {"1:+", 0, 0, "invalid cell column in 1:+"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    auto ref = parse_cell_key(c.key);
    if (c.error.empty()) {
      ASSERT_TRUE(ref.has_value()) << ref.error();
      EXPECT_EQ(ref->row, c.row);
      EXPECT_EQ(ref->col, c.col);
      EXPECT_EQ(format_cell_key(c.row, c.col), c.key);
    } else {
      ASSERT_FALSE(ref.has_value());
      EXPECT_EQ(ref.error(), c.error);
    }
  }
}

TEST(CollabLayout, SheetKeys) {
  EXPECT_EQ(sheet_key_list(3), (std::vector<std::string>{"sheet:0", "sheet:1", "sheet:2"}));
  EXPECT_TRUE(sheet_key_list(0).empty());
  struct Case {
    std::string_view key;
    std::optional<uint64_t> index;
  };
  const Case cases[] = {
      {"sheet:3", 3},
      {"sheet:+3", 3},
      {"sheet:007", 7},
      {"sheet:18446744073709551615", 18446744073709551615u},
      {"sheet:18446744073709551616", std::nullopt},
      {"sheet:", std::nullopt},
      {"sheet:+", std::nullopt},
      {"sheet:-1", std::nullopt},
      {"sheet:x", std::nullopt},
      {"sheet:1 ", std::nullopt},
      {"replica:42:0", std::nullopt},
      {"Sheet:1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(parse_bootstrap_sheet_index(c.key), c.index);
  }
}

TEST(CollabLayout, CellValuesAndContents) {
  struct Case {
    std::string_view name;
    Any content;
    std::string error;  // empty: reads, and writes back the same value
    std::optional<std::string> formula = std::nullopt;
  };
  const Case cases[] = {
      // main paths
      {"literal number", arr({i64(0), arr({i64(1), num(2.5)})}), ""},
      {"literal negative zero", arr({i64(0), arr({i64(1), num(-0.0)})}), ""},
      {"literal text", arr({i64(0), arr({i64(2), str("h\xC3\xA9llo")})}), ""},
      {"literal empty text", arr({i64(0), arr({i64(2), str("")})}), ""},
      {"literal bool", arr({i64(0), arr({i64(3), Any::boolean(false)})}), ""},
      {"literal error", arr({i64(0), arr({i64(4), str("#N/A")})}), ""},
      {"last error code", arr({i64(0), arr({i64(4), str("#CALC!")})}), ""},
      {"formula with empty cache", arr({i64(1), str("SUM(A1:A3)"), arr({i64(0)})}), "", "SUM(A1:A3)"},
      {"formula with text cache", arr({i64(1), str("\"a\"&B2"), arr({i64(2), str("ab")})}), "", "\"a\"&B2"},
      // contents
      {"not an array", str("x"), "cell content is not an array"},
      {"empty", arr({}), "cell content is empty"},
      {"kind as fraction", arr({num(0.5), arr({i64(1), num(2)})}), "cell content kind is not an integer"},
      {"kind as NaN", arr({num(std::nan("")), arr({i64(1), num(2)})}), "cell content kind is not an integer"},
      {"kind as text", arr({str("0"), arr({i64(1), num(2)})}), "cell content kind is not an integer"},
      {"kind 2.0", arr({num(2), str("x")}), "unsupported cell content kind 2"},
      {"unknown kind", arr({i64(2), str("x")}), "unsupported cell content kind 2"},
      {"negative kind before length", arr({i64(-1)}), "unsupported cell content kind -1"},
      {"literal too long", arr({i64(0), arr({i64(0)}), Any::null()}), "cell content has the wrong payload length"},
      {"formula too short", arr({i64(1), str("A1")}), "cell content has the wrong payload length"},
      {"empty literal", arr({i64(0), arr({i64(0)})}), "empty literal cell content must be omitted"},
      {"formula not text", arr({i64(1), num(1), arr({i64(0)})}), "formula cell content is missing formula text"},
      // values
      {"value not an array", arr({i64(0), num(1)}), "cell value is not an array"},
      {"value empty", arr({i64(0), arr({})}), "cell value is empty"},
      {"value kind as fraction", arr({i64(0), arr({num(1.5), num(1)})}), "cell value kind is not an integer"},
      {"value kind as bool", arr({i64(0), arr({Any::boolean(true), num(1)})}), "cell value kind is not an integer"},
      {"value kind 1e300", arr({i64(0), arr({num(1e300), num(1)})}), "unsupported cell value kind 9223372036854775807"},
      {"value kind 5", arr({i64(0), arr({i64(5), num(1)})}), "unsupported cell value kind 5"},
      {"value kind -1", arr({i64(0), arr({i64(-1)})}), "unsupported cell value kind -1"},
      {"empty with payload", arr({i64(1), str("A1"), arr({i64(0), num(1)})}), "cell value has the wrong payload length"},
      {"number without payload", arr({i64(0), arr({i64(1)})}), "cell value has the wrong payload length"},
      {"number as integer", arr({i64(0), arr({i64(1), i64(2)})}), "numeric cell has a non-number value"},
      {"number NaN", arr({i64(0), arr({i64(1), num(std::nan(""))})}), "numeric cell has a non-number value"},
      {"number infinite", arr({i64(0), arr({i64(1), num(INFINITY)})}), "numeric cell has a non-number value"},
      {"text as number", arr({i64(0), arr({i64(2), num(1)})}), "text cell has a non-string value"},
      {"bool as integer", arr({i64(0), arr({i64(3), i64(1)})}), "boolean cell has a non-boolean value"},
      {"error as bool", arr({i64(0), arr({i64(4), Any::boolean(true)})}), "error cell has a non-string value"},
      {"error lower case", arr({i64(0), arr({i64(4), str("#n/a")})}), "unsupported cell error #n/a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto cell = decode_cell_content(c.content);
    if (!c.error.empty()) {
      ASSERT_FALSE(cell.has_value());
      EXPECT_EQ(cell.error(), c.error);
      continue;
    }
    ASSERT_TRUE(cell.has_value()) << cell.error();
    EXPECT_FALSE(cell->style.has_value());
    ASSERT_EQ(cell->formula.has_value(), c.formula.has_value());
    if (c.formula) {
      EXPECT_EQ(cell->formula->view(), *c.formula);
    }
    auto back = encode_cell_content(*cell);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == c.content);
  }
  EXPECT_FALSE(encode_cell_content(model::SheetCell{}).has_value());
  // Kinds that a peer wrote back as numbers read as the same cell.
  auto relayed = decode_cell_content(arr({num(1), str("A1"), arr({num(2), str("x")})}));
  ASSERT_TRUE(relayed.has_value()) << relayed.error();
  EXPECT_EQ(relayed->value.as_text(), "x");
  EXPECT_TRUE(*encode_cell_content(*relayed) == arr({i64(1), str("A1"), arr({i64(2), str("x")})}));
  EXPECT_EQ(decode_cell_value(arr({i64(4), str("#N/A")}))->as_error(), model::CellErrorCode::NA);
  // Negative zero keeps its sign through the value.
  EXPECT_TRUE(std::signbit(decode_cell_value(arr({i64(1), num(-0.0)}))->as_number()));
}

TEST(CollabLayout, FreezePanes) {
  struct Case {
    std::string_view name;
    Any value;
    std::string error;
    std::optional<model::FreezePane> pane = std::nullopt;
  };
  auto pane = [](Any a, Any b, Any c, Any d, Any e, Any f) { return arr({a, b, c, d, e, f}); };
  const Any no = Any::boolean(false);
  const Any yes = Any::boolean(true);
  const Case cases[] = {
      {"null", Any::null(), ""},
      {"nothing frozen", pane(num(0), num(0), num(0), num(0), no, no), "", model::FreezePane{0, 0, {0, 0, false, false}}},
      {"integers accepted", pane(i64(2), i64(1), i64(2), i64(1), yes, no), "", model::FreezePane{2, 1, {2, 1, true, false}}},
      {"negative zero", pane(num(-0.0), num(0), num(0), num(0), no, yes), "", model::FreezePane{0, 0, {0, 0, false, true}}},
      {"largest", pane(num(1048576), num(16384), num(1048575), num(16383), no, no), "",
       model::FreezePane{1048576, 16384, {1048575, 16383, false, false}}},
      {"rows past the sheet", pane(num(1048577), num(0), num(0), num(0), no, no), "sheet freeze pane is out of bounds"},
      {"top row past the sheet", pane(num(0), num(0), num(1048576), num(0), no, no), "sheet freeze pane is out of bounds"},
      {"left column past the sheet", pane(num(0), num(0), num(0), num(16384), no, no), "sheet freeze pane is out of bounds"},
      {"string", str("A1"), "sheet freeze pane is not an array"},
      {"five values", arr({num(0), num(0), num(0), num(0), no}), "sheet freeze pane must contain six values"},
      {"fraction", pane(num(0.5), num(0), num(0), num(0), no, no), "frozen row count is not a u32"},
      {"negative", pane(num(0), num(-1), num(0), num(0), no, no), "frozen column count is not a u32"},
      {"too big", pane(num(0), num(0), num(4294967296.0), num(0), no, no), "freeze pane top row is not a u32"},
      {"integer negative", pane(num(0), num(0), num(0), i64(-1), no, no), "freeze pane left column is not a u32"},
      {"flag as number", pane(num(0), num(0), num(0), num(0), num(1), no), "freeze pane absolute row is not a boolean"},
      {"flag null", pane(num(0), num(0), num(0), num(0), no, Any::null()), "freeze pane absolute column is not a boolean"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = decode_freeze_pane(c.value);
    if (!c.error.empty()) {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error(), c.error);
      continue;
    }
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_EQ(*read, c.pane);
    EXPECT_EQ(*decode_freeze_pane(encode_freeze_pane(*read)), c.pane);
  }
}

TEST(CollabLayout, Merges) {
  const Any no = Any::boolean(false);
  const Any yes = Any::boolean(true);
  auto entry = [&](Any row) { return arr({row, num(1), no, yes, num(4), num(2), yes, no}); };
  struct Case {
    std::string_view name;
    Any value;
    std::string error;
  };
  const Case cases[] = {
      {"empty", arr({}), ""},
      {"coordinate 3.0", arr({entry(num(3.0))}), ""},
      {"integer coordinate", arr({entry(i64(3))}), ""},
      {"largest u32", arr({entry(num(4294967295.0))}), ""},
      {"fraction", arr({entry(num(3.5))}), "merge start row is not a u32"},
      {"negative", arr({entry(num(-1))}), "merge start row is not a u32"},
      {"past u32", arr({entry(num(4294967296.0))}), "merge start row is not a u32"},
      {"null", Any::null(), "sheet merges are not an array"},
      {"entry not array", arr({str("A1:B2")}), "merge entry is not an array"},
      {"seven values", arr({arr({num(0), num(0), no, no, num(0), num(0), no})}), "merge entry must contain eight values"},
      {"flag as number", arr({arr({num(0), num(0), no, num(0), num(0), num(0), no, no})}),
       "merge start absolute column is not a boolean"},
      {"end column text", arr({arr({num(0), num(0), no, no, num(0), str("1"), no, no})}), "merge end column is not a u32"},
      {"end flag", arr({arr({num(0), num(0), no, no, num(0), num(0), no, Any::null()})}),
       "merge end absolute column is not a boolean"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = decode_merges(c.value);
    if (!c.error.empty()) {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error(), c.error);
      continue;
    }
    ASSERT_TRUE(read.has_value()) << read.error();
    auto again = decode_merges(encode_merges(*read));
    EXPECT_EQ(*again, *read);
  }
  auto read = decode_merges(arr({entry(num(3))}));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->at(0), (model::CellRange{{3, 1, false, true}, {4, 2, true, false}}));
}

// A document with one map whose entries the case sets.
class MapFixture {
 public:
  MapFixture() : doc_(crdt::Doc::create(7).value()), map_(doc_->get_or_create_map("m").value()) {}
  crdt::Doc& doc() { return *doc_; }
  crdt::MapRef map() const { return map_; }
  void set(std::string_view key, Any value) {
    crdt::Transaction txn(*doc_);
    ASSERT_TRUE(map_.set(txn, key, std::move(value)).has_value());
  }

 private:
  std::unique_ptr<crdt::Doc> doc_;
  crdt::MapRef map_;
};

TEST(CollabLayout, DimensionMaps) {
  struct Case {
    std::string_view name;
    std::string key;
    Any value;
    uint32_t limit;
    std::string label;
    std::string error;
  };
  const Case cases[] = {
      {"last column", "16383", num(8.5), kSheetCols, "column width", ""},
      {"integer width", "3", i64(12), kSheetCols, "column width", ""},
      {"last row", "1048575", num(0.0), kSheetRows, "row height", ""},
      {"column past the sheet", "16384", num(1), kSheetCols, "column width", "column width key 16384 is out of bounds"},
      {"row past the sheet", "1048576", num(1), kSheetRows, "row height", "row height key 1048576 is out of bounds"},
      {"leading zero", "07", num(1), kSheetRows, "row height", "noncanonical numeric key 07"},
      {"plus", "+7", num(1), kSheetRows, "row height", "noncanonical numeric key +7"},
      {"letters", "A", num(1), kSheetCols, "column width", "invalid numeric key A"},
      {"overflow", "4294967296", num(1), kSheetCols, "column width", "invalid numeric key 4294967296"},
      {"string width", "2", str("12"), kSheetCols, "column width", "invalid numeric value at 2"},
      {"NaN height", "7", num(std::nan("")), kSheetRows, "row height", "nonfinite row height at 7"},
      {"infinite width", "1", num(-INFINITY), kSheetCols, "column width", "nonfinite column width at 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MapFixture fixture;
    fixture.set(c.key, c.value);
    auto read = decode_dimension_map(fixture.map(), c.limit, c.label);
    if (!c.error.empty()) {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error(), c.error);
      continue;
    }
    ASSERT_TRUE(read.has_value()) << read.error();
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ(format_u64(read->begin()->first), c.key);
  }
  MapFixture fixture;
  fixture.set("3", i64(12));
  EXPECT_EQ(decode_dimension_map(fixture.map(), kSheetCols, "column width")->at(3), 12.0);
}

TEST(CollabLayout, SyncingLeavesExactlyTheWantedEntriesAndRewritesNothingUnchanged) {
  MapFixture fixture;
  fixture.set("10", num(1));
  fixture.set("2", num(5));
  fixture.set("x", str("stale"));
  {
    crdt::Transaction txn(fixture.doc());
    ASSERT_TRUE(sync_dimension_map(txn, fixture.map(), DimensionMap{{2, 5.0}, {3, 7.5}}).has_value());
  }
  EXPECT_EQ(fixture.map().keys(), (std::vector<std::string>{"2", "3"}));
  const crdt::StateVector before = fixture.doc().state_vector();
  {
    crdt::Transaction txn(fixture.doc());
    ASSERT_TRUE(sync_dimension_map(txn, fixture.map(), DimensionMap{{2, 5.0}, {3, 7.5}}).has_value());
    // An integer 5 is another value than the number 5.
    ASSERT_TRUE(write_plain(txn, fixture.map(), "2", num(5)).has_value());
    EXPECT_FALSE(write_plain(txn, fixture.map(), "2", num(5)).value());
  }
  EXPECT_EQ(fixture.doc().state_vector(), before);

  {
    crdt::Transaction txn(fixture.doc());
    EXPECT_TRUE(write_plain(txn, fixture.map(), "2", i64(5)).value());
    std::vector<std::pair<std::string, Any>> wanted{{"0:0", str("a")}, {"2", i64(5)}};
    ASSERT_TRUE(sync_string_map(txn, fixture.map(), wanted).has_value());
  }
  EXPECT_EQ(fixture.map().keys(), (std::vector<std::string>{"0:0", "2"}));
  EXPECT_TRUE(fixture.map().get("2")->any == i64(5));
}

TEST(CollabLayout, MetadataIntegers) {
  struct Case {
    std::string_view name;
    Any value;
    std::optional<int64_t> read;
  };
  const Case cases[] = {
      {"number", num(6), 6},
      {"fraction truncates", num(6.9), 6},
      {"negative fraction truncates toward zero", num(-0.5), 0},
      {"NaN", num(std::nan("")), 0},
      {"huge saturates", num(1e300), std::numeric_limits<int64_t>::max()},
      {"integer", i64(-1), -1},
      {"string", str("6"), std::nullopt},
      {"null", Any::null(), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MapFixture fixture;
    fixture.set("v", c.value);
    EXPECT_EQ(read_metadata_integer(fixture.map(), "v"), c.read);
  }
  EXPECT_TRUE(encode_structure_generation(0) == num(0));
  EXPECT_TRUE(encode_structure_generation((uint64_t{1} << 53) - 1) == num(9007199254740991.0));
  EXPECT_TRUE(encode_structure_generation(uint64_t{1} << 53) == i64(int64_t{1} << 53));
}

TEST(CollabLayout, SheetKeySets) {
  EXPECT_EQ(sheet_key_set(3).required.size(), 6u);
  EXPECT_EQ(sheet_key_set(5).required.size(), 8u);
  for (int64_t v = 3; v <= 6; ++v) {
    const SheetKeySet& keys = sheet_key_set(v);
    EXPECT_TRUE(std::is_sorted(keys.required.begin(), keys.required.end()));
  }
  MapFixture fixture;
  for (std::string_view key : sheet_key_set(5).required) fixture.set(key, Any::null());
  EXPECT_TRUE(keys_match(fixture.map(), sheet_key_set(5)));
  EXPECT_TRUE(keys_match(fixture.map(), sheet_key_set(6)));
  EXPECT_FALSE(keys_match(fixture.map(), sheet_key_set(4)));
  fixture.set(kChartsKey, str("[]"));
  EXPECT_FALSE(keys_match(fixture.map(), sheet_key_set(5)));
  EXPECT_TRUE(keys_match(fixture.map(), sheet_key_set(6)));
}

}  // namespace
}  // namespace cmx::collab
