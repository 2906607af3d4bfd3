// How array results are sized, paid for and assembled from chosen rows or
// columns, shared by every array function that builds one. Read handlers.h
// for the functions themselves.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "formula/eval_context.h"
#include "formula/eval_result.h"

namespace cmx::formula {

// What a handler computes: its result, or the error that ended it.
using ArrayOutcome = Result<EvalResult, model::CellErrorCode>;
inline EvalResult settle(ArrayOutcome outcome) {
  if (!outcome.has_value()) return EvalResult::error(outcome.error());
  return std::move(outcome).value();
}

// rows × cols cells paid for: "#NUM!" past kMaxArrayCells or on overflow
// (the evaluation not marked limited), "#NUM!" when the budgets refuse
// (marked limited).
Result<void, model::CellErrorCode> charge_array_cells(EvalContext& ctx, uint64_t rows,
                                                      uint64_t cols);
// The same charge, then a builder with room for every cell.
Result<ArrayBuilder, model::CellErrorCode> reserve_array_cells(EvalContext& ctx, uint64_t rows,
                                                               uint64_t cols);

enum class PickAxis : uint8_t { Rows, Cols };
// The listed rows (or columns) of the source, in the listed order, repeats
// allowed; the indices must be valid. Texts are charged as they are copied.
EvalResult pick_rows_cols(EvalContext& ctx, const ArrayValue& source,
                          std::span<const uint64_t> indices, PickAxis axis);

// A count argument of an array's size: accepted when finite and within
// [1, kMaxArrayCells] before truncation, else "#VALUE!".
Result<uint64_t, model::CellErrorCode> size_from_number(double x);

}  // namespace cmx::formula
