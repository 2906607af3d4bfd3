// MATCH, XMATCH and XLOOKUP in array context: arrays of lookup values,
// computed vectors, the comparison charge; and in an ordinary cell.
#include <gtest/gtest.h>

#include "array_fn_cases.h"
#include "arrayfns/array_lookup.h"

namespace cmx::formula::testing {
namespace {

// A1:A9 hold 1..9.
struct Sheet : Workbook {
  Sheet() {
    for (int r = 1; r <= 9; ++r) set(0, "A" + std::to_string(r), num(r));
  }
};

TEST(ArrayMatch, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"MATCH({2,3},{1,2,3},0)", 1, 2, {num(2), num(3)}},
      {"MATCH(\"B\",{\"a\",\"b\"},0)", 1, 1, {num(2)}},
      {"MATCH(5,{1,7,3},1)", 1, 1, {num(1)}},
      {"MATCH(0,{1,2},1)", 1, 1, {na()}},
      {"MATCH(2,{3,2,1},-1)", 1, 1, {num(2)}},
      {"MATCH(9,{1,2}*1,0)", 1, 1, {na()}},
      {"MATCH({#N/A;4},{#N/A,4},0)", 2, 1, {num(1), num(2)}},
      // A reference goes to the built-in, lifted over the lookup values.
      {"MATCH(4,A1:A9,0)", 1, 1, {num(4)}},
      {"MATCH({4,5},A1:A9,0)", 1, 2, {num(4), num(5)}},
      {"MATCH(1/0,{1,2},0)", 1, 1, {div0()}},
      {"MATCH(1,1/0,0)", 1, 1, {div0()}},
      {"MATCH(1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
}

TEST(ArrayXMatch, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"XMATCH(25,{10,20,30},-1)", 1, 1, {num(2)}},
      {"XMATCH(25,{10,20,30},1)", 1, 1, {num(3)}},
      {"XMATCH(20,{20,10,20},0,-1)", 1, 1, {num(3)}},
      {"XMATCH(\"b*\",{\"apple\",\"Banana\"},2)", 1, 1, {num(2)}},
      {"XMATCH(\"?PPLE\",{\"apple\",\"Banana\"},2)", 1, 1, {num(1)}},
      {"XMATCH(\"a~*\",{\"ab\",\"a*\"},2)", 1, 1, {num(2)}},
      {"XMATCH(15,{30,10,20},-1)", 1, 1, {num(2)}},
      {"XMATCH(15,{10,20,20},1)", 1, 1, {num(2)}},
      {"XMATCH(15,{10,20,20},1,-1)", 1, 1, {num(3)}},
      {"XMATCH({10;30;5},{10,20,30})", 3, 1, {num(1), num(3), na()}},
      {"XMATCH(4,A1:A9)", 1, 1, {num(4)}},
      {"XMATCH(1,{1},3)", 1, 1, {value_error()}},
      {"XMATCH(1,{1},0,0)", 1, 1, {value_error()}},
      {"XMATCH(1,{1},0,3)", 1, 1, {value_error()}},
      {"XMATCH(1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
}

TEST(ArrayXLookup, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"XLOOKUP(2,{1;2;3},{\"a\";\"b\";\"c\"})", 1, 1, {txt("b")}},
      {"XLOOKUP({1;3},{1;2;3},{10;20;30})", 2, 1, {num(10), num(30)}},
      {"XLOOKUP(9,{1;2},{10;20})", 1, 1, {na()}},
      {"XLOOKUP(9,{1;2},{10;20},\"none\")", 1, 1, {txt("none")}},
      {"XLOOKUP({9,1},{1;2},{10;20},\"none\")", 1, 2, {txt("none"), num(10)}},
      {"XLOOKUP(9,{1;2},{10;20},1/0)", 1, 1, {div0()}},
      // if_not_found is never evaluated without a miss.
      {"XLOOKUP(1,{1;2},{10;20},1/0)", 1, 1, {num(10)}},
      {"XLOOKUP(2,{1;2},{1,2;3,4})", 1, 2, {num(3), num(4)}},
      {"XLOOKUP(2,{1,2},{10,20})", 1, 1, {num(20)}},
      {"XLOOKUP(2,{1,2},{10,20;30,40})", 2, 1, {num(20), num(40)}},
      {"XLOOKUP(25,{10;20;30},{1;2;3},,1)", 1, 1, {num(3)}},
      {"XLOOKUP(\"b?\",{\"ax\";\"bx\"},{1;2},,2)", 1, 1, {num(2)}},
      {"XLOOKUP(1,{1,2;3,4},{1;2})", 1, 1, {value_error()}},
      {"XLOOKUP(1,{1;2},{1;2;3})", 1, 1, {value_error()}},
      {"XLOOKUP(1,{1;2},{1;2},,5)", 1, 1, {value_error()}},
      {"XLOOKUP(1,{1;2})", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
}

TEST(ArrayLookups, LaterLookupsPayTheirComparisons) {
  Sheet wb;
  struct Case {
    const char* formula;
    uint64_t paid;
  };
  // The constants' cells; three lookups over a four-value vector, the first
  // free, then 4 comparisons to miss and 2 to the hit; three result cells.
  const Case cases[] = {
      {"XMATCH({1;9;2},{1,2,3,4})", 3 + 4 + (4 + 2) + 3},
      {"MATCH({1;9;2},{1,2,3,4},0)", 3 + 4 + (4 + 2) + 3},
      {"XLOOKUP({1;9;2},{1;2;3;4},{5;6;7;8})", 3 + 4 + 4 + (4 + 2) + 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = wb.context();
    auto tree = parse_formula(c.formula);
    ASSERT_TRUE(tree.has_value());
    const uint64_t before = ctx.shared->cells_left;
    EvalResult got = eval_array(**tree, ctx);
    ASSERT_TRUE(got.is_array());
    EXPECT_EQ(before - ctx.shared->cells_left, c.paid);
  }
}

}  // namespace
}  // namespace cmx::formula::testing
