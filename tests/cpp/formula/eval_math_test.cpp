// The rounding, elementary, unit-conversion and random-integer built-ins:
// tables generated from Python (eval_math_cases.inc, written by
// eval_math_cases.py) and hand-picked cases for coercion, evaluation order
// and the edges of each function.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "eval_harness.h"

namespace cmx::formula {
namespace {

using namespace testing;

struct MathCase {
  const char* formula;
  double value;
  const char* error;  // empty for a Number
};
struct Draw {
  double value;
  const char* error;
};
struct RandomCase {
  uint64_t seed;
  const char* formula;
  Draw draws[3];  // three evaluations in one context
};

#include "eval_math_cases.inc"

CellValue expected(double value, const char* error) {
  if (*error == '\0') return num(value);
  return err(model::error_code_from_text(error).value());
}

void run_generated(std::span<const MathCase> cases) {
  Workbook wb;
  for (const MathCase& c : cases) {
    SCOPED_TRACE(c.formula);
    EXPECT_TRUE(same_value(wb.eval(c.formula), expected(c.value, c.error)));
  }
}

const CellValue kNum = err(CellErrorCode::Num);
const CellValue kValue = err(CellErrorCode::Value);
const CellValue kDiv0 = err(CellErrorCode::Div0);
const CellValue kNa = err(CellErrorCode::NA);

TEST(Rounding, MatchesPython) { run_generated(kRoundingCases); }

TEST(Rounding, Table) {
  Workbook wb;
  wb.set(0, "B1", txt("2.5"));
  wb.set(0, "B2", txt("2024-01-15 10:30"));
  const FormulaCase cases[] = {
      // The scaled double decides: 2.675 * 100 is exactly 267.5, 1.005 * 100
      // is 100.49999999999999.
      {"ROUND(2.675,2)", num(2.68)},
      {"ROUND(1.005,2)", num(1)},
      {"ROUND(0.285,2)", num(0.28)},
      {"ROUND(2.5,0)", num(3)},
      {"ROUND(-2.5,0)", num(-3)},
      {"ROUND(0.49999999999999994,0)", num(0)},
      {"ROUND(1234.5678,-2)", num(1200)},
      {"ROUND(1.5,4294967296)", num(2)},  // only the low 32 bits of the digits
      {"ROUND(1.25,1.9)", num(1.3)},      // digits truncated
      {"ROUND(0,400)", kNum},
      {"ROUND(1,-400)", kNum},
      {"ROUND(1E308,1)", kNum},
      {"ROUND(5)", kValue},
      {"ROUND(5,1,2)", kValue},
      {"ROUND(A1,)", num(0)},
      {"ROUND(B1,0)", num(3)},  // a number text is read
      {"ROUND(B2,0)", num(45306)},  // a date text gives its whole day
      {"ROUND(\"x\",0)", kValue},
      {"ROUND(1/0,\"x\")", kDiv0},
      {"ROUND(1,\"x\")", kValue},
      {"ROUNDUP(3.2)", num(4)},
      {"ROUNDUP(-3.2,0)", num(-4)},
      {"ROUNDUP(0.1+0.2,1)", num(0.4)},
      {"ROUNDUP()", kValue},
      {"TRUNC(-8.9)", num(-8)},
      {"ROUNDDOWN(8.9)", num(8)},
      {"TRUNC(2.7,0)", num(2)},
      {"ROUNDDOWN(2.7,0)", num(2)},
      {"TRUNC(1,2,3)", kValue},
      {"ROUNDDOWN(1,2,3)", kValue},
      {"INT(-8.9)", num(-9)},
      {"INT(A1)", num(0)},
      {"INT(1,2)", kValue},
      {"MROUND(10,3)", num(9)},
      {"MROUND(5,2)", num(6)},
      {"MROUND(-10,-3)", num(-9)},
      {"MROUND(10,-3)", kNum},
      {"MROUND(0,-3)", num(0)},
      {"MROUND(7,0)", num(0)},
      {"MROUND(1.3,0.2)", num(7 * 0.2)},
      {"MROUND(1)", kValue},
      {"CEILING(2.5,1)", num(3)},
      {"CEILING(-2.5,2)", num(-2)},
      {"CEILING(-2.5,-2)", num(-4)},
      {"CEILING(2.5,-2)", kNum},
      {"CEILING(2.5,0)", num(0)},
      {"FLOOR(-2.5,2)", num(-4)},
      {"FLOOR(2.5,-2)", kNum},
      {"FLOOR(2.5,0)", num(0)},
      {"MOD(-3,2)", num(1)},
      {"MOD(3,-2)", num(-1)},
      {"MOD(5,0)", kDiv0},
      {"MOD(1/0,2)", kDiv0},
      {"MOD(2,1/0)", kDiv0},
      {"MOD(\"a\",NA())", kValue},  // the first argument's error wins
      {"QUOTIENT(-7,2)", num(-3)},
      {"QUOTIENT(1,0)", kDiv0},
      {"QUOTIENT(1E308,1E-308)", kNum},
      {"SIGN(\"-4\")", num(-1)},
      {"SIGN(0)", num(0)},
      {"SIGN(-0.001)", num(-1)},
      {"ABS(TRUE)", num(1)},
      {"ABS(\"x\")", kValue},
      {"ABS(-0)", num(0)},
      {"ABS(A1:A2)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Rounding, BothArgumentsAreEvaluatedWhereTheFunctionSaysSo) {
  // MOD reads its second argument even when the first fails; ROUND does not.
  Workbook wb;
  EvalContext mod = wb.context();
  EXPECT_TRUE(same_value(wb.eval("MOD(1/0,FOO())", mod), kDiv0));
  EXPECT_EQ(mod.shared->unknown_calls, 1u);
  EvalContext round = wb.context();
  EXPECT_TRUE(same_value(wb.eval("ROUND(1/0,FOO())", round), kDiv0));
  EXPECT_EQ(round.shared->unknown_calls, 0u);
}

TEST(Rounding, LiftedInArrayContext) {
  Workbook wb;
  const ArrayFormulaCase cases[] = {
      {"ROUND({1.25,2.5;-2.5,1.005},{1;0})", {num(1.3), num(2.5), num(-3), num(1)}},
      {"MOD({5,-5},{3;0})", {num(2), num(1), kDiv0, kDiv0}},
      {"CONVERT({1,2},\"ft\",\"in\")", {num(0.3048 / 0.0254)}},  // not lifted: the top-left
      {"SQRT({4,-1})", {num(2), kNum}},
  };
  run_array_cases(wb, cases);
}

TEST(Elementary, MatchesPython) { run_generated(kElementaryCases); }

TEST(Elementary, Table) {
  Workbook wb;
  const double pi = 3.141592653589793;
  const FormulaCase cases[] = {
      {"POWER(-8,1/3)", kNum},
      {"POWER(0,-1)", kNum},
      {"POWER(0,0)", num(1)},
      {"POWER(10,309)", kNum},
      {"POWER(2)", kValue},
      {"POWER(1/0,\"x\")", kDiv0},
      {"POWER(\"x\",1/0)", kValue},
      {"SQRT(-1)", kNum},
      {"SQRT(0)", num(0)},
      {"SQRT(\"16\")", num(4)},
      {"SQRT()", kValue},
      {"EXP(710)", kNum},
      {"EXP(1)", num(std::exp(1.0))},
      {"LN(0)", kNum},
      {"LN(-1)", kNum},
      {"LOG10(0)", kNum},
      {"LOG10(1000)", num(3)},
      {"LOG(8,2)", num(3)},
      {"LOG(100)", num(2)},
      {"LOG(1000)", num(2.9999999999999996)},
      {"LOG(10,1)", kNum},
      {"LOG(-1,\"x\")", kValue},  // the base fails first
      {"LOG(\"x\",1/0)", kDiv0},
      {"LOG(0,10)", kNum},
      {"LOG()", kValue},
      {"LOG(1,2,3)", kValue},
      {"ASIN(2)", kNum},
      {"ACOS(-1)", num(pi)},
      {"ATAN2(1,1)", num(pi / 4)},
      {"ATAN2(-1,0)", num(pi)},
      {"ATAN2(0,0)", kDiv0},
      {"ATAN2(0,1)", num(pi / 2)},  // ATAN2(x, y) is the angle of (x, y)
      {"ATAN2(1)", kValue},
      {"SINH(1000)", kNum},
      {"COSH(-1000)", kNum},
      {"TANH(1000)", num(1)},
      {"DEGREES(PI())", num(180)},
      {"RADIANS(180)", num(pi)},
      {"SIN(A1)", num(0)},
      {"COS(TRUE)", num(std::cos(1.0))},
      {"SIN(\"abc\")", kValue},
      {"TAN(1,2)", kValue},
      {"PI()", num(pi)},
      {"PI(1)", kValue},
  };
  run_cases(wb, cases);
}

TEST(Convert, MatchesPython) { run_generated(kConvertCases); }

TEST(Convert, Table) {
  Workbook wb;
  wb.set(0, "A1", txt("m"));
  wb.set(0, "A2", err(CellErrorCode::Ref));
  const FormulaCase cases[] = {
      {"CONVERT(1,\"mi\",\"m\")", num(1609.344)},
      {"CONVERT(1,\"in\",\"cm\")", num(0.0254 / 0.01)},
      {"CONVERT(1,\"kg\",\"lbm\")", num(2.2046226218487757)},
      {"CONVERT(1,\"hr\",\"mn\")", num(60)},
      {"CONVERT(1,\"yr\",\"day\")", num(365.25)},
      {"CONVERT(1,\"min\",\"s\")", num(60)},  // a whole name wins over m + in
      {"CONVERT(1,\"gal\",\"L\")", num(3.785411784)},
      {"CONVERT(1,\"gal\",\"l\")", num(3.785411784)},
      {"CONVERT(1,\"cup\",\"tbs\")", num(16)},
      {"CONVERT(100,\"C\",\"F\")", num(212)},
      {"CONVERT(0,\"K\",\"C\")", num(-273.15)},
      {"CONVERT(32,\"fah\",\"cel\")", num(0)},
      {"CONVERT(1,\"C\",\"mK\")", kNa},  // temperatures take no prefix
      {"CONVERT(1,\"m\",\"g\")", kNa},
      {"CONVERT(1,\"M\",\"m\")", kNa},  // a prefix alone is no unit
      {"CONVERT(1,\"LBM\",\"g\")", kNa},
      {"CONVERT(1,\"c\",\"C\")", kNa},
      {"CONVERT(1,\"\",\"m\")", kNa},
      {"CONVERT(1,\"Pica\",\"pica\")", num(1)},
      {"CONVERT(1,\"Ym\",\"ym\")", num(1e24 / 1e-24)},
      {"CONVERT(1,\"us\",\"s\")", num(1e-6)},
      {"CONVERT(1,\"kmi\",\"m\")", num(1609344)},
      {"CONVERT(1E300,\"Ym\",\"ym\")", kNum},
      {"CONVERT(\"x\",\"m\",\"ft\")", kValue},
      {"CONVERT(\"x\",1/0,\"m\")", kValue},  // units not read when the number fails
      {"CONVERT(1,5,\"m\")", kNa},
      {"CONVERT(1,A1,\"mm\")", num(1000)},
      {"CONVERT(1,A2,1/0)", err(CellErrorCode::Ref)},
      {"CONVERT(1,\"m\",1/0)", kDiv0},
      {"CONVERT(1,\"x\",1/0)", kDiv0},  // an error beats an unknown unit
      {"CONVERT(1,\"m\")", kValue},
      {"CONVERT(1,\"\xC3\xA9m\",\"m\")", kNa},  // a non-ASCII first letter
  };
  run_cases(wb, cases);
}

TEST(RandBetween, MatchesPython) {
  Workbook wb;
  for (const RandomCase& c : kRandomCases) {
    SCOPED_TRACE(c.formula);
    // One formula's draws continue one sequence.
    EvalContext ctx = wb.context();
    ctx.random_seed = c.seed;
    for (const Draw& draw : c.draws) {
      EXPECT_TRUE(same_value(wb.eval(c.formula, ctx), expected(draw.value, draw.error)));
    }
  }
}

TEST(RandBetween, Table) {
  Workbook wb;
  const FormulaCase cases[] = {
      {"RANDBETWEEN(5,5)", num(5)},
      {"RANDBETWEEN(1.2,1.8)", num(2)},
      {"RANDBETWEEN(3,1)", kNum},
      {"RANDBETWEEN(\"a\",1)", kValue},
      {"RANDBETWEEN(1/0,\"a\")", kDiv0},
      {"RANDBETWEEN(1)", kValue},
      {"RANDBETWEEN(-1E308,1E308)", kNum},
  };
  run_cases(wb, cases);
}

TEST(RandBetween, KnownSequence) {
  Workbook wb;
  EvalContext first = wb.context();
  first.random_seed = 0;
  EXPECT_TRUE(same_value(wb.eval("RANDBETWEEN(1,100)*1000+RANDBETWEEN(1,100)", first),
                         num(89044)));
  EvalContext next = wb.context();
  next.random_seed = 0x2545F4914F6CDD1DULL;
  EXPECT_TRUE(same_value(wb.eval("RANDBETWEEN(1,100)", next), num(76)));
}

TEST(RandBetween, NoDrawWithoutAWholeNumberBetweenTheBounds) {
  Workbook wb;
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("RANDBETWEEN(1.2,1.8)", ctx), num(2)));
  EXPECT_FALSE(ctx.shared->random_state.has_value());
  // Equal whole bounds do draw (and still give the bound).
  EXPECT_TRUE(same_value(wb.eval("RANDBETWEEN(1,1)", ctx), num(1)));
  EXPECT_TRUE(ctx.shared->random_state.has_value());
}

TEST(RandBetween, StaysWithinItsBounds) {
  Workbook wb;
  EvalContext ctx = wb.context();
  ctx.random_seed = 7;
  bool seen_low = false, seen_high = false;
  for (int i = 0; i < 400; ++i) {
    CellValue v = wb.eval("RANDBETWEEN(-3.5,2.5)", ctx);
    ASSERT_TRUE(v.is_number());
    const double x = v.as_number();
    ASSERT_EQ(x, std::trunc(x));
    ASSERT_GE(x, -3);
    ASSERT_LE(x, 2);
    seen_low |= x == -3;
    seen_high |= x == 2;
  }
  EXPECT_TRUE(seen_low && seen_high);
}

}  // namespace
}  // namespace cmx::formula
