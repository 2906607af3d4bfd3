// Linear regression (LINEST, TREND), the matrix product and bin counts.
#include "arrayfns/matrix.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "arrayfns/array_aggregate.h"
#include "arrayfns/filter_sort.h"
#include "arrayfns/shape.h"
#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/references.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

constexpr uint64_t kMaxWorkCharge = (uint64_t{1} << 60) - 1;
constexpr double kTinyNorm = 1e-300;
constexpr double kTinyPivot = 1e-12;

// floor(a × b × c / 16) cells, saturating.
Result<void, CellErrorCode> charge_work(EvalContext& ctx, uint64_t a, uint64_t b, uint64_t c) {
  uint64_t product = 0;
  uint64_t cost = kMaxWorkCharge;
  if (!__builtin_mul_overflow(a, b, &product) && !__builtin_mul_overflow(product, c, &product)) {
    cost = std::min(product / 16, kMaxWorkCharge);
  }
  if (!charge_cells(ctx, cost)) return fail(CellErrorCode::Num);
  return {};
}

CellValue finite_or_num(double x) {
  return std::isfinite(x) ? CellValue::number(x) : CellValue::error(CellErrorCode::Num);
}

Result<std::vector<double>, CellErrorCode> operand_numbers(const ArrayValue& array) {
  std::vector<double> out;
  out.reserve(array.values.size());
  for (const CellValue& v : array.values) {
    CMX_ASSIGN_OR_RETURN(double x, operand_number(v));
    out.push_back(x);
  }
  return out;
}

// None for an absent or omitted argument, or one that evaluates to Empty.
Result<std::optional<ArrayValue>, CellErrorCode> arg_optional_array(Args args, size_t i,
                                                                    EvalContext& ctx) {
  if (i >= args.size() || is_omitted(*args[i])) return std::optional<ArrayValue>();
  EvalResult result = eval_array(*args[i], ctx);
  if (result.is_lambda()) return fail(CellErrorCode::Value);
  if (result.is_array()) {
    return std::optional<ArrayValue>(std::get<ArrayValue>(std::move(result.value)));
  }
  CellValue& v = std::get<CellValue>(result.value);
  if (v.is_empty()) return std::optional<ArrayValue>();
  if (v.is_error()) return fail(v.as_error());
  ArrayValue one;
  one.values.push_back(std::move(v));
  one.rows = one.cols = 1;
  return std::optional<ArrayValue>(std::move(one));
}

struct KnownValues {
  std::vector<double> y;
  std::vector<std::vector<double>> variables;
  uint64_t rows = 0;  // known_y's shape
  uint64_t cols = 0;
  bool y_is_column() const { return cols == 1 && rows > 1; }
};

Result<KnownValues, CellErrorCode> known_values(Args args, EvalContext& ctx,
                                                std::optional<ArrayValue> known_x) {
  KnownValues known;
  CMX_ASSIGN_OR_RETURN(ArrayValue y, arg_as_array(args, 0, ctx));
  known.rows = y.rows;
  known.cols = y.cols;
  CMX_ASSIGN_OR_RETURN(known.y, operand_numbers(y));
  const uint64_t n = known.y.size();
  if (!known_x) {
    std::vector<double> counting(n);
    for (uint64_t i = 0; i < n; ++i) counting[i] = static_cast<double>(i + 1);
    known.variables.push_back(std::move(counting));
    return known;
  }
  CMX_ASSIGN_OR_RETURN(std::vector<double> x, operand_numbers(*known_x));
  // Variables run along known_y's length: columns of known_x beside a
  // column of observations, rows otherwise.
  const bool by_columns = known.y_is_column();
  if ((by_columns ? known_x->rows : known_x->cols) != n) return fail(CellErrorCode::Ref);
  const uint64_t f = by_columns ? known_x->cols : known_x->rows;
  known.variables.assign(f, std::vector<double>(n));
  for (uint64_t v = 0; v < f; ++v) {
    for (uint64_t i = 0; i < n; ++i) {
      known.variables[v][i] = by_columns ? x[i * known_x->cols + v] : x[v * known_x->cols + i];
    }
  }
  return known;
}

// The intercept is added last, after the variables in their order.
double predict_value(const LinearFit& fit, std::span<const double> point) {
  double sum = 0;
  for (size_t v = 0; v < fit.coefficients.size(); ++v) sum += fit.coefficients[v] * point[v];
  return sum + fit.intercept;
}

// A scalar argument read as a truth value; an empty argument is FALSE.
Result<bool, CellErrorCode> scalar_flag(Args args, size_t i, EvalContext& ctx) {
  CellValue v = eval_scalar(*args[i], ctx);
  if (v.is_error()) return fail(v.as_error());
  return value_to_bool(v);
}

ArrayOutcome linest(Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 4) return fail(CellErrorCode::Value);
  std::optional<ArrayValue> known_x;
  if (args.size() >= 2) {
    CMX_ASSIGN_OR_RETURN(ArrayValue x, arg_as_array(args, 1, ctx));
    known_x = std::move(x);
  }
  CMX_ASSIGN_OR_RETURN(KnownValues known, known_values(args, ctx, std::move(known_x)));
  bool constant = true;
  if (args.size() >= 3) {
    CMX_ASSIGN_OR_RETURN(constant, scalar_flag(args, 2, ctx));
  }
  bool stats = false;
  if (args.size() == 4) {
    CMX_ASSIGN_OR_RETURN(stats, scalar_flag(args, 3, ctx));
  }
  const uint64_t f = known.variables.size();
  const uint64_t rows = stats ? 5 : 1;
  const uint64_t cols = f + 1;
  CMX_TRY(charge_array_cells(ctx, rows, cols));
  CMX_ASSIGN_OR_RETURN(LinearFit fit, least_squares_solve(ctx, known.y, known.variables, constant));
  const CellValue na = CellValue::error(CellErrorCode::NA);
  std::vector<CellValue> values;
  values.reserve(rows * cols);
  for (uint64_t v = f; v-- > 0;) values.push_back(finite_or_num(fit.coefficients[v]));
  values.push_back(finite_or_num(fit.intercept));
  if (stats) {
    for (uint64_t v = f; v-- > 0;) values.push_back(finite_or_num(fit.coefficient_se[v]));
    values.push_back(constant ? finite_or_num(fit.intercept_se) : na);
    const double pairs[3][2] = {{fit.r2, fit.se_y},
                                {fit.f_stat, fit.degrees_of_freedom},
                                {fit.ss_regression, fit.ss_residual}};
    for (const auto& pair : pairs) {
      values.push_back(finite_or_num(pair[0]));
      values.push_back(finite_or_num(pair[1]));
      for (uint64_t c = 2; c < cols; ++c) values.push_back(na);
    }
  }
  return make_array(rows, cols, std::move(values));
}

ArrayOutcome trend(Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 4) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::optional<ArrayValue> known_x, arg_optional_array(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(KnownValues known, known_values(args, ctx, std::move(known_x)));
  CMX_ASSIGN_OR_RETURN(bool constant, arg_bool_or_default(args, 3, ctx, true));
  CMX_ASSIGN_OR_RETURN(LinearFit fit, least_squares_solve(ctx, known.y, known.variables, constant));
  CMX_ASSIGN_OR_RETURN(std::optional<ArrayValue> new_x, arg_optional_array(args, 2, ctx));
  const uint64_t f = known.variables.size();
  std::vector<double> point(f);
  std::vector<CellValue> values;
  if (!new_x) {
    CMX_TRY(charge_array_cells(ctx, known.rows, known.cols));
    values.reserve(known.y.size());
    for (uint64_t i = 0; i < known.y.size(); ++i) {
      for (uint64_t v = 0; v < f; ++v) point[v] = known.variables[v][i];
      values.push_back(finite_or_num(predict_value(fit, point)));
    }
    return make_array(known.rows, known.cols, std::move(values));
  }
  if (f == 1) {
    CMX_TRY(charge_array_cells(ctx, new_x->rows, new_x->cols));
    values.reserve(new_x->values.size());
    for (const CellValue& v : new_x->values) {
      CMX_ASSIGN_OR_RETURN(point[0], value_to_number(v));
      values.push_back(finite_or_num(predict_value(fit, point)));
    }
    return make_array(new_x->rows, new_x->cols, std::move(values));
  }
  // Several variables: a point per row of new_x beside a column of
  // observations, a point per column otherwise.
  const bool by_rows = known.y_is_column();
  if ((by_rows ? new_x->cols : new_x->rows) != f) return fail(CellErrorCode::Ref);
  const uint64_t points = by_rows ? new_x->rows : new_x->cols;
  CMX_TRY(charge_array_cells(ctx, by_rows ? points : 1, by_rows ? 1 : points));
  values.reserve(points);
  for (uint64_t p = 0; p < points; ++p) {
    for (uint64_t v = 0; v < f; ++v) {
      const CellValue& x = by_rows ? new_x->values[p * new_x->cols + v]
                                   : new_x->values[v * new_x->cols + p];
      CMX_ASSIGN_OR_RETURN(point[v], value_to_number(x));
    }
    values.push_back(finite_or_num(predict_value(fit, point)));
  }
  return make_array(by_rows ? points : 1, by_rows ? 1 : points, std::move(values));
}

// Each operand converted, its failure kept for the moment the product
// would have read it, so the first failure in product order is the answer.
struct Operands {
  std::vector<double> numbers;
  std::vector<std::optional<CellErrorCode>> failures;
  explicit Operands(const ArrayValue& array)
      : numbers(array.values.size()), failures(array.values.size()) {
    for (size_t i = 0; i < array.values.size(); ++i) {
      auto x = operand_number(array.values[i]);
      if (x.has_value()) {
        numbers[i] = *x;
      } else {
        failures[i] = x.error();
      }
    }
  }
};

ArrayOutcome mmult(Args args, EvalContext& ctx) {
  if (args.size() != 2) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue a, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue b, arg_as_array(args, 1, ctx));
  if (a.cols != b.rows) return fail(CellErrorCode::Value);
  CMX_TRY(charge_array_cells(ctx, a.rows, b.cols));
  CMX_TRY(charge_work(ctx, a.cols, a.rows, b.cols));
  const Operands left(a);
  const Operands right(b);
  std::vector<CellValue> values;
  values.reserve(a.rows * b.cols);
  for (uint64_t i = 0; i < a.rows; ++i) {
    for (uint64_t j = 0; j < b.cols; ++j) {
      double sum = 0;
      for (uint64_t k = 0; k < a.cols; ++k) {
        const uint64_t ai = i * a.cols + k;
        const uint64_t bi = k * b.cols + j;
        if (left.failures[ai]) return fail(*left.failures[ai]);
        if (right.failures[bi]) return fail(*right.failures[bi]);
        sum += left.numbers[ai] * right.numbers[bi];
      }
      values.push_back(finite_or_num(sum));
    }
  }
  return make_array(a.rows, b.cols, std::move(values));
}

// The Numbers of an array, row-major; other kinds skipped, errors returned.
Result<std::vector<double>, CellErrorCode> collect_array_numbers(const ArrayValue& array) {
  std::vector<double> out;
  for (const CellValue& v : array.values) {
    if (v.is_error()) return fail(v.as_error());
    if (v.is_number()) out.push_back(v.as_number());
  }
  return out;
}

ArrayOutcome frequency(Args args, EvalContext& ctx) {
  if (args.size() != 2) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue data_array, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayValue bins_array, arg_as_array(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(std::vector<double> data, collect_array_numbers(data_array));
  CMX_ASSIGN_OR_RETURN(std::vector<double> bins, collect_array_numbers(bins_array));
  const uint64_t m = bins.size();
  if (m == 0) return EvalResult::scalar(CellValue::number(static_cast<double>(data.size())));
  CMX_TRY(charge_array_cells(ctx, m + 1, 1));
  std::vector<uint64_t> order = indices_ascending(m);
  std::ranges::stable_sort(order, [&](uint64_t p, uint64_t q) { return bins[p] < bins[q]; });
  std::vector<double> sorted(m);
  for (uint64_t k = 0; k < m; ++k) sorted[k] = bins[order[k]];
  std::vector<uint64_t> counts(m + 1, 0);
  for (double x : data) {
    ++counts[static_cast<uint64_t>(std::ranges::lower_bound(sorted, x) - sorted.begin())];
  }
  std::vector<CellValue> values(m + 1);
  for (uint64_t k = 0; k < m; ++k) {
    values[order[k]] = CellValue::number(static_cast<double>(counts[k]));
  }
  values[m] = CellValue::number(static_cast<double>(counts[m]));
  return make_array(m + 1, 1, std::move(values));
}

}  // namespace

Result<LinearFit, CellErrorCode> least_squares_solve(EvalContext& ctx, std::span<const double> y,
                                                     std::span<const std::vector<double>> variables,
                                                     bool constant) {
  const uint64_t n = y.size();
  const uint64_t f = variables.size();
  const uint64_t d = f + (constant ? 1 : 0);
  CMX_TRY(charge_work(ctx, n, d, d));
  if (n == 0 || f == 0 || d >= n) return fail(CellErrorCode::Num);
  for (const auto& v : variables) {
    if (v.size() != n) return fail(CellErrorCode::Num);
  }
  // Row-major n × d design matrix; the constant column last.
  std::vector<double> a(n * d);
  for (uint64_t i = 0; i < n; ++i) {
    for (uint64_t j = 0; j < f; ++j) a[i * d + j] = variables[j][i];
    if (constant) a[i * d + f] = 1;
  }
  std::vector<double> b(y.begin(), y.end());
  std::vector<double> v(n);
  for (uint64_t j = 0; j < d; ++j) {
    double norm2 = 0;
    for (uint64_t i = j; i < n; ++i) norm2 += a[i * d + j] * a[i * d + j];
    const double s = std::sqrt(norm2);
    if (s < kTinyNorm) return fail(CellErrorCode::Num);
    const double alpha = a[j * d + j] > 0 ? -s : s;
    v[j] = a[j * d + j] - alpha;
    double vv = v[j] * v[j];
    for (uint64_t i = j + 1; i < n; ++i) {
      v[i] = a[i * d + j];
      vv += v[i] * v[i];
    }
    if (vv < kTinyNorm) {
      a[j * d + j] = alpha;
      continue;
    }
    for (uint64_t k = j; k < d; ++k) {
      double t = 0;
      for (uint64_t i = j; i < n; ++i) t += v[i] * a[i * d + k];
      const double scale = 2 * t / vv;
      for (uint64_t i = j; i < n; ++i) a[i * d + k] -= v[i] * scale;
    }
    double t = 0;
    for (uint64_t i = j; i < n; ++i) t += v[i] * b[i];
    const double scale = 2 * t / vv;
    for (uint64_t i = j; i < n; ++i) b[i] -= v[i] * scale;
  }
  std::vector<double> coef(d);
  for (uint64_t j = d; j-- > 0;) {
    const double r = a[j * d + j];
    if (std::fabs(r) < kTinyPivot) return fail(CellErrorCode::Num);
    double sum = 0;
    for (uint64_t k = j + 1; k < d; ++k) sum += a[j * d + k] * coef[k];
    coef[j] = (b[j] - sum) / r;
  }
  // The inverse of the upper triangle, for the coefficients' errors.
  std::vector<double> u(d * d, 0);
  for (uint64_t j = d; j-- > 0;) {
    u[j * d + j] = 1 / a[j * d + j];
    for (uint64_t k = j + 1; k < d; ++k) {
      double sum = 0;
      for (uint64_t m = j + 1; m <= k; ++m) sum += a[j * d + m] * u[m * d + k];
      u[j * d + k] = -sum / a[j * d + j];
    }
  }
  double mean = 0;
  if (constant) {
    for (double yi : y) mean += yi;
    mean /= static_cast<double>(n);
  }
  double total = 0;
  double residual = 0;
  for (uint64_t i = 0; i < n; ++i) {
    double fitted = 0;
    for (uint64_t j = 0; j < f; ++j) fitted += coef[j] * variables[j][i];
    if (constant) fitted += coef[f];
    const double centred = y[i] - mean;
    total += centred * centred;
    residual += (y[i] - fitted) * (y[i] - fitted);
  }
  LinearFit fit;
  const double df = static_cast<double>(n - d);
  const double sigma2 = residual / df;
  fit.degrees_of_freedom = df;
  fit.ss_residual = residual;
  fit.ss_regression = total - residual;
  fit.r2 = total == 0 ? 1 : 1 - residual / total;
  fit.se_y = std::sqrt(sigma2);
  fit.f_stat = residual == 0 ? std::numeric_limits<double>::infinity()
                             : (fit.ss_regression / static_cast<double>(f)) / sigma2;
  auto standard_error = [&](uint64_t j) {
    double sum = 0;
    for (uint64_t k = j; k < d; ++k) sum += u[j * d + k] * u[j * d + k];
    return std::sqrt(sigma2 * sum);
  };
  fit.coefficients.assign(coef.begin(), coef.begin() + static_cast<ptrdiff_t>(f));
  for (uint64_t j = 0; j < f; ++j) fit.coefficient_se.push_back(standard_error(j));
  if (constant) {
    fit.intercept = coef[f];
    fit.intercept_se = standard_error(f);
  }
  return fit;
}

void array_fn_linest(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(linest(args, ctx));
}
void array_fn_trend(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(trend(args, ctx));
}
void array_fn_mmult(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(mmult(args, ctx));
}
void array_fn_frequency(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(frequency(args, ctx));
}

}  // namespace cmx::formula
