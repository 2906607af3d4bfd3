// eval_scalar, eval_reference, the range operator and the budgeted reads.
#include "formula/evaluator.h"

#include <cmath>
#include <string>

#include "arrayfns/frame.h"
#include "formula/array_eval.h"
#include "formula/names.h"
#include "formula/table_ranges.h"
#include "formula/value_coercion.h"
#include "functions/dispatch.h"
#include "functions/references.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

CellValue error(CellErrorCode code) { return CellValue::error(code); }

std::optional<uint32_t> resolve_sheet(const std::optional<std::string>& sheet,
                                      const EvalContext& ctx) {
  if (!sheet) return ctx.sheet;
  return ctx.source->sheet_index(*sheet);
}

// The reference form a call stands for where a range is wanted, chosen by
// the name as written; none for every other call.
std::optional<Result<SheetRange, CellErrorCode>> reference_call(const node::Call& call,
                                                                EvalContext& ctx) {
  if (model::eq_ignore_ascii_case(call.name, "INDEX")) return index_reference(call.args, ctx);
  if (model::eq_ignore_ascii_case(call.name, "OFFSET")) return offset_reference(call.args, ctx);
  if (model::eq_ignore_ascii_case(call.name, "INDIRECT")) {
    return indirect_reference(call.args, ctx);
  }
  return std::nullopt;
}

uint32_t shifted(uint32_t index, bool absolute, int32_t by) {
  return absolute ? index : index + static_cast<uint32_t>(by);
}

model::CellRef placed(const model::CellRef& c, const EvalContext& ctx) {
  return model::CellRef{shifted(c.row, c.abs_row, ctx.shift_rows),
                        shifted(c.col, c.abs_col, ctx.shift_cols), c.abs_row, c.abs_col};
}

SheetRange range_of(uint32_t sheet, const model::CellRange& r) {
  return SheetRange{sheet, r.start, uint64_t{r.end.row} - r.start.row + 1,
                    uint64_t{r.end.col} - r.start.col + 1};
}

Result<SheetRange, CellErrorCode> table_range(const node::TableRef& ref, EvalContext& ctx) {
  const model::WorkbookTable* table = ctx.source->table(ref.table);
  if (table == nullptr) return unexpected(CellErrorCode::Ref);
  CMX_ASSIGN_OR_RETURN(model::CellRange cells,
                       table_reference_range(*table, ref.spec, ctx.current_cell));
  return range_of(table->sheet, cells);
}

// A side of ":" as a range, keeping the error that stopped it.
Result<SheetRange, CellErrorCode> range_operand(const Expr& expr, EvalContext& ctx) {
  switch (expr.kind()) {
    case Expr::Kind::Error:
      return unexpected(expr.as<node::Error>().code);
    case Expr::Kind::TableRef:
      return table_range(expr.as<node::TableRef>(), ctx);
    case Expr::Kind::RangeOp: {
      const auto& op = expr.as<node::RangeOp>();
      return range_op_reference(*op.left, *op.right, ctx);
    }
    case Expr::Kind::Call:
      if (auto range = reference_call(expr.as<node::Call>(), ctx)) return std::move(*range);
      break;
    default:
      break;
  }
  std::optional<SheetRange> range = eval_reference(expr, ctx);
  if (!range) return unexpected(CellErrorCode::Ref);
  return *range;
}

CellValue read_single_or_value_error(const Result<SheetRange, CellErrorCode>& range,
                                     EvalContext& ctx) {
  if (!range.has_value()) return error(range.error());
  if (range->height != 1 || range->width != 1) return error(CellErrorCode::Value);
  auto cell = read_range_cell(*range, 0, 0, ctx);
  if (!cell.has_value()) return error(cell.error());
  return std::move(cell).value();
}

// The node evaluators stay out of line: eval_scalar's own frame is what every
// level of nesting pays for.
[[gnu::noinline]] CellValue eval_ref(const node::Ref& ref, EvalContext& ctx) {
  std::optional<uint32_t> sheet = resolve_sheet(ref.sheet, ctx);
  if (!sheet) return error(CellErrorCode::Ref);
  SheetRange range{*sheet, placed(ref.cell, ctx), 1, 1};
  auto cell = read_range_cell(range, 0, 0, ctx);
  if (!cell.has_value()) return error(cell.error());
  return std::move(cell).value();
}

CellValue number_result(double x) {
  if (!std::isfinite(x)) return error(CellErrorCode::Num);
  return CellValue::number(x);
}

[[gnu::noinline]] CellValue eval_binary(const node::Binary& bin, EvalContext& ctx) {
  CellValue left = eval_scalar(*bin.left, ctx);
  if (left.is_error()) return left;
  CellValue right = eval_scalar(*bin.right, ctx);
  return binary_operation(bin.op, left, right, ctx);
}

[[gnu::noinline]] CellValue eval_literal(const node::Literal& literal, EvalContext& ctx) {
  const CellValue& v = literal.value;
  if (v.is_text()) return text_result(v.as_text(), ctx);
  if (v.is_number()) return number_result(v.as_number());
  return v;
}

[[gnu::noinline]] CellValue eval_text(const node::Text& text, EvalContext& ctx) {
  return text_result(text.text, ctx);
}

[[gnu::noinline]] CellValue eval_table_value(const node::TableRef& ref, EvalContext& ctx) {
  return read_single_or_value_error(table_range(ref, ctx), ctx);
}

[[gnu::noinline]] CellValue eval_unary(const node::Unary& unary, EvalContext& ctx) {
  return unary_operation(unary.plus, eval_scalar(*unary.operand, ctx));
}

[[gnu::noinline]] CellValue eval_percent(const node::Percent& percent, EvalContext& ctx) {
  return percent_operation(eval_scalar(*percent.operand, ctx));
}

[[gnu::noinline]] CellValue eval_range_op_value(const node::RangeOp& op, EvalContext& ctx) {
  return read_single_or_value_error(range_op_reference(*op.left, *op.right, ctx), ctx);
}

// An array function's call in a scalar place stands for the top-left value
// of its array-context result. A built-in that is also an array function
// goes there only when an argument reaches an array-only function.
[[gnu::noinline]] CellValue eval_call(const Expr& expr, EvalContext& ctx) {
  const auto& call = expr.as<node::Call>();
  const bool array_name = is_array_function_name(call.name);
  if (call.id == kNotBuiltin) {
    if (array_name) return top_left_value(eval_array(expr, ctx));
    count_unknown_call(ctx);
    return error(CellErrorCode::Name);
  }
  if (array_name) {
    for (const ExprPtr& arg : call.args) {
      if (uses_array_function(*arg, kArrayFunctionSearchDepth)) {
        return top_left_value(eval_array(expr, ctx));
      }
    }
  }
  CellValue out;
  call_builtin(out, call.id, call.args, ctx);
  return out;
}

}  // namespace

const CellValue& read_check(const CellValue& value, CellValue& storage) {
  if (value.is_text() && text_too_long(value.as_text())) {
    storage = error(CellErrorCode::Value);
    return storage;
  }
  if (value.is_number() && !std::isfinite(value.as_number())) {
    storage = error(CellErrorCode::Num);
    return storage;
  }
  return value;
}

CellValue binary_operation(BinaryOp op, const CellValue& left, const CellValue& right,
                           EvalContext& ctx) {
  if (left.is_error()) return left;
  if (right.is_error()) return right;
  switch (op) {
    case BinaryOp::Add:
    case BinaryOp::Sub:
    case BinaryOp::Mul:
    case BinaryOp::Div:
    case BinaryOp::Pow: {
      auto a = value_to_number(left);
      if (!a.has_value()) return error(a.error());
      auto b = value_to_number(right);
      if (!b.has_value()) return error(b.error());
      double x = *a, y = *b;
      switch (op) {
        case BinaryOp::Add:
          return number_result(x + y);
        case BinaryOp::Sub:
          return number_result(x - y);
        case BinaryOp::Mul:
          return number_result(x * y);
        case BinaryOp::Div:
          if (y == 0) return error(CellErrorCode::Div0);
          return number_result(x / y);
        default:
          return number_result(std::pow(x, y));
      }
    }
    case BinaryOp::Concat: {
      // Neither side is an error here, so both convert.
      std::string a = value_to_text(left).value();
      std::string b = value_to_text(right).value();
      if (!charge_bytes(ctx, uint64_t{a.size()} + b.size())) return error(CellErrorCode::Num);
      a += b;
      return text_within_limit(a);
    }
    case BinaryOp::Eq:
      return CellValue::boolean(compare_values(left, right) == 0);
    case BinaryOp::Ne:
      return CellValue::boolean(compare_values(left, right) != 0);
    case BinaryOp::Lt:
      return CellValue::boolean(compare_values(left, right) < 0);
    case BinaryOp::Le:
      return CellValue::boolean(compare_values(left, right) <= 0);
    case BinaryOp::Gt:
      return CellValue::boolean(compare_values(left, right) > 0);
    case BinaryOp::Ge:
      return CellValue::boolean(compare_values(left, right) >= 0);
  }
  return error(CellErrorCode::Value);
}


CellValue unary_operation(bool plus, CellValue operand) {
  if (plus) return operand;
  auto n = value_to_number(operand);
  if (!n.has_value()) return error(n.error());
  return CellValue::number(-*n);
}

CellValue percent_operation(const CellValue& operand) {
  auto n = value_to_number(operand);
  if (!n.has_value()) return error(n.error());
  return number_result(*n / 100);
}

Result<SheetRange, CellErrorCode> table_reference(const node::TableRef& ref, EvalContext& ctx) {
  return table_range(ref, ctx);
}

CellValue charged_copy(const CellValue& value, EvalContext& ctx) {
  if (value.is_text() && !charge_bytes(ctx, value.as_text().size())) {
    return error(CellErrorCode::Num);
  }
  return value;
}

CellValue eval_scalar(const Expr& expr, EvalContext& ctx) {
  EvalDepthGuard depth(ctx);
  if (depth.refused()) return error(CellErrorCode::Num);
  switch (expr.kind()) {
    case Expr::Kind::Number:
      return number_result(expr.as<node::Number>().value);
    case Expr::Kind::Literal:
      return eval_literal(expr.as<node::Literal>(), ctx);
    case Expr::Kind::Array:
      return top_left_value(eval_array(expr, ctx));
    case Expr::Kind::Text:
      return eval_text(expr.as<node::Text>(), ctx);
    case Expr::Kind::Bool:
      return CellValue::boolean(expr.as<node::Bool>().value);
    case Expr::Kind::Error:
      return error(expr.as<node::Error>().code);
    case Expr::Kind::Ref:
      return eval_ref(expr.as<node::Ref>(), ctx);
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange:
      return error(CellErrorCode::Value);
    case Expr::Kind::TableRef:
      return eval_table_value(expr.as<node::TableRef>(), ctx);
    case Expr::Kind::Name:
      return eval_name_value(expr.as<node::Name>(), ctx);
    case Expr::Kind::Unary:
      return eval_unary(expr.as<node::Unary>(), ctx);
    case Expr::Kind::Binary:
      return eval_binary(expr.as<node::Binary>(), ctx);
    case Expr::Kind::Percent:
      return eval_percent(expr.as<node::Percent>(), ctx);
    case Expr::Kind::RangeOp:
      return eval_range_op_value(expr.as<node::RangeOp>(), ctx);
    case Expr::Kind::Call:
      return eval_call(expr, ctx);
  }
  return error(CellErrorCode::Value);
}

std::optional<SheetRange> eval_reference(const Expr& expr, EvalContext& ctx) {
  EvalDepthGuard depth(ctx);
  if (depth.refused()) return std::nullopt;
  switch (expr.kind()) {
    case Expr::Kind::Ref: {
      const auto& ref = expr.as<node::Ref>();
      std::optional<uint32_t> sheet = resolve_sheet(ref.sheet, ctx);
      if (!sheet) return std::nullopt;
      return SheetRange{*sheet, placed(ref.cell, ctx), 1, 1};
    }
    case Expr::Kind::Range: {
      const auto& ref = expr.as<node::Range>();
      std::optional<uint32_t> sheet = resolve_sheet(ref.sheet, ctx);
      if (!sheet) return std::nullopt;
      return range_of(*sheet, model::CellRange{placed(ref.range.start, ctx), placed(ref.range.end, ctx)});
    }
    case Expr::Kind::ColumnRange: {
      const auto& ref = expr.as<node::ColumnRange>();
      std::optional<uint32_t> sheet = resolve_sheet(ref.sheet, ctx);
      if (!sheet) return std::nullopt;
      uint32_t start = shifted(ref.range.start, ref.range.abs_start, ctx.shift_cols);
      uint32_t end = shifted(ref.range.end, ref.range.abs_end, ctx.shift_cols);
      return SheetRange{*sheet, model::CellRef{0, start, false, ref.range.abs_start}, kGridRows,
                        uint64_t{end} - start + 1};
    }
    case Expr::Kind::RowRange: {
      const auto& ref = expr.as<node::RowRange>();
      std::optional<uint32_t> sheet = resolve_sheet(ref.sheet, ctx);
      if (!sheet) return std::nullopt;
      uint32_t start = shifted(ref.range.start, ref.range.abs_start, ctx.shift_rows);
      uint32_t end = shifted(ref.range.end, ref.range.abs_end, ctx.shift_rows);
      return SheetRange{*sheet, model::CellRef{start, 0, ref.range.abs_start, false},
                        uint64_t{end} - start + 1, kGridCols};
    }
    case Expr::Kind::TableRef: {
      auto range = table_range(expr.as<node::TableRef>(), ctx);
      if (!range.has_value()) return std::nullopt;
      return *range;
    }
    case Expr::Kind::Name:
      return eval_name_reference(expr.as<node::Name>(), ctx);
    case Expr::Kind::RangeOp: {
      const auto& op = expr.as<node::RangeOp>();
      auto range = range_op_reference(*op.left, *op.right, ctx);
      if (!range.has_value()) return std::nullopt;
      return *range;
    }
    case Expr::Kind::Call: {
      auto range = reference_call(expr.as<node::Call>(), ctx);
      if (!range || !range->has_value()) return std::nullopt;
      return **range;
    }
    default:
      return std::nullopt;
  }
}

Result<SheetRange, CellErrorCode> range_op_reference(const Expr& left, const Expr& right,
                                                     EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(SheetRange a, range_operand(left, ctx));
  CMX_ASSIGN_OR_RETURN(SheetRange b, range_operand(right, ctx));
  if (a.sheet != b.sheet) return unexpected(CellErrorCode::Ref);
  uint64_t top = std::min<uint64_t>(a.start.row, b.start.row);
  uint64_t left_col = std::min<uint64_t>(a.start.col, b.start.col);
  uint64_t bottom = std::max(a.start.row + a.height - 1, b.start.row + b.height - 1);
  uint64_t right_col = std::max(a.start.col + a.width - 1, b.start.col + b.width - 1);
  return SheetRange{a.sheet,
                    model::CellRef{static_cast<uint32_t>(top), static_cast<uint32_t>(left_col),
                                   false, false},
                    bottom - top + 1, right_col - left_col + 1};
}

SheetRange clip_to_used(const SheetRange& range, const EvalContext& ctx) {
  SheetRange clipped = range;
  if (range.height >= kGridRows) {
    uint64_t used = ctx.source->used_rows(range.sheet);
    clipped.height = used > range.start.row ? used - range.start.row : 0;
    if (clipped.height == 0) clipped.height = 1;
  }
  if (range.width >= kGridCols) {
    uint64_t used = ctx.source->used_cols(range.sheet);
    clipped.width = used > range.start.col ? used - range.start.col : 0;
    if (clipped.width == 0) clipped.width = 1;
  }
  return clipped;
}

const CellValue& peek_checked(const SheetRange& range, uint64_t row_offset, uint64_t col_offset,
                              const EvalContext& ctx) {
  static const CellValue kValueError = error(CellErrorCode::Value);
  static const CellValue kNumError = error(CellErrorCode::Num);
  model::CellRef cell{static_cast<uint32_t>(range.start.row + row_offset),
                      static_cast<uint32_t>(range.start.col + col_offset), false, false};
  const CellValue& v = ctx.source->peek_cell_value(range.sheet, cell);
  CellValue storage;
  const CellValue& checked = read_check(v, storage);
  if (&checked != &storage) return v;
  return storage.as_error() == CellErrorCode::Value ? kValueError : kNumError;
}

Result<std::vector<const CellValue*>, CellErrorCode> read_range_values(const SheetRange& range,
                                                                       EvalContext& ctx) {
  uint64_t count = 0;
  if (__builtin_mul_overflow(range.height, range.width, &count)) {
    mark_limited(ctx);
    return unexpected(CellErrorCode::Num);
  }
  if (!charge_cells(ctx, count)) return unexpected(CellErrorCode::Num);
  std::vector<const CellValue*> values;
  values.reserve(count);
  for (uint64_t r = 0; r < range.height; ++r) {
    for (uint64_t c = 0; c < range.width; ++c) values.push_back(&peek_checked(range, r, c, ctx));
  }
  return values;
}

Result<const CellValue*, CellErrorCode> peek_range_cell(const SheetRange& range,
                                                        uint64_t row_offset, uint64_t col_offset,
                                                        EvalContext& ctx) {
  if (!charge_cells(ctx, 1)) return unexpected(CellErrorCode::Num);
  return &peek_checked(range, row_offset, col_offset, ctx);
}

Result<CellValue, CellErrorCode> read_range_cell(const SheetRange& range, uint64_t row_offset,
                                                 uint64_t col_offset, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(const CellValue* v, peek_range_cell(range, row_offset, col_offset, ctx));
  if (v->is_text() && !charge_bytes(ctx, v->as_text().size())) {
    return unexpected(CellErrorCode::Num);
  }
  return *v;
}

}  // namespace cmx::formula
