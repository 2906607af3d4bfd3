// Tables of array-function formulas checked in both contexts: evaluated in
// array context they give the whole result, in an ordinary cell its
// top-left value.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "eval_harness.h"

namespace cmx::formula::testing {

struct ArrayFnCase {
  std::string_view formula;
  uint64_t rows = 1;
  uint64_t cols = 1;
  std::vector<CellValue> want;  // row-major; one value for a scalar result
};

inline void check_array_context(Workbook& wb, const ArrayFnCase& c) {
  EvalContext ctx = wb.context();
  auto tree = parse_formula(c.formula);
  ASSERT_TRUE(tree.has_value()) << c.formula;
  EvalResult got = eval_array(**tree, ctx);
  ASSERT_EQ(c.want.size(), c.rows * c.cols) << "malformed case";
  if (c.rows == 1 && c.cols == 1) {
    ASSERT_TRUE(got.is_scalar()) << "not a scalar";
    EXPECT_TRUE(same_value(got.as_scalar(), c.want[0]));
    return;
  }
  ASSERT_TRUE(got.is_array()) << "not an array";
  ASSERT_EQ(got.as_array().rows, c.rows);
  ASSERT_EQ(got.as_array().cols, c.cols);
  for (size_t i = 0; i < c.want.size(); ++i) {
    EXPECT_TRUE(same_value(got.as_array().values[i], c.want[i])) << "element " << i;
  }
}

// Both contexts; `scalar_too` false for formulas whose ordinary-cell
// evaluation belongs to a built-in of the same name.
inline void check_both_contexts(Workbook& wb, std::span<const ArrayFnCase> cases,
                                bool scalar_too = true) {
  for (const ArrayFnCase& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    check_array_context(wb, c);
    if (scalar_too) {
      SCOPED_TRACE("in an ordinary cell");
      EXPECT_TRUE(same_value(wb.eval(c.formula), c.want.front()));
    }
  }
}

inline CellValue na() { return CellValue::error(model::CellErrorCode::NA); }
inline CellValue value_error() { return CellValue::error(model::CellErrorCode::Value); }
inline CellValue num_error() { return CellValue::error(model::CellErrorCode::Num); }
inline CellValue ref_error() { return CellValue::error(model::CellErrorCode::Ref); }
inline CellValue name_error() { return CellValue::error(model::CellErrorCode::Name); }
inline CellValue div0() { return CellValue::error(model::CellErrorCode::Div0); }

}  // namespace cmx::formula::testing
