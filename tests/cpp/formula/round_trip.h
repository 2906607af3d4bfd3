// The print/parse round trip, shared by the property test and the fuzz
// target: parse(print(t)) == t for every tree the parser builds, and
// printing the reparsed tree gives the same text.
#pragma once

#include <string>

#include "formula/formula.h"
#include "tree_dump.h"

namespace cmx::formula::testing {

// Empty when the round trip of a parsed tree holds; otherwise what broke.
inline std::string check_round_trip(const ExprPtr& tree) {
  const std::string printed = expr_to_formula(*tree);
  auto again = parse_formula(printed);
  if (!again) {
    // Canonical numbers can be far longer than their source (1e300).
    if (again.error().kind == FormulaErrorKind::LengthExceeded) return {};
    // So can the parentheses kept around LOG10(2) in A1:(LOG10(2)), one level
    // deeper than "A1 : LOG10(2)".
    if (again.error().kind == FormulaErrorKind::NestingTooDeep &&
        printed.find(":(") != std::string::npos) {
      return {};
    }
    return "printed text does not parse: " + printed + " -> " + again.error().display();
  }
  if (!same_tree(tree, *again)) {
    return "tree changed: " + printed + "\n" + dump(*tree) + "\n" + dump(**again);
  }
  if (expr_to_formula(**again) != printed) return "printing is not idempotent: " + printed;
  return {};
}

}  // namespace cmx::formula::testing
