// The reference forms of INDEX, OFFSET and INDIRECT, which the evaluator
// calls where a reference is wanted, and the argument readers the lookup and
// reference handlers share.
#pragma once

#include <cstddef>

#include "base/result.h"
#include "formula/evaluator.h"

namespace cmx::formula {

// INDEX(reference, row, [column]) as a range: 0 or an omitted index keeps
// the whole height or width.
Result<SheetRange, model::CellErrorCode> index_reference(Args args, EvalContext& ctx);
// OFFSET(reference, rows, columns, [height], [width]) as a range.
Result<SheetRange, model::CellErrorCode> offset_reference(Args args, EvalContext& ctx);
// INDIRECT(text, [a1]) as a range: only plain references parse.
Result<SheetRange, model::CellErrorCode> indirect_reference(Args args, EvalContext& ctx);

// Argument i where a reference is required: when it is none, its own error
// value, or "#VALUE!" for any other value.
Result<SheetRange, model::CellErrorCode> arg_reference(Args args, size_t i, EvalContext& ctx);

// An empty slot between commas, which stands for an argument not given.
bool is_omitted(const Expr& arg);

}  // namespace cmx::formula
