// RANDBETWEEN: a random whole number between two bounds, drawn from the
// formula's own random sequence (random_draw).
#include <algorithm>
#include <cmath>

#include "functions/handlers.h"
#include "functions/numeric_args.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

void fn_randbetween(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto bounds = arg_number_pair(args, 0, ctx);
  if (!bounds.has_value()) {
    out = CellValue::error(bounds.error());
    return;
  }
  auto [bottom, top] = *bounds;
  if (bottom > top) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  const double lo = std::ceil(bottom);
  const double hi = std::floor(top);
  // No whole number between the bounds (1.2 and 1.8): nothing is drawn.
  if (lo > hi) {
    out = CellValue::number(lo);
    return;
  }
  const double span = hi - lo;
  const double r = std::min(std::floor((span + 1) * random_draw(ctx)), span);
  out = number_result(lo + r);
}

}  // namespace cmx::formula
