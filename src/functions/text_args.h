// What the text functions share: reading an argument as text, character
// positions in UTF-8 text, and appending under the text length limit.
// Read text_search.cpp next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// Argument i as text (numbers in their shortest form, TRUE/FALSE, Empty "");
// an Error value gives its code, a text of kMaxTextChars characters or more
// "#VALUE!".
Result<std::string, model::CellErrorCode> arg_text(Args args, size_t i, EvalContext& ctx);

// Characters are Unicode scalar values: every byte but a continuation byte
// starts one.
inline bool starts_char(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }
size_t char_count(std::string_view text);
// The byte offset where character `index` (from 0) starts; text.size() when
// the text has no more characters than that.
size_t char_offset(std::string_view text, uint64_t index);

// Appends `piece` when the text then stays below kMaxTextChars characters;
// `count` is the characters already in `result`. False, with nothing
// changed, when the piece does not fit.
[[nodiscard]] bool push_text_limited(std::string& result, std::string_view piece, size_t& count);

// The handler's output from a computed value or an error code.
inline model::CellValue value_or_error(Result<model::CellValue, model::CellErrorCode> r) {
  return r.has_value() ? std::move(r).value() : model::CellValue::error(r.error());
}

}  // namespace cmx::formula
