// Joining arrays side by side or one below the other, and the row and
// column numbers and counts of arrays and references.
#include "arrayfns/stacking.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "arrayfns/shape.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

enum class Axis : uint8_t { Rows, Cols };

// HSTACK (side by side, Cols) or VSTACK (one below the other, Rows); inputs
// shorter or narrower than the result are padded with #N/A.
ArrayOutcome stack(Args args, EvalContext& ctx, Axis along) {
  if (args.empty()) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(std::vector<ArrayValue> inputs,
                       collect_stack_arrays(args, 0, args.size(), ctx));
  uint64_t rows = 0;
  uint64_t cols = 0;
  for (const ArrayValue& a : inputs) {
    // Every input holds at most 2^20 cells, so these sums cannot overflow.
    if (along == Axis::Cols) {
      rows = std::max(rows, a.rows);
      cols += a.cols;
    } else {
      rows += a.rows;
      cols = std::max(cols, a.cols);
    }
  }
  CMX_ASSIGN_OR_RETURN(ArrayBuilder builder, reserve_array_cells(ctx, rows, cols));
  const CellValue pad = CellValue::error(CellErrorCode::NA);
  if (along == Axis::Cols) {
    for (uint64_t r = 0; r < rows; ++r) {
      for (const ArrayValue& a : inputs) {
        for (uint64_t c = 0; c < a.cols; ++c) {
          CMX_TRY(push_array_value(builder, r < a.rows ? a.values[r * a.cols + c] : pad));
        }
      }
    }
  } else {
    for (const ArrayValue& a : inputs) {
      for (uint64_t r = 0; r < a.rows; ++r) {
        for (uint64_t c = 0; c < cols; ++c) {
          CMX_TRY(push_array_value(builder, c < a.cols ? a.values[r * a.cols + c] : pad));
        }
      }
    }
  }
  return make_array(rows, cols, std::move(builder));
}

std::optional<SheetRange> sole_reference(Args args, EvalContext& ctx) {
  if (args.size() != 1) return std::nullopt;
  return eval_reference(*args[0], ctx);
}

EvalResult count_rows_columns(Args args, EvalContext& ctx, Axis axis,
                              std::string_view name) {
  if (sole_reference(args, ctx)) return call_builtin_fallback(name, args, ctx);
  auto array = arg_as_array(args, 0, ctx);
  if (!array.has_value()) return EvalResult::error(array.error());
  const uint64_t n = axis == Axis::Rows ? array->rows : array->cols;
  return EvalResult::scalar(CellValue::number(static_cast<double>(n)));
}

EvalResult row_column_numbers(Args args, EvalContext& ctx, Axis axis, std::string_view name) {
  std::optional<SheetRange> ref = sole_reference(args, ctx);
  if (!ref) return call_builtin_fallback(name, args, ctx);
  const SheetRange range = clip_to_used(*ref, ctx);
  const uint64_t n = axis == Axis::Rows ? range.height : range.width;
  if (n <= 1) return call_builtin_fallback(name, args, ctx);
  const uint64_t first = axis == Axis::Rows ? range.start.row : range.start.col;
  const uint64_t rows = axis == Axis::Rows ? n : 1;
  auto charged = charge_array_cells(ctx, rows, n / rows);
  if (!charged.has_value()) return EvalResult::error(charged.error());
  std::vector<CellValue> values;
  values.reserve(n);
  for (uint64_t k = 1; k <= n; ++k) values.push_back(CellValue::number(static_cast<double>(first + k)));
  return make_array(rows, n / rows, std::move(values));
}

}  // namespace

void array_fn_hstack(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(stack(args, ctx, Axis::Cols));
}
void array_fn_vstack(EvalResult& out, Args args, EvalContext& ctx) {
  out = settle(stack(args, ctx, Axis::Rows));
}
void array_fn_row(EvalResult& out, Args args, EvalContext& ctx) {
  out = row_column_numbers(args, ctx, Axis::Rows, "ROW");
}
void array_fn_column(EvalResult& out, Args args, EvalContext& ctx) {
  out = row_column_numbers(args, ctx, Axis::Cols, "COLUMN");
}
void array_fn_rows(EvalResult& out, Args args, EvalContext& ctx) {
  out = count_rows_columns(args, ctx, Axis::Rows, "ROWS");
}
void array_fn_columns(EvalResult& out, Args args, EvalContext& ctx) {
  out = count_rows_columns(args, ctx, Axis::Cols, "COLUMNS");
}

}  // namespace cmx::formula
