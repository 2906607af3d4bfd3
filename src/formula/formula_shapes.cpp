#include "formula/formula_shapes.h"

#include <cstdint>
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

// Writes the plain form of a reference at `out`; the length, or 0 when a
// coordinate falls off the grid.
size_t render_cell(const model::CellRef& c, int64_t dr, int64_t dc, char* out) {
  int64_t row = c.abs_row ? c.row : int64_t{c.row} + dr;
  int64_t col = c.abs_col ? c.col : int64_t{c.col} + dc;
  if (row < 0 || row >= model::MAX_ROWS || col < 0 || col >= model::MAX_COLS) return 0;
  size_t n = 0;
  if (c.abs_col) out[n++] = '$';
  char letters[4];
  size_t k = 0;
  for (int64_t v = col + 1; v > 0; v = (v - 1) / 26) letters[k++] = static_cast<char>('A' + (v - 1) % 26);
  while (k > 0) out[n++] = letters[--k];
  if (c.abs_row) out[n++] = '$';
  char digits[8];
  k = 0;
  for (int64_t v = row + 1; v > 0; v /= 10) digits[k++] = static_cast<char>('0' + v % 10);
  while (k > 0) out[n++] = digits[--k];
  return n;
}

// The piece's reference rendered with the shift; 0 when it leaves the grid.
size_t render_piece(const ShapeText::Piece& piece, int64_t dr, int64_t dc, char* out) {
  size_t n = render_cell(piece.start, dr, dc, out);
  if (n == 0 || piece.ref == ShapeText::Piece::Ref::Cell) return n;
  out[n++] = ':';
  size_t m = render_cell(piece.end, dr, dc, out + n);
  return m == 0 ? 0 : n + m;
}

}  // namespace

std::optional<ShapeText> shape_text(std::string_view text, uint32_t row, uint32_t col) {
  auto tokens = lex_formula(text);
  if (!tokens.has_value()) return std::nullopt;
  ShapeText out;
  out.row = row;
  out.col = col;
  size_t literal_from = 0;
  for (const Token& t : *tokens) {
    ShapeText::Piece piece;
    if (t.kind == TokenKind::Ref && !t.sheet) {
      piece.ref = ShapeText::Piece::Ref::Cell;
    } else if (t.kind == TokenKind::Range && !t.sheet) {
      piece.ref = ShapeText::Piece::Ref::Range;
    } else if (t.kind == TokenKind::Ref || t.kind == TokenKind::Range || t.kind == TokenKind::ColumnRange ||
               t.kind == TokenKind::RowRange) {
      return std::nullopt;
    } else {
      continue;
    }
    piece.start = t.range.start;
    piece.end = t.range.end;
    char written[40];
    size_t n = render_piece(piece, 0, 0, written);
    if (n == 0 || text.substr(t.start, n) != std::string_view(written, n)) return std::nullopt;
    piece.literal = std::string(text.substr(literal_from, t.start - literal_from));
    literal_from = t.start + n;
    out.pieces.push_back(std::move(piece));
  }
  out.pieces.push_back(ShapeText::Piece{std::string(text.substr(literal_from)), {}, {}, {}});
  return out;
}

bool shape_text_matches(const ShapeText& shape, std::string_view text, uint32_t row, uint32_t col) {
  const int64_t dr = int64_t{row} - shape.row;
  const int64_t dc = int64_t{col} - shape.col;
  size_t at = 0;
  for (const ShapeText::Piece& piece : shape.pieces) {
    if (text.substr(at, piece.literal.size()) != piece.literal) return false;
    at += piece.literal.size();
    if (piece.ref == ShapeText::Piece::Ref::None) continue;
    char rendered[40];
    size_t n = render_piece(piece, dr, dc, rendered);
    if (n == 0 || text.substr(at, n) != std::string_view(rendered, n)) return false;
    at += n;
  }
  return at == text.size();
}

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
