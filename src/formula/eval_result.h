// EvalResult: what array-context evaluation yields (one value, a rectangular
// array of values, or a lambda), and what LET and lambda bindings hold.
#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "model/cell_value.h"

namespace cmx::formula {

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
  bool is_scalar() const { return value.index() == 0; }
  bool is_array() const { return value.index() == 1; }
  bool is_lambda() const { return value.index() == 2; }
  const model::CellValue& as_scalar() const { return std::get<0>(value); }
  const ArrayValue& as_array() const { return std::get<1>(value); }
};

}  // namespace cmx::formula
