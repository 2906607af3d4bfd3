// FILTER, SORT, SORTBY and UNIQUE in array context and in an ordinary cell,
// the shared sort-key order and the small ordering helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "array_fn_cases.h"
#include "arrayfns/filter_sort.h"

namespace cmx::formula::testing {
namespace {

inline CellValue calc() { return CellValue::error(model::CellErrorCode::Calc); }
inline CellValue empty() { return CellValue(); }

// A1:A7 mixed kinds with A7 empty; B1:B3 1, #N/A, 1; C1:C2 0 and empty;
// D1:E2 texts that hold the key separator byte.
struct Sheet : Workbook {
  Sheet() {
    set(0, "A1", num(2));
    set(0, "A2", txt(""));
    set(0, "A3", txt("b"));
    set(0, "A4", boolean(true));
    set(0, "A5", na());
    set(0, "A6", txt("A"));
    set(0, "B1", num(1));
    set(0, "B2", na());
    set(0, "B3", num(1));
    set(0, "C1", num(0));
    set(0, "D1", txt("a\x1ft:b"));
    set(0, "E1", txt("c"));
    set(0, "D2", txt("a"));
    set(0, "E2", txt("b\x1ft:c"));
  }
};

TEST(Sort, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"SORT({3;1;2})", 3, 1, {num(1), num(2), num(3)}},
      {"SORT({3;1;2},1,-1)", 3, 1, {num(3), num(2), num(1)}},
      {"SORT({3;1;2},1,0)", 3, 1, {num(1), num(2), num(3)}},
      {"SORT({3;1;2},1.9,2)", 3, 1, {num(1), num(2), num(3)}},
      // Kinds in order, the empty cell last in both directions.
      {"SORT(A1:A7)", 7, 1, {num(2), txt(""), txt("A"), txt("b"), boolean(true), na(), empty()}},
      {"SORT(A1:A7,1,-1)",
       7,
       1,
       {na(), boolean(true), txt("b"), txt("A"), txt(""), num(2), empty()}},
      // Character class before code point.
      {"SORT({\"b\";\"_\";\"1\";\"A\"})", 4, 1, {txt("_"), txt("1"), txt("A"), txt("b")}},
      // Stable in both directions.
      {"SORT({1,\"x\";1,\"y\"},1,-1)", 2, 2, {num(1), txt("x"), num(1), txt("y")}},
      {"SORT({2,\"a\";1,\"b\";2,\"c\"},1)", 3, 2,
       {num(1), txt("b"), num(2), txt("a"), num(2), txt("c")}},
      {"SORT({3,\"a\";1,\"b\";2,\"c\"},2,-1)", 3, 2,
       {num(2), txt("c"), num(1), txt("b"), num(3), txt("a")}},
      // Columns by a row.
      {"SORT({1,2,3;9,7,8},2,1,TRUE)", 2, 3, {num(2), num(3), num(1), num(7), num(8), num(9)}},
      {"SORT(5)", 1, 1, {num(5)}},
      // Index out of range, bad arguments, errors passed on.
      {"SORT({1,2;3,4},3)", 1, 1, {value_error()}},
      {"SORT({1,2;3,4},3,1,TRUE)", 1, 1, {value_error()}},
      {"SORT({1;2},0)", 1, 1, {value_error()}},
      {"SORT({1;2},0.5)", 1, 1, {value_error()}},
      {"SORT({1;2},1048577)", 1, 1, {value_error()}},
      {"SORT({1;2},\"x\")", 1, 1, {value_error()}},
      {"SORT({1;2},1,1/0)", 1, 1, {div0()}},
      {"SORT(1/0)", 1, 1, {div0()}},
      {"SORT()", 1, 1, {value_error()}},
      {"SORT({1;2},1,1,FALSE,1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(SortBy, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"SORTBY({\"a\";\"b\";\"c\"},{3;1;2})", 3, 1, {txt("b"), txt("c"), txt("a")}},
      {"SORTBY({\"a\",1;\"b\",2;\"c\",3},{3;1;2},-1)", 3, 2,
       {txt("a"), num(1), txt("c"), num(3), txt("b"), num(2)}},
      // Ties of the first key broken by the second, descending.
      {"SORTBY({\"a\";\"b\";\"c\";\"d\"},{1;2;1;2},1,{1;2;3;4},-1)", 4, 1,
       {txt("c"), txt("a"), txt("d"), txt("b")}},
      // A trailing key without its order sorts ascending.
      {"SORTBY({\"a\";\"b\";\"c\"},{2;2;1},1,{3;1;2})", 3, 1, {txt("c"), txt("b"), txt("a")}},
      // Stable when descending.
      {"SORTBY({\"x\";\"y\";\"z\"},{1;2;1},-1)", 3, 1, {txt("y"), txt("x"), txt("z")}},
      // Empty keys last either way.
      {"SORTBY({\"p\";\"q\";\"r\"},C1:C3,-1)", 3, 1, {txt("p"), txt("q"), txt("r")}},
      {"SORTBY({1;2;3},{1,2;3,4;5,6})", 1, 1, {value_error()}},
      {"SORTBY({1;2;3},{1;2})", 1, 1, {value_error()}},
      {"SORTBY({1;2;3},{1,2,3})", 1, 1, {value_error()}},
      {"SORTBY({1;2})", 1, 1, {value_error()}},
      {"SORTBY({1;2},{2;1},1/0)", 1, 1, {div0()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Filter, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"FILTER({1,2;3,4;5,6},{TRUE;FALSE;TRUE})", 2, 2, {num(1), num(2), num(5), num(6)}},
      {"FILTER({1,2,3},{1,0,1})", 1, 2, {num(1), num(3)}},
      {"FILTER({1,2;3,4;5,6},{0;0;0})", 1, 1, {calc()}},
      {"FILTER({1,2;3,4;5,6},{0;0;0},\"none\")", 1, 1, {txt("none")}},
      {"FILTER({1,2;3,4;5,6},{0;0;0},{7,8})", 1, 1, {num(7)}},
      {"FILTER({1;2},{0;0},C2)", 1, 1, {calc()}},
      {"FILTER({1;2},{0;0},1/0)", 1, 1, {div0()}},
      // if_empty is evaluated only when nothing is kept.
      {"FILTER({1;2},{1;0},1/0)", 1, 1, {num(1)}},
      {"FILTER({1,2;3,4;5,6},{1;\"x\";1})", 1, 1, {value_error()}},
      {"FILTER({1,2;3,4;5,6},{\"true\";\"FALSE\";0})", 1, 2, {num(1), num(2)}},
      // One row matching the columns selects columns.
      {"FILTER({1,2;3,4;5,6},{1,0})", 3, 1, {num(1), num(3), num(5)}},
      {"FILTER({1,2;3,4;5,6},{1;0})", 1, 1, {value_error()}},
      {"FILTER({1;2;3},B1:B3)", 1, 1, {na()}},
      {"FILTER({1;2;3},C1:C3)", 1, 1, {calc()}},
      {"FILTER({1;2})", 1, 1, {value_error()}},
      {"FILTER(1/0,{1})", 1, 1, {div0()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Unique, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"UNIQUE({\"a\";\"A\";\"b\"})", 2, 1, {txt("a"), txt("b")}},
      {"UNIQUE({1;1;2},FALSE,TRUE)", 1, 1, {num(2)}},
      {"UNIQUE({1;1},FALSE,TRUE)", 1, 1, {na()}},
      {"UNIQUE(C1:C2)", 1, 1, {num(0)}},
      {"UNIQUE({1,1;1,1},TRUE)", 2, 1, {num(1), num(1)}},
      {"UNIQUE({1,2,1;3,4,3},TRUE)", 2, 2, {num(1), num(2), num(3), num(4)}},
      {"UNIQUE({1,2;1,2;2,1})", 2, 2, {num(1), num(2), num(2), num(1)}},
      // A number and its text, TRUE and 1, are different values.
      {"UNIQUE({1;\"1\";TRUE;1})", 3, 1, {num(1), txt("1"), boolean(true)}},
      {"UNIQUE({0;-0})", 1, 1, {num(0)}},
      {"UNIQUE({#N/A;#N/A;#DIV/0!})", 2, 1, {na(), div0()}},
      // Full case mapping: the final capital sigma.
      {"UNIQUE({\"ΟΔΟΣ\";\"οδος\";\"οδός\"})", 2, 1, {txt("ΟΔΟΣ"), txt("οδός")}},
      // Texts holding the separator byte cannot merge two rows' keys.
      {"UNIQUE(D1:E2)", 2, 2, {txt("a\x1ft:b"), txt("c"), txt("a"), txt("b\x1ft:c")}},
      {"UNIQUE(1/0)", 1, 1, {div0()}},
      {"UNIQUE()", 1, 1, {value_error()}},
      {"UNIQUE({1},FALSE,FALSE,1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(SortKeys, EmptyLastAndInvertedOtherwise) {
  struct Case {
    CellValue a, b;
    bool descending;
    int want;
  };
  const Case cases[] = {
      {empty(), num(1), false, 1},  {empty(), num(1), true, 1},
      {num(1), empty(), true, -1},  {empty(), empty(), true, 0},
      {num(1), txt("a"), false, -1}, {num(1), txt("a"), true, 1},
      {na(), div0(), false, 0},     {boolean(false), boolean(true), true, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compare_sort_keys(c.a, c.b, c.descending), c.want);
  }
}

TEST(ArrayFunctionTable, EveryNameHasItsHandler) {
  for (std::string_view name : array_function_names()) {
    SCOPED_TRACE(std::string(name));
    EXPECT_NE(array_function(name), nullptr);
  }
}

TEST(OrderingHelpers, IndicesAndTotalOrder) {
  EXPECT_EQ(indices_ascending(3), (std::vector<uint64_t>{0, 1, 2}));
  EXPECT_EQ(indices_descending(3), (std::vector<uint64_t>{2, 1, 0}));
  EXPECT_TRUE(indices_ascending(0).empty());
  std::vector<double> xs = {3, 0.0, -1, -0.0, 2, -0.0, 0.0};
  insertion_sort_numbers(xs);
  const double want[] = {-1, -0.0, -0.0, 0.0, 0.0, 2, 3};
  for (size_t i = 0; i < xs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(xs[i], want[i]);
    EXPECT_EQ(std::signbit(xs[i]), std::signbit(want[i]));
  }
}

}  // namespace
}  // namespace cmx::formula::testing
