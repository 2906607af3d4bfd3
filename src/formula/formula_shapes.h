// Formula shapes: cells whose texts differ only in where their relative
// references point share one parsed tree, evaluated with the distance from
// the cell it was parsed at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formula/expr.h"

namespace cmx::formula {

// The text's tokens with each relative coordinate written as its distance
// from (row, col). Absent when the text does not lex, or when a range has a
// fixed and a moving end on one axis (its corners could order differently
// elsewhere).
std::optional<std::string> shape_key(std::string_view text, uint32_t row, uint32_t col);

// Whether the tree, evaluated at another cell with the shift, gives what
// that cell's own text gives: it reads cells only through plain references
// and built-in functions that never inspect reference nodes, and it is not
// volatile.
bool shape_can_move(const Expr& tree);

}  // namespace cmx::formula
