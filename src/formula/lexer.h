// Formula text to tokens: numbers, strings, error literals, operators and
// quoted sheet prefixes here; everything that begins like a name in
// reference_lexer.cpp. A pure function of the text: no workbook is read.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "formula/error.h"
#include "formula/token.h"

namespace cmx::formula {

inline constexpr size_t kMaxFormulaBytes = 32768;
inline constexpr size_t kMaxFormulaTokens = 10000;
// Bracketed items of one structured reference.
inline constexpr size_t kMaxTableItems = 16;

// The tokens of a formula without its leading "=". Fails with
// LengthExceeded (at 32768, before any scanning), TokenCountExceeded,
// EmptyFormula, and every lexical failure, at the offsets the kinds document.
Result<std::vector<Token>, FormulaError> lex_formula(std::string_view text);

}  // namespace cmx::formula
