#include "formula/formula_shapes.h"

#include <cstring>

#include "formula/lexer.h"

namespace cmx::formula {
namespace {

class KeyWriter {
 public:
  KeyWriter(uint32_t row, uint32_t col) : row_(row), col_(col) {}

  void byte(uint8_t b) { out_.push_back(static_cast<char>(b)); }
  void u32(uint32_t v) { out_.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void text(std::string_view s) {
    u32(static_cast<uint32_t>(s.size()));
    out_.append(s);
  }
  void optional_text(const std::optional<std::string>& s) {
    byte(s ? 1 : 0);
    if (s) text(*s);
  }
  // A fixed coordinate as itself, a moving one as its distance.
  void coordinate(uint32_t index, bool absolute, uint32_t origin) {
    byte(absolute ? 1 : 0);
    u32(absolute ? index : index - origin);
  }
  void cell(const model::CellRef& c) {
    coordinate(c.row, c.abs_row, row_);
    coordinate(c.col, c.abs_col, col_);
  }
  uint32_t row() const { return row_; }
  uint32_t col() const { return col_; }
  std::string take() { return std::move(out_); }

 private:
  uint32_t row_;
  uint32_t col_;
  std::string out_;
};

bool write_token(const Token& t, KeyWriter& w) {
  w.byte(static_cast<uint8_t>(t.kind));
  switch (t.kind) {
    case TokenKind::Num: {
      uint64_t bits = 0;
      std::memcpy(&bits, &t.number, sizeof bits);
      w.u32(static_cast<uint32_t>(bits));
      w.u32(static_cast<uint32_t>(bits >> 32));
      return true;
    }
    case TokenKind::Str:
    case TokenKind::Ident:
      w.text(t.text);
      return true;
    case TokenKind::Bool:
      w.byte(t.boolean ? 1 : 0);
      return true;
    case TokenKind::ErrLit:
      w.byte(static_cast<uint8_t>(t.error));
      return true;
    case TokenKind::Name:
      w.text(t.text);
      w.optional_text(t.sheet);
      return true;
    case TokenKind::Ref:
      w.optional_text(t.sheet);
      w.cell(t.range.start);
      return true;
    case TokenKind::Range:
      if (t.range.start.abs_row != t.range.end.abs_row) return false;
      if (t.range.start.abs_col != t.range.end.abs_col) return false;
      w.optional_text(t.sheet);
      w.cell(t.range.start);
      w.cell(t.range.end);
      return true;
    case TokenKind::ColumnRange:
      if (t.columns.abs_start != t.columns.abs_end) return false;
      w.optional_text(t.sheet);
      w.coordinate(t.columns.start, t.columns.abs_start, w.col());
      w.coordinate(t.columns.end, t.columns.abs_end, w.col());
      return true;
    case TokenKind::RowRange:
      if (t.rows.abs_start != t.rows.abs_end) return false;
      w.optional_text(t.sheet);
      w.coordinate(t.rows.start, t.rows.abs_start, w.row());
      w.coordinate(t.rows.end, t.rows.abs_end, w.row());
      return true;
    case TokenKind::TableRef:
      w.text(t.text);
      w.u32(static_cast<uint32_t>(t.spec.bands.size()));
      for (TableBand b : t.spec.bands) w.byte(static_cast<uint8_t>(b));
      w.optional_text(t.spec.first_column);
      w.optional_text(t.spec.last_column);
      return true;
    default:
      return true;  // punctuation: the kind is all
  }
}

// Built-ins that inspect their reference arguments or read outside them.
bool call_can_move(const node::Call& call) {
  if (call.id == kNotBuiltin) return false;
  switch (static_cast<Builtin>(call.id)) {
    case Builtin::Offset:
    case Builtin::Indirect:
    case Builtin::Now:
    case Builtin::Today:
    case Builtin::RandBetween:
      return false;
    default:
      return true;
  }
}

}  // namespace

std::optional<std::string> shape_key(std::string_view text, uint32_t row, uint32_t col) {
  auto tokens = lex_formula(text);
  if (!tokens.has_value()) return std::nullopt;
  KeyWriter w(row, col);
  for (const Token& t : *tokens) {
    if (!write_token(t, w)) return std::nullopt;
  }
  return w.take();
}

bool shape_can_move(const Expr& tree) {
  switch (tree.kind()) {
    case Expr::Kind::Number:
    case Expr::Kind::Literal:
    case Expr::Kind::Text:
    case Expr::Kind::Bool:
    case Expr::Kind::Error:
    case Expr::Kind::Ref:
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange:
      return true;
    case Expr::Kind::Array:
      for (const auto& e : tree.as<node::Array>().elements) {
        if (!shape_can_move(*e)) return false;
      }
      return true;
    case Expr::Kind::Unary:
      return shape_can_move(*tree.as<node::Unary>().operand);
    case Expr::Kind::Percent:
      return shape_can_move(*tree.as<node::Percent>().operand);
    case Expr::Kind::Binary:
      return shape_can_move(*tree.as<node::Binary>().left) &&
             shape_can_move(*tree.as<node::Binary>().right);
    case Expr::Kind::Call: {
      const auto& call = tree.as<node::Call>();
      if (!call_can_move(call)) return false;
      for (const auto& a : call.args) {
        if (!shape_can_move(*a)) return false;
      }
      return true;
    }
    case Expr::Kind::TableRef:
    case Expr::Kind::Name:
    case Expr::Kind::RangeOp:
      return false;
  }
  return false;
}

}  // namespace cmx::formula
