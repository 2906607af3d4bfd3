// SUBTOTAL and AGGREGATE: one statistic chosen by number. AGGREGATE may
// retry over the numbers alone when the statistic meets an error. Neither
// sees row visibility or the formulas of the cells it reads, so the codes
// that would leave out hidden rows or nested subtotals act as the plain ones.
#include <cmath>

#include "base/saturate.h"
#include "formula/array_eval.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

CellValue div0() { return CellValue::error(CellErrorCode::Div0); }

double product_in_order(std::span<const double> xs) {
  double product = 1.0;
  for (double x : xs) product *= x;
  return product;
}

// Codes 1 and 4 to 11 over the gathered numbers, in gathering order.
CellValue subtotal_statistic(int64_t code, const std::vector<double>& xs) {
  const auto n = static_cast<double>(xs.size());
  switch (code) {
    case 1:
      return xs.empty() ? div0() : finite_number(sum_in_order(xs) / n);
    case 4:
    case 5: {
      if (xs.empty()) return CellValue::number(0);
      double best = xs[0];
      for (double x : xs) best = code == 4 ? std::max(best, x) : std::min(best, x);
      return finite_number(best);
    }
    case 6:
      return xs.empty() ? CellValue::number(0) : finite_number(product_in_order(xs));
    case 7:
    case 10: {
      if (xs.size() < 2) return div0();
      double variance = squared_deviations(xs) / (n - 1);
      return finite_number(code == 7 ? std::sqrt(variance) : variance);
    }
    case 8:
    case 11: {
      if (xs.empty()) return div0();
      double variance = squared_deviations(xs) / n;
      return finite_number(code == 8 ? std::sqrt(variance) : variance);
    }
    default:  // 9
      return finite_number(sum_in_order(xs));
  }
}

// AGGREGATE's retry: the Number cells of references and the Number
// elements or values of everything else. A reference the budget refuses
// gives nothing, with the evaluation left marked limited.
std::vector<double> numbers_ignoring_errors(Args data, EvalContext& ctx) {
  std::vector<double> numbers;
  for (const ExprPtr& arg : data) {
    if (std::optional<SheetRange> range = eval_reference(*arg, ctx)) {
      auto cells = read_range_values(clip_to_used(*range, ctx), ctx);
      if (!cells.has_value()) continue;
      for (const CellValue* cell : *cells) {
        if (cell->is_number()) numbers.push_back(cell->as_number());
      }
      continue;
    }
    EvalResult result = eval_array(*arg, ctx);
    if (result.is_array()) {
      for (const CellValue& v : result.as_array().values) {
        if (v.is_number()) numbers.push_back(v.as_number());
      }
      continue;
    }
    CellValue v = top_left_value(std::move(result));
    if (v.is_number()) numbers.push_back(v.as_number());
  }
  return numbers;
}

// The value of the most frequent number of a sorted list (at least twice),
// the smallest on a tie.
CellValue mode_of_sorted(std::span<const double> sorted) {
  size_t best_count = 1;
  double best = 0;
  for (size_t i = 0; i < sorted.size();) {
    size_t j = i;
    while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
    if (j - i > best_count) {
      best_count = j - i;
      best = sorted[i];
    }
    i = j;
  }
  return best_count >= 2 ? finite_number(best) : CellValue::error(CellErrorCode::NA);
}

CellValue aggregate_second_pass(int64_t code, Args args, EvalContext& ctx) {
  const bool takes_k = code >= 14;
  Args data = args.subspan(2, args.size() - 2 - (takes_k ? 1 : 0));
  std::vector<double> xs = numbers_ignoring_errors(data, ctx);
  if (xs.empty()) return div0();
  const auto n = static_cast<double>(xs.size());
  const double ss = squared_deviations(xs);
  const double mean = sum_in_order(xs) / n;
  double k = 0;
  if (takes_k) {
    auto got = arg_number(args, args.size() - 1, ctx);
    if (!got.has_value()) return CellValue::error(got.error());
    k = *got;
  }
  sort_numbers(xs);
  switch (code) {
    case 1:
      return finite_number(mean);
    case 2:
    case 3:
      return CellValue::number(n);
    case 4:
      return finite_number(xs.back());
    case 5:
      return finite_number(xs.front());
    case 6:
      return finite_number(product_in_order(xs));
    case 7:
      return xs.size() < 2 ? div0() : finite_number(std::sqrt(ss / (n - 1)));
    case 8:
      return finite_number(std::sqrt(ss / n));
    case 9:
      return finite_number(sum_in_order(xs));
    case 10:
      return xs.size() < 2 ? div0() : finite_number(ss / (n - 1));
    case 11:
      return finite_number(ss / n);
    case 12:
      return finite_number(median_sorted(xs));
    case 13:
      return mode_of_sorted(xs);
    case 14:
    case 15: {
      const auto rank = saturate_cast<int64_t>(k);
      const auto count = static_cast<int64_t>(xs.size());
      if (rank < 1 || rank > count) return CellValue::error(CellErrorCode::Num);
      return finite_number(xs[static_cast<size_t>(code == 14 ? count - rank : rank - 1)]);
    }
    default: {  // 16 and 17
      if (code == 17) k = static_cast<double>(saturate_cast<int64_t>(k)) * 0.25;
      if (!(k >= 0 && k <= 1)) return CellValue::error(CellErrorCode::Num);
      return finite_number(interpolate_sorted(xs, k));
    }
  }
}

}  // namespace

void fn_subtotal(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto number = arg_number(args, 0, ctx);
  if (!number.has_value()) {
    out = CellValue::error(number.error());
    return;
  }
  int64_t code = saturate_cast<int64_t>(*number);
  if (code >= 101 && code <= 111) code -= 100;
  if (std::isnan(*number) || code < 1 || code > 11) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  Args rest = args.subspan(1);
  if (code == 2) return fn_count(out, rest, ctx);
  if (code == 3) return fn_counta(out, rest, ctx);
  auto numbers = collect_numbers(rest, ctx);
  out = numbers.has_value() ? subtotal_statistic(code, *numbers)
                            : CellValue::error(numbers.error());
}

void fn_aggregate(CellValue& out, Args args, EvalContext& ctx) {
  static constexpr BuiltinHandler kFirstPass[] = {
      fn_average, fn_count,  fn_counta,  fn_max,   fn_min,       fn_product,
      fn_stdev_s, fn_stdev_p, fn_sum,    fn_var_s, fn_var_p,     fn_median,
      fn_mode_sngl, fn_large, fn_small, fn_percentile_inc, fn_quartile_inc,
  };
  if (args.size() < 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto code_number = arg_number(args, 0, ctx);
  if (!code_number.has_value()) {
    out = CellValue::error(code_number.error());
    return;
  }
  auto options_number = arg_number(args, 1, ctx);
  if (!options_number.has_value()) {
    out = CellValue::error(options_number.error());
    return;
  }
  const auto code = saturate_cast<int64_t>(*code_number);
  const auto options = saturate_cast<int64_t>(*options_number);
  if (code < 1 || code > 17 || options < 0 || options > 7) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  kFirstPass[code - 1](out, args.subspan(2), ctx);
  const bool ignores_errors = options == 2 || options == 3 || options == 6 || options == 7;
  if (!ignores_errors || !out.is_error()) return;
  out = aggregate_second_pass(code, args, ctx);
}

}  // namespace cmx::formula
