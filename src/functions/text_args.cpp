// Text arguments and character positions.
#include "functions/text_args.h"

#include "formula/eval_context.h"
#include "formula/value_coercion.h"

namespace cmx::formula {

using model::CellErrorCode;

Result<std::string, CellErrorCode> arg_text(Args args, size_t i, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(std::string text, value_to_text(eval_scalar(*args[i], ctx)));
  if (text_too_long(text)) return unexpected(CellErrorCode::Value);
  return text;
}

size_t char_count(std::string_view text) {
  size_t count = 0;
  for (char byte : text) count += starts_char(byte) ? 1 : 0;
  return count;
}

size_t char_offset(std::string_view text, uint64_t index) {
  if (index == 0) return 0;
  uint64_t seen = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if (!starts_char(text[at])) continue;
    if (seen == index) return at;
    ++seen;
  }
  return text.size();
}

bool push_text_limited(std::string& result, std::string_view piece, size_t& count) {
  size_t added = char_count(piece);
  if (count + added >= kMaxTextChars) return false;
  result.append(piece);
  count += added;
  return true;
}

}  // namespace cmx::formula
