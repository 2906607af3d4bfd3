// Spread and shape: variances and standard deviations of samples and
// populations, STDEVA, DEVSQ, AVEDEV, SKEW, KURT, GEOMEAN and HARMEAN.
#include <cmath>
#include <optional>
#include <span>

#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

using Gather = Result<std::vector<double>, CellErrorCode> (*)(Args, EvalContext&);

// The gathered numbers, or the gathering's error, or `too_few` below
// `minimum` numbers (written to `out`, then empty).
std::optional<std::vector<double>> gather_at_least(CellValue& out, Args args, EvalContext& ctx,
                                                   Gather gather, size_t minimum,
                                                   CellErrorCode too_few) {
  auto numbers = gather(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return std::nullopt;
  }
  if (numbers->size() < minimum) {
    out = CellValue::error(too_few);
    return std::nullopt;
  }
  return std::move(*numbers);
}

// SS ÷ (n − ddof), or its root; fewer than ddof + 1 numbers give "#DIV/0!".
void spread(CellValue& out, Args args, EvalContext& ctx, Gather gather, size_t ddof, bool root) {
  auto xs = gather_at_least(out, args, ctx, gather, ddof + 1, CellErrorCode::Div0);
  if (!xs) return;
  const double variance = squared_deviations(*xs) / static_cast<double>(xs->size() - ddof);
  out = finite_number(root ? std::sqrt(variance) : variance);
}

// Σ((xi − m) ÷ s)^power with s the sample deviation; absent when the
// variance is not positive.
std::optional<double> standardized_moment_sum(std::span<const double> xs, int power) {
  const double n = static_cast<double>(xs.size());
  const double mean = sum_in_order(xs) / n;
  const double variance = squared_deviations(xs) / (n - 1);
  if (!(variance > 0)) return std::nullopt;
  const double s = std::sqrt(variance);
  double sum = -0.0;
  for (double x : xs) {
    const double z = (x - mean) / s;
    sum += power == 3 ? z * z * z : (z * z) * (z * z);
  }
  return sum;
}

// Every number positive, else "#NUM!" in `out`.
bool all_positive(CellValue& out, std::span<const double> xs) {
  for (double x : xs) {
    if (!(x > 0)) {
      out = CellValue::error(CellErrorCode::Num);
      return false;
    }
  }
  return true;
}

}  // namespace

void fn_var_s(CellValue& out, Args args, EvalContext& ctx) {
  spread(out, args, ctx, collect_numbers, 1, false);
}
void fn_var_p(CellValue& out, Args args, EvalContext& ctx) {
  spread(out, args, ctx, collect_numbers, 0, false);
}
void fn_stdev_s(CellValue& out, Args args, EvalContext& ctx) {
  spread(out, args, ctx, collect_numbers, 1, true);
}
void fn_stdev_p(CellValue& out, Args args, EvalContext& ctx) {
  spread(out, args, ctx, collect_numbers, 0, true);
}
void fn_stdeva(CellValue& out, Args args, EvalContext& ctx) {
  spread(out, args, ctx, collect_numbers_a, 1, true);
}

void fn_devsq(CellValue& out, Args args, EvalContext& ctx) {
  auto xs = gather_at_least(out, args, ctx, collect_arg_numbers, 1, CellErrorCode::Num);
  if (!xs) return;
  out = finite_number(squared_deviations(*xs));
}

void fn_avedev(CellValue& out, Args args, EvalContext& ctx) {
  auto xs = gather_at_least(out, args, ctx, collect_arg_numbers, 1, CellErrorCode::Num);
  if (!xs) return;
  const double n = static_cast<double>(xs->size());
  const double mean = sum_in_order(*xs) / n;
  double sum = -0.0;
  for (double x : *xs) sum += std::fabs(x - mean);
  out = finite_number(sum / n);
}

void fn_skew(CellValue& out, Args args, EvalContext& ctx) {
  auto xs = gather_at_least(out, args, ctx, collect_arg_numbers, 3, CellErrorCode::Div0);
  if (!xs) return;
  std::optional<double> cubes = standardized_moment_sum(*xs, 3);
  if (!cubes) {
    out = CellValue::error(CellErrorCode::Div0);
    return;
  }
  const double n = static_cast<double>(xs->size());
  out = finite_number(n / ((n - 1) * (n - 2)) * *cubes);
}

void fn_kurt(CellValue& out, Args args, EvalContext& ctx) {
  auto xs = gather_at_least(out, args, ctx, collect_arg_numbers, 4, CellErrorCode::Div0);
  if (!xs) return;
  std::optional<double> fourths = standardized_moment_sum(*xs, 4);
  if (!fourths) {
    out = CellValue::error(CellErrorCode::Div0);
    return;
  }
  const double n = static_cast<double>(xs->size());
  const double scale = n * (n + 1) / ((n - 1) * (n - 2) * (n - 3));
  const double shift = 3 * (n - 1) * (n - 1) / ((n - 2) * (n - 3));
  out = finite_number(scale * *fourths - shift);
}

void fn_geomean(CellValue& out, Args args, EvalContext& ctx) {
  auto xs = gather_at_least(out, args, ctx, collect_arg_numbers, 1, CellErrorCode::Num);
  if (!xs || !all_positive(out, *xs)) return;
  double logs = -0.0;
  for (double x : *xs) logs += std::log(x);
  out = finite_number(std::exp(logs / static_cast<double>(xs->size())));
}

void fn_harmean(CellValue& out, Args args, EvalContext& ctx) {
  auto xs = gather_at_least(out, args, ctx, collect_arg_numbers, 1, CellErrorCode::Num);
  if (!xs || !all_positive(out, *xs)) return;
  double reciprocals = -0.0;
  for (double x : *xs) reciprocals += 1 / x;
  out = finite_number(static_cast<double>(xs->size()) / reciprocals);
}

}  // namespace cmx::formula
