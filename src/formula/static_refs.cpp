#include "formula/static_refs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/saturate.h"
#include "model/workbook.h"

namespace cmx::formula {
namespace {

using model::CellRange;
using model::CellRef;

constexpr uint32_t kLastRow = model::MAX_ROWS - 1;
constexpr uint32_t kLastCol = model::MAX_COLS - 1;

bool name_is(std::string_view name, std::string_view upper) {
  return model::eq_ignore_ascii_case(name, upper);
}

void record(std::vector<QualifiedRange>& out, const std::optional<std::string>& sheet,
            const CellRange& range) {
  QualifiedRange q{sheet, normalized_range(range)};
  if (std::find(out.begin(), out.end(), q) == out.end()) out.push_back(std::move(q));
}

void walk(const Expr& expr, std::vector<QualifiedRange>& out) {
  switch (expr.kind()) {
    case Expr::Kind::Ref: {
      const auto& n = expr.as<node::Ref>();
      record(out, n.sheet, CellRange{n.cell, n.cell});
      return;
    }
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange: {
      auto q = plain_reference_range(expr);
      if (q) record(out, q->sheet, q->range);
      return;
    }
    case Expr::Kind::Array:
      for (const auto& e : expr.as<node::Array>().elements) walk(*e, out);
      return;
    case Expr::Kind::Unary:
      walk(*expr.as<node::Unary>().operand, out);
      return;
    case Expr::Kind::Percent:
      walk(*expr.as<node::Percent>().operand, out);
      return;
    case Expr::Kind::Binary: {
      const auto& n = expr.as<node::Binary>();
      walk(*n.left, out);
      walk(*n.right, out);
      return;
    }
    case Expr::Kind::RangeOp: {
      const auto& n = expr.as<node::RangeOp>();
      walk(*n.left, out);
      walk(*n.right, out);
      if (auto q = static_range_op(*n.left, *n.right)) record(out, q->sheet, q->range);
      return;
    }
    case Expr::Kind::Call: {
      const auto& n = expr.as<node::Call>();
      for (size_t i = 0; i < n.args.size(); ++i) {
        if (!is_shape_only_argument(n.name, i, *n.args[i])) walk(*n.args[i], out);
      }
      if (name_is(n.name, "OFFSET")) {
        StaticOffset off = static_offset(n.args);
        if (off.kind == StaticOffsetKind::Range) record(out, off.range.sheet, off.range.range);
      }
      return;
    }
    case Expr::Kind::Number:
    case Expr::Kind::Literal:
    case Expr::Kind::Text:
    case Expr::Kind::Bool:
    case Expr::Kind::Error:
    case Expr::Kind::TableRef:
    case Expr::Kind::Name:
      return;
  }
}

// The span [first, last] of `size` cells counted from `start` (negative
// sizes extend backwards), or none when it leaves [0, limit].
std::optional<std::pair<int64_t, int64_t>> span_of(int64_t start, int64_t size, int64_t limit) {
  int64_t first = 0;
  int64_t last = 0;
  if (size == 0) return std::nullopt;
  if (size > 0) {
    first = start;
    if (__builtin_add_overflow(start, size - 1, &last)) return std::nullopt;
  } else {
    if (__builtin_add_overflow(start, size + 1, &first)) return std::nullopt;
    last = start;
  }
  if (first < 0 || last > limit) return std::nullopt;
  return std::make_pair(first, last);
}

}  // namespace

CellRange normalized_range(const CellRange& range) {
  CellRange r;
  r.start.row = std::min(range.start.row, range.end.row);
  r.end.row = std::max(range.start.row, range.end.row);
  r.start.col = std::min(range.start.col, range.end.col);
  r.end.col = std::max(range.start.col, range.end.col);
  return r;
}

std::vector<QualifiedRange> collect_reference_ranges(const Expr& expr) {
  std::vector<QualifiedRange> out;
  walk(expr, out);
  return out;
}

bool is_shape_only_argument(std::string_view call_name, size_t position, const Expr& argument) {
  bool shape_call = name_is(call_name, "ROW") || name_is(call_name, "ROWS") ||
                    name_is(call_name, "COLUMN") || name_is(call_name, "COLUMNS") ||
                    (name_is(call_name, "OFFSET") && position == 0);
  if (!shape_call) return false;
  switch (argument.kind()) {
    case Expr::Kind::Ref:
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange:
    case Expr::Kind::TableRef:
    case Expr::Kind::Name:
      return true;
    default:
      return false;
  }
}

std::optional<QualifiedRange> plain_reference_range(const Expr& expr) {
  switch (expr.kind()) {
    case Expr::Kind::Ref: {
      const auto& n = expr.as<node::Ref>();
      return QualifiedRange{n.sheet, CellRange{n.cell, n.cell}};
    }
    case Expr::Kind::Range: {
      const auto& n = expr.as<node::Range>();
      CellRange r = n.range;
      if (r.start.row > r.end.row) {
        std::swap(r.start.row, r.end.row);
        std::swap(r.start.abs_row, r.end.abs_row);
      }
      if (r.start.col > r.end.col) {
        std::swap(r.start.col, r.end.col);
        std::swap(r.start.abs_col, r.end.abs_col);
      }
      return QualifiedRange{n.sheet, r};
    }
    case Expr::Kind::ColumnRange: {
      const auto& n = expr.as<node::ColumnRange>();
      return QualifiedRange{n.sheet, CellRange{CellRef{0, n.range.start, false, n.range.abs_start},
                                               CellRef{kLastRow, n.range.end, false, n.range.abs_end}}};
    }
    case Expr::Kind::RowRange: {
      const auto& n = expr.as<node::RowRange>();
      return QualifiedRange{n.sheet, CellRange{CellRef{n.range.start, 0, n.range.abs_start, false},
                                               CellRef{n.range.end, kLastCol, n.range.abs_end, false}}};
    }
    default:
      return std::nullopt;
  }
}

std::optional<QualifiedRange> static_reference_of(const Expr& start) {
  const Expr* expr = &start;
  for (;;) {
    if (const auto* call = expr->get<node::Call>()) {
      if (name_is(call->name, "INDEX")) {
        if (call->args.empty()) return std::nullopt;
        expr = call->args[0].get();
        continue;
      }
      if (name_is(call->name, "OFFSET")) {
        StaticOffset off = static_offset(call->args);
        if (off.kind != StaticOffsetKind::Range) return std::nullopt;
        return off.range;
      }
      return std::nullopt;
    }
    if (const auto* op = expr->get<node::RangeOp>()) return static_range_op(*op->left, *op->right);
    return plain_reference_range(*expr);
  }
}

std::optional<QualifiedRange> static_range_op(const Expr& left, const Expr& right) {
  auto l = static_reference_of(left);
  if (!l) return std::nullopt;
  auto r = static_reference_of(right);
  if (!r) return std::nullopt;
  if (l->sheet != r->sheet) return std::nullopt;
  CellRange s;
  s.start.row = std::min(l->range.start.row, r->range.start.row);
  s.start.col = std::min(l->range.start.col, r->range.start.col);
  s.end.row = std::max(l->range.end.row, r->range.end.row);
  s.end.col = std::max(l->range.end.col, r->range.end.col);
  return QualifiedRange{l->sheet, normalized_range(s)};
}

StaticOffset static_offset(std::span<const ExprPtr> args) {
  if (args.size() < 3 || args.size() > 5) return {};
  auto base = plain_reference_range(*args[0]);
  if (!base) return {StaticOffsetKind::Dynamic, {}};
  auto rows = constant_integer(*args[1]);
  auto cols = constant_integer(*args[2]);
  if (!rows || !cols) return {StaticOffsetKind::Dynamic, {}};
  std::optional<int64_t> height;
  std::optional<int64_t> width;
  if (args.size() >= 4) {
    height = constant_integer(*args[3]);
    if (!height) return {StaticOffsetKind::Dynamic, {}};
  }
  if (args.size() == 5) {
    width = constant_integer(*args[4]);
    if (!width) return {StaticOffsetKind::Dynamic, {}};
  }
  auto r = offset_range(base->range, *rows, *cols, height, width);
  if (!r) return {};
  return {StaticOffsetKind::Range, QualifiedRange{base->sheet, *r}};
}

std::optional<int64_t> constant_integer(const Expr& expr) {
  if (const auto* n = expr.get<node::Number>()) {
    if (!std::isfinite(n->value)) return std::nullopt;
    return saturate_cast<int64_t>(n->value);
  }
  if (const auto* u = expr.get<node::Unary>()) {
    auto v = constant_integer(*u->operand);
    if (!v) return std::nullopt;
    if (u->plus) return v;
    if (*v == std::numeric_limits<int64_t>::min()) return std::nullopt;
    return -*v;
  }
  return std::nullopt;
}

std::optional<CellRange> offset_range(const CellRange& base, int64_t rows, int64_t cols,
                                      std::optional<int64_t> height,
                                      std::optional<int64_t> width) {
  int64_t h = height ? *height
                     : static_cast<int64_t>(static_cast<uint32_t>(base.end.row - base.start.row)) + 1;
  int64_t w = width ? *width
                    : static_cast<int64_t>(static_cast<uint32_t>(base.end.col - base.start.col)) + 1;
  int64_t top = 0;
  int64_t left = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(base.start.row), rows, &top)) return std::nullopt;
  if (__builtin_add_overflow(static_cast<int64_t>(base.start.col), cols, &left)) return std::nullopt;
  auto rspan = span_of(top, h, kLastRow);
  if (!rspan) return std::nullopt;
  auto cspan = span_of(left, w, kLastCol);
  if (!cspan) return std::nullopt;
  return CellRange{CellRef{static_cast<uint32_t>(rspan->first), static_cast<uint32_t>(cspan->first), false, false},
                   CellRef{static_cast<uint32_t>(rspan->second), static_cast<uint32_t>(cspan->second), false, false}};
}

}  // namespace cmx::formula
