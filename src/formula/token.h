// Tokens: what the lexer hands the parser. Read lexer.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/expr.h"
#include "model/address.h"
#include "model/cell_value.h"

namespace cmx::formula {

// Kinds in their fixed order; the names are what "unexpected token {}" shows.
enum class TokenKind : uint8_t {
  Num, Str, Bool, ErrLit, Ident, Name, Ref, Range, ColumnRange, RowRange, TableRef,
  Plus, Minus, Star, Slash, Caret, Amp, Percent, Eq, Ne, Lt, Le, Gt, Ge,
  LParen, RParen, Comma, Colon, LBrace, RBrace, Semicolon,
};
inline constexpr int kTokenKindCount = 31;

std::string_view token_kind_name(TokenKind kind);

// One lexical unit with the byte offset of its first character. Only the
// fields of its kind are meaningful.
struct Token {
  TokenKind kind = TokenKind::Num;
  uint32_t start = 0;
  double number = 0;                       // Num: finite, never negative
  bool boolean = false;                    // Bool
  model::CellErrorCode error{};            // ErrLit
  std::string text;                        // Str text, Ident, Name name, TableRef table
  std::optional<std::string> sheet;        // Name scope; sheet of the reference kinds
  model::CellRange range;                  // Ref (start only) and Range, normalised
  ColumnRange columns;                     // ColumnRange
  RowRange rows;                           // RowRange
  TableSpec spec;                          // TableRef
};

}  // namespace cmx::formula
