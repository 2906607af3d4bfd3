// How references, ranges, whole rows and columns, formula trees and chart
// anchors follow row and column edits, and which references count as
// pointing into the edited sheet.
#include <gtest/gtest.h>

#include "formula/parser.h"
#include "formula/printer.h"
#include "ops/ref_shift.h"

namespace cmx::ops {
namespace {

using model::StructuralKind;

StructuralShift rows_in(uint32_t at, uint32_t count) { return {StructuralKind::InsertRows, at, count}; }
StructuralShift rows_out(uint32_t at, uint32_t count) { return {StructuralKind::DeleteRows, at, count}; }
StructuralShift cols_in(uint32_t at, uint32_t count) { return {StructuralKind::InsertColumns, at, count}; }
StructuralShift cols_out(uint32_t at, uint32_t count) { return {StructuralKind::DeleteColumns, at, count}; }

model::WorkbookModel sheets(std::initializer_list<const char*> names) {
  model::WorkbookModel model;
  for (const char* name : names) model.sheets.emplace_back().name = name;
  return model;
}

// The formula with every reference the test passes shifted, printed; "=" when
// nothing changed.
std::string shifted(const char* text, const StructuralShift& shift, const ShiftContext& context, uint32_t home) {
  auto parsed = formula::parse_formula(text);
  EXPECT_TRUE(parsed.has_value()) << text;
  if (!parsed) return "?";
  bool changed = false;
  ReferenceTest test = [&](const std::optional<std::string>& qualifier) {
    return sheet_ref_touches_edited_sheet(qualifier, home, context);
  };
  formula::ExprPtr out = shift_expr_refs(*parsed, shift, test, changed);
  if (!changed) {
    EXPECT_TRUE(out == *parsed) << "an unchanged tree is shared";
    return "=";
  }
  return formula::expr_to_formula(*out);
}

TEST(RefShift, FormulaTrees) {
  const model::WorkbookModel model = sheets({"Sheet1", "Sheet2", "Sheet3"});
  const ShiftContext on_first = make_shift_context(model, 0);
  const ShiftContext on_second = make_shift_context(model, 1);
  struct Case {
    const char* formula;
    StructuralShift shift;
    const ShiftContext* context;
    uint32_t home;
    const char* expected;
  };
  const Case cases[] = {
      {"A1", rows_in(0, 1), &on_first, 0, "A2"},
      {"$A$1", rows_in(0, 1), &on_first, 0, "$A$2"},
      {"A1048576", rows_in(0, 1), &on_first, 0, "#REF!"},
      {"SUM(A1:A1048576)", rows_in(0, 1), &on_first, 0, "SUM(#REF!)"},
      {"SUM(1:1048576)", rows_in(0, 1), &on_first, 0, "SUM(2:1048576)"},
      {"SUM(A1:A4)+A4", rows_in(4, 2), &on_first, 0, "="},
      {"A5+SUM(A1:A10)", rows_in(4, 2), &on_first, 0, "A7+SUM(A1:A12)"},
      {"A2", rows_out(2, 3), &on_first, 0, "="},
      {"A3+A5", rows_out(2, 3), &on_first, 0, "#REF!+#REF!"},
      {"A6", rows_out(2, 3), &on_first, 0, "A3"},
      {"SUM(A1:A10,A3:A5,A4:A8)", rows_out(2, 3), &on_first, 0, "SUM(A1:A7,#REF!,A3:A5)"},
      {"SUM(3:5)+SUM(2:6)", rows_out(2, 3), &on_first, 0, "SUM(#REF!)+SUM(2:3)"},
      {"SUM(2:4)", cols_in(0, 3), &on_first, 0, "="},
      {"SUM(B:D)", rows_in(0, 3), &on_first, 0, "="},
      {"SUM(B:D)", cols_out(2, 1), &on_first, 0, "SUM(B:C)"},
      {"SUM(XFA:XFD)", cols_in(0, 10), &on_first, 0, "SUM(XFD:XFD)"},
      {"A1+B2", rows_in(0, 0), &on_first, 0, "="},
      {"A1+B2", rows_out(0, 0), &on_first, 0, "="},
      // Other sheets, unknown sheets and spans.
      {"Sheet2!A1+Nope!A1", rows_in(0, 1), &on_first, 0, "="},
      {"A1", rows_in(0, 1), &on_first, 1, "="},
      {"Sheet1!A1+A1", rows_in(0, 1), &on_first, 1, "Sheet1!A2+A1"},
      {"SUM(Sheet1:Sheet3!A1)", rows_in(0, 1), &on_second, 0, "SUM(Sheet1:Sheet3!A2)"},
      {"SUM(Sheet3:Sheet1!A1)", rows_in(0, 1), &on_second, 0, "SUM(Sheet3:Sheet1!A2)"},
      {"SUM('Sheet1:Sheet3'!A1)", rows_out(0, 1), &on_second, 0, "SUM(#REF!)"},
      {"SUM(Sheet1:Sheet3!A1)", rows_in(0, 1), &on_second, 2, "SUM(Sheet1:Sheet3!A2)"},
      {"SUM(Sheet1:Sheet2!A1)", rows_in(0, 1), &on_first, 2, "SUM(Sheet1:Sheet2!A2)"},
      {"SUM(Sheet2:Sheet3!A1)", rows_in(0, 1), &on_first, 0, "="},
      {"sheet1!A1", rows_in(0, 1), &on_first, 1, "sheet1!A2"},
      // The range operator between two references of one sheet.
      {"SUM(Sheet1!B5:Sheet1!A1)", rows_in(0, 1), &on_first, 2, "SUM(Sheet1!A2:Sheet1!B6)"},
      {"SUM(Sheet1!B5:Sheet1!A1)", rows_in(0, 1), &on_second, 2, "="},
      {"SUM(A1 : A5)", rows_out(0, 1), &on_first, 0, "SUM(A1:(A4))"},
      {"SUM(A1 : A5)", rows_out(0, 5), &on_first, 0, "SUM(#REF!)"},
      {"SUM(A1:INDEX(B:B,3))", cols_in(0, 1), &on_first, 0, "SUM(B1:INDEX(C:C,3))"},
      // Columns.
      {"$C$3*2", cols_in(1, 2), &on_first, 0, "$E$3*2"},
      {"XFD1", cols_in(0, 1), &on_first, 0, "#REF!"},
      {"-(B1:D1)%", cols_out(1, 1), &on_first, 0, "-B1:C1%"},
      {"IF(A1,,\"A1\")", rows_in(0, 1), &on_first, 0, "IF(A2,,\"A1\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EXPECT_EQ(shifted(c.formula, c.shift, *c.context, c.home), c.expected);
  }
}

TEST(RefShift, OverflowingBandDeletesToTheEnd) {
  const auto outcome = shift_cell_ref({1048575, 0, false, false}, rows_out(5, 0xFFFFFFFFu));
  EXPECT_EQ(outcome.verdict, ShiftVerdict::Invalid);
  const auto kept = shift_range({{0, 0, false, false}, {9, 0, false, false}}, rows_out(5, 0xFFFFFFFFu));
  EXPECT_EQ(kept.verdict, ShiftVerdict::Moved);
  EXPECT_EQ(kept.value.end.row, 4u);
  // A column edit never moves a row range, whatever its bounds.
  EXPECT_EQ(shift_line_range({true, 0, 5, false, false}, cols_out(0, 3)).verdict, ShiftVerdict::Unchanged);
}

TEST(RefShift, NameReferenceTest) {
  const model::WorkbookModel two = sheets({"Sheet1", "Sheet2"});
  const ShiftContext context = make_shift_context(two, 0);
  EXPECT_TRUE(name_ref_touches_edited_sheet(std::nullopt, context, true, false));
  EXPECT_FALSE(name_ref_touches_edited_sheet(std::nullopt, context, false, false));
  EXPECT_TRUE(name_ref_touches_edited_sheet(std::nullopt, context, false, true));
  EXPECT_TRUE(name_ref_touches_edited_sheet(std::string("SHEET1"), context, false, false));
  EXPECT_FALSE(name_ref_touches_edited_sheet(std::string("Sheet2"), context, true, false));
}

model::TwoCellAnchor two_cell(model::ChartAnchorEditMode mode, uint32_t from_row, uint32_t to_row) {
  return {mode, {1, 10, from_row, 20}, {5, 30, to_row, 40}};
}

TEST(RefShift, ChartAnchors) {
  using Mode = model::ChartAnchorEditMode;
  struct Case {
    const char* name;
    model::ChartAnchor anchor;
    StructuralShift shift;
    AnchorVerdict verdict;
    model::ChartAnchor expected;
  };
  const model::OneCellAnchor last_row{{2, 5, 1048575, 6}, {100, 200}};
  const Case cases[] = {
      {"oneCell edit mode keeps the size", two_cell(Mode::OneCell, 9, 19), rows_in(11, 3), AnchorVerdict::Unchanged,
       two_cell(Mode::OneCell, 9, 19)},
      {"twoCell edit mode stretches", two_cell(Mode::TwoCell, 9, 19), rows_in(11, 3), AnchorVerdict::Moved,
       two_cell(Mode::TwoCell, 9, 22)},
      {"oneCell edit mode moves whole", two_cell(Mode::OneCell, 9, 19), rows_in(0, 3), AnchorVerdict::Moved,
       two_cell(Mode::OneCell, 12, 22)},
      {"absolute edit mode stays", two_cell(Mode::Absolute, 9, 19), rows_in(0, 3), AnchorVerdict::Unchanged,
       two_cell(Mode::Absolute, 9, 19)},
      {"delete pulls into the band start", two_cell(Mode::TwoCell, 9, 19), rows_out(5, 10), AnchorVerdict::Moved,
       two_cell(Mode::TwoCell, 5, 9)},
      {"last row pushed off", last_row, rows_in(0, 1), AnchorVerdict::LeavesGrid, last_row},
      {"absolute anchor", model::AbsoluteAnchor{{5, 6}, {7, 8}}, rows_in(0, 1), AnchorVerdict::Unchanged,
       model::AbsoluteAnchor{{5, 6}, {7, 8}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AnchorShift out = shift_anchor_for_structural_op(c.anchor, c.shift);
    EXPECT_EQ(out.verdict, c.verdict);
    if (c.verdict != AnchorVerdict::LeavesGrid) {
      EXPECT_TRUE(out.anchor == c.expected);
    }
  }
  // Offsets and the other axis never change.
  const AnchorShift columns = shift_anchor_for_structural_op(two_cell(Mode::TwoCell, 9, 19), cols_in(0, 2));
  ASSERT_EQ(columns.verdict, AnchorVerdict::Moved);
  const auto& moved = std::get<model::TwoCellAnchor>(columns.anchor);
  EXPECT_EQ(moved.from.col, 3u);
  EXPECT_EQ(moved.to.col, 7u);
  EXPECT_EQ(moved.from.row, 9u);
  EXPECT_EQ(moved.from.colOff, 10);
}

}  // namespace
}  // namespace cmx::ops
