// Built-in dispatch, its inline answers, and the SUM and IF handlers.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"
#include "functions/dispatch.h"

namespace cmx::formula {
namespace {

using namespace testing;

struct Case {
  std::string_view formula;
  CellValue want;
};

void run(Workbook& wb, std::span<const Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    EXPECT_TRUE(same_value(wb.eval(c.formula, ctx), c.want));
  }
}

TEST(Dispatch, InlineAnswers) {
  Workbook wb;
  wb.now = 45000.75;
  const Case cases[] = {
      {"PI()", num(3.141592653589793)},
      {"PI(1)", err(CellErrorCode::Value)},
      {"TRUE()", boolean(true)},
      {"FALSE()", boolean(false)},
      {"TRUE(0)", err(CellErrorCode::Value)},
      {"FALSE(0)", err(CellErrorCode::Value)},
      {"NA()", err(CellErrorCode::NA)},
      {"NA(1)", err(CellErrorCode::Value)},
      {"TODAY()", num(45000)},
      {"NOW()", num(45000.75)},
      {"NOW(1/0)", err(CellErrorCode::Value)},  // arguments never evaluated
      {"_xlfn.PI()", num(3.141592653589793)},
  };
  run(wb, cases);
  wb.now = -0.5;
  EXPECT_TRUE(same_value(wb.eval("TODAY()"), num(-1)));
  wb.now = INFINITY;
  EXPECT_TRUE(same_value(wb.eval("NOW()"), err(CellErrorCode::Num)));
  wb.now.reset();
  EXPECT_TRUE(same_value(wb.eval("TODAY()"), err(CellErrorCode::Value)));
  EXPECT_TRUE(same_value(wb.eval("NOW()"), err(CellErrorCode::Value)));
}

TEST(Dispatch, InlineArgumentsAreNotEvaluated) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("PI(FOO())", ctx), err(CellErrorCode::Value)));
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);
}

TEST(Dispatch, FunctionsNotYetAvailableKeepTheirCells) {
  // A built-in without a handler must not produce a value a recalculation
  // would store: it counts as an unknown call.
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(builtin_available(static_cast<BuiltinId>(Builtin::Sum)));
  EXPECT_TRUE(builtin_available(static_cast<BuiltinId>(Builtin::Now)));
  // The last id still waiting for its handler, whichever that is.
  int missing = kBuiltinCount - 1;
  while (missing >= 0 && builtin_available(static_cast<BuiltinId>(missing))) --missing;
  if (missing < 0) GTEST_SKIP() << "every built-in has a handler";
  const std::string call = std::string(builtin_primary_name(static_cast<BuiltinId>(missing))) + "(1)";
  SCOPED_TRACE(call);
  EXPECT_TRUE(same_value(wb.eval(call, ctx), err(CellErrorCode::Name)));
  EXPECT_EQ(ctx.shared->unknown_calls, 1u);
}

TEST(Dispatch, EveryIdIsAnsweredWithoutArguments) {
  Workbook wb;
  wb.now = 45000.5;
  int available = 0;
  for (int id = 0; id < kBuiltinCount; ++id) {
    SCOPED_TRACE(std::string(builtin_primary_name(static_cast<BuiltinId>(id))));
    EvalContext ctx = wb.context();
    CellValue out = CellValue::text("unset");
    call_builtin(out, static_cast<BuiltinId>(id), {}, ctx);
    // Joining no values at all is the one text answer without arguments.
    EXPECT_EQ(out.is_text(), id == static_cast<int>(Builtin::Concatenate));
    if (builtin_available(static_cast<BuiltinId>(id))) {
      ++available;
      EXPECT_EQ(ctx.shared->unknown_calls, 0u);
    } else {
      EXPECT_TRUE(same_value(out, err(CellErrorCode::Name)));
      EXPECT_EQ(ctx.shared->unknown_calls, 1u);
    }
  }
  // The six inline answers and one handler per id of each family: SUM and IF
  // (2); rounding, elementary, conversion, random, logical and information
  // (50); sums, counts, conditional aggregates, SUBTOTAL/AGGREGATE and the
  // statistics it calls (34); text (25); dates, times, working days and
  // financial functions (27); lookups and references (18); the other
  // dispersion, order, paired and normal-distribution statistics (15).
  EXPECT_EQ(available, 6 + 2 + 50 + 34 + 25 + 27 + 18 + 15);
}

TEST(Sum, Table) {
  Workbook wb(2);
  wb.set(0, "A1", num(1));
  wb.set(0, "A2", txt("2"));
  wb.set(0, "A3", boolean(true));
  wb.set(0, "B1", num(0.1));
  wb.set(0, "B2", num(0.2));
  wb.set(0, "B10", num(5));
  wb.set(0, "C1", err(CellErrorCode::Div0));
  wb.set(1, "A1", num(-0.0));
  const Case cases[] = {
      {"SUM()", num(-0.0)},
      {"SUM(D1:D3)", num(-0.0)},
      {"SUM(Sheet2!A1)", num(-0.0)},
      {"SUM(1,\"2\",TRUE)", num(4)},
      {"SUM(A1:A3)", num(1)},          // text and logical cells are skipped
      {"SUM(A2)", num(-0.0)},          // even a single referenced cell
      {"SUM(\"abc\")", err(CellErrorCode::Value)},
      {"SUM({1,\"2\",TRUE})", num(1)},  // inside an array only numbers count
      {"SUM({1,2;3,4},10)", num(20)},
      {"SUM({\"5\"})", num(5)},        // a one-element array is a single value
      {"SUM({\"x\"})", err(CellErrorCode::Value)},
      {"SUM({1,#N/A})", err(CellErrorCode::NA)},
      {"SUM(B1:B2)", num(0.1 + 0.2)},
      {"SUM(B:B)", num(0.1 + 0.2 + 5)},
      {"SUM(1:2)", err(CellErrorCode::Div0)},
      {"SUM(10:10)", num(5)},
      {"SUM(A1:C1)", err(CellErrorCode::Div0)},
      {"SUM(1/0,A1)", err(CellErrorCode::Div0)},
      {"SUM(A1,NA())", err(CellErrorCode::NA)},
      {"SUM(1E308,1E308)", err(CellErrorCode::Num)},
      {"SUM(Z99)", num(-0.0)},
      {"SUM(,)", num(-0.0)},
      {"SUM((A1:A2):B1)", num(1 + 0.1 + 0.2)},
  };
  run(wb, cases);
}

TEST(Sum, FirstErrorStopsBeforeLaterArguments) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUM(1/0,A1:A100)", ctx), err(CellErrorCode::Div0)));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget);
  EvalContext later = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUM(A1:A100,1/0)", later), err(CellErrorCode::Div0)));
  EXPECT_EQ(later.shared->cells_left, kFormulaCellBudget - 100);
}

TEST(Sum, WholeColumnsReadOnlyUsedRows) {
  Workbook wb;
  wb.set(0, "A10", num(3));
  wb.set(0, "C1", num(1));
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUM(A:A)", ctx), num(3)));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 10);
  // An empty sheet reads one row.
  Workbook empty;
  EvalContext ctx2 = empty.context();
  EXPECT_TRUE(same_value(empty.eval("SUM(B:B)", ctx2), num(-0.0)));
  EXPECT_EQ(ctx2.shared->cells_left, kFormulaCellBudget - 1);
  // Extents count hyperlinks too: a sheet whose only content is a link on
  // E10 reads ten rows of a whole column and five columns of a whole row.
  Workbook linked;
  linked.model.sheets[0].hyperlinks.push_back(
      model::SheetHyperlink{{{9, 4, false, false}, {9, 4, false, false}}, "https://x.test"});
  EvalContext ctx4 = linked.context();
  EXPECT_TRUE(same_value(linked.eval("SUM(A:A)+SUM(3:3)", ctx4), num(-0.0)));
  EXPECT_EQ(ctx4.shared->cells_left, kFormulaCellBudget - 10 - 5);
  // A range one row short of the edge is not clipped.
  EvalContext ctx3 = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUM(A1:A1048575)", ctx3), num(3)));
  EXPECT_EQ(ctx3.shared->cells_left, kFormulaCellBudget - 1'048'575);
}

TEST(If, Table) {
  Workbook wb;
  wb.set(0, "A1", num(0));
  const Case cases[] = {
      {"IF(TRUE,1)", num(1)},
      {"IF(FALSE,1)", boolean(false)},
      {"IF(FALSE,1,)", CellValue()},
      {"IF(,1,2)", num(2)},
      {"IF(1/0,1,2)", err(CellErrorCode::Div0)},
      {"IF(TRUE,1,1/0)", num(1)},
      {"IF(\"yes\",1,2)", err(CellErrorCode::Value)},
      {"IF(\"true\",1,2)", num(1)},
      {"IF(A1,1,2)", num(2)},
      {"IF(Z99,1,2)", num(2)},
      {"IF(0.5,\"a\",\"b\")", txt("a")},
      {"IF(TRUE)", err(CellErrorCode::Value)},
      {"IF(TRUE,1,2,3)", err(CellErrorCode::Value)},
      {"IF(A1:A2,1,2)", err(CellErrorCode::Value)},
      {"IF(IF(FALSE,TRUE),\"x\",\"y\")", txt("y")},
  };
  run(wb, cases);
}

TEST(If, UntakenBranchCostsNothing) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("IF(FALSE,SUM(A1:A1000)+FOO(),7)", ctx), num(7)));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget);
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);
  EXPECT_FALSE(ctx.shared->limited);
}

TEST(If, BudgetExhaustionInsideTheChosenBranch) {
  Workbook wb;
  EvalContext ctx = wb.context();
  ctx.shared->cells_left = 5;
  EXPECT_TRUE(same_value(wb.eval("IF(TRUE,SUM(A1:A10),1)", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 1u);
  EXPECT_EQ(ctx.shared->cells_left, 5u);
}

}  // namespace
}  // namespace cmx::formula
