// SUM, the first of the summing built-ins.
#include <cmath>

#include "functions/arg_coercion.h"
#include "functions/handlers.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

void fn_sum(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  // Starting from -0 keeps the sign of a sum of negative zeros.
  double sum = -0.0;
  for (double x : *numbers) sum += x;
  out = std::isfinite(sum) ? CellValue::number(sum) : CellValue::error(CellErrorCode::Num);
}

}  // namespace cmx::formula
