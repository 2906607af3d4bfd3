// Aggregates whose arguments may be computed arrays. Each evaluates its
// arguments once; when none is an array the built-in answers instead, so an
// ordinary call behaves exactly as the built-in.
#include "arrayfns/array_aggregate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/array_eval.h"
#include "formula/value_coercion.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

enum class Reducer : uint8_t { Sum, Product, Min, Max, Average, Count };

std::vector<EvalResult> eval_all(Args args, EvalContext& ctx) {
  std::vector<EvalResult> results;
  results.reserve(args.size());
  for (const ExprPtr& arg : args) results.push_back(eval_array(*arg, ctx));
  return results;
}

bool any_array(const std::vector<EvalResult>& results) {
  return std::ranges::any_of(results, [](const EvalResult& r) { return r.is_array(); });
}

// A value read from a cell or an array element: numbers only; errors end
// the call unless skipped.
Result<void, CellErrorCode> collect_stored(const CellValue& v, bool skip_errors,
                                           std::vector<double>& numbers) {
  if (v.is_number()) numbers.push_back(v.as_number());
  if (v.is_error() && !skip_errors) return unexpected(v.as_error());
  return {};
}

Result<std::vector<double>, CellErrorCode> collect_numbers(Args args,
                                                           const std::vector<EvalResult>& results,
                                                           EvalContext& ctx, bool skip_errors) {
  std::vector<double> numbers;
  for (size_t i = 0; i < results.size(); ++i) {
    const EvalResult& r = results[i];
    if (r.is_lambda()) return unexpected(CellErrorCode::Value);
    if (r.is_array()) {
      for (const CellValue& v : r.as_array().values) CMX_TRY(collect_stored(v, skip_errors, numbers));
      continue;
    }
    if (eval_reference(*args[i], ctx)) {
      CMX_TRY(collect_stored(r.as_scalar(), skip_errors, numbers));
      continue;
    }
    CMX_ASSIGN_OR_RETURN(double x, operand_number(r.as_scalar()));
    numbers.push_back(x);
  }
  return numbers;
}

CellValue finite_or_num(double x) {
  return std::isfinite(x) ? CellValue::number(x) : CellValue::error(CellErrorCode::Num);
}

CellValue reduce(Reducer reducer, const std::vector<double>& xs) {
  switch (reducer) {
    case Reducer::Sum: {
      double sum = -0.0;
      for (double x : xs) sum += x;
      return finite_or_num(sum);
    }
    case Reducer::Product: {
      double product = 1;
      for (double x : xs) product *= x;
      return finite_or_num(product);
    }
    case Reducer::Min:
      if (xs.empty()) return CellValue::number(0);
      return finite_or_num(*std::ranges::min_element(xs));
    case Reducer::Max:
      if (xs.empty()) return CellValue::number(0);
      return finite_or_num(*std::ranges::max_element(xs));
    case Reducer::Average: {
      if (xs.empty()) return CellValue::error(CellErrorCode::Div0);
      double sum = -0.0;
      for (double x : xs) sum += x;
      return finite_or_num(sum / static_cast<double>(xs.size()));
    }
    case Reducer::Count:
      break;
  }
  return CellValue::number(static_cast<double>(xs.size()));
}

EvalResult aggregate_array(Args args, EvalContext& ctx, std::string_view name, Reducer reducer) {
  std::vector<EvalResult> results = eval_all(args, ctx);
  if (!any_array(results)) return call_builtin_fallback(name, args, ctx);
  auto numbers = collect_numbers(args, results, ctx, reducer == Reducer::Count);
  if (!numbers.has_value()) return EvalResult::error(numbers.error());
  return EvalResult::scalar(reduce(reducer, *numbers));
}

EvalResult counta(Args args, EvalContext& ctx) {
  std::vector<EvalResult> results = eval_all(args, ctx);
  if (!any_array(results)) return call_builtin_fallback("COUNTA", args, ctx);
  uint64_t count = 0;
  for (const EvalResult& r : results) {
    if (r.is_lambda()) return EvalResult::error(CellErrorCode::Value);
    if (r.is_array()) {
      count += static_cast<uint64_t>(
          std::ranges::count_if(r.as_array().values, [](const CellValue& v) { return !v.is_empty(); }));
    } else if (!r.as_scalar().is_empty()) {
      ++count;
    }
  }
  return EvalResult::scalar(CellValue::number(static_cast<double>(count)));
}

Result<double, CellErrorCode> product_factor(const CellValue& v) {
  if (v.is_error()) return unexpected(v.as_error());
  if (v.is_number()) return v.as_number();
  if (v.is_bool()) return v.as_bool() ? 1.0 : 0.0;
  return 0.0;
}

Result<CellValue, CellErrorCode> sumproduct(Args args, EvalContext& ctx,
                                            const std::vector<EvalResult>& results) {
  uint64_t rows = 1;
  uint64_t cols = 1;
  uint64_t paid = 0;
  for (const EvalResult& r : results) {
    rows = std::max(rows, r.rows());
    cols = std::max(cols, r.cols());
    if (r.is_array()) paid += r.rows() * r.cols();
  }
  uint64_t cells = 0;
  uint64_t work = std::numeric_limits<uint64_t>::max();
  if (!__builtin_mul_overflow(rows, cols, &cells) &&
      !__builtin_mul_overflow(cells, uint64_t{args.size()}, &work)) {
    work = work > paid ? work - paid : 0;
  }
  if (!charge_cells(ctx, work)) return unexpected(CellErrorCode::Num);
  double sum = 0;
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) {
      double product = 1;
      for (const EvalResult& arg : results) {
        CMX_ASSIGN_OR_RETURN(double x, product_factor(array_element_at(arg, r, c)));
        product *= x;
      }
      sum += product;
    }
  }
  return finite_or_num(sum);
}

EvalResult sumproduct_handler(Args args, EvalContext& ctx) {
  std::vector<EvalResult> results = eval_all(args, ctx);
  if (!any_array(results)) return call_builtin_fallback("SUMPRODUCT", args, ctx);
  auto value = sumproduct(args, ctx, results);
  if (!value.has_value()) return EvalResult::error(value.error());
  return EvalResult::scalar(std::move(*value));
}

}  // namespace

Result<double, CellErrorCode> operand_number(const CellValue& v) {
  switch (v.kind()) {
    case CellValue::Kind::Number:
      if (!std::isfinite(v.as_number())) return unexpected(CellErrorCode::Num);
      return v.as_number();
    case CellValue::Kind::Text: {
      std::optional<double> x = parse_number_text(v.as_text());
      if (!x) return unexpected(CellErrorCode::Value);
      return *x;
    }
    case CellValue::Kind::Bool:
      return v.as_bool() ? 1.0 : 0.0;
    case CellValue::Kind::Empty:
      return 0.0;
    case CellValue::Kind::Error:
      break;
  }
  return unexpected(v.as_error());
}

void array_fn_sum(EvalResult& out, Args args, EvalContext& ctx) {
  out = aggregate_array(args, ctx, "SUM", Reducer::Sum);
}
void array_fn_product(EvalResult& out, Args args, EvalContext& ctx) {
  out = aggregate_array(args, ctx, "PRODUCT", Reducer::Product);
}
void array_fn_min(EvalResult& out, Args args, EvalContext& ctx) {
  out = aggregate_array(args, ctx, "MIN", Reducer::Min);
}
void array_fn_max(EvalResult& out, Args args, EvalContext& ctx) {
  out = aggregate_array(args, ctx, "MAX", Reducer::Max);
}
void array_fn_average(EvalResult& out, Args args, EvalContext& ctx) {
  out = aggregate_array(args, ctx, "AVERAGE", Reducer::Average);
}
void array_fn_count(EvalResult& out, Args args, EvalContext& ctx) {
  out = aggregate_array(args, ctx, "COUNT", Reducer::Count);
}
void array_fn_counta(EvalResult& out, Args args, EvalContext& ctx) { out = counta(args, ctx); }
void array_fn_sumproduct(EvalResult& out, Args args, EvalContext& ctx) {
  out = sumproduct_handler(args, ctx);
}

}  // namespace cmx::formula
