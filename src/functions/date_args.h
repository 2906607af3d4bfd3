// How the date, time and working-day functions read their serials.
// Read date_functions.cpp next.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "base/result.h"
#include "base/saturate.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// A serial's day number: floored, saturated to 64 bits.
inline int64_t day_of_serial(double serial) { return saturate_cast<int64_t>(std::floor(serial)); }

// The first argument as a serial: numbers, numeric texts, date texts (their
// whole day), TRUE/FALSE as 1/0, Empty as 0.
Result<double, model::CellErrorCode> arg_date(Args args, EvalContext& ctx);

// Argument i as a whole day number: a Text must read as a date ("#VALUE!"
// otherwise), a Number is truncated; non-finite or negative gives "#NUM!".
Result<int64_t, model::CellErrorCode> day_number_arg(Args args, size_t i, EvalContext& ctx);

}  // namespace cmx::formula
