// Serial arguments of the date and time functions.
#include "functions/date_args.h"

#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

Result<double, CellErrorCode> arg_date(Args args, EvalContext& ctx) {
  return arg_number(args, 0, ctx);
}

Result<int64_t, CellErrorCode> day_number_arg(Args args, size_t i, EvalContext& ctx) {
  const CellValue v = eval_scalar(*args[i], ctx);
  double number = 0;
  switch (v.kind()) {
    case CellValue::Kind::Text: {
      std::optional<double> day = parse_date_text(v.as_text(), ctx.now_serial);
      if (!day) return unexpected(CellErrorCode::Value);
      number = std::floor(*day);
      break;
    }
    case CellValue::Kind::Error:
      return unexpected(v.as_error());
    default: {
      CMX_ASSIGN_OR_RETURN(number, value_to_number(v));
      break;
    }
  }
  if (!std::isfinite(number)) return unexpected(CellErrorCode::Num);
  const int64_t day = saturate_cast<int64_t>(number);
  if (day < 0) return unexpected(CellErrorCode::Num);
  return day;
}

}  // namespace cmx::formula
