// The lexer loop: white space, numbers, strings, error literals, quoted
// sheet prefixes, operators and punctuation, and the two limits.
#include "formula/lexer.h"

#include <algorithm>

#include "base/number_text.h"
#include "formula/lexer_internal.h"
#include "model/cell_value.h"

namespace cmx::formula {
namespace {

using lex::Cursor;
using lex::error_at;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// After a digit run: does ":" follow (white space allowed), then an optional
// "$" and a digit? Then the digits may begin a row range such as 2 : $5.
bool digits_begin_row_range(const Cursor& cursor) {
  Cursor probe = cursor;
  while (is_digit(probe.peek_byte())) ++probe.pos;
  probe.skip_whitespace();
  if (probe.peek_byte() != ':') return false;
  ++probe.pos;
  probe.skip_whitespace();
  if (probe.peek_byte() == '$') ++probe.pos;
  return is_digit(probe.peek_byte());
}

Result<Token, FormulaError> lex_number(Cursor& cursor) {
  const size_t start = cursor.pos;
  while (is_digit(cursor.peek_byte())) ++cursor.pos;
  if (cursor.peek_byte() == '.') {
    ++cursor.pos;
    while (is_digit(cursor.peek_byte())) ++cursor.pos;
  }
  if (cursor.peek_byte() == 'e' || cursor.peek_byte() == 'E') {
    ++cursor.pos;
    if (cursor.peek_byte() == '+' || cursor.peek_byte() == '-') ++cursor.pos;
    const size_t exponent_digits = cursor.pos;
    while (is_digit(cursor.peek_byte())) ++cursor.pos;
    if (cursor.pos == exponent_digits) {
      return unexpected(error_at(FormulaErrorKind::MalformedExponent, start));
    }
  }
  std::string_view scanned = cursor.text.substr(start, cursor.pos - start);
  auto parsed = parse_float(scanned);
  if (!parsed) {
    FormulaError error = error_at(FormulaErrorKind::MalformedNumber, start);
    error.text = std::string(scanned);
    return unexpected(std::move(error));
  }
  if (parsed->range == FloatRange::Overflow) {
    return unexpected(error_at(FormulaErrorKind::NumberNotFinite, start));
  }
  Token token;
  token.kind = TokenKind::Num;
  token.number = parsed->value;
  return token;
}

// Reads up to a closing `quote`, a doubled quote standing for one. The
// opening quote is at the cursor.
std::optional<std::string> read_quoted(Cursor& cursor, char quote) {
  ++cursor.pos;
  std::string out;
  const std::string_view text = cursor.text;
  while (true) {
    size_t next = text.find(quote, cursor.pos);
    if (next == std::string_view::npos) return std::nullopt;
    out.append(text.substr(cursor.pos, next - cursor.pos));
    cursor.pos = next + 1;
    if (cursor.peek_byte() != quote) return out;
    out.push_back(quote);
    ++cursor.pos;
  }
}

Result<Token, FormulaError> lex_error_literal(Cursor& cursor) {
  const std::string_view rest = cursor.text.substr(cursor.pos);
  for (int i = 0; i < model::kCellErrorCodeCount; ++i) {
    auto code = static_cast<model::CellErrorCode>(i);
    std::string_view literal = model::error_code_text(code);
    if (rest.substr(0, literal.size()) == literal) {
      cursor.pos += literal.size();
      Token token;
      token.kind = TokenKind::ErrLit;
      token.error = code;
      return token;
    }
  }
  return unexpected(error_at(FormulaErrorKind::UnknownErrorLiteral, cursor.pos));
}

Result<Token, FormulaError> lex_quoted_sheet(Cursor& cursor) {
  const size_t start = cursor.pos;
  auto name = read_quoted(cursor, '\'');
  if (!name) return unexpected(error_at(FormulaErrorKind::UnterminatedSheetName, start));
  if (cursor.peek_byte() != '!') {
    return unexpected(error_at(FormulaErrorKind::ExpectedBang, cursor.pos));
  }
  ++cursor.pos;
  return lex::lex_after_sheet(cursor, std::move(*name), start);
}

Token punctuation(TokenKind kind) {
  Token token;
  token.kind = kind;
  return token;
}

// One token at the cursor, which is past white space and not at the end.
Result<Token, FormulaError> lex_token(Cursor& cursor) {
  const char c = cursor.peek_byte();
  if (is_digit(c)) {
    if (digits_begin_row_range(cursor)) return lex::lex_identifier(cursor);
    return lex_number(cursor);
  }
  switch (c) {
    case '.':
      return lex_number(cursor);
    case '"': {
      const size_t start = cursor.pos;
      auto text = read_quoted(cursor, '"');
      if (!text) return unexpected(error_at(FormulaErrorKind::UnterminatedString, start));
      Token token;
      token.kind = TokenKind::Str;
      token.text = std::move(*text);
      return token;
    }
    case '#':
      return lex_error_literal(cursor);
    case '\'':
      return lex_quoted_sheet(cursor);
    case '<': {
      ++cursor.pos;
      if (cursor.peek_byte() == '>') return ++cursor.pos, punctuation(TokenKind::Ne);
      if (cursor.peek_byte() == '=') return ++cursor.pos, punctuation(TokenKind::Le);
      return punctuation(TokenKind::Lt);
    }
    case '>': {
      ++cursor.pos;
      if (cursor.peek_byte() == '=') return ++cursor.pos, punctuation(TokenKind::Ge);
      return punctuation(TokenKind::Gt);
    }
    default:
      break;
  }
  TokenKind single = TokenKind::Num;
  switch (c) {
    case '+': single = TokenKind::Plus; break;
    case '-': single = TokenKind::Minus; break;
    case '*': single = TokenKind::Star; break;
    case '/': single = TokenKind::Slash; break;
    case '^': single = TokenKind::Caret; break;
    case '&': single = TokenKind::Amp; break;
    case '%': single = TokenKind::Percent; break;
    case '=': single = TokenKind::Eq; break;
    case '(': single = TokenKind::LParen; break;
    case ')': single = TokenKind::RParen; break;
    case ',': single = TokenKind::Comma; break;
    case ':': single = TokenKind::Colon; break;
    case '{': single = TokenKind::LBrace; break;
    case '}': single = TokenKind::RBrace; break;
    case ';': single = TokenKind::Semicolon; break;
    default: break;
  }
  if (single != TokenKind::Num) {
    ++cursor.pos;
    return punctuation(single);
  }
  const char32_t cp = cursor.peek_char();
  if (lex::is_identifier_start(cp)) return lex::lex_identifier(cursor);
  FormulaError error = error_at(FormulaErrorKind::UnexpectedCharacter, cursor.pos);
  error.character = cp;
  return unexpected(std::move(error));
}

}  // namespace

Result<std::vector<Token>, FormulaError> lex_formula(std::string_view text) {
  if (text.size() > kMaxFormulaBytes) {
    return unexpected(error_at(FormulaErrorKind::LengthExceeded, kMaxFormulaBytes));
  }
  std::vector<Token> tokens;
  // Typical formulas average three or more bytes a token; reserving that
  // spares the regrowth moves, which were a fifth of the lexing time.
  tokens.reserve(std::min(text.size() / 3 + 4, kMaxFormulaTokens + 1));
  Cursor cursor{text, 0};
  while (true) {
    cursor.skip_whitespace();
    if (cursor.at_end()) break;
    const size_t start = cursor.pos;
    CMX_ASSIGN_OR_RETURN(Token token, lex_token(cursor));
    token.start = static_cast<uint32_t>(start);
    tokens.push_back(std::move(token));
    if (tokens.size() > kMaxFormulaTokens) {
      return unexpected(error_at(FormulaErrorKind::TokenCountExceeded, start));
    }
  }
  if (tokens.empty()) return unexpected(error_at(FormulaErrorKind::EmptyFormula, 0));
  return tokens;
}

}  // namespace cmx::formula
