// Financial functions at a constant rate per period: FV, PV, PMT, NPER and
// NPV. Each formula keeps one fixed order of floating-point operations, so
// results agree to the last bit with the closed forms they are written from.
#include <cmath>

#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/handlers.h"
#include "functions/text_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// A trailing optional argument: absent or omitted is 0; a text must be a
// number (no date reading).
Result<double, CellErrorCode> optional_number_arg(Args args, size_t i, EvalContext& ctx) {
  if (!arg_given(args, i)) return 0.0;
  return value_to_number(eval_scalar(*args[i], ctx));
}

// The three required numbers, all evaluated before the first error is
// reported, then the two optional ones in order.
struct AnnuityArgs {
  double first = 0, second = 0, third = 0, fourth = 0;
  bool at_start = false;  // payments at the beginning of each period
};

Result<AnnuityArgs, CellErrorCode> annuity_args(Args args, EvalContext& ctx) {
  if (args.size() < 3 || args.size() > 5) return unexpected(CellErrorCode::Value);
  auto a = arg_number(args, 0, ctx);
  auto b = arg_number(args, 1, ctx);
  auto c = arg_number(args, 2, ctx);
  if (!a.has_value()) return unexpected(a.error());
  if (!b.has_value()) return unexpected(b.error());
  if (!c.has_value()) return unexpected(c.error());
  CMX_ASSIGN_OR_RETURN(double fourth, optional_number_arg(args, 3, ctx));
  CMX_ASSIGN_OR_RETURN(double type, optional_number_arg(args, 4, ctx));
  return AnnuityArgs{*a, *b, *c, fourth, type != 0};
}

CellValue finite_number(double x) {
  return std::isfinite(x) ? CellValue::number(x) : CellValue::error(CellErrorCode::Num);
}

Result<CellValue, CellErrorCode> future_value(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(AnnuityArgs a, annuity_args(args, ctx));
  const double rate = a.first, nper = a.second, pmt = a.third, pv = a.fourth;
  if (rate == 0) return finite_number(-(nper * pmt + pv));
  const double d = std::pow(1 + rate, nper);
  const double p = a.at_start ? (1 + rate) * pmt : pmt;
  return finite_number(-(((d - 1) * p) / rate + pv * d));
}

Result<CellValue, CellErrorCode> present_value(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(AnnuityArgs a, annuity_args(args, ctx));
  const double rate = a.first, nper = a.second, pmt = a.third, fv = a.fourth;
  if (rate == 0) return finite_number(-(nper * pmt + fv));
  const double d = std::pow(1 + rate, nper);
  const double p = a.at_start ? (1 + rate) * pmt : pmt;
  return finite_number(-(fv + ((d - 1) * p) / rate) / d);
}

Result<CellValue, CellErrorCode> payment(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(AnnuityArgs a, annuity_args(args, ctx));
  const double rate = a.first, nper = a.second, pv = a.third, fv = a.fourth;
  if (nper == 0) return unexpected(CellErrorCode::Num);
  if (rate == 0) return finite_number(-(pv + fv) / nper);
  const double d = std::pow(1 + rate, nper);
  const double k = a.at_start ? 1 + rate : 1;
  return finite_number((-(pv * d + fv) * rate) / ((d - 1) * k));
}

Result<CellValue, CellErrorCode> period_count(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(AnnuityArgs a, annuity_args(args, ctx));
  const double rate = a.first, pmt = a.second, pv = a.third, fv = a.fourth;
  if (rate == 0) {
    if (pmt == 0) return unexpected(CellErrorCode::Num);
    return finite_number(-(pv + fv) / pmt);
  }
  const double p = a.at_start ? pmt * (1 + rate) : pmt;
  const double x = (p - fv * rate) / (pv * rate + p);
  // Also refuses NaN.
  if (!(x > 0)) return unexpected(CellErrorCode::Num);
  return finite_number(std::log(x) / std::log(1 + rate));
}

Result<CellValue, CellErrorCode> net_present_value(Args args, EvalContext& ctx) {
  if (args.size() < 2) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double rate, arg_number(args, 0, ctx));
  if (rate == -1) return unexpected(CellErrorCode::Num);
  CMX_ASSIGN_OR_RETURN(std::vector<double> values, collect_arg_numbers(args.subspan(1), ctx));
  const double factor = 1 + rate;
  double discount = 1;
  double sum = 0;
  for (double v : values) {
    // Each value divided by its own running product, never multiplied by a
    // reciprocal: the last bits depend on it.
    discount *= factor;
    sum += v / discount;
  }
  return finite_number(sum);
}

}  // namespace

void fn_fv(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(future_value(args, ctx));
}

void fn_pv(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(present_value(args, ctx));
}

void fn_pmt(CellValue& out, Args args, EvalContext& ctx) { out = value_or_error(payment(args, ctx)); }

void fn_nper(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(period_count(args, ctx));
}

void fn_npv(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(net_present_value(args, ctx));
}

}  // namespace cmx::formula
