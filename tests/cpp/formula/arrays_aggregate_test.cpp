// SUM, PRODUCT, MIN, MAX, AVERAGE, COUNT, COUNTA and SUMPRODUCT over
// computed arrays, and their hand-over to the built-ins.
#include <gtest/gtest.h>

#include <cmath>

#include "array_fn_cases.h"

namespace cmx::formula::testing {
namespace {

// A1:A5 hold 1..5; B1 the text "3"; B2 #N/A; C1 is empty.
struct Sheet : Workbook {
  Sheet() {
    for (int r = 1; r <= 5; ++r) set(0, "A" + std::to_string(r), num(r));
    set(0, "B1", txt("3"));
    set(0, "B2", na());
  }
};

TEST(ArrayAggregates, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"SUM(FILTER(A1:A5,A1:A5>2))", 1, 1, {num(12)}},
      {"SUM(1,2)", 1, 1, {num(3)}},
      {"SUM({1,2},\"3\")", 1, 1, {num(6)}},
      {"SUM({1,2},\"x\")", 1, 1, {value_error()}},
      {"SUM({1,2},B1)", 1, 1, {num(3)}},  // a text in a cell is skipped
      {"SUM({1,2},B2)", 1, 1, {na()}},
      {"SUM({1,2},TRUE,C1)", 1, 1, {num(4)}},
      {"SUM({1,#N/A})", 1, 1, {na()}},
      {"SUM({1E308,1E308})", 1, 1, {num_error()}},
      {"PRODUCT({\"a\",TRUE})", 1, 1, {num(1)}},
      {"PRODUCT({2,3},4)", 1, 1, {num(24)}},
      {"MIN({\"a\",TRUE})", 1, 1, {num(0)}},
      {"MAX({\"a\",TRUE})", 1, 1, {num(0)}},
      {"MIN({4,-2,7},1)", 1, 1, {num(-2)}},
      {"MAX({4,-2,7},A1:A5)", 1, 1, {num(7)}},
      {"AVERAGE({\"a\",TRUE})", 1, 1, {div0()}},
      {"AVERAGE({1,2},TRUE)", 1, 1, {num(4.0 / 3.0)}},
      {"COUNT({1,#N/A,\"x\"})", 1, 1, {num(1)}},
      {"COUNT({1,2},1/0)", 1, 1, {div0()}},
      {"COUNT({1,2},\"abc\")", 1, 1, {value_error()}},
      {"COUNT({1,2},B2)", 1, 1, {num(2)}},  // an error in a cell is skipped
      {"COUNTA({1,\"\",#N/A},C1)", 1, 1, {num(3)}},
      {"COUNTA({1,2}*1,FALSE)", 1, 1, {num(3)}},
      {"SUMPRODUCT({1,2},{3,4})", 1, 1, {num(11)}},
      {"SUMPRODUCT({1,2},{TRUE,\"x\"})", 1, 1, {num(1)}},
      {"SUMPRODUCT({1,2,3},{1,2})", 1, 1, {na()}},
      {"SUMPRODUCT({1;2},{1,2})", 1, 1, {num(9)}},
      {"SUMPRODUCT({1,2},{#DIV/0!,1})", 1, 1, {div0()}},
  };
  // In an ordinary cell the built-ins of these names answer.
  check_both_contexts(wb, cases, /*scalar_too=*/false);
}

TEST(ArrayAggregates, EmptySumIsNegativeZero) {
  Sheet wb;
  EvalContext ctx = wb.context();
  auto tree = parse_formula("SUM({\"a\",TRUE})");
  ASSERT_TRUE(tree.has_value());
  EvalResult got = eval_array(**tree, ctx);
  ASSERT_TRUE(got.is_scalar());
  ASSERT_TRUE(got.as_scalar().is_number());
  EXPECT_EQ(got.as_scalar().as_number(), 0.0);
  EXPECT_TRUE(std::signbit(got.as_scalar().as_number()));
}

}  // namespace
}  // namespace cmx::formula::testing
