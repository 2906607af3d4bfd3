// SUM, the first of the summing built-ins.
#include <cmath>

#include "formula/value_coercion.h"
#include "functions/handlers.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// The numbers of all arguments in order: references and array constants
// give their Number cells (an Error ends the collection), a value given
// directly is converted.
Result<std::vector<double>, CellErrorCode> collect_sum_numbers(Args args, EvalContext& ctx) {
  std::vector<double> numbers;
  for (const ExprPtr& arg : args) {
    if (std::optional<SheetRange> range = eval_reference(*arg, ctx)) {
      CMX_ASSIGN_OR_RETURN(auto cells, read_range_values(clip_to_used(*range, ctx), ctx));
      for (const CellValue* cell : cells) {
        if (cell->is_number()) numbers.push_back(cell->as_number());
        if (cell->is_error()) return unexpected(cell->as_error());
      }
      continue;
    }
    if (const auto* array = arg->get<node::Array>()) {
      const uint64_t count = array->elements.size();
      if (array->columns == 0 || count % array->columns != 0) {
        return unexpected(CellErrorCode::Value);
      }
      if (count > kMaxArrayCells) return unexpected(CellErrorCode::Num);
      if (!charge_cells(ctx, count)) return unexpected(CellErrorCode::Num);
      for (const ExprPtr& element : array->elements) {
        CellValue v = eval_scalar(*element, ctx);
        if (v.is_number()) numbers.push_back(v.as_number());
        if (v.is_error()) return unexpected(v.as_error());
      }
      continue;
    }
    CellValue v = eval_scalar(*arg, ctx);
    if (v.is_empty()) continue;
    CMX_ASSIGN_OR_RETURN(double n, value_to_number(v));
    numbers.push_back(n);
  }
  return numbers;
}

}  // namespace

void fn_sum(CellValue& out, Args args, EvalContext& ctx) {
  auto numbers = collect_sum_numbers(args, ctx);
  if (!numbers.has_value()) {
    out = CellValue::error(numbers.error());
    return;
  }
  // Starting from -0 keeps the sign of a sum of negative zeros.
  double sum = -0.0;
  for (double x : *numbers) sum += x;
  out = std::isfinite(sum) ? CellValue::number(sum) : CellValue::error(CellErrorCode::Num);
}

}  // namespace cmx::formula
