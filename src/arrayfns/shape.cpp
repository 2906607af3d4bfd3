// SEQUENCE, TAKE, DROP, EXPAND, CHOOSEROWS, CHOOSECOLS, TOCOL, TOROW,
// WRAPROWS, WRAPCOLS and TRANSPOSE, and the sizing and picking they share.
#include "arrayfns/shape.h"

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "arrayfns/handlers.h"
#include "formula/array_eval.h"
#include "formula/value_coercion.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

bool arity_outside(Args args, size_t least, size_t most) {
  return args.size() < least || args.size() > most;
}

// A count read from the top-left value of argument i: absent for Empty.
Result<std::optional<double>, CellErrorCode> optional_count(Args args, size_t i,
                                                            EvalContext& ctx) {
  CellValue v = arg_top_left(args, i, ctx);
  if (v.is_empty()) return std::optional<double>();
  CMX_ASSIGN_OR_RETURN(double x, value_to_number(v));
  return std::optional<double>(x);
}

// Copies rows [r0, r1) × cols [c0, c1) of the source into a new result.
ArrayOutcome copy_block(EvalContext& ctx, const ArrayValue& source, uint64_t r0, uint64_t r1,
                        uint64_t c0, uint64_t c1) {
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, r1 - r0, c1 - c0));
  for (uint64_t r = r0; r < r1; ++r) {
    for (uint64_t c = c0; c < c1; ++c) {
      CMX_TRY(push_array_value(builder, source.values[r * source.cols + c]));
    }
  }
  return make_array(r1 - r0, c1 - c0, std::move(builder));
}

ArrayOutcome sequence(Args args, EvalContext& ctx) {
  if (arity_outside(args, 1, 4)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double rows_arg, arg_number_or_default(args, 0, ctx, 1));
  CMX_ASSIGN_OR_RETURN(uint64_t rows, size_from_number(rows_arg));
  CMX_ASSIGN_OR_RETURN(double cols_arg, arg_number_or_default(args, 1, ctx, 1));
  CMX_ASSIGN_OR_RETURN(uint64_t cols, size_from_number(cols_arg));
  CMX_ASSIGN_OR_RETURN(double start, arg_number_or_default(args, 2, ctx, 1));
  CMX_ASSIGN_OR_RETURN(double step, arg_number_or_default(args, 3, ctx, 1));
  CMX_TRY(charge_array_cells(ctx, rows, cols));
  const uint64_t cells = rows * cols;
  std::vector<CellValue> values;
  values.reserve(cells);
  for (uint64_t k = 0; k < cells; ++k) {
    const double x = start + static_cast<double>(k) * step;
    values.push_back(std::isfinite(x) ? CellValue::number(x) : CellValue::error(CellErrorCode::Num));
  }
  return make_array(rows, cols, std::move(values));
}

struct Span {
  uint64_t begin = 0;
  uint64_t end = 0;
};

Span take_drop_span(std::optional<double> count, uint64_t n, bool take) {
  if (!count) return {0, n};
  const double t = std::trunc(*count);
  const double magnitude = std::fabs(t);
  if (magnitude > static_cast<double>(n)) return take ? Span{0, n} : Span{0, 0};
  const auto k = static_cast<uint64_t>(magnitude);
  const bool negative = t < 0;
  if (take) return negative ? Span{n - k, n} : Span{0, k};
  return negative ? Span{0, n - k} : Span{k, n};
}

ArrayOutcome take_drop(Args args, EvalContext& ctx, bool take) {
  if (arity_outside(args, 2, 3)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(std::optional<double> row_count, optional_count(args, 1, ctx));
  const Span rows = take_drop_span(row_count, source.rows, take);
  Span cols{0, source.cols};
  if (args.size() == 3) {
    CMX_ASSIGN_OR_RETURN(std::optional<double> col_count, optional_count(args, 2, ctx));
    cols = take_drop_span(col_count, source.cols, take);
  }
  if (rows.begin == rows.end || cols.begin == cols.end) return fail(CellErrorCode::Value);
  return copy_block(ctx, source, rows.begin, rows.end, cols.begin, cols.end);
}

// An EXPAND size: Empty keeps the source's own extent.
Result<uint64_t, CellErrorCode> expand_size(Args args, size_t i, uint64_t own, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(std::optional<double> count, optional_count(args, i, ctx));
  if (!count) return own;
  return size_from_number(*count);
}

ArrayOutcome expand(Args args, EvalContext& ctx) {
  if (arity_outside(args, 2, 4)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(uint64_t rows, expand_size(args, 1, source.rows, ctx));
  uint64_t cols = source.cols;
  if (args.size() >= 3) {
    CMX_ASSIGN_OR_RETURN(cols, expand_size(args, 2, source.cols, ctx));
  }
  if (rows < source.rows || cols < source.cols) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::optional<CellValue> pad_arg, arg_optional_value(args, 3, ctx));
  const CellValue pad = pad_arg ? std::move(*pad_arg) : CellValue::error(CellErrorCode::NA);
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) {
      const bool inside = r < source.rows && c < source.cols;
      CMX_TRY(push_array_value(builder, inside ? source.values[r * source.cols + c] : pad));
    }
  }
  return make_array(rows, cols, std::move(builder));
}

ArrayOutcome choose_rows_cols(Args args, EvalContext& ctx, PickAxis axis) {
  if (args.size() < 2) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  const uint64_t n = axis == PickAxis::Rows ? source.rows : source.cols;
  std::vector<uint64_t> positions;
  for (size_t i = 1; i < args.size(); ++i) {
    CMX_ASSIGN_OR_RETURN(ArrayValue list, arg_as_array(args, i, ctx));
    for (const CellValue& v : list.values) {
      CMX_ASSIGN_OR_RETURN(double x, value_to_number(v));
      const double t = std::trunc(x);
      const double at = t < 0 ? static_cast<double>(n) + t : t - 1;
      if (at < 0 || at >= static_cast<double>(n)) return fail(CellErrorCode::Value);
      positions.push_back(static_cast<uint64_t>(at));
    }
  }
  return pick_rows_cols(ctx, source, positions, axis);
}

ArrayOutcome to_col_row(Args args, EvalContext& ctx, bool to_col) {
  if (arity_outside(args, 1, 3)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(double ignore_arg, arg_number_or_default(args, 1, ctx, 0));
  const double ignore = std::trunc(ignore_arg);
  if (ignore != 0 && ignore != 1 && ignore != 2 && ignore != 3) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(bool by_column, arg_bool_or_default(args, 2, ctx, false));
  const bool skip_empty = ignore == 1 || ignore == 3;
  const bool skip_errors = ignore == 2 || ignore == 3;
  std::vector<uint64_t> kept;
  auto visit = [&](uint64_t r, uint64_t c) {
    const uint64_t at = r * source.cols + c;
    const CellValue& v = source.values[at];
    if ((skip_empty && v.is_empty()) || (skip_errors && v.is_error())) return;
    kept.push_back(at);
  };
  if (by_column) {
    for (uint64_t c = 0; c < source.cols; ++c) {
      for (uint64_t r = 0; r < source.rows; ++r) visit(r, c);
    }
  } else {
    for (uint64_t r = 0; r < source.rows; ++r) {
      for (uint64_t c = 0; c < source.cols; ++c) visit(r, c);
    }
  }
  if (kept.empty()) return fail(CellErrorCode::NA);
  const uint64_t m = kept.size();
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, m, 1));
  for (uint64_t at : kept) CMX_TRY(push_array_value(builder, std::move(source.values[at])));
  return to_col ? make_array(m, 1, std::move(builder)) : make_array(1, m, std::move(builder));
}

ArrayOutcome wrap_rows_cols(Args args, EvalContext& ctx, bool wrap_rows) {
  if (arity_outside(args, 2, 3)) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue vector, arg_as_array(args, 0, ctx));
  if (vector.rows != 1 && vector.cols != 1) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double wrap_arg, arg_number_or_default(args, 1, ctx, 0));
  CMX_ASSIGN_OR_RETURN(uint64_t w, size_from_number(wrap_arg));
  CellValue pad = CellValue::error(CellErrorCode::NA);
  if (args.size() == 3) {
    CellValue v = arg_top_left(args, 2, ctx);
    if (v.is_error()) return fail(v.as_error());
    if (!v.is_empty()) pad = std::move(v);
  }
  const uint64_t n = vector.values.size();
  const uint64_t q = (n + w - 1) / w;
  const uint64_t rows = wrap_rows ? q : w;
  const uint64_t cols = wrap_rows ? w : q;
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) {
      const uint64_t at = wrap_rows ? r * w + c : c * w + r;
      CMX_TRY(push_array_value(builder, at < n ? vector.values[at] : pad));
    }
  }
  return make_array(rows, cols, std::move(builder));
}

ArrayOutcome transpose(Args args, EvalContext& ctx) {
  if (args.size() != 1) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue source, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, source.cols, source.rows));
  for (uint64_t c = 0; c < source.cols; ++c) {
    for (uint64_t r = 0; r < source.rows; ++r) {
      CMX_TRY(push_array_value(builder, std::move(source.values[r * source.cols + c])));
    }
  }
  return make_array(source.cols, source.rows, std::move(builder));
}

}  // namespace

Result<void, CellErrorCode> charge_array_cells(EvalContext& ctx, uint64_t rows, uint64_t cols) {
  uint64_t cells = 0;
  if (__builtin_mul_overflow(rows, cols, &cells) || cells > kMaxArrayCells) {
    return fail(CellErrorCode::Num);
  }
  if (!charge_cells(ctx, cells)) return fail(CellErrorCode::Num);
  return {};
}

Result<ArrayBuilder, CellErrorCode> reserve_array_cells(EvalContext& ctx, uint64_t rows,
                                                        uint64_t cols) {
  CMX_TRY(charge_array_cells(ctx, rows, cols));
  return ArrayBuilder(ctx, rows * cols);
}

EvalResult pick_rows_cols(EvalContext& ctx, const ArrayValue& source,
                          std::span<const uint64_t> indices, PickAxis axis) {
  const bool rows_mode = axis == PickAxis::Rows;
  const uint64_t rows = rows_mode ? indices.size() : source.rows;
  const uint64_t cols = rows_mode ? source.cols : indices.size();
  auto builder = reserve_array_cells(ctx, rows, cols);
  if (!builder.has_value()) return EvalResult::error(builder.error());
  if (rows_mode) {
    for (uint64_t row : indices) {
      for (uint64_t c = 0; c < source.cols; ++c) {
        auto pushed = push_array_value(*builder, source.values[row * source.cols + c]);
        if (!pushed.has_value()) return EvalResult::error(pushed.error());
      }
    }
  } else {
    for (uint64_t r = 0; r < source.rows; ++r) {
      for (uint64_t col : indices) {
        auto pushed = push_array_value(*builder, source.values[r * source.cols + col]);
        if (!pushed.has_value()) return EvalResult::error(pushed.error());
      }
    }
  }
  return make_array(rows, cols, std::move(*builder));
}

Result<uint64_t, CellErrorCode> size_from_number(double x) {
  if (!std::isfinite(x) || x < 1 || x > static_cast<double>(kMaxArrayCells)) {
    return fail(CellErrorCode::Value);
  }
  return static_cast<uint64_t>(x);
}

void array_fn_sequence(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(sequence(args, ctx));
}
void array_fn_take(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(take_drop(args, ctx, /*take=*/true));
}
void array_fn_drop(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(take_drop(args, ctx, /*take=*/false));
}
void array_fn_expand(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(expand(args, ctx));
}
void array_fn_chooserows(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(choose_rows_cols(args, ctx, PickAxis::Rows));
}
void array_fn_choosecols(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(choose_rows_cols(args, ctx, PickAxis::Cols));
}
void array_fn_tocol(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(to_col_row(args, ctx, /*to_col=*/true));
}
void array_fn_torow(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(to_col_row(args, ctx, /*to_col=*/false));
}
void array_fn_wraprows(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(wrap_rows_cols(args, ctx, /*wrap_rows=*/true));
}
void array_fn_wrapcols(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(wrap_rows_cols(args, ctx, /*wrap_rows=*/false));
}
void array_fn_transpose(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(transpose(args, ctx));
}

}  // namespace cmx::formula
