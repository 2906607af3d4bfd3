// Statistics of paired values: CORREL, COVARIANCE.P, COVARIANCE.S, SLOPE and
// INTERCEPT, all over one pairing of their two arguments.
#include <cmath>
#include <limits>

#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/clip_ranges.h"
#include "functions/handlers.h"
#include "functions/stats_common.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

namespace {

// Gathered numbers are finite, so NaN marks a position without one.
constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();

struct Pairs {
  std::vector<double> x;  // from the first argument
  std::vector<double> y;  // from the second
};

// One entry per position of the argument, row-major; an Error anywhere ends
// the pairing.
Result<std::vector<double>, CellErrorCode> position_numbers(const Expr& arg,
                                                            const std::optional<SheetRange>& range,
                                                            EvalContext& ctx) {
  std::vector<double> entries;
  if (range) {
    CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(*range, ctx));
    entries.reserve(cells.size());
    for (const CellValue* cell : cells) {
      if (cell->is_error()) return unexpected(cell->as_error());
      entries.push_back(cell->is_number() ? cell->as_number() : kNoNumber);
    }
    return entries;
  }
  EvalResult result = eval_array(arg, ctx);
  if (!result.is_array()) {
    CellValue v = top_left_value(std::move(result));
    if (v.is_error()) return unexpected(v.as_error());
    entries.push_back(v.is_number() ? v.as_number() : kNoNumber);
    return entries;
  }
  ArrayNumberWalk walk{result.as_array().values};
  entries.reserve(walk.values.size());
  for (;;) {
    ArrayNumberStep step = next_array_number(walk);
    if (std::holds_alternative<WalkEnd>(step)) break;
    if (auto* code = std::get_if<CellErrorCode>(&step)) return unexpected(*code);
    auto* x = std::get_if<double>(&step);
    entries.push_back(x != nullptr ? *x : kNoNumber);
  }
  return entries;
}

// The two arguments as equally long lists of the positions where both hold
// a number.
Result<Pairs, CellErrorCode> collect_number_pairs(Args args, EvalContext& ctx) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  std::vector<std::optional<SheetRange>> ranges{eval_reference(*args[0], ctx),
                                                eval_reference(*args[1], ctx)};
  if (ranges[0] && ranges[1] &&
      ranges[0]->height * ranges[0]->width != ranges[1]->height * ranges[1]->width) {
    return unexpected(CellErrorCode::NA);
  }
  clip_reference_args(ranges, ctx);
  CMX_ASSIGN_OR_RETURN(auto first, position_numbers(*args[0], ranges[0], ctx));
  CMX_ASSIGN_OR_RETURN(auto second, position_numbers(*args[1], ranges[1], ctx));
  if (first.size() != second.size()) return unexpected(CellErrorCode::NA);
  Pairs pairs;
  for (size_t i = 0; i < first.size(); ++i) {
    if (std::isnan(first[i]) || std::isnan(second[i])) continue;
    pairs.x.push_back(first[i]);
    pairs.y.push_back(second[i]);
  }
  if (pairs.x.empty()) return unexpected(CellErrorCode::NA);
  return pairs;
}

// The means and the centred sums of a paired sample.
struct Moments {
  double n = 0;
  double mean_x = 0;
  double mean_y = 0;
  double sxx = 0;  // Σ(xi − x̄)²
  double syy = 0;  // Σ(yi − ȳ)²
  double sxy = 0;  // Σ(xi − x̄)(yi − ȳ)
};

Moments moments(const Pairs& p) {
  Moments m;
  m.n = static_cast<double>(p.x.size());
  m.mean_x = sum_in_order(p.x) / m.n;
  m.mean_y = sum_in_order(p.y) / m.n;
  for (size_t i = 0; i < p.x.size(); ++i) {
    const double dx = p.x[i] - m.mean_x;
    const double dy = p.y[i] - m.mean_y;
    m.sxx += dx * dx;
    m.syy += dy * dy;
    m.sxy += dx * dy;
  }
  return m;
}

// Pairs the arguments and hands their moments to `f`, which gives the value.
template <typename F>
void paired(CellValue& out, Args args, EvalContext& ctx, F f) {
  auto pairs = collect_number_pairs(args, ctx);
  out = pairs.has_value() ? f(moments(*pairs)) : CellValue::error(pairs.error());
}

// The first argument holds the y values and the second the x values.
void regression(CellValue& out, Args args, EvalContext& ctx, bool intercept) {
  paired(out, args, ctx, [&](const Moments& m) {
    // Pairs are (first, second) = (y, x): the roles of x and y swap.
    if (m.syy == 0) return CellValue::error(CellErrorCode::Div0);
    const double slope = m.sxy / m.syy;
    return finite_number(intercept ? m.mean_x - m.mean_y * slope : slope);
  });
}

void covariance(CellValue& out, Args args, EvalContext& ctx, double correction) {
  paired(out, args, ctx, [&](const Moments& m) {
    const double divisor = m.n - correction;
    if (divisor <= 0) return CellValue::error(CellErrorCode::Div0);
    return finite_number(m.sxy / divisor);
  });
}

}  // namespace

void fn_correl(CellValue& out, Args args, EvalContext& ctx) {
  paired(out, args, ctx, [](const Moments& m) {
    if (m.syy == 0 || m.sxx == 0) return CellValue::error(CellErrorCode::Div0);
    return finite_number(m.sxy / std::sqrt(m.sxx * m.syy));
  });
}

void fn_covariance_p(CellValue& out, Args args, EvalContext& ctx) {
  covariance(out, args, ctx, 0);
}
void fn_covariance_s(CellValue& out, Args args, EvalContext& ctx) {
  covariance(out, args, ctx, 1);
}
void fn_slope(CellValue& out, Args args, EvalContext& ctx) {
  regression(out, args, ctx, /*intercept=*/false);
}
void fn_intercept(CellValue& out, Args args, EvalContext& ctx) {
  regression(out, args, ctx, /*intercept=*/true);
}

}  // namespace cmx::formula
