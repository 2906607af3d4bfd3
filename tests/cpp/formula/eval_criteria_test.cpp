// The criteria language: one table of (criterion, cell value, matches),
// each case run through COUNTIF with the criterion in a cell, and the
// wildcard matcher on its own.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "eval_harness.h"
#include "formula/array_eval.h"
#include "functions/criteria.h"

namespace cmx::formula {
namespace {

using namespace testing;

const CellValue kEmpty;

struct MatchCase {
  CellValue criterion;  // placed in B1; Empty leaves B1 empty
  CellValue value;      // placed in A1
  bool matches;
};

TEST(Criteria, LanguageTable) {
  const CellValue na = err(CellErrorCode::NA);
  const MatchCase cases[] = {
      // Numbers, and texts that read as numbers, match numerically.
      {num(5), num(5), true},
      {num(5), txt("5"), true},
      {num(5), txt(" 5 "), true},
      {num(5), txt("500%"), true},
      {num(5), txt("five"), false},
      {num(5), boolean(true), false},
      {txt("5"), num(5), true},
      {txt("5"), txt("5.0"), true},
      {txt("1e3"), num(1000), true},
      {txt("12:00"), num(0.5), true},  // a time text is a number
      {txt("1,000"), num(1000), false},
      {num(1), boolean(true), true},
      {num(0), boolean(false), true},
      {num(0.1), num(0.1), true},
      // Blanks: "" and "=" find empty cells only; "<>" everything else.
      {txt(""), kEmpty, true},
      {txt(""), txt(""), false},
      {txt(""), num(0), false},
      {txt("="), kEmpty, true},
      {txt("="), txt(""), false},
      {txt("<>"), kEmpty, false},
      {txt("<>"), txt(""), true},
      {txt("<>"), na, true},
      {txt("<>"), num(0), true},
      // A reference to an empty cell is the number 0.
      {kEmpty, num(0), true},
      {kEmpty, boolean(false), true},
      {kEmpty, txt("0"), true},
      {kEmpty, kEmpty, false},
      // Logical criteria are their texts.
      {boolean(true), boolean(true), true},
      {boolean(true), txt("TRUE"), true},
      {boolean(true), txt("true"), true},
      {boolean(true), txt("True"), true},
      {boolean(true), num(1), false},
      {boolean(true), boolean(false), false},
      {txt("false"), boolean(false), true},
      // Errors as criteria act as the empty text.
      {na, kEmpty, true},
      {na, na, false},
      {na, txt(""), false},
      // Case-insensitive text, with full Unicode lower-casing.
      {txt("x"), txt("X"), true},
      {txt("x"), txt("x "), false},
      {txt("\xc3\x89"), txt("\xc3\xa9"), true},   // É finds é
      {txt("1,000"), txt("1,000"), true},
      // Wildcards: only texts can match them.
      {txt("a*"), txt("a"), true},
      {txt("a*"), txt("Apple"), true},
      {txt("a*"), txt("ABC"), true},
      {txt("a*"), txt("ba"), false},
      {txt("a*"), num(1), false},
      {txt("a*"), boolean(true), false},
      {txt("a*"), kEmpty, false},
      {txt("a*"), na, false},
      {txt("<>a*"), num(1), true},
      {txt("<>a*"), kEmpty, true},
      {txt("<>a*"), txt("apple"), false},
      {txt("*"), txt(""), true},
      {txt("*"), txt("x"), true},
      {txt("*"), num(1), false},
      {txt("*"), kEmpty, false},
      {txt("?b"), txt("ab"), true},
      {txt("?b"), txt("b"), false},
      {txt("?b"), txt("abb"), false},
      {txt("a?c*"), txt("ABCdef"), true},
      {txt("*1*"), num(10), false},  // numbers never meet a pattern
      {txt("\xc3\x89" "COLE*"), txt("\xc3\xa9" "cole primaire"), true},
      {txt("~*"), txt("*"), true},
      {txt("~*"), txt("a"), false},
      {txt("~?"), txt("?"), true},
      {txt("~?"), txt("a"), false},
      {txt("a~"), txt("a"), false},
      {txt("a~"), txt("a~"), false},
      {txt("~"), txt("~"), false},
      // Ordering with a number.
      {txt(">5"), num(6), true},
      {txt(">5"), txt("6"), true},
      {txt(">5"), num(5), false},
      {txt(">5"), kEmpty, false},
      {txt(">5"), na, false},
      {txt(">5"), txt("x"), false},
      {txt(">0.5"), boolean(true), true},
      {txt(">0.5"), boolean(false), false},
      {txt("<=5"), num(5), true},
      {txt("<=5"), num(-1), true},
      {txt("<=5"), kEmpty, false},
      {txt("<5"), num(-1e300), true},
      {txt(">=5"), num(5), true},
      {txt("<>5"), num(5), false},
      {txt("<>5"), txt("x"), true},
      {txt("<>5"), kEmpty, true},
      // Ordering with a text: texts only, case-insensitively.
      {txt(">b"), txt("c"), true},
      {txt(">b"), txt("Bz"), true},
      {txt(">b"), txt("a"), false},
      {txt(">b"), num(5), false},
      {txt(">b"), kEmpty, false},
      {txt("<x"), kEmpty, false},
      {txt(">="), kEmpty, true},
      {txt(">="), txt(""), true},
      {txt(">="), txt("x"), true},
      {txt(">="), num(1), false},
      {txt(">"), kEmpty, false},
      {txt(">"), txt("a"), true},
      // Only one operator is taken.
      {txt("==5"), txt("=5"), true},
      {txt("==5"), num(5), false},
      // Dates written as texts stand for their serial days against numbers
      // (2024-01-15 is serial 45306, 2024-01-01 45292).
      {txt(">1/15/2024"), num(45307), true},
      {txt(">1/15/2024"), num(45306), false},
      {txt("2024-01-15"), num(45306), true},
      {txt("<=January 15, 2024"), num(45306.75), false},
      {txt("<=January 15, 2024"), num(45305.75), true},
      {txt("<>1/15/2024"), num(45306), false},
      {txt("<>1/15/2024"), txt("x"), true},
      {txt("Jan 2024"), txt("jan 2024"), true},  // a text still finds its text
      {txt("Jan 2024"), num(45292), true},
      {txt(">1/15/2024"), txt("2"), true},        // texts compare as texts
      {txt(">1/15/2024"), kEmpty, false},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE("criterion " + show(c.criterion) + ", value " + show(c.value));
    Workbook wb;
    if (!c.value.is_empty()) wb.set(0, "A1", c.value);
    if (!c.criterion.is_empty()) wb.set(0, "B1", c.criterion);
    EXPECT_TRUE(same_value(wb.eval("COUNTIF(A1,B1)"), num(c.matches ? 1 : 0)));
    // Matching is the same when the criterion is tested directly.
    EXPECT_EQ(criterion_matches(criterion_from_value(c.criterion, std::nullopt), c.value),
              c.matches);
  }
}

TEST(Criteria, CriterionIsReadOnce) {
  Workbook wb;
  wb.set(0, "A1", txt("x"));
  wb.set(0, "A2", txt("y"));
  wb.set(0, "A3", txt("x"));
  // The criterion calls an unknown function: it is evaluated once per call,
  // not once per cell.
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("COUNTIF(A1:A3,FOO())", ctx), num(0)));
  EXPECT_EQ(ctx.shared->unknown_calls, 1u);
}

TEST(Criteria, ArrayOfCriteriaGivesArrayOfCounts) {
  Workbook wb;
  wb.set(0, "A1", txt("x"));
  wb.set(0, "A2", txt("y"));
  wb.set(0, "A3", txt("x"));
  wb.set(0, "B1", num(10));
  wb.set(0, "B2", num(20));
  wb.set(0, "B3", num(30));
  struct Case {
    std::string_view formula;
    std::vector<double> want;
  };
  const Case cases[] = {
      {"COUNTIF(A1:A3,{\"x\",\"y\",\"z\"})", {2, 1, 0}},
      {"SUMIFS(B1:B3,A1:A3,{\"x\";\"y\"})", {40, 20}},
      {"COUNTIFS(A1:A3,\"x\",B1:B3,{\">5\",\">15\"})", {2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    EvalResult got = eval_array(*parse_formula(c.formula).value(), ctx);
    ASSERT_TRUE(got.is_array());
    const ArrayValue& array = got.as_array();
    ASSERT_EQ(array.values.size(), c.want.size());
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_TRUE(same_value(array.values[i], num(c.want[i])));
    }
  }
}

TEST(Criteria, WildcardMatcher) {
  struct Case {
    std::string_view pattern, text;
    bool matches;
  };
  const Case cases[] = {
      {"", "", true},          {"*", "", true},         {"**", "abc", true},
      {"", "a", false},        {"?", "", false},        {"a*b", "ab", true},
      {"a*b", "axxbxb", true}, {"a*b", "axxbx", false}, {"*a*a*", "banana", true},
      {"a?", "a", false},      {"~*a", "*a", true},     {"~a", "a", true},
      {"a~~", "a~", true},     {"*~?", "what?", true},  {"*~?", "what", false},
      {"h\xc3\xa9?", "h\xc3\xa9t", true},  // a scalar, not a byte
      {"?", "\xc3\xa9", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + std::string(c.text));
    EXPECT_EQ(wildcard_match(c.pattern, c.text), c.matches);
  }
}

}  // namespace
}  // namespace cmx::formula
