// Text conversion: VALUE and NUMBERVALUE read numbers out of texts; TEXT
// renders a value through the workbook's number-format renderer.
#include <cmath>

#include "base/unicode.h"
#include "formula/value_coercion.h"
#include "functions/handlers.h"
#include "functions/text_args.h"
#include "model/format_render.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// A trailing "%" divides by 100 (the number reader takes one more itself).
Result<CellValue, CellErrorCode> read_number(std::string_view text) {
  text = trim_white_space(text);
  const bool percent = !text.empty() && text.back() == '%';
  std::optional<double> n = parse_number_text(percent ? text.substr(0, text.size() - 1) : text);
  if (!n) return unexpected(CellErrorCode::Value);
  const double value = percent ? *n / 100 : *n;
  if (!std::isfinite(value)) return unexpected(CellErrorCode::Num);
  return CellValue::number(value);
}

// The first character of argument i, or `fallback` when there is no such
// argument; an empty text is refused.
Result<char32_t, CellErrorCode> separator_char_arg(Args args, size_t i, EvalContext& ctx,
                                                   char32_t fallback) {
  if (i >= args.size()) return fallback;
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, i, ctx));
  if (text.empty()) return unexpected(CellErrorCode::Value);
  size_t at = 0;
  return unicode::decode_utf8(text, at);
}

Result<CellValue, CellErrorCode> number_value(Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 3) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::string text, arg_text(args, 0, ctx));
  auto decimal = separator_char_arg(args, 1, ctx, U'.');
  auto group = separator_char_arg(args, 2, ctx, U',');
  if (!decimal.has_value()) return unexpected(decimal.error());
  if (!group.has_value()) return unexpected(group.error());
  std::string cleaned;
  cleaned.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    const char32_t cp = unicode::decode_utf8(text, at);
    // The group test comes first: equal separators always drop the character.
    if (cp == *group || unicode::is_white_space(cp)) continue;
    if (cp == *decimal) {
      cleaned += '.';
    } else {
      cleaned.append(text, start, at - start);
    }
  }
  return read_number(cleaned);
}

Result<CellValue, CellErrorCode> text_of_value(Args args, EvalContext& ctx) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  CellValue value = eval_scalar(*args[0], ctx);
  if (value.is_error()) return value;
  if (value.is_empty()) value = CellValue::number(0);
  CMX_ASSIGN_OR_RETURN(std::string code, arg_text(args, 1, ctx));
  if (code.empty()) return CellValue::text("");
  return text_result(model::format_cell_value(value, code, ctx.date_system).text, ctx);
}

}  // namespace

void fn_value(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() != 1) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto text = arg_text(args, 0, ctx);
  out = text.has_value() ? value_or_error(read_number(*text)) : CellValue::error(text.error());
}

void fn_numbervalue(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(number_value(args, ctx));
}

void fn_text(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(text_of_value(args, ctx));
}

}  // namespace cmx::formula
