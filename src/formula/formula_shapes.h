// Formula shapes: cells whose texts differ only in where their relative
// references point share one parsed tree, evaluated with the distance from
// the cell it was parsed at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/expr.h"
#include "model/address.h"

namespace cmx::formula {

// The text's tokens with each relative coordinate written as its distance
// from (row, col). Absent when the text does not lex, or when a range has a
// fixed and a moving end on one axis (its corners could order differently
// elsewhere).
std::optional<std::string> shape_key(std::string_view text, uint32_t row, uint32_t col);

// A movable shape's text as written at its cell: literal stretches, each
// followed by a reference, and a last stretch. Another cell's text that
// equals it with the relative parts of its references moved to that cell
// lexes the same way, so it has the shape's key: recognising it costs a
// comparison instead of lexing.
struct ShapeText {
  struct Piece {
    std::string literal;
    enum class Ref : uint8_t { None, Cell, Range } ref = Ref::None;
    model::CellRef start;
    model::CellRef end;
  };
  std::vector<Piece> pieces;
  uint32_t row = 0;
  uint32_t col = 0;
};

// Absent when a reference is not written as the plain upper-case form that
// rendering gives (a sheet qualifier, lower case, a reversed range, whole
// rows or columns), or when the text does not lex.
std::optional<ShapeText> shape_text(std::string_view text, uint32_t row, uint32_t col);
bool shape_text_matches(const ShapeText& shape, std::string_view text, uint32_t row, uint32_t col);

// Whether the tree, evaluated at another cell with the shift, gives what
// that cell's own text gives: it reads cells only through plain references
// and built-in functions that never inspect reference nodes, and it is not
// volatile.
bool shape_can_move(const Expr& tree);

}  // namespace cmx::formula
