// The logical family: IF evaluates its condition and then only the branch
// it takes.
#include "formula/value_coercion.h"
#include "functions/handlers.h"

namespace cmx::formula {

using model::CellErrorCode;
using model::CellValue;

void fn_if(CellValue& out, Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) {
    out = CellValue::error(CellErrorCode::Value);
    return;
  }
  auto condition = value_to_bool(eval_scalar(*args[0], ctx));
  if (!condition.has_value()) {
    out = CellValue::error(condition.error());
  } else if (*condition) {
    out = eval_scalar(*args[1], ctx);
  } else if (args.size() == 3) {
    out = eval_scalar(*args[2], ctx);
  } else {
    out = CellValue::boolean(false);
  }
}

}  // namespace cmx::formula
