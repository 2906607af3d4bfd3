// Time functions: TIME, HOUR, MINUTE, SECOND, TIMEVALUE and DATEVALUE.
// TODAY and NOW are answered by the dispatcher from the context's "now".
#include <cmath>

#include "base/unicode.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/date_args.h"
#include "functions/handlers.h"
#include "functions/text_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

constexpr double kSecondsPerDay = 86'400;

Result<CellValue, CellErrorCode> time_of_day(Args args, EvalContext& ctx) {
  if (args.size() != 3) return unexpected(CellErrorCode::Value);
  auto hour = arg_number(args, 0, ctx);
  auto minute = arg_number(args, 1, ctx);
  auto second = arg_number(args, 2, ctx);
  if (!hour.has_value()) return unexpected(hour.error());
  if (!minute.has_value()) return unexpected(minute.error());
  if (!second.has_value()) return unexpected(second.error());
  const double t = (*minute * 60 + *hour * 3600 + *second) / kSecondsPerDay;
  // Wraps around midnight both ways instead of failing.
  double fraction = t - std::trunc(t);
  if (fraction < 0) fraction += 1;
  if (!std::isfinite(fraction)) return unexpected(CellErrorCode::Num);
  return CellValue::number(fraction);
}

enum class ClockPart { Hour, Minute, Second };

Result<CellValue, CellErrorCode> clock_part(Args args, EvalContext& ctx, ClockPart part) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double serial, arg_date(args, ctx));
  // std::round takes halves away from zero; a fraction that rounds up to a
  // whole day reads as midnight.
  const double seconds = std::round((serial - std::floor(serial)) * kSecondsPerDay);
  const auto of_day = static_cast<int64_t>(seconds) % 86'400;
  const int64_t value = part == ClockPart::Hour     ? of_day / 3600
                        : part == ClockPart::Minute ? of_day / 60 % 60
                                                    : of_day % 60;
  return CellValue::number(static_cast<double>(value));
}

Result<CellValue, CellErrorCode> time_value(Args args, EvalContext& ctx) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  const CellValue value = eval_scalar(*args[0], ctx);
  if (value.is_error()) return value;
  if (!value.is_text()) return unexpected(CellErrorCode::Value);
  const std::string_view text = trim_white_space(value.as_text());
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return unexpected(CellErrorCode::Value);
  // The time starts after the last white space before the colon, which
  // skips a leading date.
  size_t time_start = 0;
  for (size_t at = 0; at < colon;) {
    const char32_t cp = unicode::decode_utf8(text, at);
    if (unicode::is_white_space(cp)) time_start = at;
  }
  std::optional<double> reading = parse_time_text(text.substr(time_start));
  if (!reading) return unexpected(CellErrorCode::Value);
  const double fraction = *reading - std::floor(*reading);
  if (!std::isfinite(fraction)) return unexpected(CellErrorCode::Num);
  return CellValue::number(fraction);
}

Result<CellValue, CellErrorCode> date_value(Args args, EvalContext& ctx) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  const CellValue value = eval_scalar(*args[0], ctx);
  if (value.is_error()) return value;
  if (!value.is_text()) return unexpected(CellErrorCode::Value);
  std::optional<double> day = parse_date_text(value.as_text(), ctx.now_serial);
  if (!day) return unexpected(CellErrorCode::Value);
  return CellValue::number(std::floor(*day));
}

}  // namespace

void fn_time(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(time_of_day(args, ctx));
}

void fn_hour(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(clock_part(args, ctx, ClockPart::Hour));
}

void fn_minute(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(clock_part(args, ctx, ClockPart::Minute));
}

void fn_second(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(clock_part(args, ctx, ClockPart::Second));
}

void fn_timevalue(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(time_value(args, ctx));
}

void fn_datevalue(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(date_value(args, ctx));
}

}  // namespace cmx::formula
