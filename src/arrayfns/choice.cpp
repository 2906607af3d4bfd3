// IF, IFERROR and IFNA element by element, INDEX over arrays (handing plain
// cell reads to the built-in), and ANCHORARRAY.
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "arrayfns/handlers.h"
#include "arrayfns/shape.h"
#include "formula/array_eval.h"
#include "formula/names.h"
#include "formula/value_coercion.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

// A result of the given shape whose element (r, c) is element(r, c).
template <typename Element>
ArrayOutcome element_wise(EvalContext& ctx, uint64_t rows, uint64_t cols, Element element) {
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) CMX_TRY(push_array_value(builder, element(r, c)));
  }
  return make_array(rows, cols, std::move(builder));
}

ArrayOutcome if_choice(Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) return fail(CellErrorCode::Value);
  EvalResult condition = eval_array(*args[0], ctx);
  if (condition.is_scalar()) {
    const CellValue& v = condition.as_scalar();
    if (v.is_error()) return fail(v.as_error());
    CMX_ASSIGN_OR_RETURN(bool chosen, value_to_bool(v));
    if (chosen) return eval_array(*args[1], ctx);
    if (args.size() == 2) return EvalResult::scalar(CellValue::boolean(false));
    return eval_array(*args[2], ctx);
  }
  const EvalResult if_true = eval_array(*args[1], ctx);
  const EvalResult if_false =
      args.size() == 3 ? eval_array(*args[2], ctx) : EvalResult::scalar(CellValue::boolean(false));
  return element_wise(ctx, condition.rows(), condition.cols(), [&](uint64_t r, uint64_t c) {
    auto chosen = value_to_bool(array_element_at(condition, r, c));
    if (!chosen.has_value()) return CellValue::error(chosen.error());
    CellValue v = array_element_at(*chosen ? if_true : if_false, r, c);
    return v.is_empty() ? CellValue::number(0) : v;
  });
}

using ErrorTest = bool (*)(const CellValue&);
bool is_any_error(const CellValue& v) { return v.is_error(); }
bool is_na_error(const CellValue& v) { return v.is_error() && v.as_error() == CellErrorCode::NA; }

// Forgets what was counted since `before`: the error the first argument
// stood for has been replaced.
struct CountsMark {
  uint64_t limit_hits;
  uint64_t unknown_calls;
  explicit CountsMark(const EvalShared& shared)
      : limit_hits(shared.limit_hits), unknown_calls(shared.unknown_calls) {}
  void restore(EvalShared& shared) const {
    shared.limit_hits = std::min(shared.limit_hits, limit_hits);
    shared.unknown_calls = std::min(shared.unknown_calls, unknown_calls);
  }
};

ArrayOutcome if_error_elementwise(Args args, EvalContext& ctx, ErrorTest holds) {
  if (args.size() != 2) return fail(CellErrorCode::Value);
  EvalShared& shared = *ctx.shared;
  const CountsMark at_start(shared);
  EvalResult value = eval_array(*args[0], ctx);
  if (value.is_lambda()) return value;
  bool replace = false;
  if (value.is_scalar()) {
    if (!holds(value.as_scalar())) return value;
    replace = true;
  } else {
    replace = std::ranges::any_of(value.as_array().values, holds);
  }
  EvalResult fallback;
  if (replace) {
    at_start.restore(shared);
    fallback = eval_array(*args[1], ctx);
  } else {
    // An error-free array still meets the fallback's shape: where the
    // fallback is larger, the array's missing positions read as #N/A.
    const CountsMark before_fallback(shared);
    fallback = eval_array(*args[1], ctx);
    if (fallback.rows() <= value.rows() && fallback.cols() <= value.cols()) {
      before_fallback.restore(shared);
      return value;
    }
  }
  const uint64_t rows = std::max(value.rows(), fallback.rows());
  const uint64_t cols = std::max(value.cols(), fallback.cols());
  return element_wise(ctx, rows, cols, [&](uint64_t r, uint64_t c) {
    CellValue e = array_element_at(value, r, c);
    return holds(e) ? array_element_at(fallback, r, c) : e;
  });
}

// An element of an INDEX position list as a whole number.
Result<double, CellErrorCode> position_number(const CellValue& v) {
  CMX_ASSIGN_OR_RETURN(double x, value_to_number(v));
  return std::trunc(x);
}

ArrayOutcome index_element_wise(Args args, EvalContext& ctx, const EvalResult& rows_at,
                                const std::optional<EvalResult>& cols_at) {
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  uint64_t rows = rows_at.rows();
  uint64_t cols = rows_at.cols();
  if (cols_at) {
    rows = std::max(rows, cols_at->rows());
    cols = std::max(cols, cols_at->cols());
  }
  const bool one_row = source.rows == 1 && source.cols >= 2;
  return element_wise(ctx, rows, cols, [&](uint64_t r, uint64_t c) {
    auto first = position_number(array_element_at(rows_at, r, c));
    if (!first.has_value()) return CellValue::error(first.error());
    double row = *first;
    double col = 1;
    if (cols_at) {
      auto second = position_number(array_element_at(*cols_at, r, c));
      if (!second.has_value()) return CellValue::error(second.error());
      col = *second;
    } else if (one_row) {
      col = row;
      row = 1;
    }
    if (row < 1 || row > static_cast<double>(source.rows) || col < 1 ||
        col > static_cast<double>(source.cols)) {
      return CellValue::error(CellErrorCode::Ref);
    }
    return array_value_at(source.values, source.rows, source.cols, static_cast<uint64_t>(row) - 1,
                          static_cast<uint64_t>(col) - 1);
  });
}

ArrayOutcome index_scalar_positions(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(double row_arg, arg_number_or_default(args, 1, ctx, 0));
  double row = std::trunc(row_arg);
  double col = 0;
  if (args.size() == 3) {
    CMX_ASSIGN_OR_RETURN(double col_arg, arg_number_or_default(args, 2, ctx, 0));
    col = std::trunc(col_arg);
  } else if (source.rows == 1 && source.cols >= 2) {
    col = row;
    row = 0;
  }
  if (row < 0 || row > static_cast<double>(source.rows) || col < 0 ||
      col > static_cast<double>(source.cols)) {
    return fail(CellErrorCode::Ref);
  }
  const auto r = static_cast<uint64_t>(row);
  const auto c = static_cast<uint64_t>(col);
  if (r == 0 && c == 0) {
    const uint64_t rows = source.rows;
    const uint64_t cols = source.cols;
    return make_array(rows, cols, std::move(source.values));
  }
  if (r == 0) {
    const uint64_t pick[] = {c - 1};
    return pick_rows_cols(ctx, source, pick, PickAxis::Cols);
  }
  if (c == 0) {
    const uint64_t pick[] = {r - 1};
    return pick_rows_cols(ctx, source, pick, PickAxis::Rows);
  }
  return EvalResult::scalar(array_value_at(source.values, source.rows, source.cols, r - 1, c - 1));
}

bool whole_axis(const CellValue& v) {
  return v.is_empty() || (v.is_number() && v.as_number() == 0);
}

ArrayOutcome index(Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) return fail(CellErrorCode::Value);
  EvalResult rows_at = eval_array(*args[1], ctx);
  std::optional<EvalResult> cols_at;
  if (args.size() == 3) {
    EvalResult v = eval_array(*args[2], ctx);
    if (!(v.is_scalar() && v.as_scalar().is_empty())) cols_at = std::move(v);
  }
  bool reference_mode = false;
  const auto* name = args[0]->get<node::Name>();
  const bool bound = name != nullptr &&
                     find_scope_binding(name->scope.has_value(), name->name, ctx.shared->scopes);
  if (!bound) reference_mode = eval_reference(*args[0], ctx).has_value();
  if (!reference_mode && (rows_at.is_array() || (cols_at && cols_at->is_array()))) {
    return index_element_wise(args, ctx, rows_at, cols_at);
  }
  // One position each: the arguments again, with the positions as literals.
  const CellValue row = top_left_value(std::move(rows_at));
  const CellValue col = cols_at ? top_left_value(std::move(*cols_at)) : CellValue();
  std::vector<ExprPtr> fixed(args.begin(), args.end());
  fixed[1] = make_expr(node::Literal{row});
  if (args.size() == 3) fixed[2] = make_expr(node::Literal{col});
  const bool whole = whole_axis(row) || (args.size() == 3 && whole_axis(col));
  if (reference_mode && !whole) return call_builtin_fallback("INDEX", fixed, ctx);
  return index_scalar_positions(fixed, ctx);
}

ArrayOutcome anchorarray(Args args, EvalContext& ctx) {
  if (args.size() != 1) return fail(CellErrorCode::Ref);
  const auto* ref = args[0]->get<node::Ref>();
  if (ref == nullptr) return fail(CellErrorCode::Ref);
  uint32_t sheet = ctx.sheet;
  if (ref->sheet) {
    std::optional<uint32_t> found = ctx.source->sheet_index(*ref->sheet);
    if (!found) return fail(CellErrorCode::Ref);
    sheet = *found;
  }
  if (std::optional<model::CellRange> spilled = ctx.source->array_range(sheet, ref->cell)) {
    const SheetRange range{sheet, spilled->start,
                           uint64_t{spilled->end.row} - spilled->start.row + 1,
                           uint64_t{spilled->end.col} - spilled->start.col + 1};
    return eval_range_to_array(range, ctx);
  }
  CellValue storage;
  const CellValue& v = read_check(ctx.source->peek_cell_value(sheet, ref->cell), storage);
  return EvalResult::scalar(charged_copy(v, ctx));
}

}  // namespace

void array_fn_if(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(if_choice(args, ctx));
}
void array_fn_iferror(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(if_error_elementwise(args, ctx, is_any_error));
}
void array_fn_ifna(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(if_error_elementwise(args, ctx, is_na_error));
}
void array_fn_index(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(index(args, ctx));
}
void array_fn_anchorarray(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(anchorarray(args, ctx));
}

}  // namespace cmx::formula
