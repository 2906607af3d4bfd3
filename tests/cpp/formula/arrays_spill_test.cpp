// Array-function results spilled by recalculation: their areas, their
// update after an edit of what they read, and cells that read the spill.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

namespace cmx::formula {
namespace {

using model::CellAddress;
using model::CellErrorCode;
using model::CellValue;

model::CellRef ref(std::string_view a1) { return model::parse_cell_ref(a1).value(); }

struct Book {
  model::WorkbookModel model;
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
  }
  // A formula entered as a spilling array formula: its area starts as its own cell.
  void array_formula(std::string_view a1, std::string_view text) {
    const model::CellRef r = ref(a1);
    model::set_sheet_cell(model.sheets[0], r.row, r.col,
                          model::SheetCell{CellValue(), SharedString(text), {}});
    model.sheets[0].array_ranges[{r.row, r.col}] = model::CellRange{r, r};
  }
  void formula(std::string_view a1, std::string_view text) {
    const model::CellRef r = ref(a1);
    model::set_sheet_cell(model.sheets[0], r.row, r.col,
                          model::SheetCell{CellValue(), SharedString(text), {}});
  }
  void value(std::string_view a1, CellValue v) {
    const model::CellRef r = ref(a1);
    model::set_sheet_cell(model.sheets[0], r.row, r.col, model::SheetCell{std::move(v), {}, {}});
  }
  CellValue at(std::string_view a1) const { return model::model_cell_value(model, 0, ref(a1)); }
  std::string area(std::string_view a1) const {
    const model::CellRef r = ref(a1);
    return model::format_range(model.sheets[0].array_ranges.at({r.row, r.col}));
  }
};

struct SpillCase {
  std::string_view formula;
  std::string_view area;
  std::vector<std::pair<std::string_view, CellValue>> cells;
};

TEST(ArraySpill, ResultsFillTheirAreas) {
  const SpillCase cases[] = {
      {"SEQUENCE(2,3)", "D1:F2", {{"D1", CellValue::number(1)}, {"F2", CellValue::number(6)}}},
      {"MAP(A1:A3,LAMBDA(v,v*2))", "D1:D3", {{"D1", CellValue::number(2)}, {"D3", CellValue::number(6)}}},
      {"LET(r,A1:A3,TRANSPOSE(r))", "D1:F1", {{"E1", CellValue::number(2)}, {"F1", CellValue::number(3)}}},
      {"IF(A1:A3>1,A1:A3,\"-\")", "D1:D3", {{"D1", CellValue::text("-")}, {"D2", CellValue::number(2)}}},
      {"INDEX(A1:B3,0,2)", "D1:D3", {{"D1", CellValue::number(10)}, {"D3", CellValue::number(30)}}},
      {"SCAN(0,A1:A3,LAMBDA(a,b,a+b))", "D1:D3", {{"D3", CellValue::number(6)}}},
      {"BYROW(A1:B3,LAMBDA(r,SUM(r)))", "D1:D3", {{"D1", CellValue::number(11)}, {"D3", CellValue::number(33)}}},
      {"REDUCE(0,A1:A3,LAMBDA(a,b,a+b))", "D1", {{"D1", CellValue::number(6)}}},
      {"LAMBDA(v,v)", "D1", {{"D1", CellValue::error(CellErrorCode::Value)}}},
  };
  for (const SpillCase& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    Book book;
    for (int i = 1; i <= 3; ++i) {
      book.value("A" + std::to_string(i), CellValue::number(i));
      book.value("B" + std::to_string(i), CellValue::number(i * 10));
    }
    book.array_formula("D1", c.formula);
    recalculate_all(book.model, std::nullopt);
    EXPECT_EQ(book.area("D1"), c.area);
    for (const auto& [a1, want] : c.cells) EXPECT_EQ(book.at(a1), want) << a1;
  }
}

TEST(ArraySpill, FollowsEditsAndFeedsReaders) {
  Book book;
  book.value("A1", CellValue::number(2));
  book.array_formula("C1", "SEQUENCE(A1)");
  book.formula("E1", "SUM(ANCHORARRAY(C1))");
  book.formula("E2", "LET(n,C1:C5,COUNT(n))");
  auto [state, first] = recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.area("C1"), "C1:C2");
  EXPECT_EQ(book.at("E1"), CellValue::number(3));
  EXPECT_EQ(book.at("E2"), CellValue::number(2));

  // A longer sequence spills further; its readers follow.
  book.value("A1", CellValue::number(4));
  recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(book.area("C1"), "C1:C4");
  EXPECT_EQ(book.at("C4"), CellValue::number(4));
  EXPECT_EQ(book.at("E1"), CellValue::number(10));
  EXPECT_EQ(book.at("E2"), CellValue::number(4));

  // A shorter one clears what it no longer covers.
  book.value("A1", CellValue::number(2));
  recalculate_after_edit(book.model, *state, {CellAddress{0, ref("A1")}}, std::nullopt);
  EXPECT_EQ(book.area("C1"), "C1:C2");
  EXPECT_EQ(book.at("C2"), CellValue::number(2));
  EXPECT_EQ(book.at("C3"), CellValue());
  EXPECT_EQ(book.at("E1"), CellValue::number(3));
}

TEST(ArraySpill, BlockedSpill) {
  Book book;
  book.array_formula("A1", "MAKEARRAY(3,1,LAMBDA(r,c,r))");
  book.value("A3", CellValue::number(7));
  recalculate_all(book.model, std::nullopt);
  EXPECT_EQ(book.at("A1"), CellValue::error(CellErrorCode::Spill));
  EXPECT_EQ(book.at("A3"), CellValue::number(7));
}

}  // namespace
}  // namespace cmx::formula
