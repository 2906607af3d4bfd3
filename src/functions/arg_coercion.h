// How handlers turn their unevaluated arguments into numbers, whole numbers
// and lists of numbers. A value given directly is converted; the values of a
// reference or an array are filtered (text and logical values skipped, or
// counted as 0 and 1 by the "A" collector).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// Argument i as one finite number: Empty 0, Bool 1 or 0, Text as a number
// or else a date's whole day; a range of several cells "#VALUE!".
Result<double, model::CellErrorCode> arg_number(Args args, size_t i, EvalContext& ctx);
// arg_number truncated toward zero and saturated; a failed scalar read that
// is no reference retries with the top-left value of the array reading.
Result<int64_t, model::CellErrorCode> arg_integer(Args args, size_t i, EvalContext& ctx);

// The numbers of all arguments in order (the first error ends it).
// References give their Number cells, clipped to the used area; arrays their
// Number elements; a single value is converted.
Result<std::vector<double>, model::CellErrorCode> collect_numbers(Args args, EvalContext& ctx);

struct ArgValues {
  std::vector<model::CellValue> values;  // row-major
  bool many_values = false;              // a reference or an array
};
// One argument's values: a reference's cells (texts charged), an array's
// elements, or the one top-left value.
Result<ArgValues, model::CellErrorCode> arg_values(Args args, size_t i, EvalContext& ctx);

// collect_numbers through arg_values: the same numbers, but the texts of
// references are paid for.
Result<std::vector<double>, model::CellErrorCode> collect_arg_numbers(Args args,
                                                                      EvalContext& ctx);
// Like collect_arg_numbers, but Bool counts 1 or 0 everywhere and the text
// of a reference or an array counts 0.
Result<std::vector<double>, model::CellErrorCode> collect_numbers_a(Args args, EvalContext& ctx);

// --- Text, date and financial families ---
// arg_number truncated toward zero and saturated to 64 bits (no array retry).
Result<int64_t, model::CellErrorCode> arg_truncated(Args args, size_t i, EvalContext& ctx);
// Whether argument i exists and is not an omitted slot, as in F(a,,c).
bool arg_given(Args args, size_t i);

}  // namespace cmx::formula
