// The cursor shared by the two halves of the lexer (lexer.cpp and
// reference_lexer.cpp). Not for other folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unicode.h"
#include "formula/error.h"
#include "formula/token.h"

namespace cmx::formula::lex {

// End-of-text marker of next_char/peek_char: no scalar value has it.
inline constexpr char32_t kEnd = 0xFFFFFFFF;

struct Cursor {
  std::string_view text;
  size_t pos = 0;

  bool at_end() const { return pos >= text.size(); }
  char32_t peek_char() const {
    if (at_end()) return kEnd;
    size_t p = pos;
    return unicode::decode_utf8(text, p);
  }
  char32_t next_char() {
    if (at_end()) return kEnd;
    return unicode::decode_utf8(text, pos);
  }
  // The byte at pos, or 0 at the end; for ASCII decisions only.
  char peek_byte() const { return at_end() ? '\0' : text[pos]; }
  // Space, tab, line feed and carriage return; nothing else.
  void skip_whitespace() {
    while (pos < text.size()) {
      char c = text[pos];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos;
    }
  }
};

inline FormulaError error_at(FormulaErrorKind kind, size_t position) {
  FormulaError error;
  error.kind = kind;
  error.position = static_cast<uint32_t>(position);
  return error;
}

// ASCII letter, other Alphabetic character, "$", "\" or "_".
bool is_identifier_start(char32_t cp);

// The cursor is at an identifier start or at the digits of a row range.
Result<Token, FormulaError> lex_identifier(Cursor& cursor);
// The cursor is just after the "!" of a sheet prefix that began at `start`.
Result<Token, FormulaError> lex_after_sheet(Cursor& cursor, std::string sheet, size_t start);

}  // namespace cmx::formula::lex
