// eval_array, array constants, range reads as arrays, the lazy XLOOKUP
// fallback and splitting at delimiters.
#include "formula/array_eval.h"

#include <algorithm>

#include "arrayfns/frame.h"
#include "formula/lifted.h"
#include "formula/names.h"
#include "functions/dispatch.h"
#include "model/workbook.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

EvalResult error(CellErrorCode code) { return EvalResult::error(code); }

// Settles the shape of an element-by-element result before any element is
// computed: too large gives "#NUM!" without marking the evaluation limited,
// a refused cell charge "#NUM!" with it.
std::optional<CellErrorCode> reserve_shape(uint64_t rows, uint64_t cols, EvalContext& ctx,
                                           uint64_t& cells) {
  if (__builtin_mul_overflow(rows, cols, &cells) || cells > kMaxArrayCells) {
    return CellErrorCode::Num;
  }
  if (!charge_cells(ctx, cells)) return CellErrorCode::Num;
  return std::nullopt;
}

template <typename Op>
EvalResult element_wise(uint64_t rows, uint64_t cols, EvalContext& ctx, Op op) {
  uint64_t cells = 0;
  if (auto failed = reserve_shape(rows, cols, ctx, cells)) return error(*failed);
  ArrayBuilder builder(ctx, cells);
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) {
      auto pushed = push_array_value(builder, op(r, c));
      if (!pushed.has_value()) return error(pushed.error());
    }
  }
  return make_array(rows, cols, std::move(builder));
}

[[gnu::noinline]] EvalResult eval_unary_array(const node::Unary& unary, EvalContext& ctx) {
  EvalResult operand = eval_array(*unary.operand, ctx);
  if (!operand.is_array()) {
    return EvalResult::scalar(unary_operation(unary.plus, top_left_value(std::move(operand))));
  }
  return element_wise(operand.rows(), operand.cols(), ctx, [&](uint64_t r, uint64_t c) {
    return unary_operation(unary.plus, array_element_at(operand, r, c));
  });
}

[[gnu::noinline]] EvalResult eval_percent_array(const node::Percent& percent, EvalContext& ctx) {
  EvalResult operand = eval_array(*percent.operand, ctx);
  if (!operand.is_array()) {
    return EvalResult::scalar(percent_operation(top_left_value(std::move(operand))));
  }
  return element_wise(operand.rows(), operand.cols(), ctx, [&](uint64_t r, uint64_t c) {
    return percent_operation(array_element_at(operand, r, c));
  });
}

[[gnu::noinline]] EvalResult eval_binary_array(const node::Binary& bin, EvalContext& ctx) {
  // Both sides always: an unknown call on the right is counted even when the
  // left side is already an error.
  EvalResult left = eval_array(*bin.left, ctx);
  EvalResult right = eval_array(*bin.right, ctx);
  if (left.is_scalar() && right.is_scalar()) {
    return EvalResult::scalar(binary_operation(bin.op, left.as_scalar(), right.as_scalar(), ctx));
  }
  const uint64_t rows = std::max(left.rows(), right.rows());
  const uint64_t cols = std::max(left.cols(), right.cols());
  return element_wise(rows, cols, ctx, [&](uint64_t r, uint64_t c) {
    return binary_operation(bin.op, array_element_at(left, r, c), array_element_at(right, r, c),
                            ctx);
  });
}

[[gnu::noinline]] EvalResult eval_constant_array(const node::Array& array, EvalContext& ctx) {
  const uint64_t count = array.elements.size();
  if (array.columns == 0 || count % array.columns != 0) return error(CellErrorCode::Value);
  return eval_array_constant(array.elements, count / array.columns, array.columns, ctx);
}

// A reference read whole, or the expression's single value when it is none.
EvalResult reference_or_value(const Expr& expr, EvalContext& ctx) {
  if (std::optional<SheetRange> range = eval_reference(expr, ctx)) {
    return eval_range_to_array(*range, ctx);
  }
  return EvalResult::scalar(eval_scalar(expr, ctx));
}

[[gnu::noinline]] EvalResult eval_name_array(const Expr& expr, EvalContext& ctx) {
  const auto& name = expr.as<node::Name>();
  std::optional<ScopeBinding> binding =
      find_scope_binding(name.scope.has_value(), name.name, ctx.shared->scopes);
  if (!binding) return reference_or_value(expr, ctx);
  const EvalResult& bound = *binding->value;
  if (bound.is_array()) {
    // A bound array is copied, and paid for, at every use.
    const ArrayValue& array = bound.as_array();
    if (!charge_cells(ctx, array.values.size())) return error(CellErrorCode::Num);
    uint64_t bytes = 0;
    for (const CellValue& v : array.values) {
      if (v.is_text()) bytes = saturating_add(bytes, v.as_text().size());
    }
    if (!charge_bytes(ctx, bytes)) return error(CellErrorCode::Num);
  }
  return bound;
}

[[gnu::noinline]] EvalResult eval_range_array(const Expr& expr, EvalContext& ctx) {
  std::optional<SheetRange> range = eval_reference(expr, ctx);
  if (!range) return error(CellErrorCode::Ref);
  return eval_range_to_array(*range, ctx);
}

[[gnu::noinline]] EvalResult eval_table_array(const node::TableRef& ref, EvalContext& ctx) {
  auto range = table_reference(ref, ctx);
  if (!range.has_value()) return error(range.error());
  return eval_range_to_array(*range, ctx);
}

[[gnu::noinline]] EvalResult eval_call_array(const Expr& expr, EvalContext& ctx) {
  const auto& call = expr.as<node::Call>();
  if (model::eq_ignore_ascii_case(call.name, "OFFSET") ||
      model::eq_ignore_ascii_case(call.name, "INDIRECT")) {
    return reference_or_value(expr, ctx);
  }
  std::optional<FunctionName> upper = normalise_function_name(call.name);
  if (upper) {
    if (ArrayFnHandler handler = array_function(upper->view())) {
      EvalResult out;
      handler(out, call.args, ctx);
      return out;
    }
  }
  if (call.id == kNotBuiltin) {
    count_unknown_call(ctx);
    return error(CellErrorCode::Name);
  }
  if (upper && lifted_over_every_argument(upper->view())) {
    EvalResult out;
    call_lifted(out, call.id, call.args, ctx, std::nullopt);
    return out;
  }
  if (auto positions = upper ? liftable_args(upper->view()) : std::nullopt) {
    EvalResult out;
    call_lifted(out, call.id, call.args, ctx, positions);
    return out;
  }
  CellValue out;
  call_builtin(out, call.id, call.args, ctx);
  return EvalResult::scalar(std::move(out));
}

bool matches_at(std::string_view text, size_t at, std::string_view delimiter, bool ignore_case) {
  if (text.size() - at < delimiter.size()) return false;
  if (!ignore_case) return text.compare(at, delimiter.size(), delimiter) == 0;
  return model::eq_ignore_ascii_case(text.substr(at, delimiter.size()), delimiter);
}

// Bytes of the UTF-8 character starting with `lead` (1 for a stray byte).
size_t char_length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

EvalResult eval_array(const Expr& expr, EvalContext& ctx) {
  EvalDepthGuard depth(ctx);
  if (depth.refused()) return error(CellErrorCode::Num);
  switch (expr.kind()) {
    case Expr::Kind::Number:
    case Expr::Kind::Literal:
    case Expr::Kind::Text:
    case Expr::Kind::Bool:
    case Expr::Kind::Error:
    case Expr::Kind::Ref:
      return EvalResult::scalar(eval_scalar(expr, ctx));
    case Expr::Kind::Array:
      return eval_constant_array(expr.as<node::Array>(), ctx);
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::RowRange:
      return eval_range_array(expr, ctx);
    case Expr::Kind::TableRef:
      return eval_table_array(expr.as<node::TableRef>(), ctx);
    case Expr::Kind::Name:
      return eval_name_array(expr, ctx);
    case Expr::Kind::Unary:
      return eval_unary_array(expr.as<node::Unary>(), ctx);
    case Expr::Kind::Binary:
      return eval_binary_array(expr.as<node::Binary>(), ctx);
    case Expr::Kind::Percent:
      return eval_percent_array(expr.as<node::Percent>(), ctx);
    case Expr::Kind::RangeOp:
      return reference_or_value(expr, ctx);
    case Expr::Kind::Call:
      return eval_call_array(expr, ctx);
  }
  return error(CellErrorCode::Value);
}

EvalResult eval_array_constant(std::span<const ExprPtr> elements, uint64_t rows, uint64_t cols,
                               EvalContext& ctx) {
  uint64_t cells = 0;
  if (auto failed = reserve_shape(rows, cols, ctx, cells)) return error(*failed);
  ArrayBuilder builder(ctx, std::min<uint64_t>(cells, elements.size()));
  for (const ExprPtr& element : elements) {
    auto pushed = push_array_value(builder, top_left_value(eval_array(*element, ctx)));
    if (!pushed.has_value()) return error(pushed.error());
  }
  return make_array(rows, cols, std::move(builder));
}

EvalResult eval_range_to_array(const SheetRange& range, EvalContext& ctx) {
  const SheetRange clipped = clip_to_used(range, ctx);
  auto cells = read_range_values(clipped, ctx);
  if (!cells.has_value()) return error(cells.error());
  uint64_t bytes = 0;
  for (const CellValue* v : *cells) {
    if (v->is_text()) bytes = saturating_add(bytes, v->as_text().size());
  }
  if (!charge_bytes(ctx, bytes)) return error(CellErrorCode::Num);
  std::vector<CellValue> values;
  values.reserve(cells->size());
  for (const CellValue* v : *cells) values.push_back(*v);
  return make_array(clipped.height, clipped.width, std::move(values));
}

const CellValue& LazyFormulaValue::get(Args args, EvalContext& ctx) {
  if (!value_) init(args, ctx);
  return *value_;
}

void LazyFormulaValue::init(Args args, EvalContext& ctx) {
  if (value_) fail_invariant("lazy formula value filled twice");
  if (args.size() < 4) {
    value_ = CellValue::error(CellErrorCode::NA);
    return;
  }
  const auto* literal = args[3]->get<node::Literal>();
  if (literal != nullptr && literal->value.is_empty()) {
    value_ = CellValue::error(CellErrorCode::NA);
    return;
  }
  value_ = top_left_value(eval_array(*args[3], ctx));
}

std::vector<std::string> split_by_delimiters(std::string_view text,
                                             std::span<const std::string> delimiters,
                                             bool ignore_case) {
  std::vector<std::string> pieces;
  if (delimiters.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  size_t piece_start = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t best = 0;
    for (const std::string& delimiter : delimiters) {
      if (delimiter.size() > best && matches_at(text, at, delimiter, ignore_case)) {
        best = delimiter.size();
      }
    }
    if (best == 0) {
      at += std::min(char_length(static_cast<unsigned char>(text[at])), text.size() - at);
      continue;
    }
    pieces.emplace_back(text.substr(piece_start, at - piece_start));
    at += best;
    piece_start = at;
  }
  pieces.emplace_back(text.substr(piece_start));
  return pieces;
}

}  // namespace cmx::formula
