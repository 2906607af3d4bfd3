// Variances and standard deviations of samples and populations.
#include <cmath>

#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

// SS ÷ (n − ddof), or its root; fewer than ddof + 1 numbers give "#DIV/0!".
void spread(CellValue& out, Args args, EvalContext& ctx, size_t ddof, bool root) {
  auto numbers = collect_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  if (numbers->size() <= ddof) {
    out = CellValue::error(CellErrorCode::Div0);
    return;
  }
  double variance = squared_deviations(*numbers) / static_cast<double>(numbers->size() - ddof);
  out = finite_number(root ? std::sqrt(variance) : variance);
}

}  // namespace

void fn_var_s(CellValue& out, Args args, EvalContext& ctx) { spread(out, args, ctx, 1, false); }
void fn_var_p(CellValue& out, Args args, EvalContext& ctx) { spread(out, args, ctx, 0, false); }
void fn_stdev_s(CellValue& out, Args args, EvalContext& ctx) { spread(out, args, ctx, 1, true); }
void fn_stdev_p(CellValue& out, Args args, EvalContext& ctx) { spread(out, args, ctx, 0, true); }

}  // namespace cmx::formula
