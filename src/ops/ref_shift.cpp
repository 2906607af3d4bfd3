#include "ops/ref_shift.h"

#include <algorithm>
#include <limits>

#include "base/unicode.h"

namespace cmx::ops {

namespace {

using formula::Expr;
using formula::ExprPtr;
namespace node = formula::node;

constexpr uint32_t kLastRow = model::MAX_ROWS - 1;
constexpr uint32_t kLastCol = model::MAX_COLS - 1;

uint32_t axis_limit(StructuralKind kind) { return shifts_rows(kind) ? kLastRow : kLastCol; }

// One index on the edit's axis: the new index, or absent when it is deleted
// or pushed past `limit`.
std::optional<uint32_t> move_index(uint32_t index, const StructuralShift& shift, uint32_t limit) {
  if (index < shift.at) return index;
  if (is_insert(shift.kind)) {
    const uint64_t moved = uint64_t{index} + shift.count;
    if (moved > limit) return std::nullopt;
    return static_cast<uint32_t>(moved);
  }
  if (index < band_end(shift)) return std::nullopt;
  return index - shift.count;
}

// Both bounds of a range on the edit's axis: insert moves each bound (none
// may pass `limit` unless `clamp`), delete drops a range wholly inside the
// band and cuts one that reaches into it.
std::optional<std::pair<uint32_t, uint32_t>> move_bounds(uint32_t start, uint32_t end, const StructuralShift& shift,
                                                         uint32_t limit, bool clamp) {
  if (is_insert(shift.kind)) {
    auto bound = [&](uint32_t value) -> std::optional<uint32_t> {
      if (value < shift.at) return value;
      const uint64_t moved = uint64_t{value} + shift.count;
      if (moved > limit) {
        if (!clamp) return std::nullopt;
        return limit;
      }
      return static_cast<uint32_t>(moved);
    };
    auto s = bound(start);
    auto e = bound(end);
    if (!s || !e) return std::nullopt;
    return std::pair{*s, *e};
  }
  const uint32_t stop = band_end(shift);
  if (start >= shift.at && end < stop) return std::nullopt;
  const uint32_t s = start < shift.at ? start : (start < stop ? shift.at : start - shift.count);
  const uint32_t e = end < shift.at ? end : (end < stop ? shift.at - 1 : end - shift.count);
  return std::pair{s, e};
}

std::pair<std::string_view, std::string_view> split_span(std::string_view qualifier) {
  const size_t colon = qualifier.find(':');
  if (colon == std::string_view::npos) return {qualifier, qualifier};
  return {qualifier.substr(0, colon), qualifier.substr(colon + 1)};
}

template <typename Node, typename Value>
ExprPtr rebuild(const Node& old, ShiftVerdict verdict, Value value, bool& changed, const ExprPtr& original) {
  if (verdict == ShiftVerdict::Unchanged) return original;
  changed = true;
  if (verdict == ShiftVerdict::Invalid) return formula::make_expr(node::Error{model::CellErrorCode::Ref});
  Node out = old;
  if constexpr (std::is_same_v<Node, node::Ref>) {
    out.cell = value;
  } else {
    out.range = value;
  }
  return formula::make_expr(std::move(out));
}

LineRange to_line(const formula::RowRange& range) {
  return {true, range.start, range.end, range.abs_start, range.abs_end};
}
LineRange to_line(const formula::ColumnRange& range) {
  return {false, range.start, range.end, range.abs_start, range.abs_end};
}
template <typename T>
T from_line(const LineRange& line) {
  return T{line.start, line.end, line.abs_start, line.abs_end};
}

// The qualifier of a reference node, if it is one with a qualifier.
std::optional<std::string> sheet_of(const Expr& expr) {
  if (auto ref = expr.get<node::Ref>()) return ref->sheet;
  if (auto range = expr.get<node::Range>()) return range->sheet;
  if (auto rows = expr.get<node::RowRange>()) return rows->sheet;
  if (auto columns = expr.get<node::ColumnRange>()) return columns->sheet;
  return std::nullopt;
}

struct Shifter {
  const StructuralShift& shift;
  const ReferenceTest& test;
  bool& changed;

  ExprPtr operator()(const ExprPtr& expr) {
    const Expr& e = *expr;
    switch (e.kind()) {
      case Expr::Kind::Ref: {
        const auto& ref = e.as<node::Ref>();
        if (!test(ref.sheet)) return expr;
        auto outcome = shift_cell_ref(ref.cell, shift);
        return rebuild(ref, outcome.verdict, outcome.value, changed, expr);
      }
      case Expr::Kind::Range: {
        const auto& range = e.as<node::Range>();
        if (!test(range.sheet)) return expr;
        auto outcome = shift_range(range.range, shift);
        return rebuild(range, outcome.verdict, outcome.value, changed, expr);
      }
      case Expr::Kind::RowRange: {
        const auto& range = e.as<node::RowRange>();
        if (!test(range.sheet)) return expr;
        auto outcome = shift_line_range(to_line(range.range), shift);
        return rebuild(range, outcome.verdict, from_line<formula::RowRange>(outcome.value), changed, expr);
      }
      case Expr::Kind::ColumnRange: {
        const auto& range = e.as<node::ColumnRange>();
        if (!test(range.sheet)) return expr;
        auto outcome = shift_line_range(to_line(range.range), shift);
        return rebuild(range, outcome.verdict, from_line<formula::ColumnRange>(outcome.value), changed, expr);
      }
      case Expr::Kind::RangeOp: return range_op(expr);
      case Expr::Kind::Unary: {
        const auto& unary = e.as<node::Unary>();
        ExprPtr operand = (*this)(unary.operand);
        if (operand == unary.operand) return expr;
        return formula::make_expr(node::Unary{unary.plus, std::move(operand)});
      }
      case Expr::Kind::Percent: {
        const auto& percent = e.as<node::Percent>();
        ExprPtr operand = (*this)(percent.operand);
        if (operand == percent.operand) return expr;
        return formula::make_expr(node::Percent{std::move(operand)});
      }
      case Expr::Kind::Binary: {
        const auto& binary = e.as<node::Binary>();
        ExprPtr left = (*this)(binary.left);
        ExprPtr right = (*this)(binary.right);
        if (left == binary.left && right == binary.right) return expr;
        return formula::make_expr(node::Binary{binary.op, std::move(left), std::move(right)});
      }
      case Expr::Kind::Call: {
        const auto& call = e.as<node::Call>();
        std::vector<ExprPtr> args;
        args.reserve(call.args.size());
        bool any = false;
        for (const ExprPtr& arg : call.args) {
          args.push_back((*this)(arg));
          any = any || args.back() != arg;
        }
        if (!any) return expr;
        return formula::make_expr(node::Call{call.name, call.id, std::move(args)});
      }
      default:
        return expr;
    }
  }

  // Two cell references of one sheet joined by ":" move as one range, so
  // that deleting a corner row shrinks the range instead of breaking it.
  ExprPtr range_op(const ExprPtr& expr) {
    const auto& op = expr->as<node::RangeOp>();
    const auto* left = op.left->get<node::Ref>();
    const auto* right = op.right->get<node::Ref>();
    if (left && right && left->sheet == right->sheet) {
      if (!test(left->sheet)) return expr;
      model::CellRange range;
      range.start = {std::min(left->cell.row, right->cell.row), std::min(left->cell.col, right->cell.col),
                     left->cell.abs_row, left->cell.abs_col};
      range.end = {std::max(left->cell.row, right->cell.row), std::max(left->cell.col, right->cell.col),
                   right->cell.abs_row, right->cell.abs_col};
      auto outcome = shift_range(range, shift);
      if (outcome.verdict == ShiftVerdict::Unchanged) return expr;
      changed = true;
      if (outcome.verdict == ShiftVerdict::Invalid) {
        return formula::make_expr(node::Error{model::CellErrorCode::Ref});
      }
      return formula::make_expr(node::RangeOp{formula::make_expr(node::Ref{left->sheet, outcome.value.start}),
                                              formula::make_expr(node::Ref{left->sheet, outcome.value.end})});
    }
    // The parser reads an unquoted span Jan:Mar!A1 as the name Jan, ":" and
    // Mar!A1; the span decides whether the reference moves.
    if (const auto* first = op.left->get<node::Name>(); first && !first->scope) {
      if (std::optional<std::string> last = sheet_of(*op.right)) {
        const std::string span = first->name + ":" + *last;
        const ReferenceTest spanned = [&](const std::optional<std::string>&) { return test(span); };
        bool moved = false;
        ExprPtr r = Shifter{shift, spanned, moved}(op.right);
        if (!moved) return expr;
        changed = true;
        if (r->kind() == Expr::Kind::Error) return r;
        return formula::make_expr(node::RangeOp{op.left, std::move(r)});
      }
    }
    ExprPtr l = (*this)(op.left);
    ExprPtr r = (*this)(op.right);
    if (l == op.left && r == op.right) return expr;
    return formula::make_expr(node::RangeOp{std::move(l), std::move(r)});
  }
};

}  // namespace

bool shifts_rows(StructuralKind kind) {
  return kind == StructuralKind::InsertRows || kind == StructuralKind::DeleteRows;
}

bool is_insert(StructuralKind kind) {
  return kind == StructuralKind::InsertRows || kind == StructuralKind::InsertColumns;
}

uint32_t band_end(const StructuralShift& shift) {
  const uint64_t end = uint64_t{shift.at} + shift.count;
  return static_cast<uint32_t>(std::min<uint64_t>(end, std::numeric_limits<uint32_t>::max()));
}

ShiftOutcome<model::CellRef> shift_cell_ref(const model::CellRef& cell, const StructuralShift& shift) {
  const bool rows = shifts_rows(shift.kind);
  const uint32_t index = rows ? cell.row : cell.col;
  std::optional<uint32_t> moved = move_index(index, shift, axis_limit(shift.kind));
  if (!moved) return {ShiftVerdict::Invalid, cell};
  if (*moved == index) return {ShiftVerdict::Unchanged, cell};
  model::CellRef out = cell;
  (rows ? out.row : out.col) = *moved;
  return {ShiftVerdict::Moved, out};
}

ShiftOutcome<model::CellRange> shift_range(const model::CellRange& range, const StructuralShift& shift) {
  const bool rows = shifts_rows(shift.kind);
  const uint32_t start = rows ? range.start.row : range.start.col;
  const uint32_t end = rows ? range.end.row : range.end.col;
  auto moved = move_bounds(start, end, shift, axis_limit(shift.kind), false);
  if (!moved) return {ShiftVerdict::Invalid, range};
  if (moved->first == start && moved->second == end) return {ShiftVerdict::Unchanged, range};
  model::CellRange out = range;
  (rows ? out.start.row : out.start.col) = moved->first;
  (rows ? out.end.row : out.end.col) = moved->second;
  return {ShiftVerdict::Moved, out};
}

ShiftOutcome<LineRange> shift_line_range(const LineRange& range, const StructuralShift& shift) {
  if (range.rows != shifts_rows(shift.kind)) return {ShiftVerdict::Unchanged, range};
  auto moved = move_bounds(range.start, range.end, shift, axis_limit(shift.kind), true);
  if (!moved) return {ShiftVerdict::Invalid, range};
  if (moved->first == range.start && moved->second == range.end) return {ShiftVerdict::Unchanged, range};
  LineRange out = range;
  out.start = moved->first;
  out.end = moved->second;
  return {ShiftVerdict::Moved, out};
}

namespace {

// One anchor cell index: inserts push it (absent past the grid), deletes
// pull an index inside the band up to the first surviving one.
std::optional<uint32_t> move_anchor_index(uint32_t index, const StructuralShift& shift) {
  if (index < shift.at) return index;
  if (is_insert(shift.kind)) return move_index(index, shift, axis_limit(shift.kind));
  if (index < band_end(shift)) return shift.at;
  return index - shift.count;
}

uint32_t& anchor_index(model::AnchorCell& cell, bool rows) { return rows ? cell.row : cell.col; }

}  // namespace

AnchorShift shift_anchor_for_structural_op(const model::ChartAnchor& anchor, const StructuralShift& shift) {
  const bool rows = shifts_rows(shift.kind);
  AnchorShift out{AnchorVerdict::Unchanged, anchor};
  auto leaves = [&] { return AnchorShift{AnchorVerdict::LeavesGrid, anchor}; };
  if (auto* one = std::get_if<model::OneCellAnchor>(&out.anchor)) {
    auto from = move_anchor_index(anchor_index(one->from, rows), shift);
    if (!from) return leaves();
    anchor_index(one->from, rows) = *from;
  } else if (auto* two = std::get_if<model::TwoCellAnchor>(&out.anchor)) {
    if (two->edit_as == model::ChartAnchorEditMode::Absolute) return out;
    const uint32_t old_from = anchor_index(two->from, rows);
    auto from = move_anchor_index(old_from, shift);
    if (!from) return leaves();
    anchor_index(two->from, rows) = *from;
    if (two->edit_as == model::ChartAnchorEditMode::OneCell) {
      const int64_t to = int64_t{anchor_index(two->to, rows)} + int64_t{*from} - int64_t{old_from};
      if (to < 0 || to > int64_t{axis_limit(shift.kind)}) return leaves();
      anchor_index(two->to, rows) = static_cast<uint32_t>(to);
    } else {
      auto to = move_anchor_index(anchor_index(two->to, rows), shift);
      if (!to) return leaves();
      anchor_index(two->to, rows) = *to;
    }
  } else {
    return out;
  }
  if (!(out.anchor == anchor)) out.verdict = AnchorVerdict::Moved;
  return out;
}

ShiftContext make_shift_context(const model::WorkbookModel& model, uint32_t edited) {
  ShiftContext context;
  context.names.reserve(model.sheets.size());
  for (uint32_t i = 0; i < model.sheets.size(); ++i) {
    context.names.insert_or_assign(unicode::to_lower(model.sheets[i].name), i);
  }
  context.edited = edited;
  if (edited < model.sheets.size()) context.edited_name = model.sheets[edited].name;
  context.sheet_count = model.sheets.size();
  return context;
}

std::optional<uint32_t> find_sheet(const ShiftContext& context, std::string_view name) {
  auto it = context.names.find(unicode::to_lower(name));
  if (it == context.names.end()) return std::nullopt;
  return it->second;
}

bool qualifier_covers_edited_sheet(std::string_view qualifier, const ShiftContext& context) {
  auto [first_name, last_name] = split_span(qualifier);
  auto first = find_sheet(context, first_name);
  auto last = find_sheet(context, last_name);
  if (!first || !last) return false;
  return std::min(*first, *last) <= context.edited && context.edited <= std::max(*first, *last);
}

bool sheet_ref_touches_edited_sheet(const std::optional<std::string>& qualifier, uint32_t home,
                                    const ShiftContext& context) {
  if (qualifier) return qualifier_covers_edited_sheet(*qualifier, context);
  return home == context.edited;
}

bool name_ref_touches_edited_sheet(const std::optional<std::string>& qualifier, const ShiftContext& context,
                                   bool scoped_to_edited, bool single_sheet) {
  if (qualifier) return qualifier_covers_edited_sheet(*qualifier, context);
  return scoped_to_edited || (single_sheet && context.edited == 0);
}

ExprPtr shift_expr_refs(const ExprPtr& expr, const StructuralShift& shift, const ReferenceTest& test,
                        bool& changed) {
  if (shift.count == 0) return expr;
  return Shifter{shift, test, changed}(expr);
}

}  // namespace cmx::ops
