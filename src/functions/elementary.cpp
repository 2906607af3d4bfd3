// Powers, logarithms, trigonometric and hyperbolic functions: the platform's
// C math functions on doubles, every non-finite result "#NUM!". PI is
// answered by the dispatcher.
#include <cmath>

#include "functions/handlers.h"
#include "functions/numeric_args.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

void fn_power(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx,
                [](double base, double exponent) { return number_result(std::pow(base, exponent)); });
}

void fn_sqrt(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::sqrt(x); });
}

void fn_exp(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::exp(x); });
}

void fn_ln(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::log(x); });
}

void fn_log10(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::log10(x); });
}

// The base is read first and its error wins; the default base 10 goes
// through the natural logarithm too, so LOG(1000) is 2.9999999999999996.
void fn_log(CellValue& out, Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 2) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  double base = 10;
  if (args.size() == 2) {
    auto given = arg_number(args, 1, ctx);
    if (!given.has_value()) {
      out = CellValue::error(given.error());
      return;
    }
    base = *given;
  }
  auto x = arg_number(args, 0, ctx);
  if (!x.has_value()) {
    out = CellValue::error(x.error());
    return;
  }
  if (base == 1 || base <= 0 || *x <= 0) {
    out = CellValue::error(CellErrorCode::Num);
    return;
  }
  out = number_result(std::log(*x) / std::log(base));
}

void fn_sin(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::sin(x); });
}

void fn_cos(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::cos(x); });
}

void fn_tan(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::tan(x); });
}

void fn_asin(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::asin(x); });
}

void fn_acos(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::acos(x); });
}

void fn_atan(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::atan(x); });
}

// ATAN2(x, y): the arguments in the opposite order to the C function.
void fn_atan2(CellValue& out, Args args, EvalContext& ctx) {
  binary_number(out, args, ctx, [](double x, double y) {
    if (x == 0 && y == 0) return CellValue::error(CellErrorCode::Div0);
    return number_result(std::atan2(y, x));
  });
}

void fn_sinh(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::sinh(x); });
}

void fn_cosh(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::cosh(x); });
}

void fn_tanh(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return std::tanh(x); });
}

// One multiplication by the rounded constant, not by 180 and then by 1/pi.
void fn_degrees(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return x * 57.29577951308232; });
}

void fn_radians(CellValue& out, Args args, EvalContext& ctx) {
  unary_number(out, args, ctx, [](double x) { return x * 0.017453292519943295; });
}

}  // namespace cmx::formula
