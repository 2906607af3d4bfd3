// Argument coercion, the number collectors, clipping of whole rows and
// columns, and the array-function frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arrayfns/frame.h"
#include "eval_harness.h"
#include "formula/array_eval.h"
#include "functions/arg_coercion.h"
#include "functions/clip_ranges.h"

namespace cmx::formula::testing {
namespace {

ExprPtr parsed(std::string_view text) { return parse_formula(text).value(); }

std::vector<ExprPtr> parsed_args(std::initializer_list<const char*> texts) {
  std::vector<ExprPtr> out;
  for (const char* t : texts) out.push_back(parsed(t));
  return out;
}

// A small book: A1 the text 5, A2 TRUE, A3 2, A4 the text abc, A5 7,
// B1 #DIV/0!, sheet 2 used down to row 800 in column B.
struct Book : Workbook {
  Book() : Workbook(2) {
    set(0, "A1", txt("5"));
    set(0, "A2", boolean(true));
    set(0, "A3", num(2));
    set(0, "A4", txt("abc"));
    set(0, "A5", num(7));
    set(0, "B1", err(CellErrorCode::Div0));
    set(0, "C10", num(1));
    set(1, "B800", num(3));
    now = 45'000.25;
  }
};

using Collector = Result<std::vector<double>, CellErrorCode> (*)(Args, EvalContext&);

struct CollectCase {
  std::initializer_list<const char*> args;
  std::vector<double> want;
  std::optional<CellErrorCode> error;
};

void check_collector(Collector collect, std::initializer_list<CollectCase> cases) {
  Book book;
  for (const CollectCase& c : cases) {
    std::string trace;
    for (const char* a : c.args) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    auto args = parsed_args(c.args);
    EvalContext ctx = book.context();
    auto got = collect(args, ctx);
    if (c.error) {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error(), *c.error);
    } else {
      ASSERT_TRUE(got.has_value()) << model::error_code_text(got.error());
      EXPECT_EQ(*got, c.want);
    }
  }
}

TEST(Collectors, CollectNumbers) {
  check_collector(collect_numbers, {
      {{"A1"}, {}, {}},                 // a referenced text is skipped
      {{"\"5\""}, {5}, {}},             // a text given directly is read
      {{"TRUE"}, {1}, {}},
      {{"A2"}, {}, {}},                 // a referenced logical is skipped
      {{"{1,\"2\",TRUE}"}, {1}, {}},    // inside an array only Numbers count
      {{"\"abc\""}, {}, CellErrorCode::Value},
      {{"A1:A5"}, {2, 7}, {}},
      {{"A1:A5", "1/0"}, {}, CellErrorCode::Div0},
      {{"A:A"}, {2, 7}, {}},
      {{"{1,2}*2", "A9"}, {2, 4}, {}},  // an empty cell adds nothing
      {{"{1,#N/A,2}"}, {}, CellErrorCode::NA},
      {{"B1:B2"}, {}, CellErrorCode::Div0},
      {{}, {}, {}},
  });
}

TEST(Collectors, CollectArgNumbersAgreesWithCollectNumbers) {
  check_collector(collect_arg_numbers, {
      {{"A1"}, {}, {}},
      {{"\"5\""}, {5}, {}},
      {{"TRUE"}, {1}, {}},
      {{"{1,\"2\",TRUE}"}, {1}, {}},
      {{"\"abc\""}, {}, CellErrorCode::Value},
      {{"A1:A5", "3"}, {2, 7, 3}, {}},
      {{"{1,2}*2"}, {2, 4}, {}},
      {{}, {}, {}},
  });
}

TEST(Collectors, CollectNumbersA) {
  check_collector(collect_numbers_a, {
      {{"A1:A5"}, {0, 1, 2, 0, 7}, {}},  // texts 0, TRUE 1
      {{"\"x\""}, {}, CellErrorCode::Value},
      {{"\"4\"", "FALSE"}, {4, 0}, {}},
      {{"{\"a\",TRUE,3}"}, {0, 1, 3}, {}},
      {{"A6:A7"}, {}, {}},               // empty cells add nothing
      {{"B1"}, {}, CellErrorCode::Div0},
  });
}

TEST(Collectors, ErrorsStopBeforeLaterArguments) {
  Book book;
  // The error comes first: A1:A5 is never read.
  auto args = parsed_args({"1/0", "A1:A5"});
  EvalContext ctx = book.context();
  const uint64_t before = ctx.shared->cells_left;
  auto got = collect_numbers(args, ctx);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error(), CellErrorCode::Div0);
  EXPECT_EQ(ctx.shared->cells_left, before);
}

TEST(Collectors, ReferenceTextsCostBytesOnlyThroughArgValues) {
  Book book;
  auto args = parsed_args({"A1:A5"});
  EvalContext plain = book.context();
  plain.shared->bytes_left = 3;
  EXPECT_TRUE(collect_numbers(args, plain).has_value());
  EXPECT_FALSE(plain.shared->limited);

  EvalContext charged = book.context();
  charged.shared->bytes_left = 3;  // "5" and "abc" need 4
  auto got = collect_arg_numbers(args, charged);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error(), CellErrorCode::Num);
  EXPECT_TRUE(charged.shared->limited);
}

TEST(Collectors, ArgValues) {
  Book book;
  struct Case {
    const char* arg;
    size_t count;
    bool many;
  };
  const Case cases[] = {
      {"A1:A5", 5, true}, {"{1,2;3,4}", 4, true}, {"A3", 1, true}, {"7", 1, false},
      {"{9}", 1, false},  {"A:A", 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    auto args = parsed_args({c.arg});
    EvalContext ctx = book.context();
    auto got = arg_values(args, 0, ctx);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->values.size(), c.count);
    EXPECT_EQ(got->many_values, c.many);
  }
}

TEST(ArgCoercion, Numbers) {
  Book book;
  struct Case {
    const char* arg;
    std::optional<double> want;
    CellErrorCode error = CellErrorCode::Value;
  };
  const Case cases[] = {
      {"A9", 0},
      {"A3", 2},
      {"\"1 1/2\"", 1.5},
      {"\"2024-01-15 10:30\"", 45306},  // a date text gives its whole day
      {"\"no number\"", std::nullopt},
      {"TRUE", 1},
      {"A1:A2", std::nullopt},          // several cells have no single value
      {"{4,5}", 4},
      {"B1", std::nullopt, CellErrorCode::Div0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    auto args = parsed_args({c.arg});
    EvalContext ctx = book.context();
    auto got = arg_number(args, 0, ctx);
    if (c.want) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, *c.want);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error(), c.error);
    }
  }
}

TEST(ArgCoercion, Integers) {
  Book book;
  book.set(0, "D1", num(3.7));
  book.set(0, "D2", num(1));
  struct Case {
    const char* arg;
    std::optional<int64_t> want;
    CellErrorCode error = CellErrorCode::Value;
  };
  const Case cases[] = {
      {"2.9", 2},
      {"-2.9", -2},
      {"1E300", INT64_MAX},
      {"-1E300", INT64_MIN},
      {"D1:D2*2", 7},                // the array reading's top-left value
      {"D1:D2", std::nullopt},       // a reference keeps the scalar error
      {"{\"x\",1}&\"\"", std::nullopt},
      {"{\"12\",1}&\"\"", 12},
      {"{TRUE,1}=TRUE", 1},
      {"1/0", std::nullopt, CellErrorCode::Div0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    auto args = parsed_args({c.arg});
    EvalContext ctx = book.context();
    auto got = arg_integer(args, 0, ctx);
    if (c.want) {
      ASSERT_TRUE(got.has_value()) << model::error_code_text(got.error());
      EXPECT_EQ(*got, *c.want);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error(), c.error);
    }
  }
}

SheetRange whole_column(uint32_t sheet, uint32_t col, uint32_t first_row = 0) {
  return SheetRange{sheet, model::CellRef{first_row, col, false, false}, kGridRows, 1};
}

TEST(Clipping, RangesTogether) {
  Book book;
  EvalContext ctx = book.context();
  struct Case {
    const char* what;
    std::vector<SheetRange> ranges;
    std::vector<std::pair<uint64_t, uint64_t>> want;  // height, width
  };
  Workbook empty;
  const Case cases[] = {
      {"A:A beside Sheet2!B:B", {whole_column(0, 0), whole_column(1, 1)}, {{800, 1}, {800, 1}}},
      {"A:A alone", {whole_column(0, 0)}, {{10, 1}}},
      {"from row 5", {whole_column(0, 0, 4)}, {{6, 1}}},
      {"below the used rows", {whole_column(0, 0, 20)}, {{1, 1}}},
      {"3:3", {SheetRange{0, {2, 0, false, false}, 1, kGridCols}}, {{1, 3}}},
      {"A2:A1048576", {SheetRange{0, {1, 0, false, false}, kGridRows - 1, 1}},
       {{kGridRows - 1, 1}}},
      {"a plain range beside", {SheetRange{0, {0, 0, false, false}, 4, 2}, whole_column(0, 0)},
       {{4, 2}, {10, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SheetRange> ranges = c.ranges;
    clip_ranges_to_used(ranges, ctx);
    ASSERT_EQ(ranges.size(), c.want.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i].height, c.want[i].first);
      EXPECT_EQ(ranges[i].width, c.want[i].second);
      EXPECT_EQ(ranges[i].start, c.ranges[i].start);
    }
  }
  // A whole column of an empty sheet becomes one row.
  EvalContext bare = empty.context();
  std::vector<SheetRange> one = {whole_column(0, 3)};
  clip_ranges_to_used(one, bare);
  EXPECT_EQ(one[0].height, 1u);

  std::vector<std::optional<SheetRange>> args = {whole_column(0, 0), std::nullopt,
                                                 whole_column(1, 1)};
  clip_reference_args(args, ctx);
  EXPECT_EQ(args[0]->height, 800u);
  EXPECT_FALSE(args[1].has_value());
  EXPECT_EQ(args[2]->height, 800u);
}

TEST(Frame, NameNormalisation) {
  struct Case {
    const char* name;
    bool array_function;
  };
  const Case cases[] = {
      {"FILTER", true},          {"filter", true},          {"_xlfn._xlws.FILTER", true},
      {"_XLFN.filter", true},    {"_xlfn._XLWS.Sort", true}, {"_xlws.FILTER", false},
      {"_xlws.SORT", false},     {"_xlfn.", false},         {"", false},
      {"_xlfn._xlws.", false},   {"FILTERS", false},        {" SORT", false},
      {"CONCATENATE", true},     {"NETWORKDAYS.INTL", false}, {"ANCHORARRAY", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_array_function_name(c.name), c.array_function);
  }
  EXPECT_EQ(array_function_names().size(), kArrayFunctionNameCount);
  EXPECT_EQ(array_function("CONCAT"), array_function("CONCATENATE"));
  EXPECT_NE(array_function("SUM"), array_function("SORT"));
  EXPECT_EQ(array_function("sort"), nullptr);  // only upper-case names
  // 52 distinct handlers for 53 names.
  std::vector<ArrayFnHandler> handlers;
  for (std::string_view name : array_function_names()) handlers.push_back(array_function(name));
  std::sort(handlers.begin(), handlers.end(), std::less<>());
  EXPECT_EQ(std::unique(handlers.begin(), handlers.end()) - handlers.begin(), 52);
}

TEST(Frame, UsesArrayFunction) {
  struct Case {
    const char* formula;
    uint32_t depth;
    bool want;
  };
  std::string deep = "SEQUENCE(2)";
  for (int i = 0; i < 31; ++i) deep = "-(" + deep + ")";
  std::string deeper = "-" + deep;
  const Case cases[] = {
      {"FILTER(A1:A3,A1:A3>0)", 32, true},
      {"1+_xlfn.SEQUENCE(2)", 32, true},
      {"SUM(A1:A3)", 32, false},            // built-ins count only by arguments
      {"SUM(LET(x,1,x))", 32, true},
      {"IF(A1,1,2)", 32, false},
      {"{1,2}", 32, false},
      {"_xlws.SEQUENCE(2)", 32, false},
      {"SEQUENCE(2)", 0, false},
      {deep.c_str(), 32, true},
      {deeper.c_str(), 32, false},
      {"A1:SEQUENCE(1)", 32, true},
      {"5%+FOO(SORT(1))", 32, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EXPECT_EQ(uses_array_function(*parsed(c.formula), c.depth), c.want);
  }
}

TEST(Frame, ArgumentReaders) {
  Book book;
  auto args = parsed_args({"\"12\"", "TRUE", "A9", "\"abc\"", "1/0", "0", "{3,4;5,6}", "\"true\""});
  // The parser's omitted argument: the sixth slot becomes a literal Empty.
  args[5] = make_expr(node::Literal{CellValue()});
  EvalContext ctx = book.context();
  struct NumberCase {
    size_t i;
    std::optional<double> want;
    CellErrorCode error = CellErrorCode::Value;
  };
  const NumberCase numbers[] = {
      {0, 12}, {1, 1}, {2, -1}, {3, std::nullopt}, {4, std::nullopt, CellErrorCode::Div0},
      {5, -1}, {6, 3}, {9, -1},
  };
  for (const NumberCase& c : numbers) {
    SCOPED_TRACE(c.i);
    auto got = arg_number_or_default(args, c.i, ctx, -1);
    if (c.want) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, *c.want);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error(), c.error);
    }
  }
  EXPECT_FALSE(arg_optional_value(args, 2, ctx)->has_value());
  EXPECT_FALSE(arg_optional_value(args, 20, ctx)->has_value());
  EXPECT_EQ(arg_optional_value(args, 4, ctx).error(), CellErrorCode::Div0);
  EXPECT_TRUE(same_value(**arg_optional_value(args, 3, ctx), txt("abc")));

  EXPECT_EQ(*arg_bool_or_default(args, 7, ctx, false), true);
  EXPECT_EQ(*arg_bool_or_default(args, 2, ctx, true), true);
  EXPECT_EQ(*arg_bool_or_default(args, 5, ctx, false), false);
  EXPECT_EQ(*arg_bool_or_default(args, 1, ctx, false), true);
  EXPECT_EQ(arg_bool_or_default(args, 0, ctx, true).error(), CellErrorCode::Value);
  EXPECT_EQ(arg_bool_or_default(args, 4, ctx, true).error(), CellErrorCode::Div0);
}

TEST(Frame, ArgAsArrayAndStacks) {
  Book book;
  auto args = parsed_args({"{1,2;3,4}", "7", "A3:A5", "1/0", "\"s\""});
  EvalContext ctx = book.context();
  auto square = arg_as_array(args, 0, ctx);
  ASSERT_TRUE(square.has_value());
  EXPECT_EQ(square->rows, 2u);
  EXPECT_EQ(square->cols, 2u);
  auto single = arg_as_array(args, 1, ctx);
  ASSERT_TRUE(single.has_value());
  EXPECT_EQ(single->rows, 1u);
  EXPECT_EQ(single->values.size(), 1u);
  EXPECT_EQ(arg_as_array(args, 3, ctx).error(), CellErrorCode::Div0);
  EXPECT_EQ(arg_as_array(args, 5, ctx).error(), CellErrorCode::Value);

  auto stacked = collect_stack_arrays(args, 0, 3, ctx);
  ASSERT_TRUE(stacked.has_value());
  ASSERT_EQ(stacked->size(), 3u);
  EXPECT_EQ((*stacked)[2].rows, 3u);
  EXPECT_EQ(collect_stack_arrays(args, 1, 5, ctx).error(), CellErrorCode::Div0);
  EXPECT_TRUE(collect_stack_arrays(args, 2, 2, ctx)->empty());
}

TEST(Frame, HandOverToTheBuiltin) {
  Book book;
  auto args = parsed_args({"A3:A5", "1+2"});
  EvalContext ctx = book.context();
  const uint64_t before = ctx.shared->cells_left;
  EvalResult sum = call_builtin_fallback("_xlfn.sum", args, ctx);
  ASSERT_TRUE(sum.is_scalar());
  EXPECT_TRUE(same_value(sum.as_scalar(), num(12)));
  // 1 + 3 argument nodes, then the three cells the built-in reads.
  EXPECT_EQ(before - ctx.shared->cells_left, 4u + 3u);

  EvalResult none = call_builtin_fallback("FILTER", args, ctx);
  EXPECT_TRUE(same_value(none.as_scalar(), err(CellErrorCode::Name)));
  EXPECT_EQ(ctx.shared->unknown_calls, 0u);

  EvalContext limited = book.context();
  mark_limited(limited);
  EvalResult refused = call_builtin_fallback("SUM", args, limited);
  EXPECT_TRUE(same_value(refused.as_scalar(), err(CellErrorCode::Num)));
  EXPECT_EQ(limited.shared->limit_hits, 2u);
  EXPECT_EQ(limited.shared->cells_left, before);

  EvalContext poor = book.context();
  poor.shared->cells_left = 3;
  EvalResult unpaid = call_builtin_fallback("SUM", args, poor);
  EXPECT_TRUE(same_value(unpaid.as_scalar(), err(CellErrorCode::Num)));
  EXPECT_EQ(poor.shared->cells_left, 3u);
}

}  // namespace
}  // namespace cmx::formula::testing
