// expr_to_formula: a syntax tree back to canonical formula text, with the
// fewest parentheses that keep its shape. Printing never fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "formula/expr.h"

namespace cmx::formula {

// The formula text without "=". No white space, canonical numbers, upper-case
// column letters, TRUE/FALSE, quoted sheet names only where needed, table
// references in their bracketed form. An omitted call argument prints as an
// empty slot (IF(A1,,2)), so it parses back to the same tree.
std::string expr_to_formula(const Expr& expr);

// "" for no sheet; "Name!" when the name is a plain identifier that cannot be
// read as a reference; otherwise "'Name'!" with apostrophes doubled.
std::string quote_sheet_name(const std::optional<std::string>& sheet);

// `text` with every occurrence of the ASCII character `quote` written twice.
std::string double_quote_char(std::string_view text, char quote);

// A table column name with "'" written before each of # ' @ [ ].
std::string escape_table_column(std::string_view text);

}  // namespace cmx::formula
