#include "formula/printer.h"

#include "base/number_text.h"
#include "model/address.h"

namespace cmx::formula {
namespace {

// Context levels: a Binary node below the level it is printed at is
// parenthesised; nothing else ever is.
constexpr uint8_t kLevelRoot = 0;
constexpr uint8_t kLevelOperandOfPrefix = 6;  // operand of a sign or of "%"
constexpr uint8_t kLevelRangeOperand = 7;

uint8_t binary_level(BinaryOp op) {
  switch (op) {
    case BinaryOp::Eq:
    case BinaryOp::Ne:
    case BinaryOp::Lt:
    case BinaryOp::Le:
    case BinaryOp::Gt:
    case BinaryOp::Ge:
      return 1;
    case BinaryOp::Concat:
      return 2;
    case BinaryOp::Add:
    case BinaryOp::Sub:
      return 3;
    case BinaryOp::Mul:
    case BinaryOp::Div:
      return 4;
    case BinaryOp::Pow:
      return 5;
  }
  return 1;
}

bool is_ascii_alnum_or_underscore(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// R, C, or R, digits, C at the start (any case): R1C1 text that a reader
// could take for a reference.
bool looks_like_r1c1(std::string_view name) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  if (name.size() == 1 && (upper(name[0]) == 'R' || upper(name[0]) == 'C')) return true;
  if (name.empty() || upper(name[0]) != 'R') return false;
  size_t pos = 1;
  while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') ++pos;
  return pos < name.size() && upper(name[pos]) == 'C';
}

bool sheet_needs_quotes(std::string_view name) {
  if (name.empty()) return true;
  for (char c : name) {
    if (!is_ascii_alnum_or_underscore(c)) return true;
  }
  if (name[0] >= '0' && name[0] <= '9') return true;
  if (model::parse_cell_ref(name).has_value()) return true;
  return looks_like_r1c1(name);
}

// The text printed for `expr` ends with a lone cell reference such as A1.
bool ends_with_cell_ref(const Expr& expr) {
  if (expr.kind() == Expr::Kind::Ref) return true;
  if (auto op = expr.get<node::RangeOp>()) return ends_with_cell_ref(*op->right);
  return false;
}

// The text printed for `expr` begins with a word without a sheet, which a
// reference and ":" before it would lex together with it (A1:B2 from
// A1 : B2, A1:B2:C3 from A1:(B2:C3)).
bool begins_with_bare_word(const Expr& expr) {
  switch (expr.kind()) {
    case Expr::Kind::Ref: return !expr.as<node::Ref>().sheet;
    case Expr::Kind::Range: return !expr.as<node::Range>().sheet;
    case Expr::Kind::ColumnRange: return !expr.as<node::ColumnRange>().sheet;
    case Expr::Kind::RowRange: return !expr.as<node::RowRange>().sheet;
    case Expr::Kind::Name: return !expr.as<node::Name>().scope;
    case Expr::Kind::RangeOp: return begins_with_bare_word(*expr.as<node::RangeOp>().left);
    default: return false;
  }
}

// A call or table whose name reads as a cell reference (LOG10(2), B2[Col]).
// Printed right after "A1:", the name would join A1 into a cell range and
// leave "(" or "[" behind, so such a right operand keeps parentheses.
bool begins_with_cell_name(const Expr& expr) {
  if (auto call = expr.get<node::Call>()) return model::parse_cell_ref(call->name).has_value();
  if (auto table = expr.get<node::TableRef>()) return model::parse_cell_ref(table->table).has_value();
  return false;
}

// The text of a number: 0 for ±0; whole numbers below 1e15 as integers;
// otherwise the shortest round-trip digits, positionally (never an exponent).
// Whole numbers below 1e15 have at most 15 digits, so their shortest digits
// are exactly the integer and one positional layout covers both cases.
std::string number_text(double value) {
  if (value == 0) return "0";
  return format_positional(value);
}

void append_line_part(std::string& out, bool absolute, std::string_view text) {
  if (absolute) out.push_back('$');
  out.append(text);
}

void print(const Expr& expr, uint8_t level, std::string& out);

void print_args(const std::vector<ExprPtr>& args, std::string& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out.push_back(',');
    const Expr& arg = *args[i];
    // An omitted argument is an empty slot: IF(A1,,2), not IF(A1,"",2),
    // which would pass an empty text where the function saw nothing.
    if (auto literal = arg.get<node::Literal>(); literal && literal->value.is_empty()) continue;
    print(arg, kLevelRoot, out);
  }
}

void print_text(std::string_view text, std::string& out) {
  out.push_back('"');
  out += double_quote_char(text, '"');
  out.push_back('"');
}

void print_value(const model::CellValue& value, std::string& out) {
  switch (value.kind()) {
    case model::CellValue::Kind::Empty:
      out += "\"\"";
      return;
    case model::CellValue::Kind::Number:
      out += number_text(value.as_number());
      return;
    case model::CellValue::Kind::Text:
      print_text(value.as_text(), out);
      return;
    case model::CellValue::Kind::Bool:
      out += value.as_bool() ? "TRUE" : "FALSE";
      return;
    case model::CellValue::Kind::Error:
      out += model::error_code_text(value.as_error());
      return;
  }
}

void print_table_ref(const node::TableRef& ref, std::string& out) {
  out += ref.table;
  out.push_back('[');
  bool first_item = true;
  auto separate = [&] {
    if (!first_item) out.push_back(',');
    first_item = false;
  };
  for (TableBand band : ref.spec.bands) {
    separate();
    out.push_back('[');
    out += table_band_text(band);
    out.push_back(']');
  }
  if (ref.spec.first_column) {
    separate();
    out.push_back('[');
    out += escape_table_column(*ref.spec.first_column);
    out.push_back(']');
    if (ref.spec.last_column) {
      out += ":[";
      out += escape_table_column(*ref.spec.last_column);
      out.push_back(']');
    }
  }
  out.push_back(']');
}

void print(const Expr& expr, uint8_t level, std::string& out) {
  switch (expr.kind()) {
    case Expr::Kind::Number:
      out += number_text(expr.as<node::Number>().value);
      return;
    case Expr::Kind::Literal:
      print_value(expr.as<node::Literal>().value, out);
      return;
    case Expr::Kind::Array: {
      const auto& array = expr.as<node::Array>();
      const size_t columns = array.columns == 0 ? 1 : array.columns;
      out.push_back('{');
      for (size_t i = 0; i < array.elements.size(); ++i) {
        if (i > 0) out.push_back(i % columns == 0 ? ';' : ',');
        print(*array.elements[i], kLevelRoot, out);
      }
      out.push_back('}');
      return;
    }
    case Expr::Kind::Text:
      print_text(expr.as<node::Text>().text, out);
      return;
    case Expr::Kind::Bool:
      out += expr.as<node::Bool>().value ? "TRUE" : "FALSE";
      return;
    case Expr::Kind::Error:
      out += model::error_code_text(expr.as<node::Error>().code);
      return;
    case Expr::Kind::Ref: {
      const auto& ref = expr.as<node::Ref>();
      out += quote_sheet_name(ref.sheet);
      out += model::format_cell_ref(ref.cell);
      return;
    }
    case Expr::Kind::Range: {
      const auto& range = expr.as<node::Range>();
      out += quote_sheet_name(range.sheet);
      // A one-cell range keeps both corners: alone it would read back as a cell.
      if (range.range.start == range.range.end) {
        out += model::format_cell_ref(range.range.start);
        out.push_back(':');
        out += model::format_cell_ref(range.range.end);
      } else {
        out += model::format_range(range.range);
      }
      return;
    }
    case Expr::Kind::ColumnRange: {
      const auto& columns = expr.as<node::ColumnRange>();
      out += quote_sheet_name(columns.sheet);
      append_line_part(out, columns.range.abs_start, model::column_letters(columns.range.start));
      out.push_back(':');
      append_line_part(out, columns.range.abs_end, model::column_letters(columns.range.end));
      return;
    }
    case Expr::Kind::RowRange: {
      const auto& rows = expr.as<node::RowRange>();
      out += quote_sheet_name(rows.sheet);
      append_line_part(out, rows.range.abs_start, format_u64(uint64_t{rows.range.start} + 1));
      out.push_back(':');
      append_line_part(out, rows.range.abs_end, format_u64(uint64_t{rows.range.end} + 1));
      return;
    }
    case Expr::Kind::TableRef:
      print_table_ref(expr.as<node::TableRef>(), out);
      return;
    case Expr::Kind::Name: {
      const auto& name = expr.as<node::Name>();
      out += quote_sheet_name(name.scope);
      out += name.name;
      return;
    }
    case Expr::Kind::Unary: {
      const auto& unary = expr.as<node::Unary>();
      out.push_back(unary.plus ? '+' : '-');
      print(*unary.operand, kLevelOperandOfPrefix, out);
      return;
    }
    case Expr::Kind::Percent: {
      // (-1)% and (A1:B2:C3)% keep their parentheses: bare, the sign would
      // take the percent inside it and "%" would end the range chain early.
      const Expr& operand = *expr.as<node::Percent>().operand;
      const bool wrap =
          operand.kind() == Expr::Kind::Unary || operand.kind() == Expr::Kind::RangeOp;
      if (wrap) out.push_back('(');
      print(operand, kLevelOperandOfPrefix, out);
      if (wrap) out.push_back(')');
      out.push_back('%');
      return;
    }
    case Expr::Kind::RangeOp: {
      const auto& range = expr.as<node::RangeOp>();
      print(*range.left, kLevelRangeOperand, out);
      out.push_back(':');
      // ":" chains nest to the left, so a right operand that is itself a
      // chain, A1:(B:B:C1), keeps its parentheses too.
      const bool wrap = range.right->kind() == Expr::Kind::RangeOp ||
                        (ends_with_cell_ref(*range.left) &&
                         (begins_with_cell_name(*range.right) || begins_with_bare_word(*range.right)));
      if (wrap) out.push_back('(');
      print(*range.right, kLevelRangeOperand, out);
      if (wrap) out.push_back(')');
      return;
    }
    case Expr::Kind::Binary: {
      const auto& binary = expr.as<node::Binary>();
      const uint8_t own = binary_level(binary.op);
      const bool wrap = own < level;
      if (wrap) out.push_back('(');
      print(*binary.left, own, out);
      out += binary_op_text(binary.op);
      print(*binary.right, static_cast<uint8_t>(own + 1), out);
      if (wrap) out.push_back(')');
      return;
    }
    case Expr::Kind::Call: {
      const auto& call = expr.as<node::Call>();
      out += call.name;
      out.push_back('(');
      print_args(call.args, out);
      out.push_back(')');
      return;
    }
  }
}

}  // namespace

std::string expr_to_formula(const Expr& expr) {
  std::string out;
  print(expr, kLevelRoot, out);
  return out;
}

std::string quote_sheet_name(const std::optional<std::string>& sheet) {
  if (!sheet) return {};
  if (!sheet_needs_quotes(*sheet)) return *sheet + "!";
  std::string out = "'";
  out += double_quote_char(*sheet, '\'');
  out += "'!";
  return out;
}

std::string double_quote_char(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    out.push_back(c);
    if (c == quote) out.push_back(c);
  }
  return out;
}

std::string escape_table_column(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '#' || c == '\'' || c == '@' || c == '[' || c == ']') out.push_back('\'');
    out.push_back(c);
  }
  return out;
}

}  // namespace cmx::formula
