// SEQUENCE, TAKE, DROP, EXPAND, CHOOSEROWS/CHOOSECOLS, TOCOL/TOROW,
// WRAPROWS/WRAPCOLS and TRANSPOSE, in array context and in an ordinary cell,
// with their size limits and budget charges.
#include <gtest/gtest.h>

#include "array_fn_cases.h"
#include "arrayfns/shape.h"

namespace cmx::formula::testing {
namespace {

// A1:C5 hold row × 10 + column (A1 11, C5 53); D1 the text "x"; E1:E3 empty.
struct Grid : Workbook {
  Grid() {
    const char* cols = "ABC";
    for (int r = 1; r <= 5; ++r) {
      for (int c = 0; c < 3; ++c) {
        set(0, std::string(1, cols[c]) + std::to_string(r), num(r * 10 + c + 1));
      }
    }
    set(0, "D1", txt("x"));
  }
};

TEST(Sequence, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"SEQUENCE(3)", 3, 1, {num(1), num(2), num(3)}},
      {"SEQUENCE(2,3,0,0.5)", 2, 3, {num(0), num(0.5), num(1), num(1.5), num(2), num(2.5)}},
      {"SEQUENCE(1,3,10,-5)", 1, 3, {num(10), num(5), num(0)}},
      {"SEQUENCE(1)", 1, 1, {num(1)}},
      {"SEQUENCE(1.9,\"2\")", 1, 2, {num(1), num(2)}},  // truncated; text parsed
      {"SEQUENCE(2,,5)", 2, 1, {num(5), num(6)}},        // omitted cols: 1
      {"SEQUENCE(2,2,1E308,1E308)", 2, 2, {num(1e308), num_error(), num_error(), num_error()}},
      // Sizes: below 1, above the limit, non-finite, not a number.
      {"SEQUENCE(0)", 1, 1, {value_error()}},
      {"SEQUENCE(1048577)", 1, 1, {value_error()}},
      {"SEQUENCE(1048576.5)", 1, 1, {value_error()}},
      {"SEQUENCE(1048576,2)", 1, 1, {num_error()}},
      {"SEQUENCE(\"abc\")", 1, 1, {value_error()}},
      {"SEQUENCE(1/0)", 1, 1, {div0()}},
      {"SEQUENCE(2,2,1/0)", 1, 1, {div0()}},
      {"SEQUENCE()", 1, 1, {value_error()}},
      {"SEQUENCE(1,1,1,1,1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(TakeDrop, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"TAKE(A1:C4,2)", 2, 3, {num(11), num(12), num(13), num(21), num(22), num(23)}},
      {"TAKE(A1:C4,-1)", 1, 3, {num(41), num(42), num(43)}},
      {"TAKE(A1:C2,10)", 2, 3, {num(11), num(12), num(13), num(21), num(22), num(23)}},
      {"TAKE(A1:C2,,2)", 2, 2, {num(11), num(12), num(21), num(22)}},
      {"TAKE(A1:C4,-2,-1)", 2, 1, {num(33), num(43)}},
      {"TAKE(A1:C4,1.9,TRUE)", 1, 1, {num(11)}},
      {"TAKE(A1:C4,-0.5)", 1, 1, {value_error()}},  // -0.5 counts as 0, not negative
      {"TAKE(A1:C4,0)", 1, 1, {value_error()}},
      {"DROP(A1:C4,10)", 1, 1, {value_error()}},
      {"DROP(A1:C4,-1,1)", 3, 2, {num(12), num(13), num(22), num(23), num(32), num(33)}},
      {"DROP(A1:C4,3)", 1, 3, {num(41), num(42), num(43)}},
      {"DROP(A1:C2,,-2)", 2, 1, {num(11), num(21)}},
      {"DROP({1,2,3},0)", 1, 3, {num(1), num(2), num(3)}},
      {"TAKE(A1:C4,\"x\")", 1, 1, {value_error()}},
      {"TAKE(A1:C4,NA())", 1, 1, {na()}},
      {"TAKE(1/0,1)", 1, 1, {div0()}},
      {"TAKE(A1:C4)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Expand, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"EXPAND(A1:B2,3,3)", 3, 3,
       {num(11), num(12), na(), num(21), num(22), na(), na(), na(), na()}},
      {"EXPAND(A1:B2,3,3,\"\")", 3, 3,
       {num(11), num(12), txt(""), num(21), num(22), txt(""), txt(""), txt(""), txt("")}},
      {"EXPAND(A1:B2,,3,0)", 2, 3, {num(11), num(12), num(0), num(21), num(22), num(0)}},
      {"EXPAND(7,2)", 2, 1, {num(7), na()}},
      {"EXPAND(A1:B2,1)", 1, 1, {value_error()}},
      {"EXPAND(A1:B2,3,3,NA())", 1, 1, {na()}},
      {"EXPAND(A1:B2,1048577)", 1, 1, {value_error()}},
      {"EXPAND(A1:B2,1024,1025)", 1, 1, {num_error()}},
      {"EXPAND(A1:B2)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(ChooseRowsCols, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"CHOOSEROWS(A1:C5,-1,1,1)", 3, 3,
       {num(51), num(52), num(53), num(11), num(12), num(13), num(11), num(12), num(13)}},
      {"CHOOSEROWS(A1:C5,{2;\"3\"})", 2, 3, {num(21), num(22), num(23), num(31), num(32), num(33)}},
      {"CHOOSECOLS(A1:C2,{1,3})", 2, 2, {num(11), num(13), num(21), num(23)}},
      {"CHOOSECOLS(A1:C2,-3,TRUE)", 2, 2, {num(11), num(11), num(21), num(21)}},
      {"CHOOSEROWS(A1:C5,0)", 1, 1, {value_error()}},
      {"CHOOSEROWS(A1:C5,6)", 1, 1, {value_error()}},
      {"CHOOSEROWS(A1:C5,-6)", 1, 1, {value_error()}},
      {"CHOOSECOLS(A1:C5,{1,#N/A})", 1, 1, {na()}},
      {"CHOOSECOLS(A1:C5,\"a\")", 1, 1, {value_error()}},
      {"CHOOSEROWS(A1:C5)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(ToColRow, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"TOCOL(A1:B2)", 4, 1, {num(11), num(12), num(21), num(22)}},
      {"TOCOL(A1:B2,0,TRUE)", 4, 1, {num(11), num(21), num(12), num(22)}},
      {"TOROW(A1:B2,,1)", 1, 4, {num(11), num(21), num(12), num(22)}},
      {"TOROW({1,#N/A;3,4},2)", 1, 3, {num(1), num(3), num(4)}},
      {"TOCOL(D1:E2,1)", 1, 1, {txt("x")}},
      {"TOCOL(D1:E2)", 4, 1, {txt("x"), CellValue(), CellValue(), CellValue()}},
      {"TOCOL(E1:E3,1)", 1, 1, {na()}},
      {"TOCOL({#N/A,1},3.7)", 1, 1, {num(1)}},
      {"TOCOL(A1:B2,4)", 1, 1, {value_error()}},
      {"TOCOL(A1:B2,-1)", 1, 1, {value_error()}},
      {"TOCOL(A1:B2,0,\"maybe\")", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(WrapRowsCols, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"WRAPROWS({1,2,3,4,5},2)", 3, 2, {num(1), num(2), num(3), num(4), num(5), na()}},
      {"WRAPCOLS({1,2,3,4,5},2)", 2, 3, {num(1), num(3), num(5), num(2), num(4), na()}},
      {"WRAPROWS(A1:A3,2,0)", 2, 2, {num(11), num(21), num(31), num(0)}},
      {"WRAPCOLS(7,3,\"-\")", 3, 1, {num(7), txt("-"), txt("-")}},
      {"WRAPROWS({1,2,3},5)", 1, 5, {num(1), num(2), num(3), na(), na()}},
      {"WRAPROWS({1,2;3,4},2)", 1, 1, {value_error()}},
      {"WRAPROWS(A1:A3,0)", 1, 1, {value_error()}},
      {"WRAPROWS(A1:A3,2,NA())", 1, 1, {na()}},
      {"WRAPROWS(A1:A3)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Transpose, Table) {
  Grid wb;
  const ArrayFnCase cases[] = {
      {"TRANSPOSE(A1:C2)", 3, 2, {num(11), num(21), num(12), num(22), num(13), num(23)}},
      {"TRANSPOSE({1,2,3})", 3, 1, {num(1), num(2), num(3)}},
      {"TRANSPOSE(5)", 1, 1, {num(5)}},
      {"TRANSPOSE(1/0)", 1, 1, {div0()}},
      {"TRANSPOSE(A1,A2)", 1, 1, {value_error()}},
  };
  // TRANSPOSE is also a built-in: an ordinary cell reaches this form only
  // through an argument that needs array context.
  check_both_contexts(wb, cases, /*scalar_too=*/false);
  const ArrayFnCase routed[] = {
      {"TRANSPOSE(SEQUENCE(1,3))", 3, 1, {num(1), num(2), num(3)}},
  };
  check_both_contexts(wb, routed);
}

TEST(ShapeCharges, CellsAndTextBytes) {
  Grid wb;
  // The result's cells are paid for once, before it is built.
  EvalContext ctx = wb.context();
  const uint64_t before = ctx.shared->cells_left;
  EXPECT_TRUE(same_value(wb.eval("SEQUENCE(100,10)", ctx), num(1)));
  EXPECT_EQ(before - ctx.shared->cells_left, 1000u);
  // A budget too small for the result: #NUM! and the evaluation is limited.
  EvalContext small = wb.context();
  small.shared->cells_left = 999;
  EXPECT_TRUE(same_value(wb.eval("SEQUENCE(100,10)", small), num_error()));
  EXPECT_TRUE(small.shared->limited);
  EXPECT_EQ(small.shared->cells_left, 999u);
  // Too large a result is refused without marking the evaluation limited.
  EvalContext large = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SEQUENCE(1048576,2)", large), num_error()));
  EXPECT_FALSE(large.shared->limited);
  // Texts copied into a result are paid for by their bytes.
  EvalContext bytes = wb.context();
  bytes.shared->bytes_left = 5;
  EXPECT_TRUE(same_value(wb.eval("EXPAND(1,3,1,\"abc\")", bytes), num_error()));
  EXPECT_TRUE(bytes.shared->limited);
}

TEST(PickRowsCols, OrderAndRepeats) {
  Grid wb;
  EvalContext ctx = wb.context();
  ArrayValue source{{num(1), num(2), num(3), num(4), num(5), num(6)}, 2, 3};
  const uint64_t cols[] = {2, 0, 2};
  EvalResult picked = pick_rows_cols(ctx, source, cols, PickAxis::Cols);
  ASSERT_TRUE(picked.is_array());
  EXPECT_EQ(picked.as_array().values,
            (std::vector<CellValue>{num(3), num(1), num(3), num(6), num(4), num(6)}));
  const uint64_t rows[] = {1, 1};
  picked = pick_rows_cols(ctx, source, rows, PickAxis::Rows);
  ASSERT_TRUE(picked.is_array());
  EXPECT_EQ(picked.as_array().rows, 2u);
  EXPECT_EQ(picked.as_array().values,
            (std::vector<CellValue>{num(4), num(5), num(6), num(4), num(5), num(6)}));
}

}  // namespace
}  // namespace cmx::formula::testing
