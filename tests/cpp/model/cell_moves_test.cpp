// Moving cells and array anchors for row and column insertions and deletions.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "model/cell_moves.h"

namespace cmx::model {
namespace {

SheetCell number_cell(double value) { return SheetCell{CellValue::number(value), std::nullopt, std::nullopt}; }

CellKey at(const char* a1) {
  CellRef ref = parse_cell_ref(a1).value();
  return CellKey{ref.row, ref.col};
}

std::string a1(CellKey key) { return format_cell_ref(CellRef{key.row, key.col, false, false}); }

// The cells as "A1=1" texts in map order, numbers as their value.
std::vector<std::string> listing(const CellMap& cells) {
  std::vector<std::string> out;
  for (const auto& [key, cell] : cells) out.push_back(a1(key) + "=" + std::to_string(int(cell.value.as_number())));
  return out;
}

SheetModel sheet_with(const std::vector<std::pair<CellKey, double>>& cells) {
  SheetModel sheet;
  for (const auto& [key, value] : cells) sheet.cells.insert_or_assign(key, number_cell(value));
  return sheet;
}

constexpr uint32_t kLastRow = MAX_ROWS - 1;
constexpr uint32_t kLastCol = MAX_COLS - 1;

TEST(ShiftCellsForStructuralOp, Table) {
  struct Case {
    const char* name;
    std::vector<std::pair<CellKey, double>> before;
    StructuralShift shift;
    std::vector<std::string> after;
    std::vector<std::string> removed;
  };
  const Case cases[] = {
      // main paths
      {"insert rows inside", {{at("A1"), 1}, {at("A4"), 2}, {at("B10"), 3}}, {StructuralKind::InsertRows, 3, 2},
       {"A1=1", "A6=2", "B12=3"}, {}},
      {"delete rows band", {{at("A2"), 1}, {at("A4"), 2}, {at("A7"), 3}}, {StructuralKind::DeleteRows, 2, 3},
       {"A2=1", "A4=3"}, {"A4"}},
      {"delete columns B:C",
       {{at("A1"), 1}, {at("B1"), 2}, {at("D1"), 3}, {at("A2"), 4}, {at("C2"), 5}, {at("E2"), 6}},
       {StructuralKind::DeleteColumns, 1, 2},
       {"A1=1", "B1=3", "A2=4", "C2=6"}, {"B1", "C2"}},
      {"insert columns interleaving rows", {{at("A1"), 1}, {at("C1"), 2}, {at("A2"), 3}, {at("B2"), 4}},
       {StructuralKind::InsertColumns, 1, 3}, {"A1=1", "F1=2", "A2=3", "E2=4"}, {}},
      // edges of the grid
      {"insert rows pushes the last rows off",
       {{at("A1"), 1}, {CellKey{kLastRow - 1, 0}, 2}, {CellKey{kLastRow, 3}, 3}},
       {StructuralKind::InsertRows, 0, 5}, {"A6=1"}, {"A1048575", "D1048576"}},
      {"insert rows at the last row", {{CellKey{kLastRow, 0}, 1}, {at("A2"), 2}},
       {StructuralKind::InsertRows, kLastRow, 1}, {"A2=2"}, {"A1048576"}},
      {"insert one row keeps row 1048575", {{CellKey{kLastRow - 1, 0}, 1}},
       {StructuralKind::InsertRows, 0, 1}, {"A1048576=1"}, {}},
      {"insert columns pushes XFD off", {{CellKey{0, kLastCol}, 1}, {CellKey{0, kLastCol - 1}, 2}},
       {StructuralKind::InsertColumns, kLastCol - 1, 1}, {"XFD1=2"}, {"XFD1"}},
      {"insert columns at A", {{at("A1"), 1}, {at("A2"), 2}}, {StructuralKind::InsertColumns, 0, 2},
       {"C1=1", "C2=2"}, {}},
      {"delete the last row", {{CellKey{kLastRow, 0}, 1}, {at("A1"), 2}}, {StructuralKind::DeleteRows, kLastRow, 1},
       {"A1=2"}, {"A1048576"}},
      {"delete a band reaching past the grid", {{at("A1"), 1}, {at("A5"), 2}},
       {StructuralKind::DeleteRows, 2, UINT32_MAX}, {"A1=1"}, {"A5"}},
      {"delete columns with saturating end", {{at("A1"), 1}, {at("Z1"), 2}},
       {StructuralKind::DeleteColumns, UINT32_MAX, UINT32_MAX}, {"A1=1", "Z1=2"}, {}},
      {"delete row 1", {{at("A1"), 1}, {at("B2"), 2}, {at("C3"), 3}}, {StructuralKind::DeleteRows, 0, 1},
       {"B1=2", "C2=3"}, {"A1"}},
      // nothing to do
      {"count 0", {{at("A1"), 1}, {at("B2"), 2}}, {StructuralKind::InsertRows, 0, 0}, {"A1=1", "B2=2"}, {}},
      {"insert below every cell", {{at("A1"), 1}, {at("B2"), 2}}, {StructuralKind::InsertRows, 9, 4},
       {"A1=1", "B2=2"}, {}},
      {"delete right of every cell", {{at("A1"), 1}, {at("B2"), 2}}, {StructuralKind::DeleteColumns, 5, 4},
       {"A1=1", "B2=2"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetModel sheet = sheet_with(c.before);
    auto removed = shift_cells_for_structural_op(sheet, c.shift);
    EXPECT_EQ(listing(sheet.cells), c.after);
    std::vector<std::string> removed_names;
    for (const auto& [ref, cell] : removed) {
      EXPECT_FALSE(ref.abs_row || ref.abs_col);
      removed_names.push_back(format_cell_ref(ref));
    }
    EXPECT_EQ(removed_names, c.removed);
  }
}

TEST(ShiftCellsForStructuralOp, EmptyRecordsAreDroppedNotReturned) {
  struct Case {
    const char* name;
    StructuralShift shift;
  };
  const Case cases[] = {
      {"insert rows", {StructuralKind::InsertRows, 0, 2}},
      {"delete rows", {StructuralKind::DeleteRows, 0, 3}},
      {"insert columns", {StructuralKind::InsertColumns, 0, 1}},
      {"delete columns", {StructuralKind::DeleteColumns, 0, 1}},
      {"count 0 columns", {StructuralKind::InsertColumns, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetModel sheet = sheet_with({{at("B3"), 7}});
    sheet.cells.insert_or_assign(at("A1"), SheetCell{});
    sheet.cells.insert_or_assign(at("C5"), SheetCell{});
    auto removed = shift_cells_for_structural_op(sheet, c.shift);
    for (const auto& [ref, cell] : removed) EXPECT_FALSE(is_empty_record(cell)) << format_cell_ref(ref);
    for (const auto& [key, cell] : sheet.cells) EXPECT_FALSE(is_empty_record(cell)) << a1(key);
    EXPECT_EQ(sheet.cells.size() + removed.size(), 1u);
  }
}

TEST(ShiftCellsForStructuralOp, ArrayRangesMoveWithTheirAnchor) {
  struct Case {
    const char* name;
    CellKey anchor;
    CellRange range;
    StructuralShift shift;
    std::optional<CellKey> new_anchor;
    std::string new_range;
  };
  auto range = [](const char* text) { return parse_range(text).value(); };
  const Case cases[] = {
      {"rows above", at("B2"), range("B2:C5"), {StructuralKind::InsertRows, 0, 3}, at("B5"), "B5:C8"},
      {"rows inside keep size", at("B2"), range("B2:C5"), {StructuralKind::InsertRows, 3, 2}, at("B2"), "B2:C5"},
      {"end clamped", CellKey{1048500, 0}, CellRange{{1048500, 0}, {1048599, 0}}, {StructuralKind::InsertRows, 0, 10},
       CellKey{1048510, 0}, "A1048511:A1048576"},
      {"columns clamped", CellKey{0, 16380}, CellRange{{0, 16380}, {0, 16383}}, {StructuralKind::InsertColumns, 0, 2},
       CellKey{0, 16382}, "XFC1:XFD1"},
      {"anchor deleted", at("B2"), range("B2:C5"), {StructuralKind::DeleteRows, 1, 1}, std::nullopt, ""},
      {"inverted range is one cell", at("C3"), CellRange{{5, 5}, {1, 1}}, {StructuralKind::DeleteColumns, 0, 1},
       at("B3"), "B3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetModel sheet;
    sheet.array_ranges.emplace(c.anchor, c.range);
    (void)shift_cells_for_structural_op(sheet, c.shift);
    if (!c.new_anchor) {
      EXPECT_TRUE(sheet.array_ranges.empty());
      continue;
    }
    ASSERT_EQ(sheet.array_ranges.size(), 1u);
    EXPECT_EQ(a1(sheet.array_ranges.begin()->first), a1(*c.new_anchor));
    EXPECT_EQ(format_range(sheet.array_ranges.begin()->second), c.new_range);
  }
}

// Random sheets and edits against a model that moves every key on its own.
TEST(ShiftCellsForStructuralOp, MatchesKeyByKeyModel) {
  std::mt19937 rng(18);
  const StructuralKind kinds[] = {StructuralKind::InsertRows, StructuralKind::DeleteRows,
                                  StructuralKind::InsertColumns, StructuralKind::DeleteColumns};
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    // Keys near both ends of the grid so that pushes past the edge happen.
    auto coord = [&](uint32_t limit) {
      uint32_t v = rng() % 12;
      return rng() % 2 ? v : limit - 1 - v;
    };
    SheetModel sheet;
    std::map<CellKey, double> expected_cells;
    const int n = static_cast<int>(rng() % 30);
    for (int i = 0; i < n; ++i) {
      const CellKey key{coord(MAX_ROWS), coord(MAX_COLS)};
      sheet.cells.insert_or_assign(key, number_cell(i));
    }
    const StructuralShift shift{kinds[rng() % 4], coord(rng() % 2 ? MAX_ROWS : MAX_COLS),
                                  static_cast<uint32_t>(rng() % 14)};
    std::vector<std::string> expected_removed;
    for (const auto& [key, cell] : sheet.cells) {
      const bool rows = shift.kind == StructuralKind::InsertRows || shift.kind == StructuralKind::DeleteRows;
      const int64_t index = rows ? key.row : key.col;
      const int64_t limit = rows ? MAX_ROWS : MAX_COLS;
      int64_t moved = index;
      bool gone = false;
      if (index >= shift.at) {
        if (shift.kind == StructuralKind::InsertRows || shift.kind == StructuralKind::InsertColumns) {
          moved = index + shift.count;
          gone = moved >= limit;
        } else {
          gone = index < int64_t{shift.at} + shift.count;
          moved = index - shift.count;
        }
      }
      if (gone) {
        expected_removed.push_back(a1(key));
        continue;
      }
      CellKey to = rows ? CellKey{uint32_t(moved), key.col} : CellKey{key.row, uint32_t(moved)};
      expected_cells[to] = cell.value.as_number();
    }
    auto removed = shift_cells_for_structural_op(sheet, shift);
    std::vector<std::string> removed_names;
    for (const auto& [ref, cell] : removed) removed_names.push_back(format_cell_ref(ref));
    EXPECT_EQ(removed_names, expected_removed);
    std::map<CellKey, double> got;
    for (const auto& [key, cell] : sheet.cells) got[key] = cell.value.as_number();
    EXPECT_EQ(got, expected_cells);
  }
}

}  // namespace
}  // namespace cmx::model
