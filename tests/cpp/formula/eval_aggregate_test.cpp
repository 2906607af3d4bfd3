// Sums, counts, conditional aggregates, SUBTOTAL and AGGREGATE: tables of
// hand-made cases, and a random sheet whose expected values come from
// Python (eval_aggregate_cases.inc, written by eval_aggregate_cases.py).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "eval_harness.h"

namespace cmx::formula {
namespace {

using namespace testing;

struct PeerCell {
  const char* cell;
  char kind;  // 'n' number, 't' text, 'e' error
  double number;
  const char* text;
};
struct PeerFormula {
  const char* formula;
  double want;
  const char* error;  // the expected error text, or null for a number
};

#include "eval_aggregate_cases.inc"

struct Case {
  std::string_view formula;
  CellValue want;
};

void run(Workbook& wb, std::span<const Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    EXPECT_TRUE(same_value(wb.eval(c.formula, ctx), c.want));
  }
}

const CellValue kEmpty;
CellValue value_error() { return err(CellErrorCode::Value); }

TEST(Aggregates, AgreeWithPython) {
  Workbook wb;
  for (const PeerCell& c : kPeerCells) {
    if (c.kind == 'n') {
      wb.set(0, c.cell, num(c.number));
    } else if (c.kind == 't') {
      wb.set(0, c.cell, txt(c.text));
    } else {
      wb.set(0, c.cell, err(model::error_code_from_text(c.text).value()));
    }
  }
  for (const PeerFormula& f : kPeerFormulas) {
    SCOPED_TRACE(f.formula);
    CellValue got = wb.eval(f.formula);
    if (f.error != nullptr) {
      EXPECT_TRUE(same_value(got, err(model::error_code_from_text(f.error).value())));
      continue;
    }
    ASSERT_TRUE(got.is_number()) << show(got);
    // Python's statistics module sums exactly; ours sums in order.
    EXPECT_NEAR(got.as_number(), f.want, 1e-12 * std::max(1.0, std::fabs(f.want)));
  }
}

TEST(Sums, Table) {
  Workbook wb;
  // A1:A5 1, 2, 3, "x", 5; B1:B5 10..50; C1:C5 1, #N/A, 3, 4, 5.
  const char* a[] = {"A1", "A2", "A3", "A4", "A5"};
  for (int i = 0; i < 5; ++i) {
    wb.set(0, a[i], i == 3 ? txt("x") : num(i + 1));
    wb.set(0, std::string("B") + std::to_string(i + 1), num(10.0 * (i + 1)));
    wb.set(0, std::string("C") + std::to_string(i + 1),
           i == 1 ? err(CellErrorCode::NA) : num(i + 1));
  }
  wb.set(0, "E1", num(4));
  wb.set(0, "E2", txt("x"));
  wb.set(0, "E3", num(6));
  // G1:H2 [[1,2],[3,4]], J1:K2 [[5,6],[7,8]].
  wb.set(0, "G1", num(1));
  wb.set(0, "H1", num(2));
  wb.set(0, "G2", num(3));
  wb.set(0, "H2", num(4));
  wb.set(0, "J1", num(5));
  wb.set(0, "K1", num(6));
  wb.set(0, "J2", num(7));
  wb.set(0, "K2", num(8));
  // S1:S3 1, 2, 3; T1 1, T3 3; U1 "a".
  wb.set(0, "S1", num(1));
  wb.set(0, "S2", num(2));
  wb.set(0, "S3", num(3));
  wb.set(0, "T1", num(1));
  wb.set(0, "T3", num(3));
  wb.set(0, "U1", txt("a"));
  const Case cases[] = {
      {"SUMSQ(1,2,3)", num(14)},
      {"SUMSQ(A1:A5)", num(1 + 4 + 9 + 25)},
      {"SUMSQ(\"3\",TRUE)", num(10)},
      {"SUMSQ({1,2})", num(5)},
      {"SUMSQ()", num(-0.0)},
      {"SUMSQ(C1:C5)", err(CellErrorCode::NA)},
      {"SUMSQ(\"x\")", value_error()},
      {"PRODUCT(2,3,A1:A5)", num(6 * 1 * 2 * 3 * 5)},
      {"PRODUCT(Z1:Z9)", num(0)},
      {"PRODUCT(1E200,1E200)", err(CellErrorCode::Num)},
      {"PRODUCT(C1:C5)", err(CellErrorCode::NA)},
      {"SUMPRODUCT(A1:A3,E1:E3)", num(1 * 4 + 0 + 3 * 6)},
      {"SUMPRODUCT(A1:A3,E1:E2)", value_error()},
      {"SUMPRODUCT(A1:A3,2)", value_error()},
      {"SUMPRODUCT({1,2},{3,4})", num(11)},
      {"SUMPRODUCT(A1:A3*2,E1:E3)", num(2 * 4 + 0 + 6 * 6)},
      {"SUMPRODUCT(\"a\")", value_error()},
      {"SUMPRODUCT(\"2\")", num(2)},
      {"SUMPRODUCT({\"a\"})", value_error()},  // a one-cell array is a single value
      {"SUMPRODUCT()", value_error()},
      {"SUMPRODUCT(A:A,B:B)", num(10 + 40 + 90 + 250)},
      {"SUMPRODUCT(C1:C5)", err(CellErrorCode::NA)},
      {"SUMPRODUCT(A1:A2,A1:A3,1/0)", err(CellErrorCode::Div0)},  // errors before shapes
      {"SUMPRODUCT(A1:A3,A1:A3)", num(14)},
      {"MMULT(G1:H2,J1:K2)", num(1 * 5 + 2 * 7)},
      {"MMULT(G1:H2,J1:J3)", value_error()},
      {"MMULT(G2:H3,J1:K2)", value_error()},  // G3 and H3 are empty
      {"MMULT({1,2},{3;4})", num(3)},
      {"MMULT(2,3)", num(6)},
      {"MMULT(\"2\",3)", value_error()},
      {"MMULT(1/0,3)", err(CellErrorCode::Div0)},
      {"MMULT(G1:H2)", value_error()},
      {"SERIESSUM(2,1,1,S1:S3)", num(34)},
      {"SERIESSUM(2,1,1,T1:T3)", num(14)},
      {"SERIESSUM(2,1,1,{1,2,3})", num(2)},
      {"SERIESSUM(2,1,1,U1)", value_error()},
      {"SERIESSUM(2,1,1,\"3\")", value_error()},
      {"SERIESSUM(2,1,1,C1:C3)", err(CellErrorCode::NA)},
      {"SERIESSUM(\"x\",1/0,1,S1)", value_error()},
      {"SERIESSUM(2,1,1)", value_error()},
      {"SERIESSUM(2,0,1,Z1:Z3)", num(0)},
      {"SUMIF(A1:A5,\">2\")", num(3 + 5)},
      {"SUMIF(A1:A5,\"x\",B1)", num(40)},
      {"SUMIF(A1:A5,\"x\",B1:B2)", num(40)},
      {"SUMIF(A1:A5,\"<>x\",B1:B5)", num(10 + 20 + 30 + 50)},
      {"SUMIF(A:A,\">2\",B:B)", num(30 + 50)},
      {"SUMIF(A1:A5,\"<>x\",C1:C5)", num(1 + 3 + 5)},  // the error cell is skipped
      {"SUMIF({1,2},\">0\")", value_error()},
      {"SUMIF(NA(),1)", err(CellErrorCode::NA)},
      {"SUMIF(A1:A5,\">2\",5)", value_error()},
      {"SUMIF(A1:A5)", value_error()},
      {"SUMIF(A1:A5,1,B1:B5,1)", value_error()},
      {"SUMIF(A1:A5,1/0,B1)", num(0)},
      {"SUMIFS(B1:B5,A1:A5,\">1\",A1:A5,\"<5\")", num(20 + 30)},
      {"SUMIFS(C1:C5,A1:A5,\"x\",B1:B4,\">0\")", value_error()},
      {"SUMIFS(B1:B5,A1:A5)", value_error()},
      {"SUMIFS(B1:B5,A1:A5,\">1\",A1:A5)", value_error()},
      {"SUMIFS(B:B,A:A,\"x\")", num(40)},
      {"SUMIFS(C1:C5,A1:A5,\"<>x\")", num(1 + 3 + 5)},
      {"SUMIFS({1,2},A1:A2,\">0\")", value_error()},
      {"SUMIFS(B1:B5,{1;2;3;4;5},\">0\")", value_error()},
      {"SUMIFS(B1:B4,A1:A5,\">0\")", value_error()},
      {"SUMIFS(1E308*B1:B5,A1:A5,\">0\")", value_error()},
  };
  run(wb, cases);
}

TEST(Sums, ConditionalSumsReadOnlyWhatTheyNeed) {
  Workbook wb(2);
  for (int row = 1; row <= 5; ++row) {
    wb.set(0, "A" + std::to_string(row), txt(row == 4 ? "x" : "y"));
    wb.set(0, "B" + std::to_string(row), num(row));
  }
  // The first criteria range is read in full, the sum range only where it
  // matched: 5 + 1 cells.
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUMIFS(B:B,A:A,\"x\")", ctx), num(4)));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 6);
  // A later pair is read only where the earlier ones held.
  EvalContext ctx2 = wb.context();
  EXPECT_TRUE(same_value(wb.eval("COUNTIFS(A:A,\"x\",B:B,\">0\")", ctx2), num(1)));
  EXPECT_EQ(ctx2.shared->cells_left, kFormulaCellBudget - 6);
  // Whole columns on two sheets are cut to the deeper of their used extents.
  wb.set(1, "B8", num(100));
  EvalContext ctx3 = wb.context();
  EXPECT_TRUE(same_value(wb.eval("SUMIF(A:A,\"y\",Sheet2!B:B)", ctx3), num(0)));
  EXPECT_EQ(ctx3.shared->cells_left, kFormulaCellBudget - 8 - 4);
}

TEST(Sums, ExhaustedBudgetGivesNum) {
  Workbook wb;
  for (int row = 1; row <= 10; ++row) wb.set(0, "A" + std::to_string(row), num(row));
  EvalContext ctx = wb.context();
  ctx.shared->cells_left = 5;
  EXPECT_TRUE(same_value(wb.eval("SUMIF(A1:A10,\">0\")", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EvalContext ctx2 = wb.context();
  ctx2.shared->cells_left = 15;
  EXPECT_TRUE(same_value(wb.eval("SUMPRODUCT(A1:A10,A1:A10)", ctx2), err(CellErrorCode::Num)));
}

TEST(Counts, Table) {
  Workbook wb;
  wb.set(0, "A1", txt("5"));
  wb.set(0, "A2", boolean(true));
  wb.set(0, "A3", num(7));
  wb.set(0, "B1", err(CellErrorCode::NA));
  wb.set(0, "B2", txt(""));
  wb.set(0, "C1", txt("abc"));
  wb.set(0, "C2", num(-1));
  wb.set(0, "D1", boolean(true));
  wb.set(0, "D2", txt("x"));
  wb.set(0, "D3", num(5));
  wb.set(0, "E1", num(1));
  wb.set(0, "E2", err(CellErrorCode::NA));
  wb.set(0, "E3", num(3));
  const Case cases[] = {
      {"COUNT(\"5\",TRUE,\"x\",1/0)", num(2)},
      {"COUNT(A1:A3)", num(1)},
      {"COUNT({1,2,\"a\"})", num(2)},
      {"COUNT()", num(0)},
      {"COUNT(A1:A3,A1:A3,3)", num(3)},
      {"COUNT(B1)", num(0)},
      {"COUNTA(B1:B3)", num(2)},
      {"COUNTA({1,2,\"a\"})", num(1)},
      {"COUNTA(,)", num(0)},
      {"COUNTA(\"\",1/0)", num(2)},
      {"COUNTA(A:A)", num(3)},
      {"COUNTBLANK(B1:B3)", num(2)},
      {"COUNTBLANK(5)", value_error()},
      {"COUNTBLANK(A1,A2)", value_error()},
      {"COUNTBLANK()", value_error()},
      {"AVERAGE()", err(CellErrorCode::Div0)},
      {"AVERAGE(A1:A2)", err(CellErrorCode::Div0)},
      {"AVERAGE(E1:E3)", err(CellErrorCode::NA)},
      {"AVERAGE(\"abc\")", value_error()},
      {"AVERAGE(1,2,\"3\",TRUE)", num(7.0 / 4)},
      {"AVERAGE(A1:A3,C2)", num(3)},
      {"AVERAGEA(D1:D3)", num(2)},
      {"AVERAGEA(C1:C2)", num(-0.5)},
      {"AVERAGEA()", err(CellErrorCode::Div0)},
      {"MAX(Z1:Z3)", num(0)},
      {"MAX(-5)", num(-5)},
      {"MAX(A1:A3,2)", num(7)},
      {"MAX(E1:E3)", err(CellErrorCode::NA)},
      {"MIN(A1:A3,C2)", num(-1)},
      {"MIN()", num(0)},
      {"MAXA(C1:C2)", num(0)},
      {"MAXA(\"abc\")", value_error()},
      {"MAXA(D1:D2)", num(1)},
      {"MINA(D1:D3)", num(0)},
      {"MINA(C2,\"-3\")", num(-3)},
  };
  run(wb, cases);
}

TEST(Counts, BlanksBeyondTheUsedRows) {
  Workbook wb;
  for (int row = 1; row <= 10; ++row) {
    if (row != 4) wb.set(0, "A" + std::to_string(row), num(row));
  }
  // A4 is the only empty cell of A1:A10; every row below counts too.
  EXPECT_TRUE(same_value(wb.eval("COUNTBLANK(A:A)"), num(1'048'576 - 9)));
  EXPECT_TRUE(same_value(wb.eval("COUNTBLANK(B:B)"), num(1'048'576)));
  EXPECT_TRUE(same_value(wb.eval("COUNTBLANK(4:4)"), num(16'384)));
}

TEST(Conditional, Table) {
  Workbook wb;
  // A1:A10 regions, B1:B10 amounts, C1:C10 texts and numbers.
  const char* regions[] = {"x", "y", "x", "", "X", "y", "x", "z", "x", "y"};
  for (int i = 0; i < 10; ++i) {
    std::string row = std::to_string(i + 1);
    if (*regions[i] != '\0') wb.set(0, "A" + row, txt(regions[i]));
    wb.set(0, "B" + row, num(i + 1));
  }
  wb.set(0, "C1", txt("5"));
  wb.set(0, "C3", txt("7"));
  wb.set(0, "C5", num(2));
  wb.set(0, "D1", num(1));
  wb.set(0, "D2", boolean(true));
  wb.set(0, "D3", txt("1"));
  wb.set(0, "F5", num(10));
  wb.set(0, "F6", num(20));
  wb.set(0, "F7", txt("t"));
  const Case cases[] = {
      {"COUNTIF(A1:A10,\"x\")", num(5)},
      {"COUNTIF(A1:A10,\"<>x\")", num(5)},
      {"COUNTIF(D1:D3,1)", num(3)},
      {"COUNTIF(A1:A10)", value_error()},
      {"COUNTIF(A1:A10,\"x\",B1:B10)", value_error()},
      {"COUNTIF({1,2},1)", value_error()},
      {"COUNTIFS(A1:A10,\"x\",B1:B10,\">4\")", num(3)},
      {"COUNTIFS(A1:A10,\"x\",B1:B9,\">4\")", value_error()},
      {"COUNTIFS(A1:A10,\"x\",B1:B10)", value_error()},
      {"COUNTIFS()", value_error()},
      {"COUNTIFS(A1:A10,\"\")", num(1)},
      {"AVERAGEIF(A1:A10,\"x\",B1:B10)", num((1 + 3 + 5 + 7 + 9) / 5.0)},
      {"AVERAGEIF(B1:B10,\">8\")", num(9.5)},
      {"AVERAGEIF(B1:B3,\">0\",F5:F5)", num(15)},  // F5:F7, the text skipped
      {"AVERAGEIF(A1:A10,\"x\",C1)", num(2)},        // texts "5", "7" skipped
      {"AVERAGEIF(A1:A10,\"q\",B1:B10)", err(CellErrorCode::Div0)},
      {"AVERAGEIF(A1:A10,\"x\",5)", value_error()},
      {"AVERAGEIF(NA(),1)", value_error()},
      {"AVERAGEIFS(B1:B10,A1:A10,\"x\",B1:B10,\"<6\")", num(3)},
      {"AVERAGEIFS(C1:C10,A1:A9,\"x\")", value_error()},
      {"AVERAGEIFS(B:B,A1:A10,\"y\")", num((2 + 6 + 10) / 3.0)},
      {"AVERAGEIFS(B1:B10,A1:A10,\"q\")", err(CellErrorCode::Div0)},
      {"AVERAGEIFS(B1:B10,A1:A10)", value_error()},
      {"AVERAGEIFS(B1:B10,A1:A10,\"x\",B1:B10)", value_error()},
      {"MAXIFS(B1:B10,A1:A10,\"y\")", num(10)},
      {"MINIFS(B1:B10,A1:A10,\"y\")", num(2)},
      {"MAXIFS(B1:B10,A1:A10,\"q\")", num(0)},
      {"MINIFS(B1:B10,A1:A10,\"q\")", num(0)},
      {"MAXIFS(C1:C10,A1:A10,\"x\")", num(2)},  // the texts "5" and "7" are skipped
      {"MAXIFS(C1:C3,A1:A3,\"x\")", num(0)},
      {"MINIFS(B1:B10,A1:A10,\"x\",B1:B10,\">=3\")", num(3)},
      {"MAXIFS(B1:B10)", value_error()},
      {"MINIFS(B1:B10,A1:A9,\"x\")", value_error()},
  };
  run(wb, cases);
}

TEST(Conditional, WholeColumnsCountClippedBlanks) {
  Workbook wb;
  for (int row = 1; row <= 10; ++row) {
    if (row % 3 != 0) wb.set(0, "A" + std::to_string(row), txt("v"));
    wb.set(0, "B" + std::to_string(row), txt(row == 2 ? "x" : "w"));
  }
  // Rows 3, 6 and 9 are empty in A, and every row from 11 on.
  EvalContext ctx = wb.context();
  EXPECT_TRUE(same_value(wb.eval("COUNTIF(A:A,\"\")", ctx), num(3 + 1'048'576 - 10)));
  EXPECT_EQ(ctx.shared->cells_left, kFormulaCellBudget - 10);
  EXPECT_TRUE(same_value(wb.eval("COUNTIF(A:A,\"<>\")"), num(7)));
  EXPECT_TRUE(same_value(wb.eval("COUNTIFS(A:A,\"\",B:B,\"x\")"), num(0)));
  EXPECT_TRUE(same_value(wb.eval("COUNTIFS(A:A,\"\",B:B,\"<>x\")"), num(3 + 1'048'576 - 10)));
  EXPECT_TRUE(same_value(wb.eval("COUNTIF(C:C,\"\")"), num(1'048'576)));
  EXPECT_TRUE(same_value(wb.eval("COUNTIF(A1:A10,\"\")"), num(3)));
}

TEST(Subtotal, Table) {
  Workbook wb;
  wb.set(0, "A1", num(1));
  wb.set(0, "A2", err(CellErrorCode::Div0));
  wb.set(0, "A3", num(3));
  wb.set(0, "B1", num(3));
  wb.set(0, "B2", num(1));
  wb.set(0, "B3", num(3));
  wb.set(0, "B4", num(1));
  wb.set(0, "B5", err(CellErrorCode::NA));
  wb.set(0, "C1", err(CellErrorCode::NA));
  wb.set(0, "C2", err(CellErrorCode::NA));
  wb.set(0, "D1", num(2));
  wb.set(0, "D2", num(4));
  wb.set(0, "D3", num(6));
  wb.set(0, "E1", txt("a"));
  // A SUBTOTAL result among the data is counted like any other number.
  model::set_sheet_cell(wb.model.sheets[0], 4, 3,
                        model::SheetCell{num(12), SharedString("SUBTOTAL(9,D1:D3)"), std::nullopt});
  const Case cases[] = {
      {"SUBTOTAL(9,D1:D3)", num(12)},
      {"SUBTOTAL(109,D1:D3)", num(12)},
      {"SUBTOTAL(9,D1:D5)", num(24)},
      {"SUBTOTAL(9.7,D1:D3)", num(12)},
      {"SUBTOTAL(12,D1:D3)", value_error()},
      {"SUBTOTAL(0,D1:D3)", value_error()},
      {"SUBTOTAL(100,D1:D3)", value_error()},
      {"SUBTOTAL(112,D1:D3)", value_error()},
      {"SUBTOTAL(9)", value_error()},
      {"SUBTOTAL(1/0,D1:D3)", err(CellErrorCode::Div0)},
      {"SUBTOTAL(\"9\",D1:D3)", num(12)},
      {"SUBTOTAL(9,A1:A3)", err(CellErrorCode::Div0)},
      {"SUBTOTAL(2,A1:A3)", num(2)},  // COUNT passes no error on
      {"SUBTOTAL(3,A1:A3,E1)", num(4)},
      {"SUBTOTAL(6,E1)", num(0)},
      {"SUBTOTAL(1,E1)", err(CellErrorCode::Div0)},
      {"SUBTOTAL(4,E1)", num(0)},
      {"SUBTOTAL(7,D1)", err(CellErrorCode::Div0)},
      {"SUBTOTAL(8,D1)", num(0)},
      {"SUBTOTAL(11,E1)", err(CellErrorCode::Div0)},
      {"SUBTOTAL(9,E1)", num(-0.0)},
      {"SUBTOTAL(10,D1:D3)", num(4)},
      {"SUBTOTAL(105,D1:D3,-1)", num(-1)},
      {"AGGREGATE(9,6,A1:A3)", num(4)},
      {"AGGREGATE(9,4,A1:A3)", err(CellErrorCode::Div0)},
      {"AGGREGATE(9,6,C1:C2)", err(CellErrorCode::Div0)},
      {"AGGREGATE(9,6,D1:D3)", num(12)},
      {"AGGREGATE(14,6,B1:B5,2)", num(3)},
      {"AGGREGATE(14,4,D1:D3,B1:B4,2)", value_error()},
      {"AGGREGATE(14,6,D1:D3,B1:B5,2)", num(4)},
      {"AGGREGATE(14,6,D1:D3,B1:B5,9)", err(CellErrorCode::Num)},
      {"AGGREGATE(14,6,B1:B5,1/0)", err(CellErrorCode::Div0)},
      {"AGGREGATE(15,6,B1:B5,1.9)", num(1)},
      {"AGGREGATE(1,8,D1:D3)", value_error()},
      {"AGGREGATE(20,0,D1:D3)", value_error()},
      {"AGGREGATE(0,0,D1:D3)", value_error()},
      {"AGGREGATE(18,6,D1:D3,0.5)", value_error()},
      {"AGGREGATE(19,6,D1:D3,0.5)", value_error()},
      {"AGGREGATE(1,-1,D1:D3)", value_error()},
      {"AGGREGATE(9,6)", value_error()},
      {"AGGREGATE(1/0,6,D1:D3)", err(CellErrorCode::Div0)},
      {"AGGREGATE(13,6,B1:B5)", num(1)},  // a tie goes to the smaller value
      {"AGGREGATE(13,0,B1:B4)", num(3)},  // the plain mode takes the first
      {"AGGREGATE(13,6,D1:D3,1/0)", err(CellErrorCode::NA)},
      {"AGGREGATE(4,2,\"7\",C1)", err(CellErrorCode::Div0)},
      {"AGGREGATE(4,2,{1,2,5},C1)", num(5)},
      {"AGGREGATE(4,0,\"7\",D1)", num(7)},
      {"AGGREGATE(7,6,D1,C1)", err(CellErrorCode::Div0)},
      {"AGGREGATE(10,7,D1:D3,C1)", num(4)},
      {"AGGREGATE(16,6,D1:D3,C1,1.5)", err(CellErrorCode::Num)},
      {"AGGREGATE(16,6,D1:D3,C1,0.25)", num(3)},
      {"AGGREGATE(17,6,D1:D3,C1,4)", num(6)},
      {"AGGREGATE(17,6,D1:D3,C1,5)", err(CellErrorCode::Num)},
      {"AGGREGATE(12,6,D1:D3,B1:B5)", num(3)},
      {"AGGREGATE(6,6,D1:D3,C1)", num(48)},
      {"AGGREGATE(2,6,A1:A3)", num(2)},
      {"AGGREGATE(3,6,A1:A3)", num(3)},
      {"AGGREGATE(5,3,A1:A3)", num(1)},
      {"AGGREGATE(8,6,D1:D3,C1)", num(std::sqrt(8.0 / 3))},
      {"AGGREGATE(11,6,D1:D3,C1)", num(8.0 / 3)},
      {"AGGREGATE(1,6,D1:D3,C1)", num(4)},
      {"AGGREGATE(12,0,D1:D3,1/0)", err(CellErrorCode::Div0)},
      {"AGGREGATE(14,0,D1:D3)", value_error()},  // LARGE needs its k
  };
  run(wb, cases);
}

TEST(Statistics, Table) {
  Workbook wb;
  wb.set(0, "A1", num(5));
  wb.set(0, "A2", txt("x"));
  wb.set(0, "A3", num(1));
  for (int i = 1; i <= 4; ++i) wb.set(0, "B" + std::to_string(i), num(i));
  const Case cases[] = {
      {"MEDIAN(3,1,2)", num(2)},
      {"MEDIAN(4,1,3,2)", num(2.5)},
      {"MEDIAN()", err(CellErrorCode::Num)},
      {"MODE.SNGL(1,2,2,3,3)", num(2)},
      {"MODE.SNGL(3,1,3,1)", num(3)},
      {"MODE.SNGL(1,2,3)", err(CellErrorCode::NA)},
      {"MODE.SNGL(0,-0)", num(0)},
      {"LARGE(B1:B4,0)", err(CellErrorCode::Num)},
      {"LARGE(B1:B4,5)", err(CellErrorCode::Num)},
      {"LARGE(B1:B4,1.9)", num(4)},
      {"SMALL(A1:A3,2)", num(5)},
      {"SMALL(A1:A3)", value_error()},
      {"LARGE(NA(),1/0)", err(CellErrorCode::NA)},
      {"PERCENTILE.INC(B1:B4,0.5)", num(2.5)},
      {"PERCENTILE.INC(B1:B4,1.5)", err(CellErrorCode::Num)},
      {"PERCENTILE.INC(B1:B4,0)", num(1)},
      {"PERCENTILE.INC(Z1:Z3,0.5)", err(CellErrorCode::Num)},
      {"QUARTILE.INC(B1:B4,1.7)", num(1.75)},
      {"QUARTILE.INC(B1:B4,5)", err(CellErrorCode::Num)},
      {"QUARTILE.INC(B1:B4,-1)", err(CellErrorCode::Num)},
      {"VAR.S(5)", err(CellErrorCode::Div0)},
      {"STDEV.S(5)", err(CellErrorCode::Div0)},
      {"VAR.P(5)", num(0)},
      {"STDEV.P(5)", num(0)},
      {"VAR.P()", err(CellErrorCode::Div0)},
      {"VAR.S(B1:B4)", num(5.0 / 3)},
      {"VAR(B1:B4)", num(5.0 / 3)},
      {"STDEVP(B1:B4)", num(std::sqrt(1.25))},
  };
  run(wb, cases);
}

}  // namespace
}  // namespace cmx::formula
