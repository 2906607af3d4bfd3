// parse_formula: formula text to a shared, immutable syntax tree, by
// precedence climbing over the tokens of lexer.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "formula/error.h"
#include "formula/expr.h"

namespace cmx::formula {

// Bounds on the parser's recursion and on the height of every tree it builds.
inline constexpr uint32_t kMaxParseDepth = 100;
inline constexpr uint32_t kMaxTreeHeight = 100;

// The tree of a formula given without its leading "=". Calls are resolved to
// their BuiltinId here. Fails with the lexer's errors, TrailingToken,
// NestingTooDeep, UnexpectedEnd, UnexpectedToken, ExpectedRParen,
// ExpectedCommaOrRParen, ColonJoinsReferences, RaggedArray and
// ExpectedArraySeparator.
Result<ExprPtr, FormulaError> parse_formula(std::string_view text);

// Whether a node may stand on either side of ":" (references, calls, error
// literals, and names that are neither all letters nor all digits once "$"
// is trimmed, such as a1 or Sales2024).
bool is_range_operand(const Expr& node);

}  // namespace cmx::formula
