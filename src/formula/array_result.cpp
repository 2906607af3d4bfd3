// Building arrays and reading their elements.
#include "formula/eval_result.h"

#include "formula/eval_context.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

Result<void, CellErrorCode> push_array_value(ArrayBuilder& builder, CellValue value) {
  if (value.is_text() && !charge_bytes(*builder.ctx, value.as_text().size())) {
    return unexpected(CellErrorCode::Num);
  }
  builder.values.push_back(std::move(value));
  return {};
}

EvalResult make_array(uint64_t rows, uint64_t cols, std::vector<CellValue> values) {
  uint64_t cells = 0;
  if (rows == 0 || cols == 0 || __builtin_mul_overflow(rows, cols, &cells)) {
    return EvalResult::error(CellErrorCode::Value);
  }
  if (cells != values.size()) return EvalResult::error(CellErrorCode::Value);
  if (cells > kMaxArrayCells) return EvalResult::error(CellErrorCode::Num);
  if (cells == 1) return EvalResult::scalar(std::move(values.front()));
  return EvalResult{ArrayValue{std::move(values), rows, cols}};
}

CellValue array_element_at(const EvalResult& result, uint64_t r, uint64_t c) {
  if (result.is_scalar()) return result.as_scalar();
  if (result.is_lambda()) return CellValue::error(CellErrorCode::Value);
  const ArrayValue& array = result.as_array();
  if (array.rows == 1) r = 0;
  if (array.cols == 1) c = 0;
  return array_value_at(array.values, array.rows, array.cols, r, c);
}

CellValue array_value_at(const std::vector<CellValue>& values, uint64_t rows, uint64_t cols,
                         uint64_t r, uint64_t c) {
  if (r >= rows || c >= cols) return CellValue::error(CellErrorCode::NA);
  const uint64_t at = r * cols + c;
  // A hand-made array may hold fewer values than its shape promises.
  if (at >= values.size()) return CellValue::error(CellErrorCode::NA);
  return values[at];
}

CellValue top_left_value(EvalResult&& result) {
  if (result.is_scalar()) return std::move(std::get<0>(result.value));
  if (result.is_lambda()) return CellValue::error(CellErrorCode::Value);
  auto& values = std::get<1>(result.value).values;
  if (values.empty()) return CellValue::error(CellErrorCode::NA);
  return std::move(values.front());
}

}  // namespace cmx::formula
