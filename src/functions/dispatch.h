// call_builtin: the one entry through which a call of a built-in function is
// evaluated. Handlers receive their arguments unevaluated and evaluate what
// they need; every failure is an error value in the output.
#pragma once

#include "formula/evaluator.h"
#include "functions/builtin_names.h"

namespace cmx::formula {

// A handler: (output, argument expressions in source order, context).
using BuiltinHandler = void (*)(model::CellValue& out, Args args, EvalContext& ctx);

// `id` must lie below kBuiltinCount; callers answer kNotBuiltin themselves.
// Functions whose handlers are not built yet count as unknown calls and give
// "#NAME?", so a recalculation keeps their cells' stored values.
void call_builtin(model::CellValue& out, BuiltinId id, Args args, EvalContext& ctx);

// Whether the id has a handler or an inline answer.
bool builtin_available(BuiltinId id);

}  // namespace cmx::formula
