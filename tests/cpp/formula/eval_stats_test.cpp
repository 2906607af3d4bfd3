// Spread and shape, order, paired and normal-distribution statistics: a
// random sheet whose expected values come from Python (eval_stats_cases.inc,
// written by eval_stats_cases.py), and tables of hand-made cases for the
// errors and edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "eval_harness.h"
#include "functions/normal_dist.h"

namespace cmx::formula {
namespace {

using namespace testing;

struct StatsCell {
  const char* cell;
  char kind;  // 'n' number, 'b' logical (number 1 or 0), 't' text
  double number;
  const char* text;
};
struct StatsFormula {
  const char* formula;
  double want;
  double tolerance;   // relative; 0 means bit for bit, sign of zero included
  const char* error;  // the expected error text, or null for a number
};
struct ErfcCase {
  double t;
  double want;
};

#include "eval_stats_cases.inc"

TEST(Statistics, AgreeWithPython) {
  Workbook wb;
  for (const StatsCell& c : kStatsCells) {
    if (c.kind == 'n') {
      wb.set(0, c.cell, num(c.number));
    } else if (c.kind == 'b') {
      wb.set(0, c.cell, boolean(c.number != 0));
    } else {
      wb.set(0, c.cell, txt(c.text));
    }
  }
  for (const StatsFormula& f : kStatsFormulas) {
    SCOPED_TRACE(f.formula);
    CellValue got = wb.eval(f.formula);
    if (f.error != nullptr) {
      EXPECT_TRUE(same_value(got, err(model::error_code_from_text(f.error).value())));
    } else if (f.tolerance == 0) {
      EXPECT_TRUE(same_value(got, num(f.want)));
    } else {
      ASSERT_TRUE(got.is_number()) << show(got);
      // Relative to the answer, however small: the tails of the normal
      // distribution are checked digit for digit too.
      EXPECT_NEAR(got.as_number(), f.want, f.tolerance * std::fabs(f.want));
    }
  }
}

TEST(Statistics, ErfcMatchesTheExactFunction) {
  for (const ErfcCase& c : kErfcCases) {
    SCOPED_TRACE(c.t);
    EXPECT_NEAR(erfc(c.t), c.want, 1e-15 * std::fabs(c.want));
  }
  // Beyond the last range the tail is cut off.
  EXPECT_EQ(erfc(26.543), 0.0);
  EXPECT_EQ(erfc(-26.543), 2.0);
  EXPECT_EQ(erfc(0.0), 1.0);
}

struct NearCase {
  std::string_view formula;
  double want;
};

void run_near(Workbook& wb, std::span<const NearCase> cases) {
  for (const NearCase& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    CellValue got = wb.eval(c.formula);
    ASSERT_TRUE(got.is_number()) << show(got);
    EXPECT_NEAR(got.as_number(), c.want, 1e-14 * std::max(1.0, std::fabs(c.want)));
  }
}

const CellValue kDiv0 = err(CellErrorCode::Div0);
const CellValue kNum = err(CellErrorCode::Num);
const CellValue kNA = err(CellErrorCode::NA);
const CellValue kValue = err(CellErrorCode::Value);

TEST(Dispersion, Table) {
  Workbook wb;
  wb.set(0, "A1", boolean(true));
  wb.set(0, "A2", txt("x"));
  wb.set(0, "A3", num(2));
  wb.set(0, "B1", num(1));
  wb.set(0, "B2", err(CellErrorCode::Div0));
  wb.set(0, "B3", num(3));
  const FormulaCase cases[] = {
      {"VAR.P()", kDiv0},
      {"DEVSQ()", kNum},
      {"AVEDEV()", kNum},
      {"GEOMEAN()", kNum},
      {"HARMEAN()", kNum},
      {"STDEVA(1)", kDiv0},
      {"SKEW(1,2)", kDiv0},
      {"SKEW(3,3,3)", kDiv0},
      {"KURT(1,2,3)", kDiv0},
      {"KURT(5,5,5,5)", kDiv0},
      {"GEOMEAN(0,4)", kNum},
      {"GEOMEAN(-1,4)", kNum},
      {"HARMEAN(1,2,4)", num(12.0 / 7)},
      {"HARMEAN(4,0)", kNum},
      {"DEVSQ(5)", num(0)},
      {"AVEDEV(5)", num(0)},
      {"DEVSQ(1,\"x\")", kValue},
      // TRUE, "x" and 2 in cells count as 1, 0 and 2.
      {"STDEVA(A1:A3)", num(1)},
      {"STDEV.S(A1:A3)", kDiv0},
      {"STDEVA(TRUE,3)", num(std::sqrt(2.0))},
      // An error in a range is the answer of each of them.
      {"VAR.S(B1:B3)", kDiv0},
      {"STDEVA(B1:B3)", kDiv0},
      {"DEVSQ(B1:B3,NA())", kDiv0},
      {"AVEDEV(B1:B3)", kDiv0},
      {"SKEW(B1:B3,4,5)", kDiv0},
      {"KURT(NA(),B1:B3)", kNA},
      {"GEOMEAN(B1:B3)", kDiv0},
      {"HARMEAN(B1:B3)", kDiv0},
  };
  run_cases(wb, cases);
  const NearCase near[] = {
      {"KURT(1,2,3,4)", -1.2},
      {"SKEW(1,2,3,10)", 1.7636326148038877},
      {"AVEDEV(1,2,3,10)", 3},
      {"GEOMEAN(2,8)", 4},
      // Direct values are converted: TRUE 1, the text "2" 2.
      {"DEVSQ(1,\"2\",TRUE)", 2.0 / 3},
  };
  run_near(wb, near);
}

TEST(OrderStatistics, RankAndTrimmedMean) {
  Workbook wb;
  const double ranked[] = {7, 5, 5, 1};
  for (int i = 0; i < 4; ++i) wb.set(0, "A" + std::to_string(i + 1), num(ranked[i]));
  wb.set(0, "A5", txt("9"));
  wb.set(0, "A6", err(CellErrorCode::NA));  // RANK.EQ ignores what is no Number
  for (int i = 1; i <= 10; ++i) wb.set(0, "B" + std::to_string(i), num(i * i));
  const FormulaCase cases[] = {
      {"RANK.EQ(5,A1:A6)", num(2)},
      {"RANK.EQ(5,A1:A6,1)", num(2)},
      {"RANK.EQ(7,A1:A6)", num(1)},
      {"RANK.EQ(7,A1:A6,-2)", num(4)},
      {"RANK(1,A1:A6,0)", num(4)},
      {"RANK.EQ(4,A1:A6)", kNA},
      {"RANK.EQ(9,A1:A6)", kNA},
      {"RANK.EQ(\"5\",A:A)", num(2)},
      {"RANK.EQ(5,{5,7})", kValue},
      {"RANK.EQ(5)", kValue},
      {"RANK.EQ(5,A1:A4,1,1)", kValue},
      {"RANK.EQ(\"x\",A1:A4)", kValue},
      {"RANK.EQ(1/0,{5,7})", kDiv0},
      {"RANK.EQ(5,A1:A4,NA())", kNA},
      {"TRIMMEAN(B1:B10,0)", num(38.5)},
      {"TRIMMEAN(B1:B10,0.19)", num(38.5)},
      {"TRIMMEAN(B1:B10,0.2)", num((4 + 9 + 16 + 25 + 36 + 49 + 64 + 81) / 8.0)},
      {"TRIMMEAN(B1:B10,0.4)", num((9 + 16 + 25 + 36 + 49 + 64) / 6.0)},
      {"TRIMMEAN(B1:B10,1)", kNum},
      {"TRIMMEAN(B1:B10,-0.1)", kNum},
      {"TRIMMEAN(B1:B10)", kValue},
      {"TRIMMEAN(Z1:Z3,0.1)", kNum},
      {"TRIMMEAN(A1:A6,0.1)", kNA},
      // The percent is read first: its error comes before the data's.
      {"TRIMMEAN(1/0,\"x\")", kValue},
      {"TRIMMEAN(1/0,0.5)", kDiv0},
      {"TRIMMEAN({3,1,2,100},0.5)", num(2.5)},
  };
  run_cases(wb, cases);
  const ArrayFormulaCase lifted[] = {
      {"RANK.EQ({5,7,4},A1:A4)", {num(2), num(1), kNA}},
  };
  run_array_cases(wb, lifted);
}

TEST(OrderStatistics, SignedZerosTakeTheirSortedPlaces) {
  // Up to 20 numbers sort -0 before 0; longer lists keep equal values in
  // their order, whichever way they are picked.
  Workbook wb;
  wb.set(0, "A1", num(0.0));
  wb.set(0, "A2", num(-0.0));
  wb.set(0, "B1", num(-0.0));
  wb.set(0, "B2", num(0.0));
  for (int i = 3; i <= 21; ++i) {
    wb.set(0, "A" + std::to_string(i), num(i));
    wb.set(0, "B" + std::to_string(i), num(i));
  }
  const FormulaCase cases[] = {
      {"SMALL(A1:A20,1)", num(-0.0)},
      {"SMALL(A1:A20,2)", num(0.0)},
      {"SMALL(A1:A21,1)", num(0.0)},
      {"SMALL(A1:A21,2)", num(-0.0)},
      {"LARGE(A1:A21,21)", num(0.0)},
      {"SMALL(B1:B21,1)", num(-0.0)},
      {"SMALL(B1:B21,2)", num(0.0)},
      {"LARGE(B1:B21,20)", num(0.0)},
      {"MEDIAN(A1:A21)", num(11)},
      {"MEDIAN(A2:A21)", num(11.5)},
  };
  run_cases(wb, cases);
}

TEST(PairedStatistics, Table) {
  Workbook wb;
  for (int i = 1; i <= 4; ++i) {
    wb.set(0, "A" + std::to_string(i), num(i));
    wb.set(0, "B" + std::to_string(i), num(i == 3 ? 0 : 2 * i + 1));
    wb.set(0, "C" + std::to_string(i), num(7));
  }
  wb.set(0, "B3", txt("x"));  // the pair (3, "x") is dropped
  wb.set(0, "D1", num(2));
  wb.set(0, "E1", num(4));
  wb.set(0, "F1", num(5));
  wb.set(0, "G1", txt("a"));
  wb.set(0, "G2", boolean(true));
  wb.set(0, "H2", err(CellErrorCode::Ref));
  const FormulaCase cases[] = {
      {"CORREL(A1:A3,B1:B4)", kNA},
      {"CORREL(A1:A3)", kValue},
      {"CORREL(A1:A3,A1:A3,A1:A3)", kValue},
      {"COVARIANCE.S(A1,B1)", kDiv0},
      {"COVARIANCE.P(A1,B1)", num(0)},
      {"CORREL(C1:C4,A1:A4)", kDiv0},
      {"CORREL(A1:A4,C1:C4)", kDiv0},
      {"SLOPE(A1:A4,C1:C4)", kDiv0},
      {"INTERCEPT(A1:A4,C1:C4)", kDiv0},
      {"SLOPE(C1:C4,A1:A4)", num(0)},
      {"CORREL(5,7)", kDiv0},
      {"COVARIANCE.P(5,7)", num(0)},
      {"CORREL(G1:G2,A1:A2)", kNA},
      {"COVARIANCE.P(\"3\",7)", kNA},
      // An error anywhere, even in a pair that would be dropped.
      {"CORREL(G1:H2,A1:B2)", err(CellErrorCode::Ref)},
      {"CORREL(A1:B2,G1:H2)", err(CellErrorCode::Ref)},
      {"CORREL(1/0,A1)", kDiv0},
      {"CORREL({1,2,3},{1,2})", kNA},
      {"CORREL({1,2,3},A1:A4)", kNA},
      {"COVARIANCE.P({1,2;3,4},{2,4,6,8})", num(2.5)},
      {"CORREL({1,#N/A},{1,2})", kNA},
  };
  run_cases(wb, cases);
  const NearCase near[] = {
      // Pairs (1, 3), (2, 5) and (4, 9): B = 2A + 1 exactly.
      {"SLOPE(B1:B4,A1:A4)", 2},
      {"INTERCEPT(B1:B4,A1:A4)", 1},
      {"SLOPE(A1:A4,B1:B4)", 0.5},
      {"INTERCEPT(A1:A4,B1:B4)", -0.5},
      {"CORREL(A1:A4,B1:B4)", 1},
      {"COVARIANCE.P(A1:A4,B1:B4)", 28.0 / 9},
      {"COVAR(A1:A4,B1:B4)", 28.0 / 9},
      {"COVARIANCE.S(A1:A4,B1:B4)", 14.0 / 3},
      // A column of three pairs with a row of three.
      {"COVARIANCE.P(A1:A3,D1:F1)", 1},
      {"CORREL({1,2,3},{2,4,7})", 5 / std::sqrt(2 * 114.0 / 9)},
      {"SLOPE({2,\"a\",6,8},{1,2,3,4})", 2},
      {"CORREL({1;2;3},A1:A3)", 1},
      // Whole columns are cut to the used rows together.
      {"SLOPE(B:B,A:A)", 2},
      {"INTERCEPT(B:B,A1:A1048576)", 1},
  };
  run_near(wb, near);
}

TEST(NormalDistribution, Table) {
  Workbook wb;
  wb.set(0, "A1", txt("TRUE"));
  const FormulaCase cases[] = {
      {"NORM.DIST(0,0,1,TRUE)", num(0.5)},
      {"NORM.DIST(0,0,1,FALSE)", num(0.3989422804014327)},
      {"NORM.DIST(1.96,0,1,TRUE)", num(0.9750021048517795)},
      {"NORM.DIST(40,0,1,TRUE)", num(1)},
      {"NORM.DIST(-40,0,1,TRUE)", num(0)},
      {"NORMDIST(10,10,2,FALSE)", num(0.3989422804014327 / 2)},
      {"NORM.DIST(1,0,0,TRUE)", kNum},
      {"NORM.DIST(1,0,-1,TRUE)", kNum},
      {"NORM.DIST(1,0,1,\"yes\")", kValue},
      {"NORM.DIST(1,0,1,\"true\")", wb.eval("NORM.DIST(1,0,1,TRUE)")},
      {"NORM.DIST(1,0,1,2)", wb.eval("NORM.DIST(1,0,1,TRUE)")},
      {"NORM.DIST(1,0,1,A1)", wb.eval("NORM.DIST(1,0,1,TRUE)")},
      {"NORM.DIST(1,0,1,Z1)", wb.eval("NORM.DIST(1,0,1,FALSE)")},
      {"NORM.DIST(1,0,1)", kValue},
      {"NORM.DIST(1,0,1,TRUE,1)", kValue},
      {"NORM.DIST(\"a\",1/0,1,TRUE)", kValue},
      {"NORM.DIST(1,1/0,NA(),TRUE)", kDiv0},
      {"NORM.DIST(1,0,NA(),1/0)", kNA},
      {"NORM.DIST(1,0,1,1/0)", kDiv0},
      // The truth value's error comes before the deviation's check.
      {"NORM.DIST(1,0,-1,\"yes\")", kValue},
      {"NORM.DIST(\"2\",\"1\",\"0.5\",TRUE)", wb.eval("NORM.DIST(2,1,0.5,TRUE)")},
      // Far below the mean the density underflows to 0 rather than failing.
      {"NORM.DIST(-1E+200,0,1,FALSE)", num(0)},
      {"NORM.DIST(1,0,1E-300,FALSE)", num(0)},
      {"NORM.DIST(0,0,1E-310,FALSE)", kNum},
  };
  run_cases(wb, cases);
}

TEST(Statistics, RefusedReadsGiveNum) {
  Workbook wb;
  for (int row = 1; row <= 10; ++row) {
    wb.set(0, "A" + std::to_string(row), num(row));
    wb.set(0, "B" + std::to_string(row), num(row % 3));
  }
  for (std::string_view formula : {"RANK.EQ(3,A1:A10)", "CORREL(A1:A10,B1:B10)",
                                   "SLOPE(A1:A10,B1:B10)", "MEDIAN(A1:A10)", "SKEW(A1:A10)"}) {
    SCOPED_TRACE(std::string(formula));
    EvalContext ctx = wb.context();
    ctx.shared->cells_left = 5;  // fewer than the cells of one range
    EXPECT_TRUE(same_value(wb.eval(formula, ctx), kNum));
    EXPECT_TRUE(ctx.shared->limited);
  }
}

}  // namespace
}  // namespace cmx::formula
