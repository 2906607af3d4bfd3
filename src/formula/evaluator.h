// The scalar evaluator: a syntax tree to one value, a reference expression to
// a sheet range, and the budgeted reads through which the evaluator and the
// built-ins read cells. Errors are values; nothing here fails otherwise.
// Read names.h and functions/dispatch.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "formula/eval_context.h"
#include "formula/expr.h"

namespace cmx::formula {

inline constexpr uint64_t kGridRows = 1'048'576;
inline constexpr uint64_t kGridCols = 16'384;

// A resolved rectangle on one sheet. Whole columns keep all kGridRows rows
// and whole rows all kGridCols columns until a reader clips them.
struct SheetRange {
  uint32_t sheet = 0;
  model::CellRef start;
  uint64_t height = 1;
  uint64_t width = 1;
  friend bool operator==(const SheetRange&, const SheetRange&) = default;
};

using Args = std::span<const ExprPtr>;

model::CellValue eval_scalar(const Expr& expr, EvalContext& ctx);
// The range an expression refers to; absent when it is not a reference.
std::optional<SheetRange> eval_reference(const Expr& expr, EvalContext& ctx);
// The smallest rectangle holding both sides of ":".
Result<SheetRange, model::CellErrorCode> range_op_reference(const Expr& left, const Expr& right,
                                                            EvalContext& ctx);

// A whole-column range cut to the used rows of its sheet and a whole-row
// range to its used columns, each at least one line long.
SheetRange clip_to_used(const SheetRange& range, const EvalContext& ctx);

// Values as read from the workbook: too long texts become "#VALUE!", non-finite
// numbers "#NUM!". `storage` holds a replacement when one is needed.
const model::CellValue& read_check(const model::CellValue& value, model::CellValue& storage);

// One cell of the range after the read check, borrowed from the workbook
// view (or a static error value); nothing charged.
const model::CellValue& peek_checked(const SheetRange& range, uint64_t row_offset,
                                     uint64_t col_offset, const EvalContext& ctx);
// Every cell of the range, row-major, after charging all of them at once.
// The pointers are borrowed from the workbook view (or point at static
// error values) and live while the view is unchanged.
Result<std::vector<const model::CellValue*>, model::CellErrorCode> read_range_values(
    const SheetRange& range, EvalContext& ctx);
// One cell of the range, owned, its text charged.
Result<model::CellValue, model::CellErrorCode> read_range_cell(const SheetRange& range,
                                                               uint64_t row_offset,
                                                               uint64_t col_offset,
                                                               EvalContext& ctx);
// One cell of the range, borrowed, nothing but the cell charged.
Result<const model::CellValue*, model::CellErrorCode> peek_range_cell(const SheetRange& range,
                                                                      uint64_t row_offset,
                                                                      uint64_t col_offset,
                                                                      EvalContext& ctx);

// The operators on two values: an Error on the left wins, then one on the
// right; otherwise arithmetic, joining or comparison.
model::CellValue binary_operation(BinaryOp op, const model::CellValue& left,
                                  const model::CellValue& right, EvalContext& ctx);
// Plus leaves the value as it is; minus negates its number.
model::CellValue unary_operation(bool plus, model::CellValue operand);
// The value's number divided by 100.
model::CellValue percent_operation(const model::CellValue& operand);

// The range a table reference stands for, or why it stands for none.
Result<SheetRange, model::CellErrorCode> table_reference(const node::TableRef& ref,
                                                         EvalContext& ctx);

// Counts one nested evaluator call for as long as it runs. Past kMaxEvalDepth
// the call is refused: the evaluation is marked limited and the caller gives
// up with "#NUM!".
class EvalDepthGuard {
 public:
  explicit EvalDepthGuard(EvalContext& ctx) : ctx_(ctx), shared_(*ctx.shared) { ++shared_.eval_depth; }
  ~EvalDepthGuard() { --shared_.eval_depth; }
  EvalDepthGuard(const EvalDepthGuard&) = delete;
  EvalDepthGuard& operator=(const EvalDepthGuard&) = delete;
  bool refused() {
    if (shared_.eval_depth <= kMaxEvalDepth) return false;
    mark_limited(ctx_);
    return true;
  }

 private:
  EvalContext& ctx_;
  EvalShared& shared_;
};

// A copy of a value with its text charged to the byte budgets ("#NUM!" when refused).
model::CellValue charged_copy(const model::CellValue& value, EvalContext& ctx);

}  // namespace cmx::formula
