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
    CellValue v;
    if (const auto* array = arg->get<node::Array>()) {
      CMX_ASSIGN_OR_RETURN(std::vector<CellValue> values, constant_array_values(*array, ctx));
      if (values.size() != 1) {
        for (const CellValue& element : values) {
          if (element.is_number()) numbers.push_back(element.as_number());
          if (element.is_error()) return unexpected(element.as_error());
        }
        continue;
      }
      // A one-element array is a single value.
      v = std::move(values.front());
    } else {
      v = eval_scalar(*arg, ctx);
    }
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
