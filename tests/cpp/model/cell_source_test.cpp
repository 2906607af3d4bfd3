// The model's used range and its nine CellSource reads.
#include <gtest/gtest.h>

#include "model/cell_source.h"

namespace cmx::model {
namespace {

void put(SheetModel& sheet, const char* ref, SheetCell cell) {
  CellRef at = parse_cell_ref(ref).value();
  sheet.cells[CellKey{at.row, at.col}] = std::move(cell);
}

TEST(SheetUsedRange, CellsAndHyperlinksOnly) {
  struct Case {
    const char* name;
    std::initializer_list<const char*> cells;
    std::initializer_list<const char*> links;
    std::optional<const char*> used;
  };
  const Case cases[] = {
      {"nothing", {}, {}, std::nullopt},
      {"two cells", {"B2", "D5"}, {}, "B2:D5"},
      {"columns tracked apart from rows", {"C1", "A3"}, {}, "A1:C3"},
      {"only a hyperlink", {}, {"C10"}, "C10"},
      {"hyperlink widens", {"B2"}, {"A5:E6"}, "A2:E6"},
      {"a style-only cell counts", {"A1"}, {}, "A1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetModel sheet;
    for (const char* ref : c.cells) put(sheet, ref, SheetCell{CellValue{}, std::nullopt, 4u});
    for (const char* ref : c.links) sheet.hyperlinks.push_back(SheetHyperlink{parse_range(ref).value()});
    auto used = sheet_used_range(sheet);
    ASSERT_EQ(used.has_value(), c.used.has_value());
    if (used) {
      EXPECT_EQ(format_range(*used), *c.used);
    }
  }
  SheetModel merged_only;
  merged_only.merges.push_back(parse_range("E5:F6").value());
  merged_only.col_widths[3] = 20.0;
  merged_only.array_ranges[CellKey{2, 2}] = parse_range("C3:D4").value();
  EXPECT_FALSE(sheet_used_range(merged_only).has_value());
}

WorkbookModel sample_model() {
  WorkbookModel model;
  model.sheets.resize(3);
  model.sheets[0].name = "First";
  model.sheets[1].name = "Second";
  model.sheets[2].name = "Third";
  put(model.sheets[0], "B2", SheetCell{CellValue::text("hello"), std::nullopt, std::nullopt});
  put(model.sheets[0], "D5", SheetCell{CellValue::number(2), SharedString("1+1"), std::nullopt});
  put(model.sheets[1], "A1", SheetCell{CellValue{}, std::nullopt, 1u});
  model.sheets[0].array_ranges[CellKey{4, 3}] = parse_range("D5:E6").value();
  model.defined_names = {{"Rate", "0.1", std::nullopt, false}, {"Local", "2", 1u, false}};
  WorkbookTable sales;
  sales.name = "Sales";
  sales.sheet = 2;
  model.tables.push_back(sales);
  return model;
}

TEST(ModelCellSource, NineSlots) {
  WorkbookModel model = sample_model();
  ModelCellSource source(model);
  const CellSource& reads = source;
  CellRef b2 = parse_cell_ref("B2").value();
  CellRef d5 = parse_cell_ref("$D$5").value();  // flags never affect a lookup

  // Slot 0: an owned copy.
  CellValue copy = reads.cell_value(0, b2);
  EXPECT_EQ(copy.as_text(), "hello");
  copy = CellValue::number(9);
  EXPECT_EQ(model.sheets[0].cells.at(CellKey{1, 1}).value.as_text(), "hello");
  // Slot 1: lent by reference.
  EXPECT_EQ(&reads.peek_cell_value(0, b2), &model.sheets[0].cells.at(CellKey{1, 1}).value);
  EXPECT_TRUE(reads.peek_cell_value(0, parse_cell_ref("Z9").value()).is_empty());
  // Slot 2.
  EXPECT_EQ(reads.cell_formula(0, d5), "1+1");
  EXPECT_FALSE(reads.cell_formula(0, b2).has_value());
  // Slot 3.
  EXPECT_EQ(reads.sheet_index("SECOND"), 1u);
  EXPECT_FALSE(reads.sheet_index("Fourth").has_value());
  // Slot 4.
  EXPECT_EQ(reads.defined_name(1, "local"), &model.defined_names[1]);
  EXPECT_EQ(reads.defined_name(0, "Local"), nullptr);
  EXPECT_EQ(reads.defined_name(2, "RATE"), &model.defined_names[0]);
  // Slot 5.
  EXPECT_EQ(reads.table("SALES"), &model.tables[0]);
  EXPECT_EQ(reads.table("Sale"), nullptr);
  // Slots 6 and 7.
  EXPECT_EQ(reads.used_rows(0), 5u);
  EXPECT_EQ(reads.used_cols(0), 4u);
  EXPECT_EQ(reads.used_rows(1), 1u);  // a style-only A1
  EXPECT_EQ(reads.used_cols(1), 1u);
  EXPECT_EQ(reads.used_rows(2), 0u);
  EXPECT_EQ(reads.used_cols(2), 0u);
  // Slot 8.
  EXPECT_EQ(reads.array_range(0, d5), parse_range("D5:E6").value());
  EXPECT_FALSE(reads.array_range(0, b2).has_value());
}

TEST(ModelCellSource, SheetPastTheEndIsMissingEverywhere) {
  WorkbookModel model = sample_model();
  ModelCellSource reads(model);
  CellRef b2 = parse_cell_ref("B2").value();
  for (uint32_t sheet : {3u, 7u, UINT32_MAX}) {
    SCOPED_TRACE(sheet);
    EXPECT_TRUE(reads.cell_value(sheet, b2).is_empty());
    EXPECT_TRUE(reads.peek_cell_value(sheet, b2).is_empty());
    EXPECT_FALSE(reads.cell_formula(sheet, b2).has_value());
    EXPECT_FALSE(reads.array_range(sheet, b2).has_value());
    EXPECT_EQ(reads.used_rows(sheet), 0u);
    EXPECT_EQ(reads.used_cols(sheet), 0u);
    EXPECT_EQ(reads.defined_name(sheet, "Local"), nullptr);
    EXPECT_EQ(reads.defined_name(sheet, "Rate"), &model.defined_names[0]);
  }
}

}  // namespace
}  // namespace cmx::model
