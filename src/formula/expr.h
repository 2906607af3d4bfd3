// The formula syntax tree. A parsed tree never changes and is shared by
// reference count between the parse cache, the graph and evaluations.
// Read parser.h and printer.h next.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "functions/builtin_names.h"
#include "model/address.h"
#include "model/cell_value.h"

namespace cmx::formula {

// A whole-column reference such as A:C; start ≤ end.
struct ColumnRange {
  uint32_t start = 0;
  uint32_t end = 0;
  bool abs_start = false;
  bool abs_end = false;
  friend bool operator==(const ColumnRange&, const ColumnRange&) = default;
};

// A whole-row reference such as 1:3, zero-based; start ≤ end.
struct RowRange {
  uint32_t start = 0;
  uint32_t end = 0;
  bool abs_start = false;
  bool abs_end = false;
  friend bool operator==(const RowRange&, const RowRange&) = default;
};

enum class TableBand : uint8_t { All, Headers, Data, Totals, ThisRow };

// "#All", "#Headers", "#Data", "#Totals", "#This Row".
std::string_view table_band_text(TableBand band);

// What the brackets after a table name select. No bands and no columns is
// the form Table1[].
struct TableSpec {
  std::vector<TableBand> bands;            // as written, repeats kept
  std::optional<std::string> first_column;
  std::optional<std::string> last_column;  // only with first_column
  friend bool operator==(const TableSpec&, const TableSpec&) = default;
};

enum class BinaryOp : uint8_t { Add, Sub, Mul, Div, Pow, Concat, Eq, Ne, Lt, Le, Gt, Ge };

// "+", "-", "*", "/", "^", "&", "=", "<>", "<", "<=", ">", ">=".
std::string_view binary_op_text(BinaryOp op);

struct Expr;
using ExprPtr = std::shared_ptr<const Expr>;

// Equality of the trees behind two pointers (null equals only null).
bool same_tree(const ExprPtr& a, const ExprPtr& b);

// Node kinds, in the order of Expr::Kind.
namespace node {

struct Number {
  double value = 0;
  friend bool operator==(const Number&, const Number&) = default;
};
// Made by the parser only as Empty, for an omitted call argument.
struct Literal {
  model::CellValue value;
  friend bool operator==(const Literal&, const Literal&) = default;
};
struct Array {
  std::vector<ExprPtr> elements;  // row by row
  uint32_t columns = 0;           // elements per row
  friend bool operator==(const Array& a, const Array& b);
};
struct Text {
  std::string text;
  friend bool operator==(const Text&, const Text&) = default;
};
struct Bool {
  bool value = false;
  friend bool operator==(const Bool&, const Bool&) = default;
};
struct Error {
  model::CellErrorCode code{};
  friend bool operator==(const Error&, const Error&) = default;
};
struct Ref {
  std::optional<std::string> sheet;
  model::CellRef cell;
  friend bool operator==(const Ref&, const Ref&) = default;
};
struct Range {
  std::optional<std::string> sheet;
  model::CellRange range;
  friend bool operator==(const Range&, const Range&) = default;
};
struct ColumnRange {
  std::optional<std::string> sheet;
  formula::ColumnRange range;
  friend bool operator==(const ColumnRange&, const ColumnRange&) = default;
};
struct RowRange {
  std::optional<std::string> sheet;
  formula::RowRange range;
  friend bool operator==(const RowRange&, const RowRange&) = default;
};
struct TableRef {
  std::string table;  // as written
  TableSpec spec;
  friend bool operator==(const TableRef&, const TableRef&) = default;
};
struct Name {
  std::optional<std::string> scope;  // the sheet qualifier of Sheet1!Rate
  std::string name;
  friend bool operator==(const Name&, const Name&) = default;
};
struct Unary {
  bool plus = false;  // "+" rather than "-"
  ExprPtr operand;
  friend bool operator==(const Unary& a, const Unary& b);
};
struct Binary {
  BinaryOp op = BinaryOp::Add;
  ExprPtr left;
  ExprPtr right;
  friend bool operator==(const Binary& a, const Binary& b);
};
struct Percent {
  ExprPtr operand;
  friend bool operator==(const Percent& a, const Percent& b);
};
// ":" between operands that did not lex as one range (A1:INDEX(B:B,3)).
struct RangeOp {
  ExprPtr left;
  ExprPtr right;
  friend bool operator==(const RangeOp& a, const RangeOp& b);
};
struct Call {
  std::string name;  // as written, case and prefixes kept
  BuiltinId id = kNotBuiltin;
  std::vector<ExprPtr> args;
  friend bool operator==(const Call& a, const Call& b);
};

}  // namespace node

struct Expr {
  enum class Kind : uint8_t {
    Number, Literal, Array, Text, Bool, Error, Ref, Range, ColumnRange, RowRange,
    TableRef, Name, Unary, Binary, Percent, RangeOp, Call,
  };
  // Alternatives in Kind order.
  using Node = std::variant<node::Number, node::Literal, node::Array, node::Text, node::Bool,
                            node::Error, node::Ref, node::Range, node::ColumnRange,
                            node::RowRange, node::TableRef, node::Name, node::Unary,
                            node::Binary, node::Percent, node::RangeOp, node::Call>;

  Node node;

  Kind kind() const { return static_cast<Kind>(node.index()); }
  template <typename T>
  const T* get() const { return std::get_if<T>(&node); }
  template <typename T>
  const T& as() const { return std::get<T>(node); }

  friend bool operator==(const Expr&, const Expr&) = default;
};

template <typename T>
ExprPtr make_expr(T&& alternative) {
  return std::make_shared<const Expr>(Expr{Expr::Node(std::forward<T>(alternative))});
}

}  // namespace cmx::formula
