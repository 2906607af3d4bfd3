// The print/parse round trip, shared by the property test and the fuzz
// target: parse(print(t)) == t, except where the printed form is knowingly
// shorter (a one-cell Range prints as its cell, and "A1 : B2" prints as the
// cell range A1:B2).
#pragma once

#include <string>

#include "formula/formula.h"
#include "tree_dump.h"

namespace cmx::formula::testing {

// The printed text of `expr` ends with a bare cell reference, which a
// following ":" and reference would join into one range token.
inline bool ends_with_cell_ref(const Expr& expr) {
  if (expr.kind() == Expr::Kind::Ref) return true;
  if (auto range = expr.get<node::Range>()) return range->range.start == range->range.end;
  if (auto op = expr.get<node::RangeOp>()) return ends_with_cell_ref(*op->right);
  return false;
}

// The printed text of `expr` begins with a cell reference without a sheet,
// which a preceding reference and ":" would join into one range token.
inline bool starts_with_bare_cell_ref(const Expr& expr) {
  if (auto ref = expr.get<node::Ref>()) return !ref->sheet;
  if (auto range = expr.get<node::Range>()) return !range->sheet;
  if (auto op = expr.get<node::RangeOp>()) return starts_with_bare_cell_ref(*op->left);
  return false;
}

// Whether the tree holds a shape that prints in a shorter form.
inline bool prints_lossily(const Expr& expr) {
  switch (expr.kind()) {
    case Expr::Kind::Range: {
      const auto& range = expr.as<node::Range>().range;
      return range.start == range.end;
    }
    case Expr::Kind::RangeOp: {
      const auto& op = expr.as<node::RangeOp>();
      if (ends_with_cell_ref(*op.left) && starts_with_bare_cell_ref(*op.right)) return true;
      return prints_lossily(*op.left) || prints_lossily(*op.right);
    }
    case Expr::Kind::Unary: return prints_lossily(*expr.as<node::Unary>().operand);
    case Expr::Kind::Percent: return prints_lossily(*expr.as<node::Percent>().operand);
    case Expr::Kind::Binary: {
      const auto& b = expr.as<node::Binary>();
      return prints_lossily(*b.left) || prints_lossily(*b.right);
    }
    case Expr::Kind::Call:
      for (const auto& arg : expr.as<node::Call>().args) {
        if (prints_lossily(*arg)) return true;
      }
      return false;
    case Expr::Kind::Array:
      for (const auto& element : expr.as<node::Array>().elements) {
        if (prints_lossily(*element)) return true;
      }
      return false;
    default:
      return false;
  }
}

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
  const std::string reprinted = expr_to_formula(**again);
  if (!prints_lossily(*tree)) {
    if (!same_tree(tree, *again)) {
      return "tree changed: " + printed + "\n" + dump(*tree) + "\n" + dump(**again);
    }
    if (reprinted != printed) return "printing is not idempotent: " + printed;
    return {};
  }
  // A shortened tree still prints to a text that reads back.
  auto third = parse_formula(reprinted);
  if (!third && third.error().kind != FormulaErrorKind::LengthExceeded &&
      third.error().kind != FormulaErrorKind::NestingTooDeep) {
    return "reprinted text does not parse: " + reprinted + " -> " + third.error().display();
  }
  return {};
}

}  // namespace cmx::formula::testing
