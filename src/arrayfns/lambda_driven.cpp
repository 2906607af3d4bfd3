// MAKEARRAY, MAP, REDUCE, SCAN, BYROW and BYCOL: the functions that run a
// lambda once per cell, element, row or column.
#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "arrayfns/handlers.h"
#include "arrayfns/let_lambda.h"
#include "arrayfns/shape.h"
#include "formula/array_eval.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;
using Closure = std::shared_ptr<const LambdaClosure>;

Unexpected<CellErrorCode> fail(CellErrorCode code) { return unexpected(code); }

// The function value of argument i: its error when it is an error value,
// "#VALUE!" when it is any other non-function.
Result<Closure, CellErrorCode> lambda_arg(Args args, size_t i, EvalContext& ctx) {
  EvalResult v = eval_array(*args[i], ctx);
  if (v.is_lambda()) return v.as_lambda();
  if (v.is_scalar() && v.as_scalar().is_error()) return fail(v.as_scalar().as_error());
  return fail(CellErrorCode::Value);
}

// A nested evaluation ran out of budget: the loop ends with no partial result.
Result<void, CellErrorCode> stop_when_limited(EvalContext& ctx) {
  if (!ctx.shared->limited) return {};
  bump(ctx.shared->limit_hits);
  return fail(CellErrorCode::Num);
}

// The cells an argument stands for, when it is a range on the formula's own
// sheet; whole columns and rows count only their used part.
std::optional<SheetRange> own_sheet_range(const Expr& expr, EvalContext& ctx) {
  std::optional<SheetRange> range = eval_reference(expr, ctx);
  if (!range || range->sheet != ctx.sheet) return std::nullopt;
  return clip_to_used(*range, ctx);
}

ExprPtr cell_reference(const SheetRange& range, uint64_t r, uint64_t c) {
  model::CellRef cell{static_cast<uint32_t>(range.start.row + r),
                      static_cast<uint32_t>(range.start.col + c), false, false};
  return make_expr(node::Ref{std::nullopt, cell});
}

ExprPtr block_reference(const SheetRange& range, uint64_t r, uint64_t c, uint64_t rows,
                        uint64_t cols) {
  model::CellRange block;
  block.start = model::CellRef{static_cast<uint32_t>(range.start.row + r),
                               static_cast<uint32_t>(range.start.col + c), false, false};
  block.end = model::CellRef{static_cast<uint32_t>(range.start.row + r + rows - 1),
                             static_cast<uint32_t>(range.start.col + c + cols - 1), false, false};
  return make_expr(node::Range{std::nullopt, block});
}

LambdaArgument value_arg(CellValue v, ExprPtr reference = nullptr) {
  return LambdaArgument{EvalResult::scalar(std::move(v)), std::move(reference)};
}

// One invocation's top-left value appended, then the budget looked at.
Result<void, CellErrorCode> append_result(ArrayBuilder& builder, EvalResult result,
                                          EvalContext& ctx) {
  CMX_TRY(push_array_value(builder, top_left_value(std::move(result))));
  return stop_when_limited(ctx);
}

ArrayOutcome makearray(Args args, EvalContext& ctx) {
  if (args.size() != 3) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double rows_arg, arg_number_or_default(args, 0, ctx, 1));
  CMX_ASSIGN_OR_RETURN(uint64_t rows, size_from_number(rows_arg));
  CMX_ASSIGN_OR_RETURN(double cols_arg, arg_number_or_default(args, 1, ctx, 1));
  CMX_ASSIGN_OR_RETURN(uint64_t cols, size_from_number(cols_arg));
  CMX_ASSIGN_OR_RETURN(Closure fn, lambda_arg(args, 2, ctx));
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t r = 1; r <= rows; ++r) {
    for (uint64_t c = 1; c <= cols; ++c) {
      std::vector<LambdaArgument> call;
      call.push_back(value_arg(CellValue::number(static_cast<double>(r))));
      call.push_back(value_arg(CellValue::number(static_cast<double>(c))));
      CMX_TRY(append_result(builder, invoke_lambda(*fn, std::move(call), ctx), ctx));
    }
  }
  return make_array(rows, cols, std::move(builder));
}

ArrayOutcome map(Args args, EvalContext& ctx) {
  if (args.size() < 2) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(Closure fn, lambda_arg(args, args.size() - 1, ctx));
  const Args data = args.first(args.size() - 1);
  std::vector<EvalResult> arrays;
  arrays.reserve(data.size());
  uint64_t rows = 1;
  uint64_t cols = 1;
  for (const ExprPtr& arg : data) {
    EvalResult v = eval_array(*arg, ctx);
    if (v.is_scalar() && v.as_scalar().is_error()) return fail(v.as_scalar().as_error());
    rows = std::max(rows, v.rows());
    cols = std::max(cols, v.cols());
    arrays.push_back(std::move(v));
  }
  std::vector<std::optional<SheetRange>> ranges;
  ranges.reserve(data.size());
  for (const ExprPtr& arg : data) {
    std::optional<SheetRange> range = own_sheet_range(*arg, ctx);
    if (range && (range->height != rows || range->width != cols)) range.reset();
    ranges.push_back(range);
  }
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t r = 0; r < rows; ++r) {
    for (uint64_t c = 0; c < cols; ++c) {
      std::vector<LambdaArgument> call;
      call.reserve(arrays.size());
      for (size_t i = 0; i < arrays.size(); ++i) {
        call.push_back(value_arg(array_element_at(arrays[i], r, c),
                                 ranges[i] ? cell_reference(*ranges[i], r, c) : nullptr));
      }
      CMX_TRY(append_result(builder, invoke_lambda(*fn, std::move(call), ctx), ctx));
    }
  }
  return make_array(rows, cols, std::move(builder));
}

struct Fold {
  EvalResult accumulator;
  ArrayValue array;
  Closure fn;
};

// REDUCE's and SCAN's arguments: the start value whole, the array, the lambda.
Result<Fold, CellErrorCode> fold_args(Args args, EvalContext& ctx) {
  if (args.size() != 3) return fail(CellErrorCode::Value);
  EvalResult start = eval_array(*args[0], ctx);
  CMX_ASSIGN_OR_RETURN(ArrayValue array, arg_as_array(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(Closure fn, lambda_arg(args, 2, ctx));
  return Fold{std::move(start), std::move(array), std::move(fn)};
}

ArrayOutcome reduce(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(Fold fold, fold_args(args, ctx));
  std::optional<SheetRange> range = own_sheet_range(*args[1], ctx);
  if (range && (range->height != fold.array.rows || range->width != fold.array.cols)) {
    range.reset();
  }
  const uint64_t cols = fold.array.cols;
  for (uint64_t k = 0; k < fold.array.values.size(); ++k) {
    std::vector<LambdaArgument> call;
    call.push_back(LambdaArgument{std::move(fold.accumulator), nullptr});
    call.push_back(value_arg(std::move(fold.array.values[k]),
                             range ? cell_reference(*range, k / cols, k % cols) : nullptr));
    fold.accumulator = invoke_lambda(*fold.fn, std::move(call), ctx);
    if (fold.accumulator.is_scalar() && fold.accumulator.as_scalar().is_error()) {
      return std::move(fold.accumulator);
    }
    CMX_TRY(stop_when_limited(ctx));
  }
  return std::move(fold.accumulator);
}

ArrayOutcome scan(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(Fold fold, fold_args(args, ctx));
  const uint64_t rows = fold.array.rows;
  const uint64_t cols = fold.array.cols;
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (CellValue& element : fold.array.values) {
    std::vector<LambdaArgument> call;
    call.push_back(LambdaArgument{std::move(fold.accumulator), nullptr});
    call.push_back(value_arg(std::move(element)));
    fold.accumulator = invoke_lambda(*fold.fn, std::move(call), ctx);
    CMX_TRY(push_array_value(builder, array_element_at(fold.accumulator, 0, 0)));
    CMX_TRY(stop_when_limited(ctx));
  }
  return make_array(rows, cols, std::move(builder));
}

ArrayOutcome by_row_col(Args args, EvalContext& ctx, PickAxis axis) {
  if (args.size() != 2) return fail(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(ArrayValue array, arg_as_array(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(Closure fn, lambda_arg(args, 1, ctx));
  const std::optional<SheetRange> range = own_sheet_range(*args[0], ctx);
  const bool by_row = axis == PickAxis::Rows;
  const uint64_t count = by_row ? array.rows : array.cols;
  const uint64_t rows = by_row ? count : 1;
  const uint64_t cols = by_row ? 1 : count;
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t index[] = {k};
    EvalResult slice = pick_rows_cols(ctx, array, index, axis);
    CMX_TRY(stop_when_limited(ctx));
    ExprPtr reference;
    if (range) {
      reference = by_row ? block_reference(*range, k, 0, 1, range->width)
                         : block_reference(*range, 0, k, range->height, 1);
    }
    std::vector<LambdaArgument> call;
    call.push_back(LambdaArgument{std::move(slice), std::move(reference)});
    CMX_TRY(append_result(builder, invoke_lambda(*fn, std::move(call), ctx), ctx));
  }
  return make_array(rows, cols, std::move(builder));
}

}  // namespace

void array_fn_makearray(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(makearray(args, ctx));
}
void array_fn_map(EvalResult& out, Args args, EvalContext& ctx) { out = settle(map(args, ctx)); }
void array_fn_reduce(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(reduce(args, ctx));
}
void array_fn_scan(EvalResult& out, Args args, EvalContext& ctx) { out = settle(scan(args, ctx)); }
void array_fn_byrow(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(by_row_col(args, ctx, PickAxis::Rows));
}
void array_fn_bycol(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(by_row_col(args, ctx, PickAxis::Cols));
}

}  // namespace cmx::formula
