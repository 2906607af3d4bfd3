// A compact structural dump of a syntax tree for test tables:
// Add(1,Mul(2,3)), Ref(A1), Call(SUM#0:Range(A1:B2)).
#pragma once

#include <string>

#include "formula/formula.h"
#include "model/address.h"

namespace cmx::formula::testing {

inline std::string dump(const Expr& expr);

inline std::string dump_sheet(const std::optional<std::string>& sheet) {
  return sheet ? "[" + *sheet + "]" : "";
}

inline std::string dump_line(bool abs, std::string text) { return (abs ? "$" : "") + text; }

inline std::string dump(const Expr& expr) {
  switch (expr.kind()) {
    case Expr::Kind::Number: return expr_to_formula(expr);
    case Expr::Kind::Literal: {
      const auto& v = expr.as<node::Literal>().value;
      return v.is_empty() ? "Empty" : "Literal";
    }
    case Expr::Kind::Array: {
      const auto& a = expr.as<node::Array>();
      std::string out = "Array" + std::to_string(a.columns) + "{";
      for (size_t i = 0; i < a.elements.size(); ++i) out += (i ? "," : "") + dump(*a.elements[i]);
      return out + "}";
    }
    case Expr::Kind::Text: return "Text(" + expr.as<node::Text>().text + ")";
    case Expr::Kind::Bool: return expr.as<node::Bool>().value ? "TRUE" : "FALSE";
    case Expr::Kind::Error: return std::string(model::error_code_text(expr.as<node::Error>().code));
    case Expr::Kind::Ref: {
      const auto& r = expr.as<node::Ref>();
      return "Ref" + dump_sheet(r.sheet) + "(" + model::format_cell_ref(r.cell) + ")";
    }
    case Expr::Kind::Range: {
      const auto& r = expr.as<node::Range>();
      return "Range" + dump_sheet(r.sheet) + "(" + model::format_cell_ref(r.range.start) + ":" +
             model::format_cell_ref(r.range.end) + ")";
    }
    case Expr::Kind::ColumnRange: {
      const auto& r = expr.as<node::ColumnRange>();
      return "Cols" + dump_sheet(r.sheet) + "(" +
             dump_line(r.range.abs_start, model::column_letters(r.range.start)) + ":" +
             dump_line(r.range.abs_end, model::column_letters(r.range.end)) + ")";
    }
    case Expr::Kind::RowRange: {
      const auto& r = expr.as<node::RowRange>();
      return "Rows" + dump_sheet(r.sheet) + "(" +
             dump_line(r.range.abs_start, std::to_string(r.range.start)) + ":" +
             dump_line(r.range.abs_end, std::to_string(r.range.end)) + ")";
    }
    case Expr::Kind::TableRef: {
      const auto& t = expr.as<node::TableRef>();
      std::string out = "Table(" + t.table;
      for (TableBand b : t.spec.bands) out += "," + std::string(table_band_text(b));
      if (t.spec.first_column) out += ",<" + *t.spec.first_column + ">";
      if (t.spec.last_column) out += ":<" + *t.spec.last_column + ">";
      return out + ")";
    }
    case Expr::Kind::Name: {
      const auto& n = expr.as<node::Name>();
      return "Name" + dump_sheet(n.scope) + "(" + n.name + ")";
    }
    case Expr::Kind::Unary: {
      const auto& u = expr.as<node::Unary>();
      return std::string(u.plus ? "Plus(" : "Neg(") + dump(*u.operand) + ")";
    }
    case Expr::Kind::Binary: {
      static const char* kNames[] = {"Add", "Sub", "Mul", "Div", "Pow", "Concat",
                                     "Eq",  "Ne",  "Lt",  "Le",  "Gt",  "Ge"};
      const auto& b = expr.as<node::Binary>();
      return std::string(kNames[static_cast<int>(b.op)]) + "(" + dump(*b.left) + "," +
             dump(*b.right) + ")";
    }
    case Expr::Kind::Percent: return "Pct(" + dump(*expr.as<node::Percent>().operand) + ")";
    case Expr::Kind::RangeOp: {
      const auto& r = expr.as<node::RangeOp>();
      return "RangeOp(" + dump(*r.left) + "," + dump(*r.right) + ")";
    }
    case Expr::Kind::Call: {
      const auto& c = expr.as<node::Call>();
      std::string out = "Call(" + c.name + "#" + std::to_string(c.id);
      for (const auto& arg : c.args) out += ":" + dump(*arg);
      return out + ")";
    }
  }
  return "?";
}

// dump() of the parsed tree, or "error at {pos}: {message}".
inline std::string parse_dump(std::string_view text) {
  auto parsed = parse_formula(text);
  if (!parsed) return "error at " + std::to_string(parsed.error().position) + ": " + parsed.error().message();
  return dump(**parsed);
}

}  // namespace cmx::formula::testing
