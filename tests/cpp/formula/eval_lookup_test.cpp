// The lookup built-ins: one table of cases per function over a small sheet,
// then what the searches charge and how they read whole columns.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"

namespace cmx::formula {
namespace {

using namespace testing;

const CellValue kValue = err(CellErrorCode::Value);
const CellValue kRef = err(CellErrorCode::Ref);
const CellValue kNa = err(CellErrorCode::NA);
const CellValue kDiv0 = err(CellErrorCode::Div0);
const CellValue kNum = err(CellErrorCode::Num);

// A1:C4: keys 1..4, their names, tens. A10:D11: keys along a row over names.
// D1:D3 "a", "c", "b". E1:E4 1, 5, 3, 3. F1:G4: unsorted keys 3, 2, 3, 4 and
// letters. H1:H3: nothing, 7, 8. J1:J3 the texts "x", "X*" and TRUE.
void fill(Workbook& wb) {
  const char* names[] = {"one", "two", "three", "four"};
  for (int i = 0; i < 4; ++i) {
    const std::string row = std::to_string(i + 1);
    wb.set(0, "A" + row, num(i + 1));
    wb.set(0, "B" + row, txt(names[i]));
    wb.set(0, "C" + row, num(10.0 * (i + 1)));
  }
  const char* columns[] = {"A", "B", "C", "D"};
  for (int i = 0; i < 4; ++i) {
    wb.set(0, std::string(columns[i]) + "10", num(i + 1));
    wb.set(0, std::string(columns[i]) + "11", txt(names[i]));
  }
  wb.set(0, "D1", txt("a"));
  wb.set(0, "D2", txt("c"));
  wb.set(0, "D3", txt("b"));
  const double e[] = {1, 5, 3, 3};
  const double f[] = {3, 2, 3, 4};
  const char* g[] = {"p", "q", "r", "s"};
  for (int i = 0; i < 4; ++i) {
    const std::string row = std::to_string(i + 1);
    wb.set(0, "E" + row, num(e[i]));
    wb.set(0, "F" + row, num(f[i]));
    wb.set(0, "G" + row, txt(g[i]));
  }
  wb.set(0, "H2", num(7));
  wb.set(0, "H3", num(8));
  wb.set(0, "J1", txt("x"));
  wb.set(0, "J2", txt("X*"));
  wb.set(0, "J3", boolean(true));
}

TEST(Lookup, VlookupAndHlookup) {
  Workbook wb;
  fill(wb);
  const FormulaCase cases[] = {
      {"VLOOKUP(3,A1:C4,2)", txt("three")},
      {"VLOOKUP(3,A1:C4,3,FALSE)", num(30)},
      {"VLOOKUP(2.5,A1:C4,2)", txt("two")},
      {"VLOOKUP(2.5,A1:C4,2,FALSE)", kNa},
      {"VLOOKUP(0,A1:C4,2)", kNa},
      {"VLOOKUP(99,A1:C4,2)", txt("four")},
      {"VLOOKUP(2.5,F1:G4,2)", txt("q")},  // probes F3 (greater), then F2
      {"VLOOKUP(3,F1:G4,2,0)", txt("p")},
      {"VLOOKUP(3,F1:G4,2,)", txt("p")},  // an omitted flag reads as 0
      {"VLOOKUP(\"TWO\",B1:C4,2,FALSE)", num(20)},
      {"VLOOKUP(\"t*\",B1:C4,2,FALSE)", kNa},  // no wildcards
      {"VLOOKUP(3,A1:C4,0)", kValue},
      {"VLOOKUP(3,A1:C4,4)", kRef},
      {"VLOOKUP(3,A1:C4,2,\"FALSE\")", kValue},
      {"VLOOKUP(3,{1,2;3,4},2)", kValue},
      {"VLOOKUP(1/0,A1:C4,2)", kDiv0},
      {"VLOOKUP(3,1/0,2)", kDiv0},
      {"VLOOKUP(3,A1:C4,1/0)", kDiv0},
      {"VLOOKUP(3,A1:C4)", kValue},
      {"VLOOKUP(3,A:C,3,FALSE)", num(30)},
      {"VLOOKUP(7,H1:H3,1,FALSE)", num(7)},
      {"VLOOKUP(0,H1:I3,2,FALSE)", CellValue()},  // empty H1 equals 0; I1 is empty
      {"VLOOKUP(TRUE,J1:J3,1,FALSE)", boolean(true)},
      {"HLOOKUP(3,A10:D11,2)", txt("three")},
      {"HLOOKUP(3,A10:D11,2,FALSE)", txt("three")},
      {"HLOOKUP(3.5,A10:D11,2)", txt("three")},
      {"HLOOKUP(3,A10:D11,3)", kRef},
      {"HLOOKUP(3,A10:D11,-1)", kValue},
      {"HLOOKUP(9,A10:D11,2,FALSE)", kNa},
      {"HLOOKUP(2,10:11,2,FALSE)", txt("two")},
  };
  run_cases(wb, cases);
}

TEST(Lookup, Match) {
  Workbook wb;
  fill(wb);
  const FormulaCase cases[] = {
      {"MATCH(\"b\",D1:D3,1)", num(1)},  // the scan stops at "c"
      {"MATCH(\"b\",D1:D3,0)", num(3)},
      {"MATCH(3,{1,2;3,4},0)", num(3)},  // row-major
      {"MATCH(5,{9,7,5,3},2)", num(3)},  // any type but 0 and 1 acts as -1
      {"MATCH(6,{9,7,5,3},-1)", num(2)},
      {"MATCH(10,{9,7,5,3},-1)", kNa},
      {"MATCH(\"A\",{\"a\"},0)", num(1)},
      {"MATCH(\"a*\",{\"abc\"},0)", kNa},
      {"MATCH(0,H1:H3,0)", num(1)},
      {"MATCH(\"\",H1:H3,0)", num(1)},
      {"MATCH(FALSE,H1:H3,0)", num(1)},
      {"MATCH(4,{5,6},1)", kNa},
      {"MATCH(9,{5,6},1)", num(2)},
      {"MATCH(9,{5,6})", num(2)},
      {"MATCH(3,A1:A4,)", num(3)},  // omitted type is 0: exact
      {"MATCH(2.5,A1:A4,)", kNa},
      {"MATCH(2.5,A1:A4)", num(2)},
      {"MATCH(3,A:A,0)", num(3)},
      {"MATCH(3,E1:E4,0)", num(3)},
      {"MATCH(7,7,0)", num(1)},  // a single value is a one-element list
      {"MATCH(1/0,A1:A4,0)", kDiv0},
      {"MATCH(3,1/0,0)", kDiv0},
      {"MATCH(3,A1:A4,1/0)", kDiv0},
      {"MATCH(3)", kValue},
      {"MATCH(TRUE,J1:J3,1)", num(3)},  // Bool ranks above texts
  };
  run_cases(wb, cases);
}

TEST(Lookup, Xmatch) {
  Workbook wb;
  fill(wb);
  const FormulaCase cases[] = {
      {"XMATCH(3,E1:E4)", num(3)},
      {"XMATCH(3,E1:E4,0,-1)", num(4)},
      {"XMATCH(4,E1:E4,-1)", num(3)},  // the first 3 keeps its place
      {"XMATCH(4,E1:E4,-1,-1)", num(4)},
      {"XMATCH(4,E1:E4,1)", num(2)},
      {"XMATCH(2,E1:E4,1)", num(3)},
      {"XMATCH(2,E1:E4,1,-2)", num(4)},
      {"XMATCH(0,E1:E4,-1)", kNa},
      {"XMATCH(9,E1:E4,1)", kNa},
      {"XMATCH(9,E1:E4)", kNa},
      {"XMATCH(3,E1:E4,0,2)", num(3)},  // binary search modes scan too
      {"XMATCH(3,E1:E4,0,-2)", num(4)},
      {"XMATCH(3,E1:E4,2)", kValue},  // no wildcard mode
      {"XMATCH(3,E1:E4,0,0)", kValue},
      {"XMATCH(3,E1:E4,0,3)", kValue},
      {"XMATCH(3,E1:E4,-2)", kValue},
      {"XMATCH(3,E1:E4,,)", num(3)},  // omitted modes read as the defaults
      {"XMATCH(2,{1,2,3})", kValue},
      {"XMATCH(\"X*\",J1:J3)", num(2)},
      {"XMATCH(3,A:A)", num(3)},
      {"XMATCH(1/0,E1:E4)", kDiv0},
      {"XMATCH(3,E1:E4,1/0)", kDiv0},
      {"XMATCH(3)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Lookup, Xlookup) {
  Workbook wb;
  fill(wb);
  const FormulaCase cases[] = {
      {"XLOOKUP(3,A1:A4,B1:B4)", txt("three")},
      {"XLOOKUP(\"FOUR\",B1:B4,C1:C4)", num(40)},
      {"XLOOKUP(3,A10:D10,A11:D11)", txt("three")},
      {"XLOOKUP(3,A1:A4,B1:C4)", kValue},
      {"XLOOKUP(3,A1:A3,B1:B4)", kValue},
      // Equal cell counts, different shapes: the hit's offsets would leave
      // the return range.
      {"XLOOKUP(3,A1:A3,B10:D10)", kValue},
      {"XLOOKUP(3,A1:A4,A11:D11)", kValue},
      {"XLOOKUP(9,A1:A4,B1:B4)", kNa},
      {"XLOOKUP(9,A1:A4,B1:B4,\"none\")", txt("none")},
      {"XLOOKUP(9,A1:A4,B1:B4,1/0)", kDiv0},
      {"XLOOKUP(3,A1:A4,B1:B4,1/0)", txt("three")},  // evaluated only when needed
      {"XLOOKUP(9,A1:A4,B1:B4,,0)", CellValue()},
      {"XLOOKUP(3,A1:A4,B1:B4,,1/0)", txt("three")},  // modes never evaluated
      {"XLOOKUP(2.5,A1:A4,B1:B4,\"none\",-1)", txt("none")},  // exact only
      {"XLOOKUP(3,A:A,B:B)", txt("three")},
      {"XLOOKUP(1/0,A1:A4,B1:B4)", kDiv0},
      {"XLOOKUP(3,{1,2,3},B1:B3)", kValue},
      {"XLOOKUP(3,A1:A4,1/0)", kDiv0},
      {"XLOOKUP(3,A1:A4)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Lookup, LookupFunction) {
  Workbook wb;
  fill(wb);
  const FormulaCase cases[] = {
      {"LOOKUP(3,{1,5,2},{\"a\",\"b\",\"c\"})", txt("c")},
      {"LOOKUP(3,{\"x\",1},{\"p\",\"q\"})", txt("q")},
      {"LOOKUP(2,A10:C11)", txt("two")},   // wide: first row, answers from the last
      {"LOOKUP(2,A1:B3)", txt("two")},     // tall: first column, answers from the last
      {"LOOKUP(5,{1,2},{\"a\"})", kNa},
      {"LOOKUP(0,{1,2},{\"a\",\"b\"})", kNa},
      {"LOOKUP(2.5,A1:A4,C1:C4)", num(20)},
      {"LOOKUP(2.5,A1:A4,A11:D11)", txt("two")},  // shapes may differ
      {"LOOKUP(\"c\",D1:D3,A1:A3)", num(3)},
      {"LOOKUP(TRUE,J1:J3,A1:A3)", num(3)},
      {"LOOKUP(A5,A1:A4,C1:C4)", kNa},  // an Empty lookup value finds nothing
      {"LOOKUP(1/0,A1:A4)", kDiv0},
      {"LOOKUP(2,5)", kNa},
      {"LOOKUP(7,7)", num(7)},
      {"LOOKUP(2)", kValue},
  };
  run_cases(wb, cases);
}

uint64_t cells_charged(const EvalContext& ctx) {
  return kFormulaCellBudget - ctx.shared->cells_left;
}

TEST(Lookup, ApproximateSearchProbesLogarithmically) {
  Workbook wb;
  constexpr uint32_t kRows = 1u << 17;
  for (uint32_t r = 0; r < kRows; ++r) {
    model::set_sheet_cell(wb.model.sheets[0], r, 0,
                          model::SheetCell{num(2.0 * r), std::nullopt, std::nullopt});
  }
  struct Case {
    std::string_view formula;
    CellValue want;
    uint64_t max_cells;
  } cases[] = {
      {"VLOOKUP(99999,A:A,1)", num(99998), 20},
      {"VLOOKUP(-1,A:A,1)", kNa, 20},
      {"HLOOKUP(5,A1:A131072,1)", num(0), 20},
      {"VLOOKUP(99999,A:A,1,FALSE)", kNa, kRows + 1},
      {"MATCH(99999,A:A,1)", num(50000), kRows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    EXPECT_TRUE(same_value(wb.eval(c.formula, ctx), c.want));
    EXPECT_LE(cells_charged(ctx), c.max_cells);
  }
}

TEST(Lookup, ExhaustedBudgetIsTheResult) {
  Workbook wb;
  fill(wb);
  const std::string_view formulas[] = {"VLOOKUP(9,A1:C4,2,FALSE)", "MATCH(9,A1:A4,0)",
                                       "XMATCH(9,A1:A4)", "XLOOKUP(9,A1:A4,B1:B4)"};
  for (std::string_view f : formulas) {
    SCOPED_TRACE(std::string(f));
    EvalContext ctx = wb.context();
    ctx.shared->cells_left = 2;
    EXPECT_TRUE(same_value(wb.eval(f, ctx), kNum));
    EXPECT_TRUE(ctx.shared->limited);
  }
}

TEST(Lookup, XlookupWholeColumnsAreNotClipped) {
  Workbook wb;
  fill(wb);
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("XLOOKUP(99,A:A,B:B)", ctx), kNa));
  EXPECT_EQ(cells_charged(ctx), kGridRows);
}

}  // namespace
}  // namespace cmx::formula
