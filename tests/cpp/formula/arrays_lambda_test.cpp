// LET, LAMBDA and the functions that run lambdas (MAKEARRAY, MAP, REDUCE,
// SCAN, BYROW, BYCOL): scoping, references handed to lambdas, the depth
// and binding limits, and what each invocation costs.
#include <gtest/gtest.h>

#include <string>

#include "array_fn_cases.h"
#include "arrayfns/let_lambda.h"

namespace cmx::formula::testing {
namespace {

// A1:B3 hold 1..6 row by row; C1 the text "c", C2:C3 empty; sheet 2's
// A1:A3 hold 7, 8, 9. COUNTBLANK, which takes only references, shows which
// cells a lambda argument stands for.
// The defined name x is 100 and the defined name Rate refers to Sheet1!A1.
struct Book : Workbook {
  Book() : Workbook(2) {
    const char* cells[] = {"A1", "B1", "A2", "B2", "A3", "B3"};
    for (int i = 0; i < 6; ++i) set(0, cells[i], num(i + 1));
    set(0, "C1", txt("c"));
    set(1, "A1", num(7));
    set(1, "A2", num(8));
    set(1, "A3", num(9));
    define("x", "100");
    define("Rate", "Sheet1!$A$1");
    define("Twice", "x*2");
  }
};

TEST(Let, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"LET(x,2,y,x*3,x+y)", 1, 1, {num(8)}},
      {"LET(x,SEQUENCE(3),x*2)", 3, 1, {num(2), num(4), num(6)}},
      {"LET(x,1,x,x+1,x)", 1, 1, {num(2)}},  // a later binding hides an earlier one
      {"LET(X,1,x+1)", 1, 1, {num(2)}},       // names ignore case
      // As stored in files: prefixed function and parameter names.
      {"_xlfn.LET(_xlpm.x,2,_xlpm.x*3)", 1, 1, {num(6)}},
      {"_xlfn.MAP({1,2},_xlfn.LAMBDA(_xlpm.v,_xlpm.v*2))", 1, 2, {num(2), num(4)}},
      {"LET(e,1/0,7)", 1, 1, {num(7)}},       // an unused error stays put
      {"LET(e,1/0,e+1)", 1, 1, {div0()}},
      {"LET(r,A1:C3,COUNTBLANK(r))", 1, 1, {num(2)}},
      {"LET(r,A1:B3,ROWS(r))", 1, 1, {num(3)}},
      {"LET(r,C:C,COUNTBLANK(r))", 1, 1, {num(1048575)}},
      {"LET(r,A1:C3+0,COUNTBLANK(r))", 1, 1, {value_error()}},
      {"LET(r,SUM(A1:C3),COUNTBLANK(r))", 1, 1, {value_error()}},
      {"LET(r,A1:B3,r*10)", 3, 2, {num(10), num(20), num(30), num(40), num(50), num(60)}},
      {"LET(x,1)", 1, 1, {value_error()}},
      {"LET(x,1,y,2)", 1, 1, {value_error()}},
      {"LET(1,2,3)", 1, 1, {name_error()}},
      {"LET(Sheet1!x,1,2)", 1, 1, {name_error()}},
      {"LET(A1,1,2)", 1, 1, {name_error()}},
      {"LET(f,LAMBDA(v,v*2),f(3))", 1, 1, {name_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Let, ShadowsDefinedNamesAndLeavesCellsAlone) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"x+1", 1, 1, {num(101)}},
      {"LET(x,5,x+1)", 1, 1, {num(6)}},               // the binding wins over the defined name
      {"LET(y,LET(x,5,x),y+x)", 1, 1, {num(105)}},     // and ends with its LET
      {"LET(Rate,2,Rate*A1)", 1, 1, {num(2)}},
      {"LET(Rate,2,SUM(Sheet1!Rate))", 1, 1, {num(1)}},  // a qualified name is never bound
      {"LET(a,A1,A1+a)", 1, 1, {num(2)}},
      // A defined name's own formula does not see the bindings where it is used.
      {"LET(x,5,Twice)", 1, 1, {num(200)}},
      {"MAP({1,2},LAMBDA(x,Twice+x))", 1, 2, {num(201), num(202)}},
  };
  check_both_contexts(wb, cases);
}

TEST(Let, BindingLimit) {
  Book wb;
  auto pairs = [](int n) {
    std::string text = "LET(";
    for (int i = 0; i < n; ++i) text += "v_" + std::to_string(i) + ",1,";
    return text + "v_0)";
  };
  const std::string full = pairs(1024);
  const std::string over = pairs(1025);
  const ArrayFnCase cases[] = {
      {full, 1, 1, {num(1)}},
      {over, 1, 1, {num_error()}},
  };
  check_both_contexts(wb, cases);
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval(over, ctx), num_error()));
  EXPECT_FALSE(ctx.shared->limited);
  EXPECT_TRUE(ctx.shared->scopes.empty());
}

TEST(Lambda, MadeButNotAValue) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"LAMBDA()", 1, 1, {value_error()}},
      {"LAMBDA(1,2)", 1, 1, {name_error()}},
      {"LAMBDA(Sheet2!a,2)", 1, 1, {name_error()}},
      {"LAMBDA(a,a+1)+1", 1, 1, {value_error()}},
      {"SUM(LAMBDA(a,a))", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
  // In a cell a function value shows #VALUE!; in array context it is the closure.
  EXPECT_TRUE(same_value(wb.eval("LAMBDA(v,v+1)"), value_error()));
  EvalContext ctx = wb.context();
  EvalResult made = eval_array(*parse_formula("LAMBDA(a,b,a+b*2)").value(), ctx);
  ASSERT_TRUE(made.is_lambda());
  const LambdaClosure& closure = *made.as_lambda();
  EXPECT_EQ(closure.params, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(closure.cost, 0u);  // 2 parameters + 5 nodes
  EvalResult big = eval_array(*parse_formula("LAMBDA(a,a+a+a+a+a+a)").value(), ctx);
  ASSERT_TRUE(big.is_lambda());
  EXPECT_EQ(big.as_lambda()->cost, 4u);  // 1 parameter + 11 nodes - 8
}

TEST(Lambda, ScopeIsDynamic) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"LET(x,1,f,LAMBDA(y,x+y),LET(x,10,MAP({1},f)))", 1, 1, {num(11)}},
      // Closures see LET names live at the call, parameters first.
      {"LET(k,3,MAP({1,2},LAMBDA(v,v*k)))", 1, 2, {num(3), num(6)}},
      {"LET(v,100,MAP({1,2},LAMBDA(v,v+1)))", 1, 2, {num(2), num(3)}},
      {"LET(f,LAMBDA(v,v*2),MAP({1,2},f))", 1, 2, {num(2), num(4)}},
      // A binding that ended before the call is not seen: x is the defined name.
      {"MAP({1},LET(x,5,LAMBDA(y,x+y)))", 1, 1, {num(101)}},
      {"MAP({1,2},LAMBDA(a,b,a+b))", 1, 2, {value_error(), value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Lambda, RecursionEndsAtTheDepthLimit) {
  Book wb;
  // f(n) calls itself n levels deep through MAP: 64 invocations are allowed.
  const ArrayFnCase cases[] = {
      {"LET(f,LAMBDA(n,IF(n=0,0,MAP(n-1,f)+1)),MAP(63,f))", 1, 1, {num(63)}},
      {"LET(f,LAMBDA(n,IF(n=0,0,MAP(n-1,f)+1)),MAP(64,f))", 1, 1, {num_error()}},
      {"LET(f,LAMBDA(n,IF(n=0,0,MAP(n-1,f)+1)),MAP(100000,f))", 1, 1, {num_error()}},
      {"LET(f,LAMBDA(n,REDUCE(0,{1},LAMBDA(a,b,MAP(n,f)))),MAP(1,f))", 1, 1, {num_error()}},
  };
  check_both_contexts(wb, cases);
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("LET(f,LAMBDA(n,MAP(n,f)),MAP(1,f))", ctx), num_error()));
  EXPECT_FALSE(ctx.shared->limited);  // the depth limit is no budget
  EXPECT_EQ(ctx.shared->lambda_depth, 0u);
  EXPECT_TRUE(ctx.shared->scopes.empty());
}

TEST(MakeArray, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"MAKEARRAY(2,3,LAMBDA(r,c,r*10+c))", 2, 3,
       {num(11), num(12), num(13), num(21), num(22), num(23)}},
      {"MAKEARRAY(1.9,1,LAMBDA(r,c,r))", 1, 1, {num(1)}},
      {"MAKEARRAY(2,1,LAMBDA(r,c,IF(r=1,1/0,\"t\")))", 2, 1, {div0(), txt("t")}},
      {"MAKEARRAY(1,2,LAMBDA(r,c,SEQUENCE(2)+c))", 1, 2, {num(2), num(3)}},
      {"MAKEARRAY(0,1,LAMBDA(r,c,1))", 1, 1, {value_error()}},
      {"MAKEARRAY(1048577,1,LAMBDA(r,c,1))", 1, 1, {value_error()}},
      {"MAKEARRAY(1024,1025,LAMBDA(r,c,1))", 1, 1, {num_error()}},
      {"MAKEARRAY(2,2,5)", 1, 1, {value_error()}},
      {"MAKEARRAY(2,2,1/0)", 1, 1, {div0()}},
      {"MAKEARRAY(2,2,LAMBDA(r,r))", 2, 2, {value_error(), value_error(), value_error(), value_error()}},
      {"MAKEARRAY(2,LAMBDA(r,c,1))", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Map, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"MAP({1,2,3},LAMBDA(v,v*v))", 1, 3, {num(1), num(4), num(9)}},
      {"MAP({1;2},{10,20},LAMBDA(a,b,a+b))", 2, 2, {num(11), num(21), num(12), num(22)}},
      {"MAP({1,2},{1,2,3},LAMBDA(a,b,a+b))", 1, 3, {num(2), num(4), na()}},
      {"MAP(5,LAMBDA(v,v+1))", 1, 1, {num(6)}},
      {"MAP({1,#N/A},LAMBDA(v,ISNA(v)))", 1, 2, {boolean(false), boolean(true)}},
      {"MAP(A1:B1,LAMBDA(v,v&\"!\"))", 1, 2, {txt("1!"), txt("2!")}},
      // Cells of the formula's own sheet arrive with their references.
      {"MAP(A1:A3,LAMBDA(v,ROW(v)))", 3, 1, {num(1), num(2), num(3)}},
      {"MAP(B2:B3,LAMBDA(v,COLUMN(v)*10+ROW(v)))", 2, 1, {num(22), num(23)}},
      {"MAP(B1:C3,LAMBDA(v,COUNTBLANK(v)))", 3, 2, {num(0), num(0), num(0), num(1), num(0), num(1)}},
      {"MAP(C2:C3,{1;2},LAMBDA(a,b,COUNTBLANK(a)+b))", 2, 1, {num(2), num(3)}},
      {"MAP(Sheet2!A1:A2,LAMBDA(v,COUNTBLANK(v)))", 2, 1, {value_error(), value_error()}},
      // A range whose shape is not the result's passes values only.
      {"MAP(C2:C3,{1,2},LAMBDA(a,b,COUNTBLANK(a)))", 2, 2,
       {value_error(), value_error(), value_error(), value_error()}},
      {"MAP(1/0,LAMBDA(v,v))", 1, 1, {div0()}},
      {"MAP({1,2},3)", 1, 1, {value_error()}},
      {"MAP({1,2},NA())", 1, 1, {na()}},
      {"MAP(LAMBDA(v,v))", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Reduce, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"REDUCE(0,{1,2,3},LAMBDA(a,b,a+b))", 1, 1, {num(6)}},
      {"REDUCE(1,A1:B3,LAMBDA(a,b,a*b))", 1, 1, {num(720)}},
      {"REDUCE(0,{1,2},LAMBDA(a,b,1/0))", 1, 1, {div0()}},
      {"REDUCE(SEQUENCE(2),{1},LAMBDA(a,b,a))", 2, 1, {num(1), num(2)}},
      {"REDUCE(NA(),{1},LAMBDA(a,b,ISNA(a)))", 1, 1, {boolean(true)}},
      {"REDUCE(0,B1:C3,LAMBDA(a,b,a+COUNTBLANK(b)))", 1, 1, {num(2)}},
      {"REDUCE(0,Sheet2!A1:A3,LAMBDA(a,b,a+b))", 1, 1, {num(24)}},
      {"REDUCE(0,{1,2},LAMBDA(a,b,c,a))", 1, 1, {value_error()}},
      {"REDUCE(0,1/0,LAMBDA(a,b,a))", 1, 1, {div0()}},
      {"REDUCE(0,{1},5)", 1, 1, {value_error()}},
      {"REDUCE(0,{1})", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(Scan, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"SCAN(0,{1,2,3},LAMBDA(a,b,a+b))", 1, 3, {num(1), num(3), num(6)}},
      {"SCAN(\"\",{\"a\";\"b\"},LAMBDA(a,b,a&b))", 2, 1, {txt("a"), txt("ab")}},
      {"SCAN(0,{1,2},LAMBDA(a,b,1/0))", 1, 2, {div0(), div0()}},
      {"SCAN(0,{1,2},LAMBDA(a,b,IF(b=1,1/0,7)))", 1, 2, {div0(), num(7)}},
      {"SCAN(0,{1,2},LAMBDA(a,b,SEQUENCE(2)+b))", 1, 2, {num(2), num(3)}},
      {"SCAN(0,{1,2},LAMBDA(a,b,LAMBDA(z,z)))", 1, 2, {value_error(), value_error()}},
      {"SCAN(0,{1,2},LAMBDA(a,a))", 1, 2, {value_error(), value_error()}},
      {"SCAN(0,#REF!,LAMBDA(a,b,a))", 1, 1, {ref_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(ByRowByCol, Table) {
  Book wb;
  const ArrayFnCase cases[] = {
      {"BYROW({1,2;3,4},LAMBDA(r,SUM(r)))", 2, 1, {num(3), num(7)}},
      {"BYCOL({1,2;3,4},LAMBDA(c,SUM(c)))", 1, 2, {num(4), num(6)}},
      {"BYROW(A1:B3,LAMBDA(r,SUM(r)))", 3, 1, {num(3), num(7), num(11)}},
      // Rows and columns of the own sheet arrive as ranges.
      {"BYROW(A1:B2,LAMBDA(r,ROWS(r)&COLUMNS(r)))", 2, 1, {txt("12"), txt("12")}},
      {"BYCOL(A1:B3,LAMBDA(c,ROWS(c)*10+COLUMN(c)))", 1, 2, {num(31), num(32)}},
      {"BYROW(A1:C3,LAMBDA(r,COUNTBLANK(r)))", 3, 1, {num(0), num(1), num(1)}},
      {"BYCOL(A1:C3,LAMBDA(c,COUNTBLANK(c)))", 1, 3, {num(0), num(0), num(2)}},
      {"BYROW(Sheet2!A1:A2,LAMBDA(r,COUNTBLANK(r)))", 2, 1, {value_error(), value_error()}},
      {"BYROW({1,2;3,4},LAMBDA(r,r*10))", 2, 1, {num(10), num(30)}},
      {"BYROW(5,LAMBDA(r,r+1))", 1, 1, {num(6)}},
      {"BYROW({1;2},LAMBDA(a,b,a))", 2, 1, {value_error(), value_error()}},
      {"BYROW(1/0,LAMBDA(r,r))", 1, 1, {div0()}},
      {"BYCOL({1,2},\"f\")", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases);
}

TEST(LambdaCharges, CostPerInvocationAndLimitedLoops) {
  Book wb;
  auto spent = [&](std::string_view formula) {
    EvalContext ctx = wb.context();
    const uint64_t before = ctx.shared->cells_left;
    wb.eval(formula, ctx);
    return before - ctx.shared->cells_left;
  };
  // A body of 11 nodes and one parameter costs 4 cells per call; a small one nothing.
  EXPECT_EQ(spent("MAP({1,2,3},LAMBDA(v,v+v+v+v+v+v))") - spent("MAP({1,2,3},LAMBDA(v,v))"),
            3u * 4u);
  // An allowance that runs out inside the loop: #NUM!, limited, no partial result.
  for (const char* formula : {"MAP(SEQUENCE(1000),LAMBDA(v,SEQUENCE(10)))",
                              "REDUCE(0,SEQUENCE(1000),LAMBDA(a,b,SUM(SEQUENCE(10))))",
                              "SCAN(0,SEQUENCE(1000),LAMBDA(a,b,SUM(SEQUENCE(10))))",
                              "MAKEARRAY(1000,1,LAMBDA(r,c,SUM(SEQUENCE(10))))",
                              "BYROW(SEQUENCE(1000),LAMBDA(r,SUM(SEQUENCE(10))))"}) {
    SCOPED_TRACE(formula);
    EvalContext ctx = wb.context();
    ctx.shared->cells_left = 5000;
    EvalResult got = eval_array(*parse_formula(formula).value(), ctx);
    ASSERT_TRUE(got.is_scalar());
    EXPECT_TRUE(same_value(got.as_scalar(), num_error()));
    EXPECT_TRUE(ctx.shared->limited);
    EXPECT_GE(ctx.shared->limit_hits, 1u);
    EXPECT_EQ(ctx.shared->lambda_depth, 0u);
    EXPECT_TRUE(ctx.shared->scopes.empty());
  }
}

}  // namespace
}  // namespace cmx::formula::testing
