// CONCAT (and CONCATENATE) and TEXTJOIN over computed arrays, and TEXTSPLIT.
#pragma once

#include "arrayfns/frame.h"

namespace cmx::formula {

void array_fn_concat(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_textjoin(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_textsplit(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
