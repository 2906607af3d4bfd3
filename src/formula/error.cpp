#include "formula/error.h"

#include <unicode/uchar.h>

#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::formula {
namespace {

// Printable: no control, format, separator (but space), unassigned,
// private-use or surrogate code point, and no mark that extends the previous
// character. The Unicode facade has no general-category query, so ICU is
// asked directly.
bool is_printable(char32_t cp) {
  if (cp == 0x20) return true;
  if (cp < 0x20 || cp == 0x7F) return false;
  if (cp < 0x7F) return true;
  auto c = static_cast<UChar32>(cp);
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_UNASSIGNED:
    case U_PRIVATE_USE_CHAR:
    case U_SURROGATE:
      return false;
    default:
      break;
  }
  return !u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND);
}

}  // namespace

std::string describe_character(char32_t cp) {
  std::string out = "'";
  if (is_printable(cp)) {
    unicode::append_utf8(out, cp);
  } else {
    static constexpr char kHex[] = "0123456789abcdef";
    char digits[8];
    size_t count = 0;
    uint32_t value = static_cast<uint32_t>(cp);
    do {
      digits[count++] = kHex[value & 0xF];
      value >>= 4;
    } while (value != 0);
    out += "\\u{";
    while (count > 0) out.push_back(digits[--count]);
    out.push_back('}');
  }
  out.push_back('\'');
  return out;
}

std::string FormulaError::message() const {
  switch (kind) {
    case FormulaErrorKind::LengthExceeded: return "formula length exceeded cap";
    case FormulaErrorKind::TokenCountExceeded: return "formula token count exceeded cap";
    case FormulaErrorKind::EmptyFormula: return "empty formula";
    case FormulaErrorKind::UnexpectedCharacter:
      return "unexpected character " + describe_character(character);
    case FormulaErrorKind::MalformedNumber: return "malformed number " + text;
    case FormulaErrorKind::MalformedExponent: return "malformed number exponent";
    case FormulaErrorKind::NumberNotFinite: return "number is outside the finite range";
    case FormulaErrorKind::UnterminatedString: return "unterminated string";
    case FormulaErrorKind::UnknownErrorLiteral: return "unknown error literal";
    case FormulaErrorKind::UnterminatedSheetName: return "unterminated sheet name";
    case FormulaErrorKind::ExpectedBang: return "expected '!' after quoted sheet name";
    case FormulaErrorKind::ExpectedReferenceOrName: return "expected reference or defined name";
    case FormulaErrorKind::MalformedTableRef: return "malformed table reference";
    case FormulaErrorKind::TableItemCountExceeded: return "table reference item count exceeded cap";
    case FormulaErrorKind::UnterminatedTableRef: return "unterminated table reference";
    case FormulaErrorKind::UnknownTableBand: return "unknown table band selector";
    case FormulaErrorKind::TooManyTableColumns: return "too many table columns";
    case FormulaErrorKind::TrailingToken: return "unexpected trailing token";
    case FormulaErrorKind::NestingTooDeep: return "formula nesting too deep";
    case FormulaErrorKind::UnexpectedEnd: return "unexpected end of formula";
    case FormulaErrorKind::UnexpectedToken:
      return "unexpected token " + std::string(token_kind_name(token));
    case FormulaErrorKind::ExpectedRParen: return "expected ')'";
    case FormulaErrorKind::ExpectedCommaOrRParen: return "expected ',' or ')'";
    case FormulaErrorKind::ColonJoinsReferences: return "':' joins two references";
    case FormulaErrorKind::RaggedArray: return "ragged array constant";
    case FormulaErrorKind::ExpectedArraySeparator: return "expected ',', ';' or '}'";
  }
  return "formula error";
}

std::string FormulaError::display() const {
  return "formula error at " + format_u64(position) + ": " + message();
}

std::string_view token_kind_name(TokenKind kind) {
  switch (kind) {
    case TokenKind::Num: return "Num";
    case TokenKind::Str: return "Str";
    case TokenKind::Bool: return "Bool";
    case TokenKind::ErrLit: return "ErrLit";
    case TokenKind::Ident: return "Ident";
    case TokenKind::Name: return "Name";
    case TokenKind::Ref: return "Ref";
    case TokenKind::Range: return "Range";
    case TokenKind::ColumnRange: return "ColumnRange";
    case TokenKind::RowRange: return "RowRange";
    case TokenKind::TableRef: return "TableRef";
    case TokenKind::Plus: return "Plus";
    case TokenKind::Minus: return "Minus";
    case TokenKind::Star: return "Star";
    case TokenKind::Slash: return "Slash";
    case TokenKind::Caret: return "Caret";
    case TokenKind::Amp: return "Amp";
    case TokenKind::Percent: return "Percent";
    case TokenKind::Eq: return "Eq";
    case TokenKind::Ne: return "Ne";
    case TokenKind::Lt: return "Lt";
    case TokenKind::Le: return "Le";
    case TokenKind::Gt: return "Gt";
    case TokenKind::Ge: return "Ge";
    case TokenKind::LParen: return "LParen";
    case TokenKind::RParen: return "RParen";
    case TokenKind::Comma: return "Comma";
    case TokenKind::Colon: return "Colon";
    case TokenKind::LBrace: return "LBrace";
    case TokenKind::RBrace: return "RBrace";
    case TokenKind::Semicolon: return "Semicolon";
  }
  return "Num";
}

}  // namespace cmx::formula
