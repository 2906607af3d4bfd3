// HSTACK, VSTACK, ROW, COLUMN, ROWS and COLUMNS in array context and in an
// ordinary cell.
#include <gtest/gtest.h>

#include "array_fn_cases.h"

namespace cmx::formula::testing {
namespace {

// A1:B2 hold 1..4; the sheet's used rows end at row 4 (A4 "x").
struct Sheet : Workbook {
  Sheet() {
    set(0, "A1", num(1));
    set(0, "B1", num(2));
    set(0, "A2", num(3));
    set(0, "B2", num(4));
    set(0, "A4", txt("x"));
  }
};

TEST(Stack, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"HSTACK({1;2;3},{4;5})", 3, 2, {num(1), num(4), num(2), num(5), num(3), na()}},
      {"VSTACK({1,2},{3})", 2, 2, {num(1), num(2), num(3), na()}},
      {"HSTACK(5)", 1, 1, {num(5)}},
      {"HSTACK(A1:B2,\"t\")", 2, 3, {num(1), num(2), txt("t"), num(3), num(4), na()}},
      {"VSTACK(A1:B2,{5,6,7})", 3, 3,
       {num(1), num(2), na(), num(3), num(4), na(), num(5), num(6), num(7)}},
      {"VSTACK(A1:B2,NA())", 1, 1, {na()}},
      {"HSTACK(1,1/0)", 1, 1, {div0()}},
      {"VSTACK()", 1, 1, {value_error()}},
      {"HSTACK()", 1, 1, {value_error()}},
      // Over the cell limit once joined, each input within it.
      {"VSTACK(A2:A1048576,A2:A3)", 1, 1, {num_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(ShapeOfReferences, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"ROWS({1;2;3})", 1, 1, {num(3)}},
      {"COLUMNS({1;2;3})", 1, 1, {num(1)}},
      {"COLUMNS({1,2;3,4}+0)", 1, 1, {num(2)}},
      {"ROWS(A1:C10)", 1, 1, {num(10)}},
      {"COLUMNS(A1:C10)", 1, 1, {num(3)}},
      {"ROWS(1/0)", 1, 1, {div0()}},
      {"ROW(B3:B5)", 3, 1, {num(3), num(4), num(5)}},
      {"COLUMN(B3:D3)", 1, 3, {num(2), num(3), num(4)}},
      {"ROW(B3:D5)", 3, 1, {num(3), num(4), num(5)}},
      {"COLUMN(B3:D5)", 1, 3, {num(2), num(3), num(4)}},
      {"ROW(B3)", 1, 1, {num(3)}},
      {"COLUMN(B3)", 1, 1, {num(2)}},
      {"ROW(A:A)", 4, 1, {num(1), num(2), num(3), num(4)}},
      {"ROW(3:4)", 2, 1, {num(3), num(4)}},
      {"COLUMN(3:4)", 1, 2, {num(1), num(2)}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
  // In an ordinary cell the built-ins answer with the top-left.
  const ArrayFnCase scalar_cases[] = {
      {"ROW(B3:B5)", 1, 1, {num(3)}},
      {"COLUMN(B3:D3)", 1, 1, {num(2)}},
  };
  for (const ArrayFnCase& c : scalar_cases) {
    SCOPED_TRACE(std::string(c.formula));
    EXPECT_TRUE(same_value(wb.eval(c.formula), c.want.front()));
  }
}

TEST(ShapeOfReferences, BuiltinPathChargesArgumentNodes) {
  Sheet wb;
  EvalContext ctx = wb.context();
  auto tree = parse_formula("ROWS(A1:C10)");
  ASSERT_TRUE(tree.has_value());
  const uint64_t before = ctx.shared->cells_left;
  EvalResult got = eval_array(**tree, ctx);
  ASSERT_TRUE(got.is_scalar());
  EXPECT_TRUE(same_value(got.as_scalar(), num(10)));
  EXPECT_GT(before, ctx.shared->cells_left);
}

}  // namespace
}  // namespace cmx::formula::testing
