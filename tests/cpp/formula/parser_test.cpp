// Parsing: tree shapes, precedence and associativity, ranges, calls, arrays,
// the nesting limits and every parser failure with its offset.
#include <gtest/gtest.h>

#include <string>

#include "formula/formula.h"
#include "tree_dump.h"

namespace cmx::formula {
namespace {

using testing::parse_dump;

struct Case {
  std::string_view text;
  std::string_view expected;  // dump of the tree, or "error at N: message"
};

void run(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    SCOPED_TRACE(std::string(c->text));
    EXPECT_EQ(parse_dump(c->text), c->expected);
  }
}
#define RUN_CASES(cases) run(std::begin(cases), std::end(cases))

TEST(Parser, PrecedenceAndAssociativity) {
  const Case cases[] = {
      {"1+2*3", "Add(1,Mul(2,3))"},
      {"(1+2)*3", "Mul(Add(1,2),3)"},
      {"1&2=3&4", "Eq(Concat(1,2),Concat(3,4))"},
      {"-2^2", "Pow(Neg(2),2)"},  // evaluates to 4
      {"2^-1", "Pow(2,Neg(1))"},
      {"2^3^2", "Pow(Pow(2,3),2)"},  // left-associative: 64
      {"-1%", "Neg(Pct(1))"},
      {"+A1", "Plus(Ref(A1))"},
      {"-1+2", "Add(Neg(1),2)"},
      {"1<2<3", "Lt(Lt(1,2),3)"},
      {"1-2-3", "Sub(Sub(1,2),3)"},
      {"8/4/2", "Div(Div(8,4),2)"},
      {"1+2&3", "Concat(Add(1,2),3)"},
      {"1&2+3", "Concat(1,Add(2,3))"},
      {"1=2<>3", "Ne(Eq(1,2),3)"},
      {"1<=2>=3", "Ge(Le(1,2),3)"},
      {"1>2<3", "Lt(Gt(1,2),3)"},
      {"50%%", "Pct(Pct(50))"},
      {"2*50%", "Mul(2,Pct(50))"},
      {"2^50%", "Pow(2,Pct(50))"},
      {"(1+2)%", "Pct(Add(1,2))"},
      {"SUM(A1)%", "Pct(Call(SUM#0:Ref(A1)))"},
      {"A1%", "Pct(Ref(A1))"},
      {"--1", "Neg(Neg(1))"},
      {"-A1:B2", "Neg(Range(A1:B2))"},
      {"\"a\"&\"b\"", "Concat(Text(a),Text(b))"},
      {"(((1)))", "1"},
      {"1*2+3*4", "Add(Mul(1,2),Mul(3,4))"},
      {"1+2^3*4", "Add(1,Mul(Pow(2,3),4))"},
  };
  RUN_CASES(cases);
}

TEST(Parser, LeavesAndNames) {
  const Case cases[] = {
      {"Rate", "Name(Rate)"},
      {"Sheet1!Rate", "Name[Sheet1](Rate)"},
      {"a1", "Name(a1)"},
      {"SUM(1)", "Call(SUM#0:1)"},
      {"TRUE", "TRUE"},
      {"false", "FALSE"},
      {"#N/A", "#N/A"},
      {"\"x\"", "Text(x)"},
      {"$B$7", "Ref($B$7)"},
      {"'My Sheet'!A1", "Ref[My Sheet](A1)"},
      {"Sales[Amount]", "Table(Sales,<Amount>)"},
      {"{1,2;3,4}", "Array2{1,2,3,4}"},
      {"{1;2}", "Array1{1,2}"},
      {"{1+1,A1,SUM(1)}", "Array3{Add(1,1),Ref(A1),Call(SUM#0:1)}"},
  };
  RUN_CASES(cases);
}

TEST(Parser, RangeOperator) {
  const Case cases[] = {
      {"A1:B2:C3", "RangeOp(Range(A1:B2),Ref(C3))"},
      {"A1 : B2", "RangeOp(Ref(A1),Ref(B2))"},
      {"A1 : B2 : C3", "RangeOp(RangeOp(Ref(A1),Ref(B2)),Ref(C3))"},
      {"a1:b2", "RangeOp(Name(a1),Name(b2))"},
      {"A1:INDEX(B:B,3)", "RangeOp(Ref(A1),Call(INDEX#143:Cols(B:B):3))"},
      {"A:A:B2", "RangeOp(Cols(A:A),Ref(B2))"},
      {"#REF!:B2", "RangeOp(#REF!,Ref(B2))"},
      {"Sales2024:A1", "RangeOp(Name(Sales2024),Ref(A1))"},
      {"My.Name:A1", "RangeOp(Name(My.Name),Ref(A1))"},
      {"Sales[A]:Sales[B]", "RangeOp(Table(Sales,<A>),Table(Sales,<B>))"},
      {"Rate:Tax", "error at 4: ':' joins two references"},
      {"1:A1", "error at 1: ':' joins two references"},
      {"1:3:A1", "error at 3: ':' joins two references"},
      {"A1:-B2", "error at 3: unexpected token Minus"},
      {"$:A1", "error at 1: ':' joins two references"},
      {"A1:\"x\"", "error at 2: ':' joins two references"},
      {"A1:{1}", "error at 2: ':' joins two references"},
  };
  RUN_CASES(cases);
}

TEST(Parser, Calls) {
  const Case cases[] = {
      {"SUM()", "Call(SUM#0)"},
      {"NOW()", "Call(NOW#114)"},
      {"SUM(1,)", "Call(SUM#0:1:Empty)"},
      {"IF(A1,,2)", "Call(IF#130:Ref(A1):Empty:2)"},
      {"F(,)", "Call(F#255:Empty:Empty)"},
      {"FOO(1)", "Call(FOO#255:1)"},
      {"SUM (1)", "Call(SUM#0:1)"},
      {"_xlfn.CONCAT(A1,B1)", "Call(_xlfn.CONCAT#101:Ref(A1):Ref(B1))"},
      {"sum(a1)", "Call(sum#0:Name(a1))"},
      {"TRUE()", "Call(TRUE#139)"},
      {"IF(1,SUM(2,3),-4)", "Call(IF#130:1:Call(SUM#0:2:3):Neg(4))"},
      {"SUM(1", "error at 5: expected ',' or ')'"},
      {"SUM(1 2)", "error at 6: expected ',' or ')'"},
      {"SUM(1,", "error at 6: unexpected end of formula"},
      {"SUM(", "error at 4: unexpected end of formula"},
      {"LOG10 (2)", "error at 6: unexpected trailing token"},
      {"Sheet1!SUM(1)", "error at 10: unexpected trailing token"},
  };
  RUN_CASES(cases);
}

TEST(Parser, Failures) {
  const Case cases[] = {
      {"=1+2", "error at 0: unexpected token Eq"},
      {"(1", "error at 2: expected ')'"},
      {"(1,2)", "error at 2: expected ')'"},
      {"1+", "error at 2: unexpected end of formula"},
      {"1 2", "error at 2: unexpected trailing token"},
      {"*1", "error at 0: unexpected token Star"},
      {")", "error at 0: unexpected token RParen"},
      {"A1,B1", "error at 2: unexpected trailing token"},
      {"%", "error at 0: unexpected token Percent"},
      {";", "error at 0: unexpected token Semicolon"},
      {"1+,", "error at 2: unexpected token Comma"},
      {"A1 B1", "error at 3: unexpected trailing token"},
      {"{1,2;3,4}", "Array2{1,2,3,4}"},
      {"{1,2;3}", "error at 6: ragged array constant"},
      {"{1;2,3}", "error at 6: ragged array constant"},
      {"{1,2", "error at 4: expected ',', ';' or '}'"},
      {"{1 2}", "error at 3: expected ',', ';' or '}'"},
      {"{}", "error at 1: unexpected token RBrace"},
      {"{1,}", "error at 3: unexpected token RBrace"},
      {"", "error at 0: empty formula"},
  };
  RUN_CASES(cases);
}

std::string repeat(std::string_view piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(Parser, NestingLimits) {
  // 100 parentheses are the deepest recursion allowed; the 101st fails at
  // the number it wraps.
  EXPECT_EQ(parse_dump(repeat("(", 100) + "7" + repeat(")", 100)), "7");
  EXPECT_EQ(parse_dump(repeat("(", 101) + "7" + repeat(")", 101)),
            "error at 101: formula nesting too deep");

  // A chain of 100 ones is a tree of height 100; 101 ones is one too high.
  std::string ones100 = "1" + repeat("+1", 99);
  ASSERT_TRUE(parse_formula(ones100).has_value());
  std::string ones101 = ones100 + "+1";
  EXPECT_EQ(parse_dump(ones101),
            "error at " + std::to_string(ones101.size()) + ": formula nesting too deep");

  EXPECT_TRUE(parse_formula(repeat("-", 99) + "1").has_value());
  EXPECT_EQ(parse_dump(repeat("-", 100) + "1"), "error at 101: formula nesting too deep");

  // Percent signs and call nesting count toward the same height.
  EXPECT_TRUE(parse_formula("1" + repeat("%", 99)).has_value());
  EXPECT_EQ(parse_dump("1" + repeat("%", 100)), "error at 101: formula nesting too deep");
  EXPECT_TRUE(parse_formula(repeat("F(", 99) + "1" + repeat(")", 99)).has_value());
  EXPECT_FALSE(parse_formula(repeat("F(", 100) + "1" + repeat(")", 100)).has_value());
}

TEST(Parser, ArrayOfMaximalSize) {
  // 4,999 elements take 9,999 tokens: inside the token limit.
  std::string text = "{1" + repeat(",1", 4998) + "}";
  auto parsed = parse_formula(text);
  ASSERT_TRUE(parsed.has_value());
  const auto& array = (*parsed)->as<node::Array>();
  EXPECT_EQ(array.elements.size(), 4999u);
  EXPECT_EQ(array.columns, 4999u);
}

TEST(Parser, RangeOperandPredicate) {
  struct PredCase { std::string_view text; bool operand; };
  const PredCase cases[] = {
      {"a1", true},   {"Sales2024", true}, {"My.Name", true}, {"$a1$", true},
      {"Rate", false}, {"$", false},       {"$$", false},     {"$abc$", false},
      {"1", false},   {"A1", true},        {"A:B", true},     {"1:2", false},
      {"#N/A", true}, {"F()", true},       {"-A1", false},    {"\"t\"", false},
  };
  for (const PredCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    auto parsed = parse_formula(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(is_range_operand(**parsed), c.operand);
  }
}

TEST(FormulaError, DisplayText) {
  FormulaError error;
  error.kind = FormulaErrorKind::EmptyFormula;
  error.position = 0;
  EXPECT_EQ(error.display(), "formula error at 0: empty formula");
  auto parsed = parse_formula("1 2");
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error().display(), "formula error at 2: unexpected trailing token");
}

}  // namespace
}  // namespace cmx::formula
