// What the numeric handlers share: a finite result or "#NUM!", two number
// arguments both evaluated before either is looked at, and the common shape
// of a one-argument numeric function.
#pragma once

#include <cmath>
#include <utility>

#include "functions/arg_coercion.h"

namespace cmx::formula {

inline model::CellValue number_result(double x) {
  return std::isfinite(x) ? model::CellValue::number(x)
                          : model::CellValue::error(model::CellErrorCode::Num);
}

// Arguments i and i + 1 with arg_number, both evaluated (evaluation has
// effects on budgets and counters); the first one's error wins.
inline Result<std::pair<double, double>, model::CellErrorCode> arg_number_pair(Args args,
                                                                               size_t i,
                                                                               EvalContext& ctx) {
  auto first = arg_number(args, i, ctx);
  auto second = arg_number(args, i + 1, ctx);
  if (!first.has_value()) return unexpected(first.error());
  if (!second.has_value()) return unexpected(second.error());
  return std::pair{*first, *second};
}

// Exactly one argument read with arg_number, mapped by `f`; a non-finite
// result is "#NUM!".
template <typename F>
void unary_number(model::CellValue& out, Args args, EvalContext& ctx, F f) {
  if (args.size() != 1) {
    out = model::CellValue::error(model::CellErrorCode::Value);
    return;
  }
  auto x = arg_number(args, 0, ctx);
  out = x.has_value() ? number_result(f(*x)) : model::CellValue::error(x.error());
}

// Exactly two arguments, both read with arg_number; `f` maps the pair to the
// result value.
template <typename F>
void binary_number(model::CellValue& out, Args args, EvalContext& ctx, F f) {
  if (args.size() != 2) {
    out = model::CellValue::error(model::CellErrorCode::Value);
    return;
  }
  auto pair = arg_number_pair(args, 0, ctx);
  out = pair.has_value() ? f(pair->first, pair->second) : model::CellValue::error(pair.error());
}

}  // namespace cmx::formula
