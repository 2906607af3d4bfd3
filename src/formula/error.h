// FormulaError: the one way parsing fails, with the byte offset where it
// stopped. Evaluation never fails; its failures are error values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formula/token.h"

namespace cmx::formula {

enum class FormulaErrorKind : uint8_t {
  // Lexing
  LengthExceeded,         // more than kMaxFormulaBytes bytes
  TokenCountExceeded,     // more than kMaxFormulaTokens tokens
  EmptyFormula,           // nothing but white space
  UnexpectedCharacter,    // payload: the character
  MalformedNumber,        // payload: the scanned text (".", ".e5")
  MalformedExponent,      // "1e", "1E+"
  NumberNotFinite,        // 1e309
  UnterminatedString,     // no closing double quote
  UnknownErrorLiteral,    // "#" not followed by one of the nine error texts
  UnterminatedSheetName,  // no closing apostrophe
  ExpectedBang,           // a quoted sheet name not followed by "!"
  // References and names
  ExpectedReferenceOrName,  // nothing after a sheet prefix
  MalformedTableRef,        // a stray character inside the outer brackets
  TableItemCountExceeded,   // more than kMaxTableItems bracketed items
  UnterminatedTableRef,     // the text ends inside brackets
  UnknownTableBand,         // "#" followed by no known band
  TooManyTableColumns,      // a third column name
  // Parsing
  TrailingToken,          // tokens left after a whole expression
  NestingTooDeep,         // recursion depth or tree height above 100
  UnexpectedEnd,          // the text ends where an operand is needed
  UnexpectedToken,        // payload: the token kind
  ExpectedRParen,         // "(" without ")"
  ExpectedCommaOrRParen,  // a call argument followed by something else
  ColonJoinsReferences,   // ":" between operands that are not references
  RaggedArray,            // array rows of different widths
  ExpectedArraySeparator, // an array element followed by something else
};

struct FormulaError {
  FormulaErrorKind kind = FormulaErrorKind::EmptyFormula;
  uint32_t position = 0;  // byte offset into the formula text
  char32_t character = 0;             // UnexpectedCharacter
  TokenKind token = TokenKind::Num;   // UnexpectedToken
  std::string text;                   // MalformedNumber

  // The lower-case message without full stop ("unexpected token RParen").
  std::string message() const;
  // "formula error at {position}: {message}".
  std::string display() const;
};

// Kind and position only; payloads follow from them in every real failure.
inline bool operator==(const FormulaError& a, const FormulaError& b) {
  return a.kind == b.kind && a.position == b.position && a.character == b.character &&
         a.token == b.token && a.text == b.text;
}

// A character as the "unexpected character" message shows it: printable
// characters between apostrophes, others as '\u{hex}'.
std::string describe_character(char32_t cp);

}  // namespace cmx::formula
