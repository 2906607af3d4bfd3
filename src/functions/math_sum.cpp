// The summing and multiplying built-ins: SUM, SUMSQ, PRODUCT, SUMPRODUCT,
// MMULT, SERIESSUM, SUMIF and SUMIFS.
#include <cmath>

#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/clip_ranges.h"
#include "functions/criteria.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

// A row-major matrix of numbers.
struct Matrix {
  std::vector<double> values;
  uint64_t height = 0;
  uint64_t width = 0;
};

// One SUMPRODUCT operand: Numbers as they are, an Error as the result,
// everything else 0.
Result<Matrix, CellErrorCode> sumproduct_operand(const Expr& arg,
                                                 const std::optional<SheetRange>& range,
                                                 EvalContext& ctx) {
  Matrix m;
  auto take = [&](const CellValue& v) -> Result<void, CellErrorCode> {
    if (v.is_error()) return unexpected(v.as_error());
    m.values.push_back(v.is_number() ? v.as_number() : 0.0);
    return {};
  };
  if (range) {
    CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(*range, ctx));
    m.height = range->height;
    m.width = range->width;
    m.values.reserve(cells.size());
    for (const CellValue* cell : cells) CMX_TRY(take(*cell));
    return m;
  }
  EvalResult result = eval_array(arg, ctx);
  if (result.is_array()) {
    const ArrayValue& array = result.as_array();
    m.height = array.rows;
    m.width = array.cols;
    m.values.reserve(array.values.size());
    for (const CellValue& v : array.values) CMX_TRY(take(v));
    return m;
  }
  CMX_ASSIGN_OR_RETURN(double x, value_to_number(top_left_value(std::move(result))));
  m.values.push_back(x);
  m.height = m.width = 1;
  return m;
}

Result<Matrix, CellErrorCode> mmult_operand(const Expr& arg, EvalContext& ctx) {
  Matrix m;
  std::optional<SheetRange> range = eval_reference(arg, ctx);
  if (!range) {
    CellValue v = eval_scalar(arg, ctx);
    if (v.is_error()) return unexpected(v.as_error());
    if (!v.is_number()) return unexpected(CellErrorCode::Value);
    m.values.push_back(v.as_number());
    m.height = m.width = 1;
    return m;
  }
  SheetRange clipped = clip_to_used(*range, ctx);
  CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(clipped, ctx));
  m.height = clipped.height;
  m.width = clipped.width;
  m.values.reserve(cells.size());
  for (const CellValue* cell : cells) {
    if (cell->is_error()) return unexpected(cell->as_error());
    if (!cell->is_number()) return unexpected(CellErrorCode::Value);
    m.values.push_back(cell->as_number());
  }
  return m;
}

// The Number cells of the sum range at the positions where every pair
// holds; Text, Bool, Empty and Error cells add nothing.
CellValue sum_matched_numbers(const std::vector<CriteriaPair>& pairs, const SheetRange& sum_range,
                              EvalContext& ctx) {
  double sum = 0.0;
  auto done = for_each_match(
      pairs, ctx, [&](uint64_t, uint64_t row, uint64_t col) -> Result<void, CellErrorCode> {
        CMX_ASSIGN_OR_RETURN(const CellValue* v, peek_range_cell(sum_range, row, col, ctx));
        if (v->is_number()) sum += v->as_number();
        return {};
      });
  if (!done.has_value()) return CellValue::error(done.error());
  return finite_number(sum);
}

}  // namespace

void fn_sum(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  // Starting from -0 keeps the sign of a sum of negative zeros.
  double sum = -0.0;
  for (double x : *numbers) sum += x;
  out = finite_number(sum);
}

void fn_sumsq(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_arg_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  double sum = -0.0;
  for (double x : *numbers) sum += x * x;
  out = finite_number(sum);
}

void fn_product(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  if (numbers->empty()) {
    out = CellValue::number(0);
    return;
  }
  double product = 1.0;
  for (double x : *numbers) product *= x;
  out = finite_number(product);
}

void fn_sumproduct(CellValue& out, Args args, EvalContext& ctx) {
  if (args.empty()) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  std::vector<std::optional<SheetRange>> ranges;
  ranges.reserve(args.size());
  for (const ExprPtr& arg : args) ranges.push_back(eval_reference(*arg, ctx));
  clip_reference_args(ranges, ctx);
  // The products are kept running, one per element, instead of holding every
  // operand; a shape mismatch is reported only after every operand has had
  // its chance to fail with an error of its own.
  std::vector<double> products;
  uint64_t height = 0, width = 0;
  bool mismatch = false;
  for (size_t i = 0; i < args.size(); ++i) {
    auto m = sumproduct_operand(*args[i], ranges[i], ctx);
    if (!m.has_value()) {
      out = CellValue::error(m.error());
      return;
    }
    if (i == 0) {
      height = m->height;
      width = m->width;
      products = std::move(m->values);
      continue;
    }
    if (m->height != height || m->width != width || m->values.size() != products.size()) {
      mismatch = true;
    }
    if (mismatch) continue;
    for (size_t k = 0; k < products.size(); ++k) products[k] *= m->values[k];
  }
  if (mismatch) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  double sum = 0.0;
  for (double p : products) sum += p;
  out = finite_number(sum);
}

void fn_mmult(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto a = mmult_operand(*args[0], ctx);
  if (!a.has_value()) {
    out = CellValue::error(a.error());
    return;
  }
  auto b = mmult_operand(*args[1], ctx);
  if (!b.has_value()) {
    out = CellValue::error(b.error());
    return;
  }
  if (a->width != b->height) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  double sum = 0.0;
  for (uint64_t k = 0; k < a->width; ++k) sum += a->values[k] * b->values[k * b->width];
  out = finite_number(sum);
}

void fn_seriessum(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 4) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto x = arg_number(args, 0, ctx);
  auto n = arg_number(args, 1, ctx);
  auto m = arg_number(args, 2, ctx);
  for (const auto* r : {&x, &n, &m}) {
    if (!r->has_value()) {
      out = CellValue::error(r->error());
      return;
    }
  }
  std::vector<double> coefficients;
  if (std::optional<SheetRange> range = eval_reference(*args[3], ctx)) {
    auto cells = read_range_values(clip_to_used(*range, ctx), ctx);
    if (!cells.has_value()) {
      out = CellValue::error(cells.error());
      return;
    }
    for (const CellValue* cell : *cells) {
      if (cell->is_empty()) continue;
      if (cell->is_error()) {
        out = *cell;
        return;
      }
      if (!cell->is_number()) {
        out = CellValue::error(CellErrorCode::Value);
        return;
      }
      coefficients.push_back(cell->as_number());
    }
  } else {
    CellValue v = eval_scalar(*args[3], ctx);
    if (v.is_error() || !v.is_number()) {
      out = v.is_error() ? v : CellValue::error(CellErrorCode::Value);
      return;
    }
    coefficients.push_back(v.as_number());
  }
  double sum = 0.0;
  for (size_t i = 0; i < coefficients.size(); ++i) {
    double exponent = static_cast<double>(i) * *m + *n;
    sum += std::pow(*x, exponent) * coefficients[i];
  }
  out = finite_number(sum);
}

void fn_sumif(CellValue& out, Args args, EvalContext& ctx) {
  auto set = build_single_criterion_set(args, /*pass_range_error=*/true, ctx);
  out = set.has_value() ? sum_matched_numbers(set->pairs, *set->value_range, ctx)
                        : CellValue::error(set.error());
}

void fn_sumifs(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  std::optional<CriteriaSet> set = build_criteria_set(args.subspan(1), args[0].get(), ctx);
  if (!set) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  out = sum_matched_numbers(set->pairs, *set->value_range, ctx);
}

}  // namespace cmx::formula
