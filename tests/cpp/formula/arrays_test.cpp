// Array results, array-context evaluation and lifted calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eval_harness.h"
#include "formula/array_eval.h"
#include "formula/lifted.h"
#include "formula/names.h"

namespace cmx::formula::testing {
namespace {

// An expected result: a Scalar when rows and cols are both 0.
struct Want {
  uint64_t rows = 0;
  uint64_t cols = 0;
  std::vector<CellValue> values;
};

Want scalar(CellValue v) { return Want{0, 0, {std::move(v)}}; }
Want array(uint64_t rows, uint64_t cols, std::vector<CellValue> values) {
  return Want{rows, cols, std::move(values)};
}

::testing::AssertionResult same_result(const EvalResult& got, const Want& want) {
  if (want.rows == 0) {
    if (!got.is_scalar()) return ::testing::AssertionFailure() << "not a scalar";
    return same_value(got.as_scalar(), want.values.front());
  }
  if (!got.is_array()) {
    return ::testing::AssertionFailure()
           << "not an array" << (got.is_scalar() ? ": " + show(got.as_scalar()) : "");
  }
  const ArrayValue& a = got.as_array();
  if (a.rows != want.rows || a.cols != want.cols) {
    return ::testing::AssertionFailure() << "shape " << a.rows << "x" << a.cols;
  }
  if (a.values.size() != want.values.size()) return ::testing::AssertionFailure() << "size";
  for (size_t i = 0; i < a.values.size(); ++i) {
    auto same = same_value(a.values[i], want.values[i]);
    if (!same) return same << " at element " << i;
  }
  return ::testing::AssertionSuccess();
}

EvalResult eval_in_array(Workbook& book, std::string_view formula, EvalContext& ctx) {
  auto tree = parse_formula(formula);
  if (!tree.has_value()) {
    ADD_FAILURE() << "does not parse: " << formula.substr(0, 60);
    return EvalResult::error(CellErrorCode::Value);
  }
  (void)book;
  return eval_array(**tree, ctx);
}

std::vector<CellValue> numbers(std::initializer_list<double> xs) {
  std::vector<CellValue> out;
  for (double x : xs) out.push_back(num(x));
  return out;
}

TEST(ArrayResults, MakeArrayLimits) {
  struct Case {
    uint64_t rows, cols, values;
    Want want;
  };
  const Case cases[] = {
      {1, 1, 1, scalar(num(0))},
      {0, 1, 0, scalar(err(CellErrorCode::Value))},
      {1, 0, 0, scalar(err(CellErrorCode::Value))},
      {2, 3, 5, scalar(err(CellErrorCode::Value))},
      {UINT64_MAX, 2, 2, scalar(err(CellErrorCode::Value))},
      {1024, 1025, 1'049'600, scalar(err(CellErrorCode::Num))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols));
    EXPECT_TRUE(same_result(make_array(c.rows, c.cols, std::vector<CellValue>(c.values, num(0))),
                            c.want));
  }
  EvalResult full = make_array(1024, 1024, std::vector<CellValue>(kMaxArrayCells, num(1)));
  ASSERT_TRUE(full.is_array());
  EXPECT_EQ(full.as_array().values.size(), kMaxArrayCells);
}

TEST(ArrayResults, PushChargesTextBytes) {
  Workbook book;
  EvalContext ctx = book.context();
  ctx.shared->bytes_left = 5;
  ArrayBuilder builder(ctx, 3);
  EXPECT_TRUE(push_array_value(builder, txt("abc")).has_value());
  EXPECT_TRUE(push_array_value(builder, num(1)).has_value());
  auto refused = push_array_value(builder, txt("xyz"));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), CellErrorCode::Num);
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->limit_hits, 1u);
  EXPECT_EQ(ctx.shared->bytes_left, 2u);
  EXPECT_EQ(builder.values.size(), 2u);  // the refused text is dropped
}

TEST(ArrayResults, ElementReads) {
  const EvalResult row = make_array(1, 3, numbers({1, 2, 3}));
  const EvalResult square = make_array(2, 2, numbers({1, 2, 3, 4}));
  const EvalResult column = make_array(2, 1, numbers({7, 8}));
  const EvalResult one = EvalResult::scalar(txt("s"));
  const EvalResult lambda{std::shared_ptr<const LambdaClosure>()};
  struct Case {
    const EvalResult* result;
    uint64_t r, c;
    CellValue want;
  };
  const Case cases[] = {
      {&row, 5, 1, num(2)},   {&row, 0, 3, err(CellErrorCode::NA)},
      {&square, 1, 0, num(3)}, {&square, 0, 2, err(CellErrorCode::NA)},
      {&column, 1, 9, num(8)}, {&one, 100, 100, txt("s")},
      {&lambda, 0, 0, err(CellErrorCode::Value)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.r) + "," + std::to_string(c.c));
    EXPECT_TRUE(same_value(array_element_at(*c.result, c.r, c.c), c.want));
  }
  // Without broadcasting a one-row array has only its own row.
  const ArrayValue& a = row.as_array();
  EXPECT_TRUE(same_value(array_value_at(a.values, a.rows, a.cols, 1, 1), err(CellErrorCode::NA)));
  EXPECT_TRUE(same_value(array_value_at(a.values, a.rows, a.cols, 0, 2), num(3)));
  // A hand-made array that holds fewer values than its shape reads "#N/A"
  // past its values instead of reading out of bounds.
  const std::vector<CellValue> short_values = numbers({1});
  EXPECT_TRUE(same_value(array_value_at(short_values, 2, 2, 1, 1), err(CellErrorCode::NA)));
  const EvalResult short_array{ArrayValue{numbers({1}), 2, 2}};
  EXPECT_TRUE(same_value(array_element_at(short_array, 1, 0), err(CellErrorCode::NA)));

  EXPECT_TRUE(same_value(top_left_value(EvalResult(lambda)), err(CellErrorCode::Value)));
  EXPECT_TRUE(same_value(top_left_value(EvalResult(square)), num(1)));
  EXPECT_TRUE(same_value(top_left_value(EvalResult{ArrayValue{}}), err(CellErrorCode::NA)));
}

TEST(ArrayResults, SplitByDelimiters) {
  struct Case {
    std::string text;
    std::vector<std::string> delimiters;
    bool ci;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"a;b--c", {";", "--"}, false, {"a", "b", "c"}},
      {"ab", {"b"}, false, {"a", ""}},
      {"aXb", {"x"}, false, {"aXb"}},
      {"aXb", {"x"}, true, {"a", "b"}},
      {"a--b", {"-", "--"}, false, {"a", "b"}},
      {"a,,b", {","}, false, {"a", "", "b"}},
      {"", {","}, false, {""}},
      {"abc", {}, false, {"abc"}},
      {"é,ü", {","}, true, {"é", "ü"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(split_by_delimiters(c.text, c.delimiters, c.ci), c.want);
  }
}

TEST(ArrayEval, OperatorsBroadcast) {
  Workbook book;
  struct Case {
    const char* formula;
    Want want;
  };
  const Case cases[] = {
      {"{1,2;3,4}+10", array(2, 2, numbers({11, 12, 13, 14}))},
      {"{1,2}+{10;20}", array(2, 2, numbers({11, 12, 21, 22}))},
      {"{1,2,3}+{1,2}", array(1, 3, {num(2), num(4), err(CellErrorCode::NA)})},
      {"{1;2}*{1,2;3,4}", array(2, 2, numbers({1, 2, 6, 8}))},
      {"-{1,\"x\"}", array(1, 2, {num(-1), err(CellErrorCode::Value)})},
      {"{50,\"10\"}%", array(1, 2, {num(0.5), num(0.1)})},
      {"{1,2}&\"a\"", array(1, 2, {txt("1a"), txt("2a")})},
      {"{1,#N/A}=1", array(1, 2, {boolean(true), err(CellErrorCode::NA)})},
      {"{1,2}/0", array(1, 2, {err(CellErrorCode::Div0), err(CellErrorCode::Div0)})},
      {"1+2", scalar(num(3))},
      {"{5}", scalar(num(5))},
      {"{1,2}+#DIV/0!", array(1, 2, {err(CellErrorCode::Div0), err(CellErrorCode::Div0)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = book.context();
    EXPECT_TRUE(same_result(eval_in_array(book, c.formula, ctx), c.want));
  }
}

TEST(ArrayEval, ElementWiseChargesTheShapeOnce) {
  Workbook book;
  EvalContext ctx = book.context();
  const uint64_t before = ctx.shared->cells_left;
  EXPECT_TRUE(eval_in_array(book, "{1,2}+{10;20}", ctx).is_array());
  // Two constants of two cells, then the 2 × 2 result.
  EXPECT_EQ(before - ctx.shared->cells_left, 2u + 2u + 4u);

  // A shape past the array limit is refused without marking the formula
  // limited; a budget that cannot pay for the shape marks it.
  for (uint32_t r = 0; r < 1024; ++r) book.set(0, "A" + std::to_string(r + 1), num(r));
  EvalContext big = book.context();
  auto tree = parse_formula("A1:A1024+TRANSPOSE(A1:A1024)").value();
  (void)tree;
  EvalContext wide = book.context();
  EXPECT_TRUE(same_result(eval_in_array(book, "A1:A1024*{1,2}", wide),
                          array(1024, 2, [] {
                            std::vector<CellValue> v;
                            for (int r = 0; r < 1024; ++r) {
                              v.push_back(num(r));
                              v.push_back(num(2.0 * r));
                            }
                            return v;
                          }())));
  EvalContext tight = book.context();
  tight.shared->cells_left = 1024 + 2 + 100;
  EXPECT_TRUE(same_result(eval_in_array(book, "A1:A1024*{1,2}", tight),
                          scalar(err(CellErrorCode::Num))));
  EXPECT_TRUE(tight.shared->limited);
  EXPECT_EQ(tight.shared->cells_left, 100u);  // the element charge took nothing
  (void)big;
}

TEST(ArrayEval, OversizedShapeIsRefusedWithoutLimit) {
  Workbook book;
  book.set(0, "A1024", num(1));
  book.set(0, "AMK1", num(1));
  EvalContext ctx = book.context();
  // 1,024 rows by 1,025 columns.
  EXPECT_TRUE(same_result(eval_in_array(book, "A1:A1024+A1:AMK1", ctx),
                          scalar(err(CellErrorCode::Num))));
  EXPECT_FALSE(ctx.shared->limited);
}

TEST(ArrayEval, RangesAndTables) {
  Workbook book(2);
  book.set(1, "A1", num(1));
  book.set(1, "B1", txt("b"));
  book.set(1, "A3", num(3));
  book.set(1, "D2", num(4));
  book.model.tables.push_back(model::WorkbookTable{
      "Sales", {"Region", "Amount"}, model::CellRange{{0, 0, false, false}, {2, 1, false, false}},
      1, 1, 0});
  struct Case {
    const char* formula;
    Want want;
  };
  const Case cases[] = {
      {"A:A", scalar(CellValue())},  // an empty sheet: A1 alone
      {"Sheet2!A1:B1", array(1, 2, {num(1), txt("b")})},
      {"Sheet2!A:A", array(3, 1, {num(1), CellValue(), num(3)})},
      {"Sheet2!B:B", array(3, 1, {txt("b"), CellValue(), CellValue()})},
      {"Sheet2!2:2", array(1, 4, {CellValue(), CellValue(), CellValue(), num(4)})},
      {"Nowhere!A1:B2", scalar(err(CellErrorCode::Ref))},
      {"Sheet2!A1:A2:Sheet2!B1", array(2, 2, {num(1), txt("b"), CellValue(), CellValue()})},
      {"Sales[Amount]", array(2, 1, {CellValue(), CellValue()})},
      {"Sales[Region]", array(2, 1, {CellValue(), num(3)})},
      {"Nope[Amount]", scalar(err(CellErrorCode::Ref))},
      {"Sales[Nope]", scalar(err(CellErrorCode::Ref))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = book.context();
    EXPECT_TRUE(same_result(eval_in_array(book, c.formula, ctx), c.want));
  }
}

TEST(ArrayEval, RangeReadChargesCellsAndBytes) {
  Workbook book;
  book.set(0, "A1", txt("abcd"));
  book.set(0, "A2", txt("ef"));
  EvalContext ctx = book.context();
  const uint64_t cells = ctx.shared->cells_left;
  const uint64_t bytes = ctx.shared->bytes_left;
  EXPECT_TRUE(same_result(eval_in_array(book, "A1:A3", ctx),
                          array(3, 1, {txt("abcd"), txt("ef"), CellValue()})));
  EXPECT_EQ(cells - ctx.shared->cells_left, 3u);
  EXPECT_EQ(bytes - ctx.shared->bytes_left, 6u);

  EvalContext poor = book.context();
  poor.shared->bytes_left = 5;
  EXPECT_TRUE(same_result(eval_in_array(book, "A1:A3", poor), scalar(err(CellErrorCode::Num))));
  EXPECT_TRUE(poor.shared->limited);
  EXPECT_EQ(poor.shared->bytes_left, 5u);
}

TEST(ArrayEval, UnknownCallsAreCountedEvenBesideErrors) {
  Workbook book;
  struct Case {
    const char* formula;
    Want want;
    uint64_t unknown;
  };
  const Case cases[] = {
      {"FOO(1)", scalar(err(CellErrorCode::Name)), 1},
      {"#N/A+FOO(1)", scalar(err(CellErrorCode::NA)), 1},
      {"{1,2}+FOO(1)", array(1, 2, {err(CellErrorCode::Name), err(CellErrorCode::Name)}), 1},
      // Array-only functions are known calls, with or without their prefixes.
      {"FILTER(A1:A3,A1:A3>0)", scalar(err(CellErrorCode::Calc)), 0},
      {"_xlfn.UNIQUE({1;1})", scalar(num(1)), 0},
      {"_xlfn._xlws.SORT({3;1})", array(2, 1, {num(1), num(3)}), 0},
      // "_xlws." counts only after "_xlfn.".
      {"_xlws.SORT(A1:A3)", scalar(err(CellErrorCode::Name)), 1},
      {"SUM({1,2}*2)", scalar(num(6)), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = book.context();
    EXPECT_TRUE(same_result(eval_in_array(book, c.formula, ctx), c.want));
    EXPECT_EQ(ctx.shared->unknown_calls, c.unknown);
  }
}

TEST(ArrayEval, BuiltinArrayNamesHandOverWithTheirNodeCount) {
  Workbook book;
  book.set(0, "A1", num(1));
  book.set(0, "A2", num(2));
  book.set(0, "A3", num(3));
  // In array context SUM goes to its array form; with no array among its
  // arguments that hands the call to the built-in after paying one cell for
  // each of its three argument nodes.
  EvalContext array_ctx = book.context();
  const uint64_t before = array_ctx.shared->cells_left;
  EXPECT_TRUE(same_result(eval_in_array(book, "SUM(1,2,A3)", array_ctx), scalar(num(6))));
  EXPECT_EQ(before - array_ctx.shared->cells_left, 1u + 3u + 1u);

  EvalContext scalar_ctx = book.context();
  EXPECT_TRUE(same_value(book.eval("SUM(1,2,A3)", scalar_ctx), num(6)));
  EXPECT_EQ(before - scalar_ctx.shared->cells_left, 1u);

  // A hand-over once the formula is limited gives "#NUM!" at once.
  EvalContext limited = book.context();
  mark_limited(limited);
  EXPECT_TRUE(same_result(eval_in_array(book, "SUM(1,2,A3)", limited),
                          scalar(err(CellErrorCode::Num))));
  EXPECT_EQ(limited.shared->limit_hits, 2u);
  EXPECT_EQ(limited.shared->cells_left, before - 1u);
}

TEST(ArrayEval, BoundNamesArePaidForAtEveryUse) {
  Workbook book;
  EvalContext ctx = book.context();
  std::vector<CellValue> values(1000, num(1));
  values[0] = txt("abc");
  ASSERT_TRUE(push_binding(ctx.shared->scopes,
                           ScopeBinding{"xs", std::make_shared<const EvalResult>(
                                                  make_array(1000, 1, std::move(values))),
                                        nullptr}));
  ASSERT_TRUE(push_binding(ctx.shared->scopes,
                           ScopeBinding{"k", std::make_shared<const EvalResult>(
                                                 EvalResult::scalar(txt("kk"))),
                                        nullptr}));
  const uint64_t cells = ctx.shared->cells_left;
  const uint64_t bytes = ctx.shared->bytes_left;
  for (int use = 1; use <= 2; ++use) {
    EvalResult got = eval_in_array(book, "XS", ctx);
    ASSERT_TRUE(got.is_array());
    EXPECT_EQ(got.as_array().rows, 1000u);
    EXPECT_EQ(cells - ctx.shared->cells_left, 1000u * use);
    EXPECT_EQ(bytes - ctx.shared->bytes_left, 3u * use);
  }
  const uint64_t after = ctx.shared->cells_left;
  EXPECT_TRUE(same_result(eval_in_array(book, "k", ctx), scalar(txt("kk"))));
  EXPECT_EQ(ctx.shared->cells_left, after);
  // A qualified name never sees a binding.
  EXPECT_TRUE(same_result(eval_in_array(book, "Sheet1!k", ctx), scalar(err(CellErrorCode::Name))));
}

TEST(ArrayEval, ConstantElementsPaidOnceAsCellsTwiceAsBytes) {
  Workbook book;
  // Larger than the parser's token limit allows; built directly.
  node::Array constant;
  constant.columns = 8192;
  for (int i = 0; i < 8192; ++i) constant.elements.push_back(make_expr(node::Text{"ab"}));
  ExprPtr tree = make_expr(std::move(constant));
  EvalContext ctx = book.context();
  const uint64_t cells = ctx.shared->cells_left;
  const uint64_t bytes = ctx.shared->bytes_left;
  EvalResult got = eval_array(*tree, ctx);
  ASSERT_TRUE(got.is_array());
  EXPECT_EQ(got.as_array().cols, 8192u);
  EXPECT_EQ(cells - ctx.shared->cells_left, 8192u);
  EXPECT_EQ(bytes - ctx.shared->bytes_left, 2u * 2u * 8192u);
}

TEST(ArrayEval, ConstantShapesThatDoNotDivide) {
  Workbook book;
  for (uint32_t columns : {0u, 2u}) {
    SCOPED_TRACE(columns);
    node::Array constant;
    constant.columns = columns;
    for (int i = 0; i < 3; ++i) constant.elements.push_back(make_expr(node::Number{1}));
    ExprPtr tree = make_expr(std::move(constant));
    EvalContext ctx = book.context();
    EXPECT_TRUE(same_result(eval_array(*tree, ctx), scalar(err(CellErrorCode::Value))));
    EXPECT_TRUE(same_value(eval_scalar(*tree, ctx), err(CellErrorCode::Value)));
  }
}

TEST(ArrayEval, LazyFallbackValue) {
  Workbook book;
  book.set(0, "B1", num(9));
  struct Case {
    const char* call;
    CellValue want;
  };
  const Case cases[] = {
      {"XLOOKUP(1,A1:A3,B1:B3)", err(CellErrorCode::NA)},
      {"XLOOKUP(1,A1:A3,B1:B3,)", err(CellErrorCode::NA)},
      {"XLOOKUP(1,A1:A3,B1:B3,{7,8})", num(7)},
      {"XLOOKUP(1,A1:A3,B1:B3,B1:B2)", num(9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    EvalContext ctx = book.context();
    auto tree = parse_formula(c.call).value();
    LazyFormulaValue slot;
    EXPECT_FALSE(slot.filled());
    const auto& args = tree->as<node::Call>().args;
    EXPECT_TRUE(same_value(slot.get(args, ctx), c.want));
    const uint64_t after = ctx.shared->cells_left;
    EXPECT_TRUE(same_value(slot.get(args, ctx), c.want));
    EXPECT_EQ(ctx.shared->cells_left, after);  // kept, not evaluated again
  }
}

TEST(ScalarEval, ArrayFunctionsSwitchContext) {
  Workbook book;
  book.set(0, "A1", num(1));
  book.set(0, "A2", num(2));
  struct Case {
    const char* formula;
    CellValue want;
    uint64_t unknown;
  };
  const Case cases[] = {
      {"SUM({1,2}*2)", num(6), 0},
      {"SUM({1,2;3,4}+10)", num(50), 0},
      {"{1,2}+1", num(2), 0},
      {"SUM(A1:A2*{1;10})", num(21), 0},
      {"LET(x,1,x)", num(1), 0},
      {"SUM(LET(x,{1,2},x*FOO()))", err(CellErrorCode::Name), 1},
      {"SUM(FILTER(A1:A2,A1:A2>1))", num(2), 0},
      {"FOO(1)", err(CellErrorCode::Name), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = book.context();
    EXPECT_TRUE(same_value(book.eval(c.formula, ctx), c.want));
    EXPECT_EQ(ctx.shared->unknown_calls, c.unknown);
  }
}

TEST(ScalarEval, BuiltinGoesToArrayContextOnlyForArrayOnlyArguments) {
  Workbook book;
  book.set(0, "A1", num(1));
  // IF's arguments reach SEQUENCE: the call runs in array context, which
  // pays for the condition's cell and SEQUENCE's three cells and shows the
  // top-left value.
  EvalContext routed = book.context();
  const uint64_t before = routed.shared->cells_left;
  EXPECT_TRUE(same_value(book.eval("IF(A1>0,SEQUENCE(3),0)", routed), num(1)));
  EXPECT_EQ(before - routed.shared->cells_left, 1u + 3u);
  // SUM does not count: the built-in IF runs directly.
  EvalContext direct = book.context();
  EXPECT_TRUE(same_value(book.eval("IF(SUM(A1:A3)>0,1,0)", direct), num(1)));
  EXPECT_EQ(before - direct.shared->cells_left, 3u);
}

TEST(Lifting, NameLists) {
  EXPECT_TRUE(lifted_over_every_argument("LEN"));
  EXPECT_TRUE(lifted_over_every_argument("NUMBERVALUE"));
  EXPECT_FALSE(lifted_over_every_argument("MAX"));
  EXPECT_FALSE(lifted_over_every_argument("len"));
  struct Case {
    const char* name;
    std::vector<uint32_t> positions;
  };
  const Case cases[] = {
      {"RANK", {0}},        {"RANK.EQ", {0}},     {"HLOOKUP", {0}},
      {"SUMIF", {1}},       {"PERCENTILE.INC", {1}},
      {"SUMIFS", {2, 4, 6, 8, 10}},               {"COUNTIFS", {1, 3, 5, 7, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = liftable_args(c.name);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::vector<uint32_t>(got->begin(), got->end()), c.positions);
  }
  EXPECT_FALSE(liftable_args("COVAR").has_value());
  EXPECT_FALSE(liftable_args("LEN").has_value());
}

// Which calls are lifted, seen through the shapes of their results (the
// element values belong to each function's own tests).
TEST(Lifting, RoutedByName) {
  Workbook book;
  struct Case {
    const char* formula;
    uint64_t rows, cols;  // 0 × 0: a Scalar
  };
  const Case cases[] = {
      {"LEN({\"a\",\"bb\"})", 1, 2},
      {"_xlfn.LEN({\"a\";\"bb\"})", 2, 1},
      {"ROUND({1.25;2.35},{0,1})", 2, 2},
      {"LEFT({\"abc\",\"de\"},{1;2;3})", 3, 2},
      {"SUMIF(A1:A10,{\"x\",\"y\"})", 1, 2},
      {"COUNTIFS(A1:A5,{1,2},B1:B5,\">0\")", 1, 2},
      {"COUNTIFS({1;2;3},1,B1:B5,{1,2})", 1, 2},  // position 0 is not lifted
      {"ABS({1,2,3}+{1,2})", 1, 3},
      {"LEN(\"abc\")", 0, 0},
      {"COVAR({1,2},{3,4})", 0, 0},
      {"MAX({1,2,3})", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = book.context();
    EvalResult got = eval_in_array(book, c.formula, ctx);
    if (c.rows == 0) {
      EXPECT_TRUE(got.is_scalar());
    } else {
      ASSERT_TRUE(got.is_array());
      EXPECT_EQ(got.as_array().rows, c.rows);
      EXPECT_EQ(got.as_array().cols, c.cols);
    }
  }
}

ExprPtr parsed(std::string_view text) { return parse_formula(text).value(); }

// SUM stands in for a scalar built-in: it is the one built-in handler whose
// element results show the substituted values.
constexpr BuiltinId kSum = static_cast<BuiltinId>(Builtin::Sum);

TEST(Lifting, ShapesBroadcast) {
  Workbook book;
  struct Case {
    std::vector<const char*> args;
    std::optional<std::vector<uint32_t>> positions;
    Want want;
  };
  const Case cases[] = {
      {{"{1,2}", "{10;20}"}, std::nullopt, array(2, 2, numbers({11, 12, 21, 22}))},
      {{"{1,2,3}", "{1,2}"}, std::nullopt,
       array(1, 3, {num(2), num(4), err(CellErrorCode::NA)})},
      // Position 1 only: the first argument stays whole in every element call.
      {{"{1,2}", "{10;20;30}"}, std::vector<uint32_t>{1}, array(3, 1, numbers({13, 23, 33}))},
      {{"{1,2}", "5"}, std::vector<uint32_t>{5}, scalar(num(8))},
      {{"\"x\"", "{1,2}"}, std::nullopt,
       array(1, 2, {err(CellErrorCode::Value), err(CellErrorCode::Value)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::vector<ExprPtr> args;
    for (const char* a : c.args) args.push_back(parsed(a));
    EvalContext ctx = book.context();
    EvalResult out;
    if (c.positions) {
      call_lifted(out, kSum, args, ctx, std::span<const uint32_t>(*c.positions));
    } else {
      call_lifted(out, kSum, args, ctx, std::nullopt);
    }
    EXPECT_TRUE(same_result(out, c.want));
  }
}

TEST(Lifting, CostCharges) {
  Workbook book;
  book.set(0, "A1", num(4));
  // Position 0 lifted, position 1 a 9-node expression: (1 + 9 - 8) × 3 cells
  // of cost, then one cell per element; constants pay their 3 cells.
  {
    std::vector<ExprPtr> args = {parsed("{1,2,3}"), parsed("1+2+3+4+5")};
    EXPECT_EQ(expr_node_count(*args[1]), 9u);
    EvalContext ctx = book.context();
    const uint64_t before = ctx.shared->cells_left;
    const uint32_t first[] = {0};
    EvalResult out;
    call_lifted(out, kSum, args, ctx, std::span<const uint32_t>(first));
    EXPECT_TRUE(same_result(out, array(1, 3, numbers({16, 17, 18}))));
    EXPECT_EQ(before - ctx.shared->cells_left, 3u + 6u + 3u);
  }
  // A 1 × 1 shape pays the summed node count and calls the built-in once
  // with the original arguments, which read A1 again.
  {
    std::vector<ExprPtr> args = {parsed("A1"), parsed("A1:A10")};
    EvalContext ctx = book.context();
    const uint64_t before = ctx.shared->cells_left;
    const uint32_t first[] = {0};
    EvalResult out;
    call_lifted(out, kSum, args, ctx, std::span<const uint32_t>(first));
    EXPECT_TRUE(same_result(out, scalar(num(8))));
    EXPECT_EQ(before - ctx.shared->cells_left, 1u + 2u + (1u + 10u));
  }
  // The cost is refused before any element call.
  {
    std::vector<ExprPtr> args = {parsed("{1,2,3}"), parsed("1+2+3+4+5")};
    EvalContext ctx = book.context();
    ctx.shared->cells_left = 3 + 5;
    const uint32_t first[] = {0};
    EvalResult out;
    call_lifted(out, kSum, args, ctx, std::span<const uint32_t>(first));
    EXPECT_TRUE(same_result(out, scalar(err(CellErrorCode::Num))));
    EXPECT_TRUE(ctx.shared->limited);
    EXPECT_EQ(ctx.shared->cells_left, 5u);
  }
}

TEST(Lifting, LimitsAndOversizedShapes) {
  Workbook book;
  book.set(0, "A1024", num(1));
  book.set(0, "AMK1", num(1));
  std::vector<ExprPtr> args = {parsed("A1:A1024"), parsed("A1:AMK1")};
  EvalContext ctx = book.context();
  const uint64_t before = ctx.shared->cells_left;
  EvalResult out;
  call_lifted(out, kSum, args, ctx, std::nullopt);
  EXPECT_TRUE(same_result(out, scalar(err(CellErrorCode::Num))));
  EXPECT_FALSE(ctx.shared->limited);
  EXPECT_EQ(before - ctx.shared->cells_left, 1024u + 1025u);  // the two reads only

  // Once limited, a 1 × 1 lifted call gives "#NUM!" at once.
  EvalContext limited = book.context();
  mark_limited(limited);
  std::vector<ExprPtr> small = {parsed("1"), parsed("2")};
  call_lifted(out, kSum, small, limited, std::nullopt);
  EXPECT_TRUE(same_result(out, scalar(err(CellErrorCode::Num))));
  EXPECT_EQ(limited.shared->limit_hits, 2u);
  // A larger shape stops after its first element.
  std::vector<ExprPtr> pair = {parsed("{1,2}")};
  call_lifted(out, kSum, pair, limited, std::nullopt);
  EXPECT_TRUE(same_result(out, scalar(err(CellErrorCode::Num))));
  EXPECT_EQ(limited.shared->limit_hits, 3u);
}

TEST(Lifting, NodeCountAndClone) {
  struct Case {
    const char* formula;
    uint64_t nodes;
  };
  const Case cases[] = {
      {"1", 1}, {"A1:B2", 1}, {"-A1", 2}, {"5%", 2}, {"1+2*3", 5},
      {"SUM(1,2)", 3}, {"{1,2;3,4}", 5}, {"A1:INDEX(B:B,2)", 5}, {"T[#All]", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    ExprPtr tree = parsed(c.formula);
    EXPECT_EQ(expr_node_count(*tree), c.nodes);
    ExprPtr copy = clone_expr(*tree);
    EXPECT_NE(copy.get(), tree.get());
    EXPECT_TRUE(same_tree(copy, tree));
  }
  // The copy shares no node with the original.
  ExprPtr tree = parsed("SUM(1+2)");
  ExprPtr copy = clone_expr(*tree);
  EXPECT_NE(copy->as<node::Call>().args[0].get(), tree->as<node::Call>().args[0].get());
}

}  // namespace
}  // namespace cmx::formula::testing
