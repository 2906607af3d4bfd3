// LINEST, TREND, MMULT and FREQUENCY: generated cases against exact
// rational solutions, and tables of shapes, errors and limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "array_fn_cases.h"

namespace cmx::formula::testing {
namespace {

struct MatrixCase {
  std::string_view formula;
  uint64_t rows;
  uint64_t cols;
  std::vector<std::string_view> want;  // hex floats or error texts, row-major
};

#include "arrays_matrix_cases.inc"

bool close_to(double got, double want) {
  return std::fabs(got - want) <= 1e-9 * std::max(1.0, std::fabs(want));
}

void expect_element(const CellValue& got, std::string_view want) {
  if (want.starts_with("#")) {
    EXPECT_TRUE(same_value(got, err(model::error_code_from_text(want).value())));
    return;
  }
  ASSERT_TRUE(got.is_number());
  const double x = std::strtod(std::string(want).c_str(), nullptr);
  EXPECT_TRUE(close_to(got.as_number(), x)) << got.as_number() << " vs " << x;
}

TEST(MatrixFunctions, MatchExactRationalSolutions) {
  Workbook wb;
  for (const MatrixCase& c : kMatrixCases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    auto tree = parse_formula(c.formula);
    ASSERT_TRUE(tree.has_value());
    EvalResult got = eval_array(**tree, ctx);
    if (c.rows == 1 && c.cols == 1) {
      ASSERT_TRUE(got.is_scalar());
      expect_element(got.as_scalar(), c.want[0]);
      continue;
    }
    ASSERT_TRUE(got.is_array());
    ASSERT_EQ(got.as_array().rows, c.rows);
    ASSERT_EQ(got.as_array().cols, c.cols);
    for (size_t i = 0; i < c.want.size(); ++i) {
      SCOPED_TRACE(i);
      expect_element(got.as_array().values[i], c.want[i]);
    }
  }
}

// A1:A3 hold 1, "x", TRUE; B1:B2 2 and "y".
struct Sheet : Workbook {
  Sheet() {
    set(0, "A1", num(1));
    set(0, "A2", txt("x"));
    set(0, "A3", boolean(true));
    set(0, "B1", num(2));
    set(0, "B2", txt("y"));
  }
};

TEST(MatrixFunctions, Table) {
  Sheet wb;
  const ArrayFnCase cases[] = {
      {"MMULT({1,2;3,4},{5;6})", 2, 1, {num(17), num(39)}},
      {"MMULT({1,2},{1,2})", 1, 1, {value_error()}},
      {"MMULT({1,\"a\"},{1;1})", 1, 1, {value_error()}},
      {"MMULT({1,\"2\"},{1;TRUE})", 1, 1, {num(3)}},
      {"MMULT({1,2},{#DIV/0!;#N/A})", 1, 1, {div0()}},
      {"MMULT({1E308,1E308},{10;1})", 1, 1, {num_error()}},
      {"MMULT({1,2},{3})", 1, 1, {value_error()}},
      {"MMULT({1,2})", 1, 1, {value_error()}},
      {"FREQUENCY({1;2;3;4;5},{3;1})", 3, 1, {num(2), num(1), num(2)}},
      {"FREQUENCY({1;2},{\"x\"})", 1, 1, {num(2)}},
      {"FREQUENCY(A1:A3,B1:B2)", 2, 1, {num(1), num(0)}},
      {"FREQUENCY({1;2;2;3},{2;2})", 3, 1, {num(3), num(0), num(1)}},
      {"FREQUENCY({1;#N/A},{1})", 1, 1, {na()}},
      {"FREQUENCY({1})", 1, 1, {value_error()}},
      {"LINEST({1;2})", 1, 1, {num_error()}},
      {"LINEST({1;2},{1;2})", 1, 1, {num_error()}},
      {"LINEST({1;2;3},{1;1;1})", 1, 1, {num_error()}},
      {"LINEST({1;2;3},{1;2})", 1, 1, {ref_error()}},
      {"LINEST({1;2;3},{1;2;\"x\"})", 1, 1, {value_error()}},
      {"LINEST({1;2;3},,,,1)", 1, 1, {value_error()}},
      {"ROUND(TREND({1;2;3},{1;2;3},{4;5}),9)", 2, 1, {num(4), num(5)}},
      {"ROUND(TREND({2;4;6},,{4}),9)", 1, 1, {num(8)}},
      {"TREND({1;2;3;4},{1,0;2,1;3,0;4,1},{1,2,3})", 1, 1, {ref_error()}},
      {"TREND({1;2;3},{1;2;3},{\"z\"})", 1, 1, {value_error()}},
      {"TREND()", 1, 1, {value_error()}},
  };
  check_both_contexts(wb, cases, /*scalar_too=*/false);
}

TEST(MatrixFunctions, LinestShapesAndExactFits) {
  Workbook wb;
  struct Case {
    const char* formula;
    uint64_t rows, cols;
    std::vector<std::string_view> want;  // "" for any number
  };
  const Case cases[] = {
      // Slope 1, intercept 0 within rounding.
      {"LINEST({1;2;3})", 1, 2, {"0x1p+0", "0x0p+0"}},
      // Two variables: the degrees of freedom are 5 - 3 = 2; the third
      // column of the statistics rows is #N/A.
      {"LINEST({1;2;3;5;4},{1,0;2,0;3,0;4,1;5,3},TRUE,TRUE)", 5, 3,
       {"", "", "", "", "", "", "", "", "#N/A", "", "0x1p+1", "#N/A", "", "", "#N/A"}},
      // Without the constant the intercept is 0 and its error #N/A; the fit
      // is exact, so F is #NUM!.
      {"LINEST({2;4;6},{1;2;3},FALSE,TRUE)", 5, 2,
       {"0x1p+1", "0x0p+0", "0x0p+0", "#N/A", "0x1p+0", "0x0p+0", "#NUM!", "0x1p+1", "", "0x0p+0"}},
      // A 3 × 2 known_y with a 1 × 6 known_x: the values row-major.
      {"LINEST({2,4;6,8;10,12},{1,2,3,4,5,6})", 1, 2, {"0x1p+1", "0x0p+0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    EvalContext ctx = wb.context();
    auto tree = parse_formula(c.formula);
    ASSERT_TRUE(tree.has_value());
    EvalResult got = eval_array(**tree, ctx);
    const std::vector<CellValue> values =
        got.is_array() ? got.as_array().values : std::vector<CellValue>{got.as_scalar()};
    ASSERT_EQ(got.rows(), c.rows);
    ASSERT_EQ(got.cols(), c.cols);
    for (size_t i = 0; i < c.want.size(); ++i) {
      SCOPED_TRACE(i);
      if (c.want[i].empty()) {
        EXPECT_TRUE(values[i].is_number());
      } else {
        expect_element(values[i], c.want[i]);
      }
    }
  }
}

TEST(MatrixFunctions, RefuseOversizedShapesBeforeWork) {
  Workbook wb;
  // 2,000 × 1 times 1 × 2,000 (A1:BXX1) would be 4,000,000 cells.
  EvalContext ctx = wb.context();
  auto tree = parse_formula("MMULT(A1:A2000,A1:BXX1)");
  ASSERT_TRUE(tree.has_value());
  const uint64_t before = ctx.shared->cells_left;
  EvalResult got = eval_array(**tree, ctx);
  ASSERT_TRUE(got.is_scalar());
  EXPECT_TRUE(same_value(got.as_scalar(), num_error()));
  // Only the operands were paid for: the product was refused before it.
  EXPECT_LE(before - ctx.shared->cells_left, 8000u);
}

}  // namespace
}  // namespace cmx::formula::testing
