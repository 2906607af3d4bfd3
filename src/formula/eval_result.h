// EvalResult: what array-context evaluation yields (one value, a rectangular
// array of values, or a lambda), and what LET and lambda bindings hold; and
// ArrayBuilder, through which every array result is assembled and paid for.
#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "base/result.h"
#include "model/cell_value.h"

namespace cmx::formula {

struct EvalContext;

// The closure LAMBDA makes; only the array functions look inside it.
struct LambdaClosure;

// Arrays hold at most this many cells (2^20).
inline constexpr uint64_t kMaxArrayCells = uint64_t{1} << 20;

struct ArrayValue {
  std::vector<model::CellValue> values;  // row-major, rows × cols of them
  uint64_t rows = 0;
  uint64_t cols = 0;
};

struct EvalResult {
  std::variant<model::CellValue, ArrayValue, std::shared_ptr<const LambdaClosure>> value;

  static EvalResult scalar(model::CellValue v) { return EvalResult{std::move(v)}; }
  static EvalResult error(model::CellErrorCode code) {
    return EvalResult{model::CellValue::error(code)};
  }
  bool is_scalar() const { return value.index() == 0; }
  bool is_array() const { return value.index() == 1; }
  bool is_lambda() const { return value.index() == 2; }
  const model::CellValue& as_scalar() const { return std::get<0>(value); }
  const ArrayValue& as_array() const { return std::get<1>(value); }
  const std::shared_ptr<const LambdaClosure>& as_lambda() const { return std::get<2>(value); }
  // The shape broadcasting sees: an array's own, 1 × 1 for anything else.
  uint64_t rows() const { return is_array() ? as_array().rows : 1; }
  uint64_t cols() const { return is_array() ? as_array().cols : 1; }
};

// Values of an array under construction; every text pushed is charged to
// the byte budgets of `ctx`.
struct ArrayBuilder {
  explicit ArrayBuilder(EvalContext& context, uint64_t capacity = 0) : ctx(&context) {
    values.reserve(capacity);
  }
  EvalContext* ctx;
  std::vector<model::CellValue> values;
};

// Appends the value; a text whose bytes the budget refuses is dropped and
// gives "#NUM!" (the context marked limited).
[[nodiscard]] Result<void, model::CellErrorCode> push_array_value(ArrayBuilder& builder,
                                                                  model::CellValue value);

// The values as a rows × cols result: "#VALUE!" for an empty or overflowing
// shape or a count that differs from it, "#NUM!" past kMaxArrayCells, the one
// value as a Scalar for 1 × 1.
EvalResult make_array(uint64_t rows, uint64_t cols, std::vector<model::CellValue> values);
inline EvalResult make_array(uint64_t rows, uint64_t cols, ArrayBuilder&& builder) {
  return make_array(rows, cols, std::move(builder.values));
}

// The element at (r, c) with broadcasting: a Scalar everywhere, a one-row
// array down every row, a one-column array across every column; "#N/A"
// outside a smaller array, "#VALUE!" for a lambda.
model::CellValue array_element_at(const EvalResult& result, uint64_t r, uint64_t c);
// The element at (r, c) without broadcasting; "#N/A" outside.
model::CellValue array_value_at(const std::vector<model::CellValue>& values, uint64_t rows,
                                uint64_t cols, uint64_t r, uint64_t c);
// The first value: a Scalar itself, an array's first element ("#N/A" when it
// has none), "#VALUE!" for a lambda.
model::CellValue top_left_value(EvalResult&& result);

}  // namespace cmx::formula
