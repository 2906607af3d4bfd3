// The handlers of the array functions built so far, one per name (CONCAT and
// CONCATENATE excepted), with the signature frame.h's table expects.
#pragma once

#include "arrayfns/frame.h"

namespace cmx::formula {

// Building, cutting and reshaping arrays (shape.cpp).
void array_fn_sequence(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_take(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_drop(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_expand(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_chooserows(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_choosecols(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_tocol(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_torow(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_wraprows(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_wrapcols(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_transpose(EvalResult& out, Args args, EvalContext& ctx);

// Names and function values (let_lambda.cpp).
void array_fn_let(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_lambda(EvalResult& out, Args args, EvalContext& ctx);

// Functions that run a lambda per element, row or column (lambda_driven.cpp).
void array_fn_makearray(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_map(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_reduce(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_scan(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_byrow(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_bycol(EvalResult& out, Args args, EvalContext& ctx);

// Element-wise choice, INDEX over arrays, and spilled ranges (choice.cpp).
void array_fn_if(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_iferror(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_ifna(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_index(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_anchorarray(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
