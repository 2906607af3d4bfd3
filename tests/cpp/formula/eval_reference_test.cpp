// The reference built-ins: one table of cases per function, their range
// forms feeding SUM, ROWS and the range operator, and ranges ending in a
// call through a recalculation of a workbook with cached values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eval_harness.h"
#include "formula/recalc.h"

namespace cmx::formula {
namespace {

using namespace testing;

const CellValue kValue = err(CellErrorCode::Value);
const CellValue kRef = err(CellErrorCode::Ref);
const CellValue kNa = err(CellErrorCode::NA);
const CellValue kDiv0 = err(CellErrorCode::Div0);

void set_formula(Workbook& wb, uint32_t sheet, std::string_view a1, std::string_view text) {
  model::CellRef ref = model::parse_cell_ref(a1).value();
  model::set_sheet_cell(wb.model.sheets[sheet], ref.row, ref.col,
                        model::SheetCell{CellValue(), SharedString(text), std::nullopt});
}

// Sheet1!A1:C3 holds 1..9 row by row; D1 a formula, D2 an array formula's
// anchor. Sheet2 holds the text other in A1 and 5 in B2. Rate is a name.
void fill(Workbook& wb) {
  const char* columns[] = {"A", "B", "C"};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      wb.set(0, columns[c] + std::to_string(r + 1), num(3 * r + c + 1));
    }
  }
  set_formula(wb, 0, "D1", "SUM(B1:B3)");
  set_formula(wb, 0, "D2", "A1:A3*2");
  wb.model.sheets[0].array_ranges[{1, 3}] = model::parse_range("D2:D4").value();
  wb.set(1, "A1", txt("other"));
  wb.set(1, "B2", num(5));
  wb.define("Rate", "Sheet1!$A$1");
}

TEST(Reference, Index) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"INDEX(A1:C1,2)", num(2)},
      {"INDEX(A1:A3,2)", num(4)},
      {"INDEX(A1,1)", num(1)},
      {"INDEX(A1:B2,2)", kRef},
      {"INDEX(A1:C3,2,3)", num(6)},
      {"INDEX(A1:C3,4,1)", kRef},
      {"INDEX(A1:C3,1,4)", kRef},
      {"INDEX(A1:C3,0,1)", kRef},
      {"SUM(INDEX(A1:C3,0,1))", num(12)},
      {"INDEX(A1:C3,-1,1)", kRef},
      {"A1:INDEX(A1:C3,-1,1)", kValue},  // the range form's own code
      {"INDEX({1,2,3},2)", kValue},
      {"INDEX(A1:C3,,2)", kRef},
      {"SUM(INDEX(A1:C3,,2))", num(15)},
      {"SUM(INDEX(A1:C3,3,0))", num(24)},
      {"SUM(INDEX(A1:C3,0,0))", num(45)},
      {"SUM(INDEX(A1:C1,0))", num(6)},
      {"SUM(INDEX(A1:C1,4))", kRef},
      {"INDEX(A:A,1048576)", CellValue()},
      {"INDEX(A:A,1048577)", kRef},
      {"ROWS(INDEX(A:C,0,2))", num(1048576)},
      {"COLUMNS(INDEX(1:3,2,0))", num(16384)},
      {"INDEX(INDEX(A1:C3,0,2),3)", num(8)},
      {"INDEX(Sheet2!A1:B2,2,2)", num(5)},
      {"INDEX(1/0,1)", kDiv0},
      {"INDEX(5,1)", kValue},
      {"INDEX(A1:C3,1/0)", kDiv0},
      {"INDEX(A1:C3,1,1/0)", kDiv0},
      {"INDEX(A1:C3,\"2\",\"1\")", num(4)},
      {"INDEX(A1:C3)", kValue},
      {"INDEX(A1:C3,1,1,1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Reference, Offset) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"OFFSET(A1,1,1)", num(5)},
      {"OFFSET(C3,-2,-2)", num(1)},
      {"OFFSET(A1,0,0,2,1)", kValue},
      {"SUM(OFFSET(A1,0,0,2,1))", num(5)},
      {"SUM(OFFSET(C3,0,0,-2,-2))", num(28)},  // negative sizes reach back
      {"SUM(OFFSET(A1:C3,1,1))", num(28)},     // the size of the reference
      {"OFFSET(A1,1,1,,)", num(5)},
      {"ROWS(OFFSET(A1,0,0,3))", num(3)},
      {"COLUMNS(OFFSET(A1:B2,1,1,,3))", num(3)},
      {"OFFSET(OFFSET(A1,1,0),1,0)", num(7)},
      {"OFFSET(Sheet2!A1,1,1)", num(5)},
      // Out of the grid, or of no size.
      {"OFFSET(A1,-1,0)", kRef},
      {"OFFSET(A1,0,-1)", kRef},
      {"OFFSET(A1,1048576,0)", kRef},
      {"OFFSET(A1,0,16384)", kRef},
      {"OFFSET(XFD1,0,1)", kRef},
      {"OFFSET(A1048576,1,0)", kRef},
      {"OFFSET(A1,1048575,16383)", CellValue()},
      {"SUM(OFFSET(A1,1048575,0,2))", kRef},
      {"OFFSET(A1,0,0,0)", kRef},
      {"OFFSET(A1,0,0,1,0)", kRef},
      {"OFFSET(A1,-9.9E+300,0)", kRef},
      {"ROWS(OFFSET(A:A,0,1))", num(1048576)},
      {"OFFSET(5,1,1)", kValue},
      {"OFFSET(1/0,1,1)", kDiv0},
      {"OFFSET(A1,\"x\",0)", kValue},
      {"OFFSET(A1,0,1/0)", kDiv0},
      {"OFFSET(A1,0)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Reference, Indirect) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"INDIRECT(\"B2\")", num(5)},
      {"INDIRECT(\"$B$2\",TRUE)", num(5)},
      {"INDIRECT(\"B2\",1)", num(5)},
      {"INDIRECT(\"B2\",FALSE)", kRef},
      {"INDIRECT(\"R2C2\",FALSE)", kRef},
      {"INDIRECT(\"B2\",)", kRef},
      {"INDIRECT(\"B2\",1/0)", kDiv0},
      {"INDIRECT(\"A\"&3)", num(7)},
      {"INDIRECT(\"A1:B2\")", num(1)},  // the top-left cell, whatever the size
      {"INDIRECT(\"Sheet2!B2\")", num(5)},
      {"INDIRECT(\"'Sheet2'!A1\")", txt("other")},
      {"INDIRECT(\"sheet2!A1\")", txt("other")},
      {"INDIRECT(\"NoSuchSheet!A1\")", kRef},
      {"INDIRECT(5)", kRef},
      {"INDIRECT(\"\")", kRef},
      {"INDIRECT(\"A1+1\")", kRef},
      {"INDIRECT(\"SUM(A1)\")", kRef},
      {"INDIRECT(\"A1:INDEX(A:A,2)\")", kRef},
      {"INDIRECT(\"Rate\")", kRef},  // names are not followed
      {"INDIRECT(\"A1:\")", kRef},
      {"INDIRECT(1/0)", kDiv0},
      {"INDIRECT()", kValue},
      {"SUM(INDIRECT(\"A1:C1\"))", num(6)},
      {"SUM(INDIRECT(\"A:A\"))", num(12)},
      {"SUM(INDIRECT(\"2:2\"))", num(15)},
      {"SUM(INDIRECT(\"Sheet2!A1:B2\"))", num(5)},
      {"ROWS(INDIRECT(\"A1:A10\"))", num(10)},
      {"INDEX(INDIRECT(\"A1:C3\"),3,2)", num(8)},
  };
  run_cases(wb, cases);
  // Without a sheet the text refers to the formula's own sheet.
  EXPECT_TRUE(same_value(wb.eval("INDIRECT(\"A1\")", 1), txt("other")));
  EXPECT_TRUE(same_value(wb.eval("INDIRECT(\"Sheet1!A1\")", 1), num(1)));
}

TEST(Reference, RangesEndingInCalls) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"SUM(A1:INDEX(A:A,3))", num(12)},
      {"SUM(INDEX(A:A,2):A3)", num(11)},
      {"A1:INDEX(A:A,1)", num(1)},  // a one-cell range has a value
      {"A1:OFFSET(A1,1,0)", kValue},
      {"SUM(A1:OFFSET(A1,1,1))", num(12)},
      {"SUM(OFFSET(A1,0,0,2):INDIRECT(\"C3\"))", num(45)},
      {"SUM(B2:index(a:a,1))", num(12)},  // the name in any case
      {"ROWS(A1:INDEX(A:A,10))", num(10)},
      {"SUM(A1:INDEX(B:B,0,2))", kRef},
      {"SUM(A1:INDIRECT(\"Sheet2!B2\"))", kRef},  // two sheets
      {"SUM(A1:_xlfn.INDEX(A:A,2))", kRef},  // only the plain name is a range form
      {"SUM(A1:A2:INDEX(C:C,3))", num(45)},
  };
  run_cases(wb, cases);
}

TEST(Reference, RowsAndColumns) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"ROW()", num(100)},  // the harness evaluates in Z100
      {"COLUMN()", num(26)},
      {"ROW(C5:D9)", num(5)},
      {"COLUMN(C5:D9)", num(3)},
      {"ROW(Sheet2!B7)", num(7)},
      {"ROW(OFFSET(A1,4,0))", num(5)},
      {"COLUMN(INDEX(A1:C3,1,3))", num(3)},
      {"ROW(5)", kValue},
      {"ROW(1/0)", kValue},
      {"ROW(A1,B1)", kValue},
      {"ROWS(A1:A10)", num(10)},
      {"ROWS(A:A)", num(1048576)},
      {"COLUMNS(1:1)", num(16384)},
      {"COLUMNS(A1:C10)", num(3)},
      {"ROWS(5)", kValue},
      {"ROWS(1/0)", kDiv0},
      {"ROWS()", kValue},
      {"COLUMNS(A1,B1)", kValue},
  };
  run_cases(wb, cases);
  EvalContext nowhere = wb.context();
  nowhere.current_cell.reset();
  EXPECT_TRUE(same_value(wb.eval("ROW()", nowhere), kValue));
  EXPECT_TRUE(same_value(wb.eval("COLUMN()", nowhere), kValue));
}

TEST(Reference, Choose) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"CHOOSE(2,\"a\",\"b\",\"c\")", txt("b")},
      {"CHOOSE(2.9,\"a\",\"b\")", txt("b")},
      {"CHOOSE(\"2\",\"a\",\"b\")", txt("b")},
      {"CHOOSE(0,\"a\")", kValue},
      {"CHOOSE(3,\"a\",\"b\")", kValue},
      {"CHOOSE(-1,\"a\")", kValue},
      {"CHOOSE(1,1/0,2)", kDiv0},
      {"CHOOSE(2,1/0,2)", num(2)},
      {"CHOOSE(2,\"a\",)", CellValue()},
      {"CHOOSE(1/0,1)", kDiv0},
      {"CHOOSE(1)", kValue},
      {"CHOOSE(3,A1,B1,C1)", num(3)},
  };
  run_cases(wb, cases);
}

TEST(Reference, Address) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"ADDRESS(2,3)", txt("$C$2")},
      {"ADDRESS(2,3,2)", txt("C$2")},
      {"ADDRESS(2,3,3)", txt("$C2")},
      {"ADDRESS(2,3,4)", txt("C2")},
      {"ADDRESS(2.9,3.9)", txt("$C$2")},
      {"ADDRESS(1,27)", txt("$AA$1")},
      {"ADDRESS(1048576,16384)", txt("$XFD$1048576")},
      {"ADDRESS(1048577,1)", kValue},
      {"ADDRESS(1,16385)", kValue},
      {"ADDRESS(0,1)", kValue},
      {"ADDRESS(0,0,1,FALSE)", txt("R0C0")},
      {"ADDRESS(-2,5,4,FALSE)", txt("R[-2]C[5]")},
      {"ADDRESS(0,3,4,FALSE)", txt("RC[3]")},
      {"ADDRESS(2,3,2,FALSE)", txt("R2C[3]")},
      {"ADDRESS(2,0,3,FALSE)", txt("R[2]C0")},
      {"ADDRESS(1,1,5)", kValue},
      {"ADDRESS(1,1,0)", kValue},
      {"ADDRESS(1,1,,)", txt("$A$1")},
      {"ADDRESS(1,1,1,Y1)", txt("R1C1")},  // an empty cell reads as FALSE
      {"ADDRESS(1,1,1,TRUE,\"It's\")", txt("'It''s'!$A$1")},
      {"ADDRESS(1,1,1,TRUE,\"2024\")", txt("'2024'!$A$1")},
      {"ADDRESS(1,1,1,TRUE,\"Data.2024\")", txt("Data.2024!$A$1")},
      {"ADDRESS(1,1,4,TRUE,\"R\xC3\xA9sum\xC3\xA9\")", txt("R\xC3\xA9sum\xC3\xA9!A1")},
      {"ADDRESS(1,1,1,TRUE,\"Data 2024\")", txt("'Data 2024'!$A$1")},
      {"ADDRESS(1,1,4,TRUE,\"Q1\")", txt("Q1!A1")},
      {"ADDRESS(1,1,1,TRUE,\"\")", txt("''!$A$1")},
      {"ADDRESS(1,1,1,TRUE,Y1)", txt("''!$A$1")},
      {"ADDRESS(1,1,1,TRUE,)", txt("$A$1")},
      {"ADDRESS(1/0,\"x\")", kDiv0},
      {"ADDRESS(\"x\",1/0)", kValue},  // the row's error first
      {"ADDRESS(1,1,1/0)", kDiv0},
      {"ADDRESS(1,1,1,\"maybe\")", kValue},
      {"ADDRESS(1,1,1,TRUE,1/0)", kDiv0},
      {"ADDRESS(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Reference, FormulaText) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"FORMULATEXT(D1)", txt("=SUM(B1:B3)")},
      {"FORMULATEXT(D2)", txt("{=A1:A3*2}")},
      {"FORMULATEXT(D1:D2)", txt("=SUM(B1:B3)")},
      {"FORMULATEXT(A1)", kNa},
      {"FORMULATEXT(Sheet2!A1)", kNa},
      {"FORMULATEXT(5)", kNa},
      {"FORMULATEXT(1/0)", kNa},
      {"FORMULATEXT()", kValue},
  };
  run_cases(wb, cases);
}

TEST(Reference, FormulaTextAtTheLengthLimit) {
  // The "=" added in front makes a formula of the longest text length one
  // character too long for a value; one character shorter still fits.
  Workbook wb;
  const std::string longest(kMaxTextChars - 1, 'x');
  set_formula(wb, 0, "A1", longest);
  set_formula(wb, 0, "A2", longest.substr(1));
  EXPECT_TRUE(same_value(wb.eval("FORMULATEXT(A1)"), kValue));
  EvalContext ctx = wb.context();
  const CellValue fits = wb.eval("FORMULATEXT(A2)", ctx);
  ASSERT_TRUE(fits.is_text());
  EXPECT_EQ(fits.as_text().size(), kMaxTextChars - 1);
  EXPECT_EQ(kFormulaByteBudget - ctx.shared->bytes_left, kMaxTextChars - 1);
}

TEST(Reference, HyperlinkAndTranspose) {
  Workbook wb(2);
  fill(wb);
  const FormulaCase cases[] = {
      {"HYPERLINK(\"#Sheet2!A1\",\"Click\")", txt("Click")},
      {"HYPERLINK(\"http://example.com\")", txt("http://example.com")},
      {"HYPERLINK(Y1)", txt("")},
      {"HYPERLINK(\"a\",Y1)", txt("")},
      {"HYPERLINK(\"a\",)", txt("a")},
      {"HYPERLINK(\"a\",5)", num(5)},
      {"HYPERLINK(1/0,\"x\")", kDiv0},
      {"HYPERLINK(\"x\",1/0)", kDiv0},
      {"HYPERLINK()", kValue},
      {"TRANSPOSE(Y1)", num(0)},
      {"TRANSPOSE(B1)", num(2)},
      {"TRANSPOSE(7)", num(7)},
      {"TRANSPOSE(\"x\")", txt("x")},
      {"TRANSPOSE(1/0)", kDiv0},
      {"TRANSPOSE(A1:B2)", kValue},
  };
  run_cases(wb, cases);
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("TRANSPOSE(A1:B2)", ctx), kValue));
  EXPECT_EQ(ctx.shared->unknown_calls, 1u);
}

// In array context the array functions of these names hand their calls
// over to the built-ins; other lookups are lifted over array arguments.
TEST(Reference, ArrayContext) {
  Workbook wb(2);
  fill(wb);
  const ArrayFormulaCase cases[] = {
      {"INDEX(A1:C3,2,2)", {num(5)}},
      {"MATCH(4,A1:A3,0)", {num(2)}},
      {"XLOOKUP(4,A1:A3,B1:B3)", {num(5)}},
      {"ROWS(A1:A3)", {num(3)}},
      {"VLOOKUP({1,7},A1:C3,2,FALSE)", {num(2), num(8)}},
      {"HLOOKUP({2,3},A1:C3,3,FALSE)", {num(8), num(9)}},
      {"SUM(INDEX(A1:C3,0,2))", {num(15)}},
      {"OFFSET(A1,0,0,2,2)", {num(1), num(2), num(4), num(5)}},
      {"OFFSET(A1,-1,0)", {kRef}},
      {"INDIRECT(\"B1:C1\")", {num(2), num(3)}},
      {"A1:INDEX(A:A,2)", {num(1), num(4)}},
      {"SUM(A1:OFFSET(A1,1,1)*10)", {num(120)}},
  };
  run_array_cases(wb, cases);
}

// Ranges ending in INDEX, OFFSET or INDIRECT are evaluated, not kept: the
// cached values of a workbook opened with recalculation are replaced, and
// an edit reaches the cells through the graph or their volatility.
TEST(Reference, RecalculationOfRangesEndingInCalls) {
  model::WorkbookModel book;
  book.sheets.emplace_back();
  book.sheets.back().name = "Sheet1";
  auto put = [&](std::string_view a1, CellValue value, std::optional<std::string_view> formula) {
    model::CellRef r = model::parse_cell_ref(a1).value();
    std::optional<SharedString> text;
    if (formula) text = SharedString(*formula);
    model::set_sheet_cell(book.sheets[0], r.row, r.col,
                          model::SheetCell{std::move(value), std::move(text), std::nullopt});
  };
  auto at = [&](std::string_view a1) {
    return model::model_cell_value(book, 0, model::parse_cell_ref(a1).value());
  };
  for (int i = 1; i <= 3; ++i) put("A" + std::to_string(i), num(i), std::nullopt);
  put("C1", num(1), std::nullopt);
  const CellValue cached = num(99);
  struct Case {
    std::string_view cell;
    std::string_view formula;
    CellValue opened;
    CellValue edited;  // after A2 becomes 10
  } cases[] = {
      {"B1", "SUM(A1:INDEX(A:A,2))", num(3), num(11)},
      {"B2", "A1:OFFSET(A1,1,0)", kValue, kValue},
      {"B3", "SUM(A1:OFFSET(A1,1,0))", num(3), num(11)},
      {"B4", "SUM(A1:INDIRECT(\"A2\"))", num(3), num(11)},
      {"B5", "SUM(A1:OFFSET(A1,C1,0))", num(3), num(11)},
      {"B6", "ROWS(A1:INDEX(A:A,3))", num(3), num(3)},
      {"B7", "A2:INDEX(A:A,2)", num(2), num(10)},
  };
  for (const Case& c : cases) put(c.cell, cached, c.formula);
  auto [state, opened] = recalculate_all(book, std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EXPECT_TRUE(same_value(at(c.cell), c.opened));
  }
  put("A2", num(10), std::nullopt);
  recalculate_after_edit(book, *state, {model::CellAddress{0, model::parse_cell_ref("A2").value()}},
                         std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EXPECT_TRUE(same_value(at(c.cell), c.edited));
  }
}

}  // namespace
}  // namespace cmx::formula
