// The logical and information built-ins: what they evaluate, what they
// return, and what they do to the context's counters.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"

namespace cmx::formula {
namespace {

using namespace testing;

const CellValue kTrue = boolean(true);
const CellValue kFalse = boolean(false);
const CellValue kValue = err(CellErrorCode::Value);
const CellValue kDiv0 = err(CellErrorCode::Div0);
const CellValue kNa = err(CellErrorCode::NA);

// A1:A3 holds TRUE, nothing and the text x; B1:B2 texts only; C1 the empty
// text; D1 an error; E1:E2 numbers.
void fill(Workbook& wb) {
  wb.set(0, "A1", kTrue);
  wb.set(0, "A3", txt("x"));
  wb.set(0, "B1", txt("TRUE"));
  wb.set(0, "B2", txt("y"));
  wb.set(0, "C1", txt(""));
  wb.set(0, "D1", err(CellErrorCode::Ref));
  wb.set(0, "E1", num(0));
  wb.set(0, "E2", num(2));
}

TEST(Logical, Table) {
  Workbook wb;
  fill(wb);
  const FormulaCase cases[] = {
      // IFERROR and IFNA
      {"IFERROR(1/0,5)", num(5)},
      {"IFERROR(FOO(),5)", num(5)},
      {"IFERROR(1,FOO())", num(1)},
      {"IFERROR(D1,\"r\")", txt("r")},
      {"IFERROR(C1,5)", txt("")},
      {"IFERROR(1)", kValue},
      {"IFERROR(1,2,3)", kValue},
      {"IFNA(1/0,5)", kDiv0},
      {"IFNA(NA(),5)", num(5)},
      {"IFNA(NA(),1/0)", kDiv0},
      {"IFNA(3,1/0)", num(3)},
      {"IFNA(NA())", kValue},
      // IFS
      {"IFS(FALSE,1,TRUE,2)", num(2)},
      {"IFS(FALSE,1)", kNa},
      {"IFS(TRUE)", kValue},
      {"IFS()", kValue},
      {"IFS(1/0,1,TRUE,2)", kDiv0},
      {"IFS(TRUE,1,1/0,2)", num(1)},
      {"IFS(0,1,\"true\",2)", num(2)},
      {"IFS(\"yes\",1)", kValue},
      {"IFS(A2,1,E2,2)", num(2)},
      // SWITCH
      {"SWITCH(2,1,10,2,20)", num(20)},
      {"SWITCH(3,1,10,2,20)", kNa},
      {"SWITCH(3,1,10,2,20,0)", num(0)},
      {"SWITCH(1,1/0,10,1,20)", kDiv0},
      {"SWITCH(1,1,10,1/0,20)", num(10)},
      {"SWITCH(\"a\",\"A\",1,2)", num(1)},
      {"SWITCH(1,2)", kValue},
      {"SWITCH(1/0,1,2)", kDiv0},
      {"SWITCH(A2,0,\"zero\")", txt("zero")},  // Empty equals 0
      {"SWITCH(A2,\"\",\"empty\")", txt("empty")},
      {"SWITCH(FALSE,0,\"number\",FALSE,\"bool\")", txt("bool")},
      {"SWITCH(1,\"1\",\"text\",\"no\")", txt("no")},
      {"SWITCH(2,1,10,2)", num(2)},  // the default is the last argument
      // AND, OR, XOR
      {"AND(TRUE,1,2)", kTrue},
      {"AND(TRUE,0)", kFalse},
      {"AND(FALSE,1/0)", kDiv0},
      {"AND(B1:B2)", kValue},
      {"AND(A1:A3)", kTrue},
      {"AND({TRUE,FALSE})", kTrue},
      {"AND(\"TRUE\")", kValue},
      {"AND(\"TRUE\",1)", kTrue},
      {"AND(A2)", kValue},
      {"AND(,TRUE)", kTrue},
      {"AND()", kValue},
      {"AND(A1:D1)", err(CellErrorCode::Ref)},
      {"AND(E1:E2)", kFalse},
      {"OR(FALSE,0)", kFalse},
      {"OR(1)", kTrue},
      {"OR(E1:E2)", kTrue},
      {"OR(TRUE,1/0)", kDiv0},  // no short cut
      {"OR(D1,TRUE)", err(CellErrorCode::Ref)},
      {"XOR(TRUE,TRUE)", kFalse},
      {"XOR(TRUE,TRUE,TRUE)", kTrue},
      {"XOR(E1:E2,A1)", kFalse},
      {"XOR(B1)", kValue},
      // NOT
      {"NOT(0)", kTrue},
      {"NOT(\"FALSE\")", kTrue},
      {"NOT(\"no\")", kValue},
      {"NOT(A2)", kTrue},
      {"NOT(2)", kFalse},
      {"NOT(1,2)", kValue},
      {"NOT(1/0)", kDiv0},
      {"NOT(E1:E2)", kValue},
      {"TRUE(1)", kValue},
      {"FALSE(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Logical, IfErrorForgivesWhatItsFirstArgumentMet) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("IFERROR(FOO(),5)", ctx), num(5)));
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);
  // IFNA forgives nothing, and an unknown call in the fallback still counts.
  EvalContext ifna = wb.context();
  EXPECT_TRUE(same_value(wb.eval("IFNA(FOO(),5)", ifna), err(CellErrorCode::Name)));
  EXPECT_EQ(ifna.shared->unknown_calls, 1u);
  EvalContext fallback = wb.context();
  EXPECT_TRUE(same_value(wb.eval("IFERROR(1/0,FOO())", fallback), err(CellErrorCode::Name)));
  EXPECT_EQ(fallback.shared->unknown_calls, 1u);
  // A budget exhaustion inside the first argument: the hit is forgiven, the
  // limited flag stays.
  EvalContext limited = wb.context();
  limited.shared->cells_left = 5;
  EXPECT_TRUE(same_value(wb.eval("IFERROR(SUM(A1:A10),7)", limited), num(7)));
  EXPECT_TRUE(limited.shared->limited);
  EXPECT_EQ(limited.shared->limit_hits, 0u);
  // Counts from before the call are kept.
  EvalContext before = wb.context();
  EXPECT_TRUE(same_value(wb.eval("BAR()&IFERROR(FOO(),5)", before), err(CellErrorCode::Name)));
  EXPECT_EQ(before.shared->unknown_calls, 1u);
}

TEST(Logical, UntakenArgumentsAreNotEvaluated) {
  Workbook wb;
  const std::string_view formulas[] = {
      "IFERROR(1,SUM(A1:A100)+FOO())",
      "IFNA(1,SUM(A1:A100)+FOO())",
      "IFS(TRUE,1,SUM(A1:A100)+FOO(),2)",
      "IFS(FALSE,SUM(A1:A100)+FOO(),TRUE,3)",
      "SWITCH(1,1,2,SUM(A1:A100)+FOO(),3)",
      "SWITCH(1,2,SUM(A1:A100)+FOO(),1,3)",
      "SWITCH(1,1/0,2,SUM(A1:A100)+FOO(),4)",
      "IFERROR(,SUM(A1:A100))",
  };
  for (std::string_view formula : formulas) {
    SCOPED_TRACE(std::string(formula));
    EvalContext ctx = wb.context();
    (void)wb.eval(formula, ctx);
    EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget);
    EXPECT_EQ(ctx.shared->unknown_calls, 0u);
  }
}

TEST(Logical, AndReadsOnlyTheUsedPartOfWholeColumns) {
  Workbook wb;
  wb.set(0, "A10", num(1));
  wb.set(0, "C1", num(1));
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("AND(A:A)", ctx), kTrue));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 10);
  EvalContext row = wb.context();
  EXPECT_TRUE(same_value(wb.eval("OR(1:1)", row), kTrue));
  EXPECT_EQ(row.shared->cells_left, kFormulaCellBudget - 3);
  // A refused read is the result, and every argument is read: the error
  // comes even though the first argument already decides OR.
  EvalContext refused = wb.context();
  refused.shared->cells_left = 5;
  EXPECT_TRUE(same_value(wb.eval("OR(TRUE,A1:A10)", refused), err(CellErrorCode::Num)));
  EXPECT_TRUE(refused.shared->limited);
}

TEST(Logical, ArrayContext) {
  Workbook wb;
  const ArrayFormulaCase cases[] = {
      {"NOT({0,1,\"x\"})", {kTrue, kFalse, kValue}},
      {"IFS({TRUE,FALSE},{1,2},TRUE,9)", {num(1), num(9)}},
      {"AND({TRUE,FALSE})", {kTrue}},
      {"ISNUMBER({1,\"1\",TRUE})", {kTrue, kFalse, kFalse}},
      {"ISEVEN({1,2,-3})", {kFalse, kTrue, kFalse}},
      {"N({5,TRUE,\"7\"})", {num(5), num(1), num(0)}},
  };
  run_array_cases(wb, cases);
}

TEST(Information, Table) {
  Workbook wb;
  fill(wb);
  wb.set(0, "F1", txt("4"));
  const FormulaCase cases[] = {
      {"ISBLANK(A2)", kTrue},
      {"ISBLANK(C1)", kFalse},  // the empty text is not blank
      {"ISBLANK(A1:A2)", kFalse},
      {"ISBLANK(,)", kValue},
      {"ISBLANK()", kValue},
      {"ISERROR(A1:A2)", kTrue},
      {"ISNUMBER(\"5\")", kFalse},
      {"ISNUMBER(E1)", kTrue},
      {"ISNUMBER(F1)", kFalse},
      {"ISTEXT(\"\")", kTrue},
      {"ISTEXT(C1)", kTrue},
      {"ISTEXT(A2)", kFalse},
      {"ISLOGICAL(1)", kFalse},
      {"ISLOGICAL(A1)", kTrue},
      {"ISERR(NA())", kFalse},
      {"ISERR(1/0)", kTrue},
      {"ISERR(D1)", kTrue},
      {"ISNA(NA())", kTrue},
      {"ISNA(1/0)", kFalse},
      {"ISERROR(FOO())", kTrue},
      {"ISERROR(1)", kFalse},
      {"ISEVEN(2.9)", kTrue},
      {"ISEVEN(-3)", kFalse},
      {"ISODD(-3)", kTrue},
      {"ISODD(-2.5)", kFalse},
      {"ISEVEN(\"4\")", kTrue},
      {"ISEVEN(F1)", kTrue},
      {"ISEVEN(\"x\")", kValue},
      {"ISEVEN(TRUE)", kFalse},
      {"ISODD(TRUE)", kTrue},
      {"ISEVEN(A2)", kTrue},
      {"ISODD(1/0)", kDiv0},
      {"ISODD(1E300)", kTrue},  // saturated to the largest 64-bit integer
      {"ISEVEN(-1E300)", kTrue},
      {"ISEVEN(1,2)", kValue},
      {"N(5)", num(5)},
      {"N(TRUE)", num(1)},
      {"N(\"7\")", num(0)},
      {"N(1/0)", kDiv0},
      {"N(A2)", num(0)},
      {"N(F1)", num(0)},
      {"N(E2:E3)", kValue},
      {"N()", kValue},
      {"NA()", kNa},
      {"NA(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Information, IsTestsForgiveBudgetHitsButNotUnknownCalls) {
  Workbook wb;
  EvalContext unknown = wb.context();
  EXPECT_TRUE(same_value(wb.eval("ISERROR(FOO())", unknown), kTrue));
  EXPECT_EQ(unknown.shared->unknown_calls, 1u);
  EvalContext limited = wb.context();
  limited.shared->cells_left = 5;
  EXPECT_TRUE(same_value(wb.eval("ISERROR(SUM(A1:A10))", limited), kTrue));
  EXPECT_TRUE(limited.shared->limited);
  EXPECT_EQ(limited.shared->limit_hits, 0u);
  // ISEVEN and N forgive nothing.
  EvalContext parity = wb.context();
  parity.shared->cells_left = 5;
  EXPECT_TRUE(same_value(wb.eval("ISEVEN(SUM(A1:A10))", parity), err(CellErrorCode::Num)));
  EXPECT_EQ(parity.shared->limit_hits, 1u);
}

}  // namespace
}  // namespace cmx::formula
