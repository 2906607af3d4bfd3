// The model services the formula engine relies on that live beside the
// model records: writing a cell record into a sheet.
#include <gtest/gtest.h>

#include "model/sheet_cells.h"

namespace cmx::model {
namespace {

TEST(SetSheetCell, PutsReplacesAndRemoves) {
  SheetModel sheet;
  set_sheet_cell(sheet, 4, 2, SheetCell{CellValue::number(1), std::nullopt, std::nullopt});
  ASSERT_EQ(sheet.cells.size(), 1u);
  EXPECT_EQ(sheet.cells.at(CellKey{4, 2}).value, CellValue::number(1));

  // Replacing keeps one record, with the new contents only.
  set_sheet_cell(sheet, 4, 2, SheetCell{CellValue::text("x"), SharedString("A1+1"), std::nullopt});
  ASSERT_EQ(sheet.cells.size(), 1u);
  EXPECT_EQ(sheet.cells.at(CellKey{4, 2}).value, CellValue::text("x"));
  EXPECT_EQ(sheet.cells.at(CellKey{4, 2}).formula->view(), "A1+1");

  // A formula or a style alone keeps the record although its value is Empty.
  set_sheet_cell(sheet, 0, 0, SheetCell{CellValue(), std::nullopt, 3u});
  set_sheet_cell(sheet, 0, 1, SheetCell{CellValue(), SharedString("NOW()"), std::nullopt});
  EXPECT_EQ(sheet.cells.size(), 3u);

  // An empty record removes the cell, and is a no-op where there is none.
  set_sheet_cell(sheet, 4, 2, SheetCell{});
  set_sheet_cell(sheet, 9, 9, SheetCell{});
  EXPECT_EQ(sheet.cells.size(), 2u);
  EXPECT_EQ(sheet.cells.count(CellKey{4, 2}), 0u);
  EXPECT_EQ(sheet.cells.count(CellKey{9, 9}), 0u);
}

}  // namespace
}  // namespace cmx::model
