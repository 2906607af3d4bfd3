// The scalar evaluator end to end: formula text against a small workbook.
#include <gtest/gtest.h>

#include <string>

#include "eval_harness.h"

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
    EXPECT_TRUE(same_value(wb.eval(c.formula), c.want));
  }
}

TEST(EvalScalar, OperatorsAndErrorPrecedence) {
  Workbook wb;
  wb.set(0, "A1", num(1));
  wb.set(0, "A2", num(2));
  wb.set(0, "B1", txt("2"));
  const Case cases[] = {
      // Errors: the left operand's first, evaluation errors before coercion errors.
      {"1/0", err(CellErrorCode::Div0)},
      {"1/0+NA()", err(CellErrorCode::Div0)},
      {"NA()+1/0", err(CellErrorCode::NA)},
      {"\"x\"+1/0", err(CellErrorCode::Div0)},
      {"\"x\"+\"y\"", err(CellErrorCode::Value)},
      {"\"x\"+NA()", err(CellErrorCode::NA)},
      {"1/-0", err(CellErrorCode::Div0)},
      {"#REF!&\"a\"", err(CellErrorCode::Ref)},
      // Coercion of operands.
      {"\" 2 \"+1", num(3)},
      {"\"50%\"*2", num(1)},
      {"\"1 1/2\"*2", num(3)},
      {"\"12:00\"*2", num(1)},
      {"\"1/5/2024\"+0", err(CellErrorCode::Value)},
      {"TRUE+TRUE", num(2)},
      {"-\"\"", err(CellErrorCode::Value)},
      {"+\"\"", txt("")},
      {"+\"abc\"", txt("abc")},
      {"-\"2\"", num(-2)},
      {"-TRUE", num(-1)},
      {"-Z99", num(-0.0)},
      {"5%", num(0.05)},
      {"\"x\"%", err(CellErrorCode::Value)},
      // Powers and overflow.
      {"2^0.5", num(std::sqrt(2.0))},
      {"(-2)^0.5", err(CellErrorCode::Num)},
      {"0^0", num(1)},
      {"0^-1", err(CellErrorCode::Num)},
      {"(-8)^(1/3)", err(CellErrorCode::Num)},
      {"2^1024", err(CellErrorCode::Num)},
      {"1E308*10", err(CellErrorCode::Num)},
      // Joining.
      {"1&2", txt("12")},
      {"TRUE&\"\"", txt("TRUE")},
      {"0.1+0.2&\"\"", txt("0.30000000000000004")},
      {"Z99&\"\"", txt("")},
      // Comparisons.
      {"TRUE=1", boolean(false)},
      {"TRUE>1", boolean(true)},
      {"\"b\">\"A\"", boolean(true)},
      {"\"a\"=\"A\"", boolean(true)},
      {"1<\"1\"", boolean(true)},
      {"Z99=\"\"", boolean(true)},
      {"Z99=0", boolean(true)},
      {"Z99=FALSE", boolean(true)},
      {"A1<>A2", boolean(true)},
      {"A2>=B1", boolean(false)},
      {"#N/A=1", err(CellErrorCode::NA)},
  };
  run(wb, cases);
}

TEST(EvalScalar, ReferencesAndRanges) {
  Workbook wb(2);
  wb.set(0, "A1", num(10));
  wb.set(0, "A2", txt("t"));
  wb.set(1, "B2", num(5));
  wb.model.sheets[1].name = "Data Sheet";
  const Case cases[] = {
      {"A1", num(10)},
      {"A2", txt("t")},
      {"A3", CellValue()},
      {"'data sheet'!B2", num(5)},
      {"'DATA SHEET'!B2*2", num(10)},
      {"Sheet9!A1", err(CellErrorCode::Ref)},
      {"SUM(Sheet9!A1)", err(CellErrorCode::Ref)},
      {"A1:A3", err(CellErrorCode::Value)},
      {"A:A", err(CellErrorCode::Value)},
      {"1:1", err(CellErrorCode::Value)},
      {"A1:A1", err(CellErrorCode::Value)},  // a range node, even of one cell
      {"(A1:A2):A1", err(CellErrorCode::Value)},
      {"A1:SUM(1)", err(CellErrorCode::Ref)},
      {"A1:#N/A", err(CellErrorCode::NA)},
      {"A1:'data sheet'!B2", err(CellErrorCode::Ref)},
      {"{1,2;3,4}", num(1)},
      {"{\"a\",2}&\"b\"", txt("ab")},
  };
  run(wb, cases);
}

TEST(EvalScalar, ReadCheckOnStoredValues) {
  Workbook wb;
  wb.set(0, "A1", txt(std::string(40'000, 'z')));
  wb.set(0, "A2", num(INFINITY));
  wb.set(0, "A3", txt(std::string(32'767, 'z')));
  // The view lends the stored text unchanged; the evaluator refuses it.
  EXPECT_EQ(wb.source.peek_cell_value(0, {}).as_text().size(), 40'000u);
  const Case cases[] = {
      {"A1", err(CellErrorCode::Value)},
      {"A2", err(CellErrorCode::Num)},
      {"SUM(A1:A2)", err(CellErrorCode::Value)},  // the long text is an error cell
      {"SUM(A2:A3)", err(CellErrorCode::Num)},
      {"A3=A3", boolean(true)},
  };
  run(wb, cases);
}

TEST(EvalScalar, RangeOperator) {
  Workbook wb(2);
  EvalContext ctx = wb.context();
  auto reference = [&](std::string_view text) {
    auto tree = parse_formula(text).value();
    return eval_reference(*tree, ctx);
  };
  EXPECT_EQ(reference("A1"), (SheetRange{0, {0, 0, false, false}, 1, 1}));
  EXPECT_EQ(reference("$B$2:C4"), (SheetRange{0, {1, 1, true, true}, 3, 2}));
  EXPECT_EQ(reference("B:C"), (SheetRange{0, {0, 1, false, false}, kGridRows, 2}));
  EXPECT_EQ(reference("3:4"), (SheetRange{0, {2, 0, false, false}, 2, kGridCols}));
  EXPECT_EQ(reference("Sheet2!A1"), (SheetRange{1, {0, 0, false, false}, 1, 1}));
  EXPECT_EQ(reference("Sheet3!A1"), std::nullopt);
  EXPECT_EQ(reference("1+1"), std::nullopt);
  // The smallest rectangle holding both sides.
  EXPECT_EQ(reference("(C3:D4):(A5:B5)"), (SheetRange{0, {2, 0, false, false}, 3, 4}));
  EXPECT_EQ(reference("(A1:A2):Sheet2!B1"), std::nullopt);
}

TEST(EvalScalar, ArrayConstantsArePaidForWhole) {
  Workbook wb;
  EvalContext ctx = wb.context();
  const uint64_t bytes = ctx.shared->bytes_left;
  EXPECT_TRUE(same_value(wb.eval("{\"ab\",\"cde\";1,FOO()}", ctx), txt("ab")));
  // Four cells; each text paid when made and again as an element.
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 4);
  EXPECT_EQ(bytes - ctx.shared->bytes_left, 2u * (2 + 3));
  EXPECT_EQ(ctx.shared->unknown_calls, 1u);
  ctx.shared->cells_left = 3;
  EXPECT_TRUE(same_value(wb.eval("{1,2;3,4}", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
}

TEST(EvalScalar, UnknownFunctionsAreCountedNotEvaluated) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("FOO(1/0)", ctx), err(CellErrorCode::Name)));
  EXPECT_EQ(ctx.shared->unknown_calls, 1u);
  EXPECT_TRUE(same_value(wb.eval("IF(TRUE,1,FOO())", ctx), num(1)));
  EXPECT_EQ(ctx.shared->unknown_calls, 1u);
  EXPECT_TRUE(same_value(wb.eval("FOO()+BAR()", ctx), err(CellErrorCode::Name)));
  EXPECT_EQ(ctx.shared->unknown_calls, 2u);  // the right side is not evaluated
}

TEST(EvalScalar, TableReferences) {
  Workbook wb(2);
  // Sales on Sheet2 at B2:C4: a header row and two data rows.
  wb.model.tables.push_back(model::WorkbookTable{
      "Sales", {"Region", "Amount"}, {{1, 1, false, false}, {3, 2, false, false}}, 1, 1, 0});
  wb.model.tables.push_back(model::WorkbookTable{
      "One", {"Amount"}, {{0, 5, false, false}, {1, 5, false, false}}, 0, 1, 0});
  wb.set(1, "C3", num(5));
  wb.set(1, "C4", num(7));
  wb.set(0, "F2", num(9));
  const Case cases[] = {
      {"Sales[Amount]", err(CellErrorCode::Value)},
      {"SUM(Sales[Amount])", num(12)},
      {"SUM(sales[AMOUNT])", num(12)},
      {"One[Amount]", num(9)},
      {"Nope[Amount]", err(CellErrorCode::Ref)},
      {"Sales[Missing]", err(CellErrorCode::Ref)},
      {"SUM(Sales[[#Headers],[Amount]])", num(-0.0)},
  };
  run(wb, cases);
}

}  // namespace
}  // namespace cmx::formula
