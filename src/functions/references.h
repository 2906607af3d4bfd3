// The reference forms of INDEX, OFFSET and INDIRECT, which the evaluator
// calls where a reference is wanted, and the argument readers the lookup and
// reference handlers share.
#pragma once

#include <cstddef>
#include <utility>

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

// What a lookup or reference handler works out: a value, or the error code
// that ends it early.
using Answer = Result<model::CellValue, model::CellErrorCode>;

inline void set_answer(model::CellValue& out, Answer answer) {
  out = answer.has_value() ? std::move(answer).value() : model::CellValue::error(answer.error());
}

// "#VALUE!" unless the call has between `min` and `max` arguments.
inline Result<void, model::CellErrorCode> check_arity(Args args, size_t min, size_t max) {
  if (args.size() < min || args.size() > max) return unexpected(model::CellErrorCode::Value);
  return {};
}

}  // namespace cmx::formula
