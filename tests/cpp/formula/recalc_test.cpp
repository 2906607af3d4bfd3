// The dependency graph, registration and recalculation over small workbooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "formula/cell_eval.h"
#include "formula/engine_state.h"
#include "formula/evaluator.h"
#include "formula/formula_shapes.h"
#include "formula/recalc_view.h"
#include "formula/parser.h"
#include "formula/recalc.h"
#include "formula/static_refs.h"
#include "model/sheet_cells.h"

namespace cmx::formula {
namespace {

using model::CellAddress;
using model::CellErrorCode;
using model::CellRange;
using model::CellValue;

model::CellRef ref(std::string_view a1) {
  auto r = model::parse_cell_ref(a1);
  EXPECT_TRUE(r.has_value()) << a1;
  return *r;
}
CellKey key(uint32_t sheet, std::string_view a1) {
  auto r = ref(a1);
  return CellKey{sheet, r.row, r.col};
}
CellRange range(std::string_view a1) {
  auto r = model::parse_range(a1);
  EXPECT_TRUE(r.has_value()) << a1;
  return *r;
}
std::string name_of(const CellKey& k) {
  return std::to_string(k.sheet) + "!" + model::format_cell_ref(model::CellRef{k.row, k.col});
}
std::string name_of(const CellAddress& a) {
  return std::to_string(a.sheet) + "!" + model::format_cell_ref(a.cell);
}
template <typename T>
std::vector<std::string> names(const std::vector<T>& items) {
  std::vector<std::string> out;
  for (const auto& i : items) out.push_back(name_of(i));
  return out;
}

struct Book {
  model::WorkbookModel model;
  explicit Book(std::vector<std::string> sheet_names = {"Sheet1"}) {
    for (auto& n : sheet_names) {
      model.sheets.emplace_back();
      model.sheets.back().name = n;
    }
  }
  void formula(uint32_t sheet, std::string_view a1, std::string_view text, CellValue cached = {}) {
    auto r = ref(a1);
    model::set_sheet_cell(model.sheets[sheet], r.row, r.col,
                          model::SheetCell{std::move(cached), SharedString(text), {}});
  }
  void value(uint32_t sheet, std::string_view a1, CellValue v) {
    auto r = ref(a1);
    model::set_sheet_cell(model.sheets[sheet], r.row, r.col, model::SheetCell{std::move(v), {}, {}});
  }
  CellValue at(uint32_t sheet, std::string_view a1) const {
    return model::model_cell_value(model, sheet, ref(a1));
  }
};

std::vector<std::string> sorted_dependents(const EngineState& state, const CellKey& k) {
  std::vector<std::string> out;
  dependents_of(state, k, [&](const CellKey& d) { out.push_back(name_of(d)); });
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> collected(std::string_view text) {
  auto parsed = parse_formula(text);
  EXPECT_TRUE(parsed.has_value()) << text;
  std::vector<std::string> out;
  for (const auto& q : collect_reference_ranges(**parsed)) {
    out.push_back((q.sheet ? *q.sheet + "!" : std::string()) + model::format_range(q.range));
  }
  return out;
}

TEST(StaticRefs, CollectsWhatIsRead) {
  struct Case {
    const char* text;
    std::vector<std::string> ranges;
  };
  const Case cases[] = {
      {"ROWS(A1:A10)+COLUMN(B:B)", {}},
      {"ROWS(A1:A10*1)", {"A1:A10"}},
      {"OFFSET(A1,2,3,2,2)", {"D3:E4"}},
      {"OFFSET(A1,B1,0)", {"B1"}},
      {"A1:INDEX(B1:B10,3)", {"A1", "B1:B10", "A1:B10"}},
      {"Sheet2!A1:Sheet2!B2", {"Sheet2!A1", "Sheet2!B2", "Sheet2!A1:B2"}},
      {"Sheet2!A1:B2+Sheet2!A1:A1", {"Sheet2!A1:B2", "Sheet2!A1"}},
      {"$A$1+A1", {"A1"}},
      {"SUM(C:C)", {"C1:C1048576"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(collected(c.text), c.ranges);
  }
}

TEST(StaticRefs, OffsetArithmetic) {
  struct Case {
    const char* text;
    StaticOffsetKind kind;
  };
  const Case cases[] = {
      {"OFFSET(A1,0,0,0)", StaticOffsetKind::NotApplicable},
      {"OFFSET(A1,1048576,0)", StaticOffsetKind::NotApplicable},
      {"OFFSET(A1,1,1,1,1,1)", StaticOffsetKind::NotApplicable},
      {"OFFSET(A:A,1,0)", StaticOffsetKind::NotApplicable},
      {"OFFSET(A1,-(-1),0)", StaticOffsetKind::Range},
      {"OFFSET(A1,1+1,0)", StaticOffsetKind::Dynamic},
      {"OFFSET(A1,\"1\",0)", StaticOffsetKind::Dynamic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parse_formula(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(static_offset((*parsed)->as<node::Call>().args).kind, c.kind);
  }
  EXPECT_EQ(offset_range(range("A5"), 0, 0, -2, std::nullopt), range("A4:A5"));
  EXPECT_EQ(offset_range(range("A1"), -1, 0, std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(offset_range(range("A1"), INT64_MAX, 0, std::nullopt, std::nullopt), std::nullopt);
}

TEST(Registration, Volatility) {
  struct Case {
    const char* text;
    bool is_volatile;
  };
  const Case cases[] = {
      {"NOW()", true},          {"IF(FALSE,RAND(),1)", true}, {"ROW(INDIRECT(B1))", true},
      {"OFFSET(A1,B1,0)", true}, {"A1:INDIRECT(B2)", true},    {"SUM(A1:IF(TRUE,B2,B3))", true},
      {"UsesToday+1", true},    {"OFFSET(A1,1,1)", false},    {"OFFSET(A1,1)", false},
      {"A1:INDEX(B:B,3)", false}, {"_xlfn.NOW()", false},     {"A1+1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Book book;
    book.model.defined_names.push_back({"UsesToday", "=TODAY()", std::nullopt, false});
    book.formula(0, "C1", c.text);
    auto state = rebuild_graph(book.model);
    ASSERT_TRUE(find_formula(*state, key(0, "C1")).has_value());
    EXPECT_EQ(state->volatile_cells.contains(key(0, "C1")), c.is_volatile);
  }
}

TEST(Registration, NamesSheetsAndTables) {
  Book book({"Sheet1", "Sheet2", "Sheet3", "ärger"});
  book.model.defined_names = {
      {"Rate", "=Sheet1!$B$1", std::nullopt, false},
      {"Here", "A1", std::nullopt, false},
      {"Local", "D4", 1, false},
      {"Local", "E5", std::nullopt, false},
      {"Loop_a", "Loop_b+1", std::nullopt, false},
      {"Loop_b", "Loop_a*2", std::nullopt, false},
      {"MyRange", "F1:F9", std::nullopt, false},
  };
  book.model.tables.push_back(
      {"Sales", {"Region", "Amount"}, range("H1:I5"), 0, 1, 0});
  book.formula(1, "C1", "A2*Rate");
  book.formula(1, "C2", "Here");
  book.formula(1, "C3", "Sheet3!Here");
  book.formula(1, "C4", "Local");
  book.formula(0, "C5", "Local+Sheet2!Local");
  book.formula(0, "C6", "Loop_a");
  book.formula(0, "C7", "ROWS(MyRange)");
  book.formula(0, "C8", "'ÄRGER'!A1+Sheet9!A1");
  book.formula(0, "J3", "Sales[[#This Row],[Amount]]");
  book.formula(0, "J9", "Sales[[#This Row],[Amount]]");
  book.formula(0, "C9", "1+");
  auto state = rebuild_graph(book.model);
  auto refs = [&](uint32_t sheet, const char* a1) {
    std::vector<std::string> out;
    auto e = find_formula(*state, key(sheet, a1));
    if (!e) return std::vector<std::string>{"unregistered"};
    ReferenceList list;
    formula_references(*state, key(sheet, a1), *e, list);
    for (const auto& r : list) {
      out.push_back(std::to_string(r.sheet) + "!" + model::format_range(r.range));
    }
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(refs(1, "C1"), (V{"1!A2", "0!B1"}));
  EXPECT_EQ(refs(1, "C2"), (V{"1!A1"}));
  EXPECT_EQ(refs(1, "C3"), (V{"2!A1"}));
  EXPECT_EQ(refs(1, "C4"), (V{"1!D4"}));
  EXPECT_EQ(refs(0, "C5"), (V{"1!D4", "0!E5"}));
  EXPECT_EQ(refs(0, "C6"), V{});
  EXPECT_EQ(refs(0, "C7"), V{});
  EXPECT_EQ(refs(0, "C8"), (V{"3!A1"}));
  EXPECT_EQ(refs(0, "J3"), (V{"0!I3"}));
  EXPECT_EQ(refs(0, "J9"), V{});
  EXPECT_EQ(refs(0, "C9"), (V{"unregistered"}));
  update_graph_cell(*state, 0, 8, 2, "1+1");
  EXPECT_EQ(refs(0, "C9"), V{});
}

TEST(Graph, DependentsOf) {
  Book book;
  book.formula(0, "A1", "A1+1");
  book.formula(0, "C1", "SUM(B:B)");
  book.formula(0, "C2", "B1+B1:B3");
  book.formula(0, "C3", "A5*2");
  book.formula(0, "E1", "{1;2;3}");
  book.formula(0, "F1", "{1}");
  book.formula(0, "G1", "E2+F1");
  book.model.sheets[0].array_ranges[{0, 4}] = range("E1:E3");
  book.model.sheets[0].array_ranges[{0, 5}] = range("F1");
  auto state = rebuild_graph(*&book.model);
  using V = std::vector<std::string>;
  EXPECT_EQ(sorted_dependents(*state, key(0, "A1")), (V{"0!A1"}));
  EXPECT_EQ(sorted_dependents(*state, key(0, "B1048576")), (V{"0!C1"}));
  EXPECT_EQ(sorted_dependents(*state, key(0, "B1")), (V{"0!C1", "0!C2", "0!C2"}));
  EXPECT_EQ(sorted_dependents(*state, key(0, "E1")), (V{"0!G1"}));  // through E2
  EXPECT_EQ(sorted_dependents(*state, key(0, "F1")), (V{"0!G1"}));  // F1 itself only
  EXPECT_EQ(sorted_dependents(*state, key(0, "A5")), (V{"0!C3"}));
  update_graph_cell(*state, 0, 2, 2, std::nullopt);
  EXPECT_EQ(sorted_dependents(*state, key(0, "A5")), V{});
  update_graph_cell(*state, 0, 0, 2, "B7");
  EXPECT_EQ(sorted_dependents(*state, key(0, "B1048576")), V{});
  EXPECT_EQ(sorted_dependents(*state, key(0, "B7")), (V{"0!C1"}));
}

// The block index answers as a scan of every registered range would, over
// ranges of every size, after removals and re-additions, whether its ranges
// were added one by one, filed in bulk, or both.
TEST(Graph, IndexMatchesAFullScan) {
  enum class Filing { OneByOne, Bulk, BulkThenOneByOne };
  for (Filing filing : {Filing::OneByOne, Filing::Bulk, Filing::BulkThenOneByOne}) {
    SCOPED_TRACE(static_cast<int>(filing));
    uint64_t seed = 12345;
    auto next = [&](uint32_t bound) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      return static_cast<uint32_t>((seed >> 33) % bound);
    };
    SheetDependents index;
    if (filing != Filing::OneByOne) index.begin_bulk();
    std::vector<RangeDependent> all;
    const uint32_t spans[] = {1, 2, 3, 7, 64, 1000, model::MAX_ROWS};
    for (uint32_t i = 0; i < 3000; ++i) {
      if (filing == Filing::BulkThenOneByOne && i == 2000) index.finish_bulk();
      uint32_t h = spans[next(7)];
      uint32_t w = std::min<uint32_t>(spans[next(7)], model::MAX_COLS);
      uint32_t r0 = next(model::MAX_ROWS - h + 1) % 5000;
      uint32_t c0 = next(model::MAX_COLS - w + 1) % 300;
      CellRange r{{r0, c0}, {std::min(r0 + h - 1, model::MAX_ROWS - 1), std::min(c0 + w - 1, model::MAX_COLS - 1)}};
      RangeDependent e{r, CellKey{0, i, 0}};
      index.add(e.range, e.dependent);
      all.push_back(e);
    }
    if (filing == Filing::Bulk) index.finish_bulk();
    EXPECT_EQ(index.size(), all.size());
    for (size_t i = 0; i < all.size(); i += 3) index.remove(all[i].range, all[i].dependent);
    for (size_t i = 0; i < all.size(); i += 6) index.add(all[i].range, all[i].dependent);
    std::vector<RangeDependent> kept;
    for (size_t i = 0; i < all.size(); ++i) {
      if (i % 3 != 0 || i % 6 == 0) kept.push_back(all[i]);
    }
    EXPECT_EQ(index.size(), kept.size());
    for (int probe = 0; probe < 400; ++probe) {
      uint32_t row = next(6000);
      uint32_t col = next(400);
      std::vector<uint32_t> expect;
      std::vector<uint32_t> got;
      for (const auto& e : kept) {
        if (e.range.start.row <= row && row <= e.range.end.row && e.range.start.col <= col &&
            col <= e.range.end.col) {
          expect.push_back(e.dependent.row);
        }
      }
      index.for_each_containing(row, col, [&](const RangeDependent& e) { got.push_back(e.dependent.row); });
      std::sort(got.begin(), got.end());
      std::sort(expect.begin(), expect.end());
      ASSERT_EQ(got, expect) << row << "," << col;
      // Small areas look their blocks up, large ones walk every bucket.
      uint32_t extent = probe % 2 ? 3 : 400;
      CellRange area{{row, col}, {row + next(extent), col + next(extent)}};
      expect.clear();
      got.clear();
      for (const auto& e : kept) {
        if (e.range.start.row <= area.end.row && area.start.row <= e.range.end.row &&
            e.range.start.col <= area.end.col && area.start.col <= e.range.end.col) {
          expect.push_back(e.dependent.row);
        }
      }
      index.for_each_intersecting(area, [&](const RangeDependent& e) { got.push_back(e.dependent.row); });
      std::sort(got.begin(), got.end());
      std::sort(expect.begin(), expect.end());
      ASSERT_EQ(got, expect);
    }
    for (const auto& e : kept) index.remove(e.range, e.dependent);
    EXPECT_EQ(index.size(), 0u);
    std::vector<uint32_t> left;
    index.for_each_intersecting(CellRange{{0, 0}, {model::MAX_ROWS - 1, model::MAX_COLS - 1}},
                                [&](const RangeDependent& e) { left.push_back(e.dependent.row); });
    EXPECT_TRUE(left.empty());
  }
}

// Filed in bulk, the dependents under one cell come back in the order they
// were added, however the cells they read were interleaved and whichever of
// a range's blocks holds them; ranges far apart in size are kept apart, each
// size in that order.
TEST(Graph, BulkFilingKeepsTheOrderAdded) {
  struct Read {
    CellRange range;
    int size_class;
  };
  struct Case {
    const char* name;
    std::vector<Read> reads;  // dependent i reads reads[i % size]
    std::vector<std::pair<uint32_t, uint32_t>> probes;
  };
  const Case cases[] = {
      {"cells out of order", {{range("D6"), 0}, {range("B3"), 0}, {range("D5:D6"), 0}}, {{5, 3}, {2, 1}, {4, 3}}},
      {"two blocks each way", {{range("C3:D4"), 0}, {range("A1"), 0}, {range("D4"), 0}}, {{2, 2}, {3, 3}, {0, 0}}},
      {"sizes apart", {{range("A1:H40"), 1}, {range("B2"), 0}, {range("A2:A3"), 0}}, {{1, 1}, {2, 0}, {39, 7}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetDependents index;
    index.begin_bulk();
    const uint32_t count = 3000;
    auto read_of = [&](uint32_t i) { return c.reads[i % c.reads.size()]; };
    for (uint32_t i = 0; i < count; ++i) index.add(read_of(i).range, CellKey{0, i, 0});
    index.finish_bulk();
    for (auto [row, col] : c.probes) {
      SCOPED_TRACE(testing::Message() << row << "," << col);
      std::vector<uint32_t> got;
      index.for_each_containing(row, col, [&](const RangeDependent& e) { got.push_back(e.dependent.row); });
      for (int size_class : {0, 1}) {
        std::vector<uint32_t> expect;
        for (uint32_t i = 0; i < count; ++i) {
          const CellRange& r = read_of(i).range;
          if (read_of(i).size_class == size_class && r.start.row <= row && row <= r.end.row &&
              r.start.col <= col && col <= r.end.col) {
            expect.push_back(i);
          }
        }
        std::vector<uint32_t> of_class;
        for (uint32_t d : got) {
          if (read_of(d).size_class == size_class) of_class.push_back(d);
        }
        EXPECT_EQ(of_class, expect) << "size class " << size_class;
      }
    }
  }
}

// The build files its cells in the sheets' order, whether the formula
// table holds a cell in its arrays or, past a wide gap of rows, apart.
TEST(Graph, RebuildFilesCellsInTheSheetsOrder) {
  Book book({"Sheet1", "Sheet2"});
  book.formula(0, "B1", "Z5");
  book.formula(0, "B100001", "Z5");
  book.formula(0, "C100001", "Z5*2");
  book.formula(0, "B200002", "Z5+1");
  book.formula(0, "D7", "Z5+");  // does not parse
  book.formula(1, "A1", "Sheet1!Z5");
  book.formula(1, "A2", "Sheet1!Z5+Sheet1!Z5");
  auto state = rebuild_graph(book.model);
  std::vector<std::string> got;
  dependents_of(*state, key(0, "Z5"), [&](const CellKey& d) { got.push_back(name_of(d)); });
  EXPECT_EQ(got, (std::vector<std::string>{"0!B1", "0!B100001", "0!C100001", "0!B200002", "1!A1", "1!A2"}));
  std::vector<std::string> table;
  for (const auto& [k, shape] : state->formulas.sorted()) table.push_back(name_of(k));
  EXPECT_EQ(table, (std::vector<std::string>{"0!B1", "0!B100001", "0!C100001", "0!B200002", "1!A1", "1!A2"}));
}

// Entries are packed to grid coordinates; one outside the grid is still
// found and removed.
TEST(Graph, IndexKeepsEntriesOutsideTheGrid) {
  SheetDependents index;
  const CellRange far{{5, 3}, {model::MAX_ROWS + 10, 4}};
  const CellRange near{{model::MAX_ROWS - 2, model::MAX_COLS - 2}, {model::MAX_ROWS - 1, model::MAX_COLS - 1}};
  index.add(far, CellKey{7, 1, 1});
  index.add(near, CellKey{2, model::MAX_ROWS - 1, model::MAX_COLS - 1});
  EXPECT_EQ(index.size(), 2u);
  std::vector<RangeDependent> got;
  auto note = [&](const RangeDependent& e) { got.push_back(e); };
  index.for_each_containing(model::MAX_ROWS + 1, 3, note);
  index.for_each_containing(model::MAX_ROWS - 1, model::MAX_COLS - 1, note);
  index.for_each_intersecting(CellRange{{0, 0}, {6, 3}}, note);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].range, far);
  EXPECT_EQ(got[1].range, near);
  EXPECT_EQ(got[1].dependent, (CellKey{2, model::MAX_ROWS - 1, model::MAX_COLS - 1}));
  EXPECT_EQ(got[2].dependent, (CellKey{7, 1, 1}));
  index.remove(far, CellKey{7, 1, 1});
  index.remove(near, CellKey{2, model::MAX_ROWS - 1, model::MAX_COLS - 1});
  EXPECT_EQ(index.size(), 0u);
  got.clear();
  index.for_each_containing(6, 3, note);
  EXPECT_TRUE(got.empty());
}

// The sheet, name and table lookups are snapshots taken at the build.
TEST(Graph, SnapshotsWaitForRebuild) {
  Book book({"Sheet1", "Sheet2"});
  book.formula(0, "C1", "Later!A1+Rate");
  auto state = rebuild_graph(book.model);
  book.model.sheets[1].name = "Later";
  book.model.defined_names.push_back({"Rate", "Sheet1!B9", std::nullopt, false});
  update_graph_cell(*state, 0, 0, 2, "Later!A1+Rate");
  EXPECT_TRUE(sorted_dependents(*state, key(1, "A1")).empty());
  EXPECT_TRUE(sorted_dependents(*state, key(0, "B9")).empty());
  state = rebuild_graph(book.model);
  EXPECT_EQ(sorted_dependents(*state, key(1, "A1")), (std::vector<std::string>{"0!C1"}));
  EXPECT_EQ(sorted_dependents(*state, key(0, "B9")), (std::vector<std::string>{"0!C1"}));
  // Re-registering an anchor drops it from the array index until the next rebuild.
  book.formula(0, "E1", "{1;2}");
  book.formula(0, "F1", "E2");
  book.model.sheets[0].array_ranges[{0, 4}] = range("E1:E2");
  state = rebuild_graph(book.model);
  EXPECT_EQ(sorted_dependents(*state, key(0, "E1")), (std::vector<std::string>{"0!F1"}));
  update_graph_cell(*state, 0, 0, 4, "{1;2}");
  EXPECT_TRUE(sorted_dependents(*state, key(0, "E1")).empty());
  EXPECT_TRUE(state->array_ranges_by_sheet[0].empty());
}

// Sheets whose names lower-case alike: the graph takes the first, as
// evaluation does, so that an edit of the sheet evaluation reads reaches
// its dependents.
TEST(Graph, FirstOfSheetsNamedAlikeWins) {
  Book book({"Data", "DATA", "Sheet3"});
  book.value(0, "A1", CellValue::number(1));
  book.value(1, "A1", CellValue::number(100));
  book.formula(2, "C1", "data!A1*2");
  auto [state, first] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(2, "C1"), CellValue::number(2));
  book.value(0, "A1", CellValue::number(5));
  auto result = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(book.at(2, "C1"), CellValue::number(10));
  EXPECT_EQ(names(result.changed), (std::vector<std::string>{"2!C1"}));
}

TEST(Store, StoreCellValue) {
  Book book;
  book.value(0, "A1", CellValue::number(3));
  EXPECT_FALSE(store_cell_value(book.model.sheets, key(0, "A1"), CellValue::number(3)));
  EXPECT_TRUE(store_cell_value(book.model.sheets, key(0, "A1"), CellValue::text("3")));
  EXPECT_TRUE(store_cell_value(book.model.sheets, key(0, "A1"), CellValue()));
  EXPECT_TRUE(book.model.sheets[0].cells.empty());
  book.value(0, "B1", CellValue::number(0.0));
  EXPECT_FALSE(store_cell_value(book.model.sheets, key(0, "B1"), CellValue::number(-0.0)));
  EXPECT_FALSE(std::signbit(book.at(0, "B1").as_number()));
  // A sheet that does not exist stores nothing and reports no change.
  EXPECT_FALSE(store_cell_value(book.model.sheets, key(7, "A1"), CellValue::number(1)));
}

TEST(Recalc, TieBreakAndBatchRelease) {
  Book book({"Sheet1", "Sheet2"});
  book.formula(0, "B2", "1");
  book.formula(0, "A1", "1");
  book.formula(1, "A5", "1");
  auto state = rebuild_graph(book.model);
  absl::flat_hash_set<CellKey> dirty{key(0, "B2"), key(0, "A1"), key(1, "A5")};
  EXPECT_EQ(names(order_dirty(*state, dirty).order), (std::vector<std::string>{"0!A1", "0!B2", "1!A5"}));

  Book chain;
  chain.formula(0, "C1", "1");
  chain.formula(0, "D1", "1");
  chain.formula(0, "Z5", "C1");
  chain.formula(0, "E1", "C1");
  chain.formula(0, "A2", "D1");
  auto s2 = rebuild_graph(chain.model);
  absl::flat_hash_set<CellKey> all;
  for (const auto& [k, e] : s2->formulas.sorted()) all.insert(k);
  EXPECT_EQ(names(order_dirty(*s2, all).order),
            (std::vector<std::string>{"0!C1", "0!D1", "0!E1", "0!Z5", "0!A2"}));
}

TEST(Recalc, Cycles) {
  struct Case {
    const char* label;
    std::vector<std::pair<const char*, const char*>> formulas;
    std::vector<std::pair<const char*, double>> values;
    std::vector<std::string> cycles;
  };
  const Case cases[] = {
      {"self", {{"A1", "A1+1"}}, {{"A1", 0}}, {"0!A1"}},
      {"two and a reader",
       {{"A1", "B1"}, {"B1", "A1"}, {"C1", "A1+1"}, {"D1", "A1*2"}, {"E1", "7"}},
       {{"A1", 0}, {"B1", 0}, {"C1", 0}, {"D1", 0}, {"E1", 7}},
       {"0!A1", "0!B1", "0!C1", "0!D1"}},
      {"unevaluated self reference", {{"A1", "IF(TRUE,5,A1)"}, {"B1", "A1+1"}}, {{"A1", 5}, {"B1", 6}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Book book;
    for (auto [a1, text] : c.formulas) book.formula(0, a1, text, CellValue::number(99));
    auto [state, result] = recalculate_all(book.model, std::nullopt);
    for (auto [a1, v] : c.values) EXPECT_EQ(book.at(0, a1), CellValue::number(v)) << a1;
    EXPECT_EQ(names(result.cycles), c.cycles);
  }
}

// Passes run over at most 4,096 pending cells: a cell that reads a cycle
// only in an untaken branch resolves below the cap and not above it.
TEST(Recalc, PendingCap) {
  for (uint32_t pending : {4096u, 4097u}) {
    SCOPED_TRACE(pending);
    Book book;
    uint32_t ring = pending - 1;
    for (uint32_t i = 0; i < ring; ++i) {
      uint32_t next = (i + 1) % ring;
      model::set_sheet_cell(book.model.sheets[0], i, 0,
                            model::SheetCell{{}, SharedString("A" + std::to_string(next + 1)), {}});
    }
    book.formula(0, "B1", "IF(TRUE,5,A1)");
    auto [state, result] = recalculate_all(book.model, std::nullopt);
    bool capped = pending > kMaxPendingCells;
    EXPECT_EQ(book.at(0, "B1"), CellValue::number(capped ? 0 : 5));
    EXPECT_EQ(result.cycles.size(), capped ? pending : ring);
  }
}

TEST(Recalc, UnknownAndLimitedCellsKeepCachedValues) {
  Book book;
  book.formula(0, "A1", "NOSUCHFN(1)", CellValue::number(7));
  book.formula(0, "A2", "NOSUCHFN(1)");
  book.formula(0, "A3", "Z99");
  auto [state, result] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(0, "A1"), CellValue::number(7));
  EXPECT_EQ(book.at(0, "A2"), CellValue::error(CellErrorCode::Name));
  EXPECT_EQ(book.at(0, "A3"), CellValue::number(0));
  EXPECT_EQ(names(result.changed), (std::vector<std::string>{"0!A2", "0!A3"}));

  // A spent shared budget: a cell with a cached value keeps it.
  Book limited;
  for (int i = 1; i <= 3; ++i) limited.value(0, "B" + std::to_string(i), CellValue::number(i));
  limited.formula(0, "A1", "SUM(B1:B3)", CellValue::number(7));
  limited.formula(0, "A2", "SUM(B1:B3)");
  auto st = rebuild_graph(limited.model);
  auto spent = std::make_shared<EvalBudget>(EvalBudget{0, 0});
  model::ModelCellSource source(limited.model);
  EvalOutcome kept = evaluate_formula_cell(source, limited.model, key(0, "A1"), std::nullopt, spent, *st);
  EXPECT_EQ(kept.kind, EvalOutcome::Kind::Keep);
  EXPECT_TRUE(kept.limited);
  EvalOutcome fresh = evaluate_formula_cell(source, limited.model, key(0, "A2"), std::nullopt, spent, *st);
  EXPECT_EQ(fresh.kind, EvalOutcome::Kind::Scalar);
  EXPECT_EQ(fresh.value, CellValue::error(CellErrorCode::Num));
  EXPECT_TRUE(fresh.limited);
  limited.model.sheets[0].array_ranges[{2, 0}] = range("A3:A4");
  limited.formula(0, "A3", "B1:B3");
  st = rebuild_graph(limited.model);
  EvalOutcome arr = evaluate_formula_cell(source, limited.model, key(0, "A3"), std::nullopt, spent, *st);
  EXPECT_EQ(arr.kind, EvalOutcome::Kind::LimitedArray);
}

TEST(Spill, BlockedClearedAndRespilled) {
  Book book;
  book.formula(0, "A1", "{1;2;3}");
  book.model.sheets[0].array_ranges[{0, 0}] = range("A1");
  book.value(0, "A3", CellValue::number(7));
  auto [state, r1] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(0, "A1"), CellValue::error(CellErrorCode::Spill));
  EXPECT_EQ(book.at(0, "A2"), CellValue());
  EXPECT_EQ(book.at(0, "A3"), CellValue::number(7));
  EXPECT_EQ(book.model.sheets[0].array_ranges.at({0, 0}), range("A1"));

  // The blocker goes: the array spills.
  model::set_sheet_cell(book.model.sheets[0], 2, 0, model::SheetCell{});
  // A1's range is its own cell, so it does not read A3: it is entered again.
  auto r2 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(book.at(0, "A3"), CellValue::number(3));
  EXPECT_EQ(book.model.sheets[0].array_ranges.at({0, 0}), range("A1:A3"));
  EXPECT_EQ(names(r2.changed), (std::vector<std::string>{"0!A1", "0!A2", "0!A3"}));

  // A shorter result clears what it no longer covers; an own formula stays.
  book.value(0, "A2", CellValue::number(50));  // a constant typed inside the area
  model::set_sheet_cell(book.model.sheets[0], 0, 0, model::SheetCell{CellValue::number(1), SharedString("{4;5}"), {}});
  update_graph_cell(*state, 0, 0, 0, "{4;5}");
  book.model.sheets[0].array_ranges[{0, 0}] = range("A1:A5");
  book.value(0, "A5", CellValue::number(8));
  book.formula(0, "A4", "1+1", CellValue::number(2));
  update_graph_cell(*state, 0, 3, 0, "1+1");
  auto r3 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(book.at(0, "A1"), CellValue::number(4));
  EXPECT_EQ(book.at(0, "A2"), CellValue::number(5));
  EXPECT_EQ(book.at(0, "A3"), CellValue());
  EXPECT_EQ(book.at(0, "A4"), CellValue::number(2));
  EXPECT_EQ(book.at(0, "A5"), CellValue());
  EXPECT_EQ(book.model.sheets[0].array_ranges.at({0, 0}), range("A1:A2"));
  EXPECT_EQ(names(r3.changed), (std::vector<std::string>{"0!A1", "0!A2", "0!A3", "0!A5"}));
}

TEST(Spill, DeclaredAreaAndShapes) {
  Book book;
  book.formula(0, "A1", "5");
  book.model.sheets[0].array_ranges[{0, 0}] = range("A1:C3");
  book.formula(0, "E1", "{1,2,3;4,5,6}");
  book.model.sheets[0].array_ranges[{0, 4}] = range("E1");
  recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(0, "C3"), CellValue::number(5));
  EXPECT_EQ(book.at(0, "G2"), CellValue::number(6));
  EXPECT_EQ(book.model.sheets[0].array_ranges.at({0, 4}), range("E1:G2"));
}

// A reader of a spilled cell evaluated before the spill runs again in the
// next wave; after the fourth wave the rest keeps its values.
TEST(Spill, WavesStopAfterFour) {
  Book book;
  book.formula(0, "C1", "D3*10");
  book.formula(0, "D1", "{1;2;3}");
  book.model.sheets[0].array_ranges[{0, 3}] = range("D1");
  auto [state, r] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(0, "C1"), CellValue::number(30));

  Book chain;
  const char* cols = "ABCDEF";
  for (int i = 0; i < 5; ++i) {
    std::string a1 = std::string(1, cols[i]) + "1";
    chain.formula(0, a1, std::string("{1;1}*(") + cols[i + 1] + "2+1)");
    chain.model.sheets[0].array_ranges[{0, static_cast<uint32_t>(i)}] = range(a1);
  }
  chain.formula(0, "F1", "{1;1}*7");
  chain.model.sheets[0].array_ranges[{0, 5}] = range("F1");
  auto [s2, r2] = recalculate_all(chain.model, std::nullopt);
  // Converged, A2 would be 12; four waves bring the chain this far.
  std::vector<std::pair<const char*, double>> expect = {
      {"A2", 4}, {"B2", 4}, {"C2", 10}, {"D2", 9}, {"E2", 8}, {"F2", 7}};
  for (auto [a1, v] : expect) EXPECT_EQ(chain.at(0, a1), CellValue::number(v)) << a1;
  EXPECT_TRUE(std::is_sorted(r2.changed.begin(), r2.changed.end(), model::address_less));
  EXPECT_EQ(std::adjacent_find(r2.changed.begin(), r2.changed.end()), r2.changed.end());
  EXPECT_EQ(names(r2.changed).size(), 12u);  // rows 1 and 2 of six columns, each once
}

TEST(Recalc, EditsAndVolatiles) {
  Book book({"Sheet1", "Sheet2"});
  book.value(0, "A1", CellValue::number(1));
  book.formula(0, "B1", "A1+1");
  book.formula(1, "C1", "NOW()");
  auto [state, r1] = recalculate_all(book.model, 45000.5);
  EXPECT_EQ(book.at(1, "C1"), CellValue::number(45000.5));
  book.value(0, "A1", CellValue::number(2));
  auto r2 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, 45001.0);
  EXPECT_EQ(names(r2.changed), (std::vector<std::string>{"0!B1", "1!C1"}));
  EXPECT_EQ(book.at(0, "A1"), CellValue::number(2));
  auto none = run_recalculation(book.model, *state, {}, std::nullopt);
  EXPECT_TRUE(none.changed.empty() && none.cycles.empty() && none.limited.empty());
}

TEST(RecalcView, NotesReadsOfPendingCells) {
  Book book;
  book.value(0, "C5", CellValue::number(1));
  book.value(0, "A5", CellValue::number(4));
  struct Case {
    const char* text;
    std::vector<const char*> pending;
    bool flagged;
  };
  const Case cases[] = {
      {"SUM(A1:A10)", {"A5"}, true},  {"ROWS(A1:A10)", {"A5"}, false},
      {"A7+1", {"A7"}, true},          {"SUM(A1:A10)", {}, false},
      {"IF(TRUE,5,A5)", {"A5"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    absl::flat_hash_set<CellKey> pending;
    for (const char* a1 : c.pending) pending.insert(key(0, a1));
    RecalcView view(book.model, pending);
    auto parsed = parse_formula(c.text);
    ASSERT_TRUE(parsed.has_value());
    EvalContext ctx = new_context(view, 0, ref("Z1"), std::nullopt, nullptr, nullptr,
                                  model::DateSystem::V1900);
    eval_scalar(**parsed, ctx);
    EXPECT_EQ(view.read_pending(), c.flagged);
  }
  absl::flat_hash_set<CellKey> none;
  RecalcView view(book.model, none);
  EXPECT_EQ(view.used_rows(0), 5u);
  EXPECT_EQ(view.used_cols(0), 3u);
}

TEST(Spill, FitArrayResultShapesAndCharges) {
  Book book;
  model::ModelCellSource source(book.model);
  struct Case {
    const char* label;
    uint64_t rows, cols;
    const char* anchor;
    const char* target;
  };
  const Case cases[] = {
      {"tall", 300'000, 1, "A1", "A1:A262144"},
      {"square", 1000, 1000, "A1", "A1:JB1000"},
      {"wide", 1, 300'000, "A1", "A1:XFD1"},
      {"clipped right", 2, 20, "XFA1", "XFA1:XFD2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<CellValue> values;
    values.reserve(c.rows * c.cols);
    for (uint64_t i = 0; i < c.rows * c.cols; ++i) values.push_back(CellValue::number(double(i)));
    auto budget = std::make_shared<EvalBudget>();
    EvalContext ctx = new_context(source, 0, ref(c.anchor), std::nullopt, budget, nullptr,
                                  model::DateSystem::V1900);
    auto a = ref(c.anchor);
    auto spill = fit_array_result(ctx, a.row, a.col, std::nullopt,
                                  EvalResult{ArrayValue{std::move(values), c.rows, c.cols}});
    ASSERT_TRUE(spill.has_value());
    EXPECT_EQ(model::format_range(spill->target), c.target);
    if (std::string_view(c.label) == "clipped right") {
      // The second row holds the result's second row: elements 20 to 23.
      EXPECT_EQ(spill->values[4], CellValue::number(20));
      EXPECT_EQ(spill->values[7], CellValue::number(23));
    }
  }
  // A 30-byte text over a 10 by 10 area: 99 extra cells, 3,000 bytes.
  auto budget = std::make_shared<EvalBudget>();
  EvalContext ctx = new_context(source, 0, ref("A1"), std::nullopt, budget, nullptr,
                                model::DateSystem::V1900);
  auto spill = fit_array_result(ctx, 0, 0, range("A1:J10"),
                                EvalResult::scalar(CellValue::text(std::string(30, 'x'))));
  ASSERT_TRUE(spill.has_value());
  EXPECT_EQ(budget->cells, kRecalcCellBudget - 99);
  EXPECT_EQ(budget->bytes, kRecalcByteBudget - 3000);
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 99);
  // Too few cells left for the extra ones: limited, nothing built.
  ctx.shared->cells_left = 98;
  EXPECT_FALSE(fit_array_result(ctx, 0, 0, range("A1:J10"), EvalResult::scalar(CellValue::number(1))));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 1u);
}

TEST(Spill, ClearingChargesTheSharedBudget) {
  Book book;
  book.formula(0, "A1", "{1;2;3}");
  book.model.sheets[0].array_ranges[{0, 0}] = range("A1:A5");
  book.value(0, "A4", CellValue::number(4));
  book.value(0, "A5", CellValue::number(5));
  auto state = rebuild_graph(book.model);
  model::ModelCellSource source(book.model);
  auto budget = std::make_shared<EvalBudget>();
  EvalOutcome out = evaluate_formula_cell(source, book.model, key(0, "A1"), std::nullopt, budget, *state);
  ASSERT_EQ(out.kind, EvalOutcome::Kind::Spill);
  uint64_t before = budget->cells;
  RecalcLists lists;
  apply_spill(book.model, key(0, "A1"), std::move(out.spill), out.limited, budget.get(), lists);
  // 2 x 4 + 3 for the rows, and one per stored cell of A1:A5 (A1, A4, A5).
  EXPECT_EQ(before - budget->cells, 11u + 3u);
  EXPECT_EQ(names(lists.spill_changed), (std::vector<std::string>{"0!A4", "0!A5", "0!A2", "0!A3"}));

  // A budget too small for the clearing: limited, the old area stays.
  Book small;
  small.formula(0, "A1", "{1;2;3}", CellValue::number(9));
  small.model.sheets[0].array_ranges[{0, 0}] = range("A1:A5");
  small.value(0, "A5", CellValue::number(5));
  auto st = rebuild_graph(small.model);
  EvalBudget tiny{10, kRecalcByteBudget};
  RecalcLists l2;
  SpillPayload p{{CellValue::number(1), CellValue::number(2), CellValue::number(3)}, range("A1:A3")};
  apply_spill(small.model, key(0, "A1"), std::move(p), false, &tiny, l2);
  EXPECT_EQ(small.at(0, "A1"), CellValue::number(9));
  EXPECT_EQ(small.at(0, "A5"), CellValue::number(5));
  EXPECT_EQ(names(l2.limited), (std::vector<std::string>{"0!A1"}));
  EXPECT_EQ(small.model.sheets[0].array_ranges.at({0, 0}), range("A1:A5"));
}

TEST(Spill, AnchorOnCycleGetsEmptyText) {
  Book book;
  book.formula(0, "A1", "{1;2}+B1", CellValue::number(1));
  book.model.sheets[0].array_ranges[{0, 0}] = range("A1:A2");
  book.formula(0, "B1", "A1");
  book.value(0, "A2", CellValue::number(6));
  auto [state, result] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(0, "A1"), CellValue::text(""));
  EXPECT_EQ(book.at(0, "A2"), CellValue::number(6));
  EXPECT_EQ(names(result.cycles), (std::vector<std::string>{"0!A1", "0!B1"}));
}

// A long chain is ordered and evaluated without recursion.
TEST(Recalc, LongChain) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr uint32_t kLength = 200'000;
#else
  constexpr uint32_t kLength = 1'000'000;
#endif
  Book book;
  book.value(0, "A1", CellValue::number(1));
  for (uint32_t i = 1; i < kLength; ++i) {
    model::set_sheet_cell(book.model.sheets[0], i, 0,
                          model::SheetCell{{}, SharedString("A" + std::to_string(i) + "+1"), {}});
  }
  auto [state, r1] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(model::model_cell_value(book.model, 0, {kLength - 1, 0}), CellValue::number(kLength));
  book.value(0, "A1", CellValue::number(2));
  auto r2 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(r2.changed.size(), kLength - 1);
  EXPECT_EQ(model::model_cell_value(book.model, 0, {kLength - 1, 0}), CellValue::number(kLength + 1));
}

}  // namespace
}  // namespace cmx::formula

namespace cmx::formula {
namespace {

// Cells filled down and across with texts that differ only in where their
// references point share trees; each must still give what its own text
// gives when parsed and evaluated alone.
TEST(Shapes, SharedTreesGiveWhatOwnTextsGive) {
  Book book({"Sheet1", "Data"});
  for (uint32_t r = 1; r <= 6; ++r) {
    std::string row = std::to_string(r);
    book.value(0, "A" + row, CellValue::number(r * 3.0));
    book.value(0, "B" + row, CellValue::number(100.0 - r));
    book.value(1, "A" + row, CellValue::number(r * 7.0));
  }
  book.value(0, "B3", CellValue::text("x"));
  const std::vector<std::string> templates = {
      "A{r}+B{r}", "A{r}*$A$1", "SUM(A{r}:B{n})", "SUM($A$1:A{r})", "ROW(A{r})*10+COLUMN()",
      "INDEX(A:A,{r})", "Data!A{r}*2", "SUM(Data!{r}:{n})", "COUNT(A:B)+A{r}", "A{r}&\"-\"&B{r}",
      "IF(A{r}>9,B{n},A{r})", "SUM(A{r}:A{n})/Data!A{n}", "-A{r}%", "MAX(Data!A{r}:A{n},B{r})",
  };
  auto fill = [](std::string text, uint32_t r) {
    for (auto [mark, value] : {std::pair{"{r}", r}, std::pair{"{n}", r + 1}}) {
      for (size_t at; (at = text.find(mark)) != std::string::npos;) {
        text.replace(at, 3, std::to_string(value));
      }
    }
    return text;
  };
  std::vector<std::pair<CellKey, std::string>> cells;
  for (uint32_t t = 0; t < templates.size(); ++t) {
    for (uint32_t r = 1; r <= 5; ++r) {
      CellKey k{0, r - 1, 3 + t};
      cells.emplace_back(k, fill(templates[t], r));
      model::set_sheet_cell(book.model.sheets[0], k.row, k.col,
                            model::SheetCell{{}, SharedString(cells.back().second), {}});
    }
  }
  auto [state, result] = recalculate_all(book.model, std::nullopt);
  EXPECT_LT(state->shapes.size(), cells.size());  // the fills share trees
  model::ModelCellSource source(book.model);
  for (const auto& [k, text] : cells) {
    EvalContext ctx = new_context(source, 0, model::CellRef{k.row, k.col, false, false},
                                  std::nullopt, nullptr, nullptr, model::DateSystem::V1900);
    CellValue own = eval_scalar(*parse_formula(text).value(), ctx);
    if (own.is_empty()) own = CellValue::number(0);
    EXPECT_EQ(model::model_cell_value(book.model, 0, {k.row, k.col}), own) << text;
    ReferenceList refs;
    formula_references(*state, k, *find_formula(*state, k), refs);
    std::vector<ReferencedRange> expect;
    for (const QualifiedRange& q : collect_reference_ranges(*parse_formula(text).value())) {
      expect.push_back(ReferencedRange{q.sheet ? 1u : 0u, q.range});
    }
    EXPECT_EQ(std::vector<ReferencedRange>(refs.begin(), refs.end()), expect) << text;
  }
}

// A text recognised from a shape's written text has that shape's key; one
// that is not is left to the key, so a miss costs speed only.
TEST(Shapes, WrittenTextRecognisesOnlyItsOwnKey) {
  struct Case {
    const char* written;
    uint32_t row;
    const char* other;
    uint32_t other_row;
    bool recognised;
  };
  const Case cases[] = {
      {"A1+1", 1, "A2+1", 2, true},
      {"A1+1", 1, "A3+1", 2, false},
      {"A1 + 1", 1, "A2 + 1", 2, true},
      {"A1+1", 1, "A2+1 ", 2, false},  // same key, not the same text
      {"$A$1*B2", 1, "$A$1*B3", 2, true},
      {"$A$1*B2", 1, "$A$2*B3", 2, false},
      {"A$1*$B2", 1, "A$1*$B9", 8, true},
      {"SUM(A1:B2)", 0, "SUM(A2:B3)", 1, true},
      {"SUM($A1:$A3)", 0, "SUM($A2:$A4)", 1, true},
      {"SUM(B2:A1)", 0, "SUM(B3:A2)", 1, false},  // written reversed
      {"a1+1", 1, "a2+1", 2, false},
      {"Sheet2!A1+1", 1, "Sheet2!A2+1", 2, false},
      {"SUM(A:A)+A1", 1, "SUM(A:A)+A2", 2, false},
      {"LOG10(A1)", 1, "LOG10(A2)", 2, true},
      {"\"A1\"&A1", 1, "\"A1\"&A2", 2, true},
      {"\"A1\"&A1", 1, "\"A2\"&A2", 2, false},
      {"A1+1", 1, "A0+1", 0, false},           // moved off the grid
      {"A1048576", 5, "A1048577", 6, false},  // moved off the grid
      {"Z1+1", 0, "Z1000+1", 999, true},
      {"A1+1", 1, "A2+1+1", 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.written) + " / " + c.other);
    const uint32_t col = 3;
    std::optional<ShapeText> written = shape_text(c.written, c.row, col);
    bool recognised = written && shape_text_matches(*written, c.other, c.other_row, col);
    EXPECT_EQ(recognised, c.recognised);
    if (recognised) {
      EXPECT_EQ(shape_key(c.written, c.row, col), shape_key(c.other, c.other_row, col));
    }
  }
  // Registered down a column, the recognised cells share the first cell's
  // shape and read what their own texts say.
  Book book;
  for (uint32_t r = 1; r <= 5; ++r) {
    book.formula(0, "B" + std::to_string(r), "A" + std::to_string(r) + "*2+$A$1");
  }
  book.formula(0, "B6", "A6*2+$A$2");
  auto state = rebuild_graph(book.model);
  const FormulaShape* first = find_formula(*state, key(0, "B1"))->shape;
  EXPECT_EQ(find_formula(*state, key(0, "B5"))->shape, first);
  EXPECT_NE(find_formula(*state, key(0, "B6"))->shape, first);
  EXPECT_EQ(sorted_dependents(*state, key(0, "A4")), (std::vector<std::string>{"0!B4"}));
  EXPECT_EQ(sorted_dependents(*state, key(0, "A2")), (std::vector<std::string>{"0!B2", "0!B6"}));
}

// Random formulas, each filled into several cells as a fill would write it
// (relative parts follow the cell, absolute ones stay): every cell gives what
// its own text gives alone.
TEST(Shapes, RandomFillsGiveWhatOwnTextsGive) {
  uint64_t seed = 777;
  auto next = [&](uint32_t bound) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>((seed >> 33) % bound);
  };
  Book book({"Sheet1", "Data"});
  for (uint32_t r = 0; r < 30; ++r) {
    for (uint32_t c = 0; c < 8; ++c) {
      CellValue v = (r + c) % 7 == 3 ? CellValue::text("t") : CellValue::number((r * 8 + c) % 13);
      model::set_sheet_cell(book.model.sheets[0], r, c, model::SheetCell{v, {}, {}});
      model::set_sheet_cell(book.model.sheets[1], r, c, model::SheetCell{CellValue::number(r + c), {}, {}});
    }
  }
  // A coordinate: fixed, or a distance from the formula's cell. Formulas
  // stand in columns 12..15, so every distance stays left of them.
  struct Coord {
    bool fixed;
    int32_t value;
    uint32_t at(uint32_t origin) const { return fixed ? value : origin + value; }
  };
  auto row_coord = [&] {
    return next(2) ? Coord{true, int32_t(next(20))} : Coord{false, int32_t(next(11))};
  };
  auto col_coord = [&] {
    return next(2) ? Coord{true, int32_t(next(8))} : Coord{false, -int32_t(5 + next(8))};
  };
  auto cell_text = [](Coord r, Coord c, uint32_t row, uint32_t col) {
    return std::string(c.fixed ? "$" : "") + model::column_letters(c.at(col)) + (r.fixed ? "$" : "") +
           std::to_string(r.at(row) + 1);
  };
  // A formula is a function of its cell.
  using Gen = std::function<std::string(uint32_t, uint32_t)>;
  std::function<Gen(int)> term = [&](int depth) -> Gen {
    std::string sheet = next(4) == 0 ? "Data!" : "";
    switch (next(depth > 0 ? 9 : 4)) {
      case 0:
      case 1: {
        Coord r = row_coord(), c = col_coord();
        return [=](uint32_t row, uint32_t col) { return sheet + cell_text(r, c, row, col); };
      }
      case 2: {
        Coord r1 = row_coord(), c1 = col_coord(), r2 = row_coord(), c2 = col_coord();
        return [=](uint32_t row, uint32_t col) {
          return "SUM(" + sheet + cell_text(r1, c1, row, col) + ":" + cell_text(r2, c2, row, col) + ")";
        };
      }
      case 3: {
        Coord c = col_coord();
        return [=](uint32_t, uint32_t col) {
          std::string letters = (c.fixed ? "$" : "") + model::column_letters(c.at(col));
          return "COUNT(" + sheet + letters + ":" + letters + ")";
        };
      }
      case 4: {
        Gen a = term(depth - 1), b = term(depth - 1);
        const char* op = next(2) ? "+" : "*";
        return [=](uint32_t row, uint32_t col) { return "(" + a(row, col) + op + b(row, col) + ")"; };
      }
      case 5: {
        Gen a = term(depth - 1), b = term(depth - 1), c = term(depth - 1);
        return [=](uint32_t row, uint32_t col) {
          return "IF(" + a(row, col) + ">5," + b(row, col) + "," + c(row, col) + ")";
        };
      }
      case 6: {
        Coord r = row_coord(), c = col_coord();
        const char* fn = next(2) ? "ROW(" : "COLUMN(";
        return [=](uint32_t row, uint32_t col) { return fn + sheet + cell_text(r, c, row, col) + ")*3"; };
      }
      case 7: {
        Coord c = col_coord();
        uint32_t k = 1 + next(9);
        return [=](uint32_t, uint32_t col) {
          std::string letters = (c.fixed ? "$" : "") + model::column_letters(c.at(col));
          return "INDEX(" + sheet + letters + ":" + letters + "," + std::to_string(k) + ")";
        };
      }
      default: {
        Gen a = term(depth - 1);
        return [=](uint32_t row, uint32_t col) { return "-" + a(row, col) + "&\"x\""; };
      }
    }
  };
  std::vector<std::pair<CellKey, std::string>> cells;
  for (int f = 0; f < 40; ++f) {
    Gen gen = term(2);
    for (int copy = 0; copy < 4; ++copy) {
      CellKey k{0, next(60), 12 + next(4)};
      if (std::any_of(cells.begin(), cells.end(), [&](const auto& c) { return c.first == k; })) continue;
      cells.emplace_back(k, gen(k.row, k.col));
      model::set_sheet_cell(book.model.sheets[0], k.row, k.col,
                            model::SheetCell{{}, SharedString(cells.back().second), {}});
    }
  }
  auto [state, result] = recalculate_all(book.model, std::nullopt);
  EXPECT_TRUE(result.cycles.empty());
  EXPECT_LT(state->shapes.size(), cells.size() / 2);  // the fills share trees
  model::ModelCellSource source(book.model);
  for (const auto& [k, text] : cells) {
    SCOPED_TRACE(text);
    ExprPtr own_tree = parse_formula(text).value();
    EvalContext ctx = new_context(source, 0, model::CellRef{k.row, k.col, false, false},
                                  std::nullopt, nullptr, nullptr, model::DateSystem::V1900);
    CellValue own = eval_scalar(*own_tree, ctx);
    if (own.is_empty()) own = CellValue::number(0);
    ASSERT_EQ(model::model_cell_value(book.model, 0, {k.row, k.col}), own);
    ReferenceList refs;
    formula_references(*state, k, *find_formula(*state, k), refs);
    std::vector<ReferencedRange> expect;
    for (const QualifiedRange& q : collect_reference_ranges(*own_tree)) {
      ReferencedRange r{q.sheet ? 1u : 0u, q.range};
      if (std::find(expect.begin(), expect.end(), r) == expect.end()) expect.push_back(r);
    }
    ASSERT_EQ(std::vector<ReferencedRange>(refs.begin(), refs.end()), expect);
  }
}

// Every cached value starts wrong; an edit re-evaluates only what reads the
// edited cell, directly or through other formulas, and nothing else.
TEST(Recalc, AnEditReevaluatesOnlyDependents) {
  Book book;
  const CellValue wrong = CellValue::number(-999);
  book.value(0, "A1", CellValue::number(1));
  book.value(0, "A2", CellValue::number(2));
  for (uint32_t r = 1; r <= 4; ++r) {
    std::string row = std::to_string(r);
    // B1 reads A1, B2.. read the cell above: one shared shape.
    book.formula(0, "B" + row, r == 1 ? "A1+1" : "B" + std::to_string(r - 1) + "+1", wrong);
    // C reads A2 down the column: only C1 reads an edited cell... none here.
    book.formula(0, "C" + row, "A" + std::to_string(r + 1) + "*2", wrong);
    book.formula(0, "D" + row, "$A$1*" + row, wrong);
  }
  book.formula(0, "E1", "SUM(A1:A2)", wrong);
  book.formula(0, "E2", "SUM(A2:A3)", wrong);
  book.formula(0, "F1", "OFFSET(A1,1,0)", wrong);
  book.formula(0, "F2", "OFFSET(A2,1,0)+B4", wrong);
  auto state = rebuild_graph(book.model);
  book.value(0, "A1", CellValue::number(10));
  auto r = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(names(r.changed), (std::vector<std::string>{"0!B1", "0!D1", "0!E1", "0!B2", "0!D2",
                                                        "0!F2", "0!B3", "0!D3", "0!B4", "0!D4"}));
  std::vector<std::pair<const char*, CellValue>> expect = {
      {"B1", CellValue::number(11)}, {"B4", CellValue::number(14)}, {"D3", CellValue::number(30)},
      {"E1", CellValue::number(12)}, {"F2", CellValue::number(14)}, {"C1", wrong},
      {"C4", wrong},                 {"E2", wrong},                 {"F1", wrong}};
  for (const auto& [a1, v] : expect) EXPECT_EQ(book.at(0, a1), v) << a1;
}

// Clearing the cell that blocked a spill runs the anchor again; a value
// typed into a spilled area is kept until something else runs the anchor.
TEST(Spill, ClearingTheBlockerRespills) {
  Book book;
  book.formula(0, "A1", "{1;2;3}");
  book.model.sheets[0].array_ranges[{0, 0}] = range("A1");
  book.value(0, "A3", CellValue::number(7));
  book.formula(0, "C1", "A1");
  auto [state, r1] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at(0, "A1"), CellValue::error(CellErrorCode::Spill));

  book.value(0, "A3", CellValue::number(8));  // still blocked
  auto r2 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A3")}}, std::nullopt);
  EXPECT_TRUE(r2.changed.empty());
  EXPECT_EQ(book.at(0, "A1"), CellValue::error(CellErrorCode::Spill));

  model::set_sheet_cell(book.model.sheets[0], 2, 0, model::SheetCell{});
  auto r3 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A3")}}, std::nullopt);
  EXPECT_EQ(names(r3.changed), (std::vector<std::string>{"0!A1", "0!C1", "0!A2", "0!A3"}));
  EXPECT_EQ(book.at(0, "A3"), CellValue::number(3));
  EXPECT_EQ(book.model.sheets[0].array_ranges.at({0, 0}), range("A1:A3"));
  EXPECT_TRUE(state->spill_areas.empty());

  book.value(0, "A2", CellValue::number(50));
  auto r4 = recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A2")}}, std::nullopt);
  EXPECT_TRUE(r4.changed.empty());
  EXPECT_EQ(book.at(0, "A2"), CellValue::number(50));
}

}  // namespace
}  // namespace cmx::formula
