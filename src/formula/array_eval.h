// eval_array: a syntax tree evaluated in array context. Ranges become arrays,
// operators work element by element with broadcasting, array functions reach
// their handlers and scalar built-ins are lifted over array arguments.
// Read lifted.h and arrayfns/frame.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formula/eval_result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

EvalResult eval_array(const Expr& expr, EvalContext& ctx);

// An array constant of rows × cols element expressions, each reduced to its
// top-left value; the cells are paid for before any element is evaluated.
EvalResult eval_array_constant(std::span<const ExprPtr> elements, uint64_t rows, uint64_t cols,
                               EvalContext& ctx);

// The range's cells as a result, whole columns and rows clipped to the used
// part of the sheet first; cells and text bytes paid for.
EvalResult eval_range_to_array(const SheetRange& range, EvalContext& ctx);

// The fallback value of an XLOOKUP call in array context, computed on first
// use and kept for every later element.
class LazyFormulaValue {
 public:
  const model::CellValue& get(Args args, EvalContext& ctx);
  bool filled() const { return value_.has_value(); }
  // Fills the slot: "#N/A" without a fourth argument (or an omitted one),
  // else the fourth argument's top-left value. Filling twice is a broken
  // invariant.
  void init(Args args, EvalContext& ctx);

 private:
  std::optional<model::CellValue> value_;
};

// The text cut at every delimiter (non-empty texts; at one position the
// longest match wins, then the first listed); empty pieces are kept. With
// `ignore_case` ASCII letters match either case.
std::vector<std::string> split_by_delimiters(std::string_view text,
                                             std::span<const std::string> delimiters,
                                             bool ignore_case);

}  // namespace cmx::formula
