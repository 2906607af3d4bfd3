// Counts and plain averages and extremes: COUNT, COUNTA, COUNTBLANK, AVERAGE,
// AVERAGEA, MAX, MIN, MAXA and MINA.
#include <algorithm>
#include <cmath>
#include <limits>

#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

using Gather = Result<std::vector<double>, CellErrorCode> (*)(Args, EvalContext&);

void average_of(CellValue& out, Args args, EvalContext& ctx, Gather gather) {
  auto numbers = gather(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
  } else if (numbers->empty()) {
    out = CellValue::error(CellErrorCode::Div0);
  } else {
    out = finite_number(sum_in_order(*numbers) / static_cast<double>(numbers->size()));
  }
}

void extreme_of(CellValue& out, Args args, EvalContext& ctx, Gather gather, bool largest) {
  auto numbers = gather(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  if (numbers->empty()) {
    out = CellValue::number(0);
    return;
  }
  double best = largest ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
  for (double x : *numbers) best = largest ? std::max(best, x) : std::min(best, x);
  out = finite_number(best);
}

// The range's values, whole columns and rows clipped first.
Result<std::vector<const CellValue*>, CellErrorCode> clipped_values(const SheetRange& range,
                                                                    EvalContext& ctx) {
  return read_range_values(clip_to_used(range, ctx), ctx);
}

// COUNT and COUNTA: each reference adds its cells that `counts`, anything
// else what `count_other` makes of it. Only a refused read fails.
template <typename Counts, typename CountOther>
void count_args(CellValue& out, Args args, EvalContext& ctx, Counts counts,
                CountOther count_other) {
  double count = 0;
  for (const ExprPtr& arg : args) {
    std::optional<SheetRange> range = eval_reference(*arg, ctx);
    if (!range) {
      count += count_other(*arg);
      continue;
    }
    auto cells = clipped_values(*range, ctx);
    if (!cells.has_value()) {
      out = CellValue::error(cells.error());
      return;
    }
    for (const CellValue* cell : *cells) count += counts(*cell) ? 1 : 0;
  }
  out = CellValue::number(count);
}

}  // namespace

void fn_count(CellValue& out, Args args, EvalContext& ctx) {
  auto is_number = [](const CellValue& v) { return v.is_number(); };
  count_args(out, args, ctx, is_number, [&](const Expr& arg) -> double {
    EvalResult result = eval_array(arg, ctx);
    if (result.is_array()) {
      const auto& values = result.as_array().values;
      return static_cast<double>(std::count_if(values.begin(), values.end(), is_number));
    }
    CellValue v = top_left_value(std::move(result));
    return v.is_number() || v.is_bool() || (v.is_text() && parse_number_text(v.as_text())) ? 1
                                                                                           : 0;
  });
}

void fn_counta(CellValue& out, Args args, EvalContext& ctx) {
  count_args(
      out, args, ctx, [](const CellValue& v) { return !v.is_empty(); },
      [&](const Expr& arg) -> double { return eval_scalar(arg, ctx).is_empty() ? 0 : 1; });
}

void fn_countblank(CellValue& out, Args args, EvalContext& ctx) {
  std::optional<SheetRange> range;
  if (args.size() == 1) range = eval_reference(*args[0], ctx);
  if (!range) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto cells = clipped_values(*range, ctx);
  if (!cells.has_value()) {
    out = CellValue::error(cells.error());
    return;
  }
  uint64_t blank = 0;
  for (const CellValue* cell : *cells) {
    if (cell->is_empty() || (cell->is_text() && cell->as_text().empty())) ++blank;
  }
  // The cells the clipping cut off are all empty.
  const uint64_t all = range->height * range->width;
  if (all > cells->size()) blank += all - cells->size();
  out = CellValue::number(static_cast<double>(blank));
}

void fn_average(CellValue& out, Args args, EvalContext& ctx) {
  average_of(out, args, ctx, collect_numbers);
}
void fn_averagea(CellValue& out, Args args, EvalContext& ctx) {
  average_of(out, args, ctx, collect_numbers_a);
}
void fn_max(CellValue& out, Args args, EvalContext& ctx) {
  extreme_of(out, args, ctx, collect_numbers, /*largest=*/true);
}
void fn_min(CellValue& out, Args args, EvalContext& ctx) {
  extreme_of(out, args, ctx, collect_numbers, /*largest=*/false);
}
void fn_maxa(CellValue& out, Args args, EvalContext& ctx) {
  extreme_of(out, args, ctx, collect_numbers_a, /*largest=*/true);
}
void fn_mina(CellValue& out, Args args, EvalContext& ctx) {
  extreme_of(out, args, ctx, collect_numbers_a, /*largest=*/false);
}

}  // namespace cmx::formula
