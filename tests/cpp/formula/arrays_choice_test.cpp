// IF, IFERROR and IFNA element by element, INDEX over arrays and its
// hand-over to the built-in for single cells of ranges, and ANCHORARRAY.
#include <gtest/gtest.h>

#include "array_fn_cases.h"

namespace cmx::formula::testing {
namespace {

// A1:C3 hold row × 10 + column (A1 11, C3 33); E1 is empty; A5 anchors an
// array formula spilled over A5:B7 holding 1..6; sheet 2's A1 holds 99.
struct Book : Workbook {
  Book() : Workbook(2) {
    const char* cols = "ABC";
    for (int r = 1; r <= 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        set(0, std::string(1, cols[c]) + std::to_string(r), num(r * 10 + c + 1));
      }
    }
    const char* spilled[] = {"A5", "B5", "A6", "B6", "A7", "B7"};
    for (int i = 0; i < 6; ++i) set(0, spilled[i], num(i + 1));
    model.sheets[0].array_ranges[{4, 0}] = model::parse_range("A5:B7").value();
    set(1, "A1", num(99));
  }
};

// IF, IFERROR, IFNA and INDEX are built-ins as well: an ordinary cell uses
// these forms only when an argument needs array context, so each table is
// followed by such routed formulas checked in both contexts.

TEST(IfElementwise, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"IF({TRUE,FALSE},1,2)", 1, 2, {num(1), num(2)}},
      {"IF({TRUE,FALSE},1)", 1, 2, {num(1), boolean(false)}},
      {"IF({1,0},{10,20,30},0)", 1, 2, {num(10), num(0)}},  // the condition sets the shape
      {"IF({1;0},{10,20},{7;8})", 2, 1, {num(10), num(8)}},
      {"IF({TRUE,FALSE},E1,2)", 1, 2, {num(0), num(2)}},
      {"IF(TRUE,E1)", 1, 1, {CellValue()}},
      {"IF(TRUE,SEQUENCE(2))", 2, 1, {num(1), num(2)}},
      {"IF(0,1)", 1, 1, {boolean(false)}},
      {"IF(\"true\",\"y\",\"n\")", 1, 1, {txt("y")}},
      {"IF({\"x\"},1,2)", 1, 1, {value_error()}},
      {"IF({1;#N/A;\"x\"},1,2)", 3, 1, {num(1), na(), value_error()}},
      {"IF(A1:A2>15,A1:A2,\"small\")", 2, 1, {txt("small"), num(21)}},
      {"IF(1/0,1,2)", 1, 1, {div0()}},
      {"IF(\"x\",1,2)", 1, 1, {value_error()}},
      {"IF(LAMBDA(v,v),1,2)", 1, 1, {value_error()}},
      {"IF(1)", 1, 1, {value_error()}},
      {"IF(1,2,3,4)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
  const ArrayFnCase routed[] = {
      {"IF(SEQUENCE(2)>1,\"b\",\"a\")", 2, 1, {txt("a"), txt("b")}},
      {"IF(TRUE,SEQUENCE(3))", 3, 1, {num(1), num(2), num(3)}},
  };
  check_both_contexts(wb, routed);
  // Only the chosen branch runs when the condition is one value.
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("IF(SEQUENCE(1),1,FOO())", ctx), num(1)));
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);
}

TEST(IfErrorElementwise, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"IFERROR({1,#N/A,3},0)", 1, 3, {num(1), num(0), num(3)}},
      {"IFNA({#DIV/0!,#N/A},0)", 1, 2, {div0(), num(0)}},
      {"IFERROR(1/0,{7,8})", 1, 2, {num(7), num(8)}},
      {"IFERROR({1,2},{5,6,7})", 1, 3, {num(1), num(2), num(7)}},
      {"IFERROR({1,2},{5;6})", 2, 2, {num(1), num(2), num(1), num(2)}},  // one row repeats down
      {"IFERROR({1,2},9)", 1, 2, {num(1), num(2)}},
      {"IFERROR({1,#N/A},{5,6})", 1, 2, {num(1), num(6)}},
      {"IFERROR(1/{1,0},\"z\")", 1, 2, {num(1), txt("z")}},
      {"IFNA(NA(),\"n\")", 1, 1, {txt("n")}},
      {"IFNA(1/0,\"n\")", 1, 1, {div0()}},
      {"IFERROR(5,1/0)", 1, 1, {num(5)}},
      {"IFERROR(1)", 1, 1, {value_error()}},
      {"IFNA(1,2,3)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
  const ArrayFnCase routed[] = {
      {"IFERROR(1/(SEQUENCE(2)-1),\"z\")", 2, 1, {txt("z"), num(1)}},
      {"IFNA(IF(SEQUENCE(2)=1,NA(),2),\"-\")", 2, 1, {txt("-"), num(2)}},
  };
  check_both_contexts(wb, routed);
  // A function value is no error: it is the result, shown as #VALUE! in a cell.
  EvalContext ctx = wb.context();
  EXPECT_TRUE(eval_array(*parse_formula("IFERROR(LAMBDA(v,v),1)").value(), ctx).is_lambda());
  EXPECT_TRUE(same_value(wb.eval("IFERROR(LAMBDA(v,v),1)"), value_error()));
}

TEST(IfErrorElementwise, ForgetsCountsOfWhatItReplaces) {
  Book wb;
  struct Case {
    const char* formula;
    CellValue want;
    uint64_t unknown;
  };
  const Case cases[] = {
      {"IFERROR(LET(v,NOSUCHFUNCTION(),v),5)", num(5), 0},
      {"IFERROR(LET(v,1,v),NOSUCHFUNCTION())", num(1), 0},   // never evaluated
      {"IFERROR(LET(v,{1,2},v),FOO())", num(1), 0},          // evaluated, then forgotten
      {"IFERROR(LET(v,{1,2},v),{1,2,3}+FOO())", num(1), 1},  // larger: it counts
      {"IFERROR(LET(v,1/0,v),FOO())", name_error(), 1},
      {"FOO()+IFERROR(LET(v,BAR(),v),5)", name_error(), 1},  // earlier counts stay
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = wb.context();
    EXPECT_TRUE(same_value(wb.eval(c.formula, ctx), c.want));
    EXPECT_EQ(ctx.shared->unknown_calls, c.unknown);
  }
}

TEST(IndexOverArrays, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"INDEX({1,2;3,4},2,1)", 1, 1, {num(3)}},
      {"INDEX({1,2;3,4},2)", 1, 2, {num(3), num(4)}},
      {"INDEX({1,2;3,4},0,2)", 2, 1, {num(2), num(4)}},
      {"INDEX({1,2;3,4},0,0)", 2, 2, {num(1), num(2), num(3), num(4)}},
      {"INDEX({1,2;3,4},1,)", 1, 2, {num(1), num(2)}},
      {"INDEX({1,2,3},2)", 1, 1, {num(2)}},
      {"INDEX({1;2;3},2)", 1, 1, {num(2)}},
      {"INDEX({1,2;3,4},\"2\",TRUE)", 1, 1, {num(3)}},
      {"INDEX({1,2;3,4},2.9,1.2)", 1, 1, {num(3)}},
      {"INDEX({1,2;3,4},3,1)", 1, 1, {ref_error()}},
      {"INDEX({1,2;3,4},-1,1)", 1, 1, {ref_error()}},
      {"INDEX({1,2;3,4},\"x\")", 1, 1, {value_error()}},
      {"INDEX({1,2;3,4},1/0)", 1, 1, {div0()}},
      {"INDEX(1/0,1)", 1, 1, {div0()}},
      {"INDEX(7,1,1)", 1, 1, {num(7)}},
      // Arrays of positions: element by element.
      {"INDEX({10,20,30},{1,3})", 1, 2, {num(10), num(30)}},
      {"INDEX({1,2;3,4},{1;2},{2;1})", 2, 1, {num(2), num(3)}},
      {"INDEX({1,2;3,4},{0,1},1)", 1, 2, {ref_error(), num(1)}},
      {"INDEX({1,2;3,4},{1,2},{1;2})", 2, 2, {num(1), num(3), num(2), num(4)}},
      {"INDEX({1,2},{1,\"x\",#N/A})", 1, 3, {num(1), value_error(), na()}},
      // Ranges: whole rows and columns as arrays, single cells by the built-in.
      {"INDEX(A1:C3,0,2)", 3, 1, {num(12), num(22), num(32)}},
      {"INDEX(A1:C3,0)", 3, 3,
       {num(11), num(12), num(13), num(21), num(22), num(23), num(31), num(32), num(33)}},
      // One number over a range of several rows and columns: the built-in's #REF!.
      {"INDEX(A1:C3,2)", 1, 1, {ref_error()}},
      {"INDEX(A1:C1,2)", 1, 1, {num(12)}},
      {"INDEX(A1:C3,2,2)", 1, 1, {num(22)}},
      {"INDEX(A1:C3,{1,2},1)", 1, 1, {num(11)}},
      {"INDEX(A1:C3,4,1)", 1, 1, {ref_error()}},
      {"LET(r,A1:C3,INDEX(r,{1,2},1))", 1, 2, {num(11), num(21)}},
      {"LET(r,A1:C3,INDEX(r,3,3))", 1, 1, {num(33)}},
      {"INDEX(SEQUENCE(3,3),{1;3},{3;1})", 2, 1, {num(3), num(7)}},
      {"INDEX({1,2})", 1, 1, {value_error()}},
      {"INDEX({1,2},1,1,1)", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
  const ArrayFnCase routed[] = {
      {"INDEX(SEQUENCE(2,2),2,1)", 1, 1, {num(3)}},
      {"INDEX(SEQUENCE(2,2),0,2)", 2, 1, {num(2), num(4)}},
      {"INDEX(A1:C3,SEQUENCE(1,2),1)", 1, 1, {num(11)}},
  };
  check_both_contexts(wb, routed);
}

TEST(IndexOverArrays, HandOverPaysForTheArgumentNodes) {
  Book wb;
  // The built-in reads one cell of the range: nothing else is materialised.
  EvalContext ctx = wb.context();
  const uint64_t before = ctx.shared->cells_left;
  EvalResult got = eval_array(*parse_formula("INDEX(A1:C3,2,2)").value(), ctx);
  ASSERT_TRUE(got.is_scalar());
  EXPECT_TRUE(same_value(got.as_scalar(), num(22)));
  EXPECT_LT(before - ctx.shared->cells_left, 9u);
  // Once the evaluation is limited the built-in is not called.
  EvalContext limited = wb.context();
  limited.shared->limited = true;
  got = eval_array(*parse_formula("INDEX(A1:C3,2,2)").value(), limited);
  EXPECT_TRUE(same_value(got.as_scalar(), num_error()));
}

TEST(AnchorArray, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"ANCHORARRAY(A5)", 3, 2, {num(1), num(2), num(3), num(4), num(5), num(6)}},
      {"ANCHORARRAY(Sheet1!A5)", 3, 2, {num(1), num(2), num(3), num(4), num(5), num(6)}},
      {"ANCHORARRAY(B2)", 1, 1, {num(22)}},
      {"ANCHORARRAY(E1)", 1, 1, {CellValue()}},
      {"ANCHORARRAY(Sheet2!A1)", 1, 1, {num(99)}},
      {"SUM(ANCHORARRAY(A5))", 1, 1, {num(21)}},
      {"ANCHORARRAY(A1:B2)", 1, 1, {ref_error()}},
      {"ANCHORARRAY()", 1, 1, {ref_error()}},
      {"ANCHORARRAY(A5,A5)", 1, 1, {ref_error()}},
      {"ANCHORARRAY(5)", 1, 1, {ref_error()}},
      {"ANCHORARRAY(NoSuchSheet!A1)", 1, 1, {ref_error()}},
  };
  check_both_contexts(wb, cases);
}

}  // namespace
}  // namespace cmx::formula::testing
