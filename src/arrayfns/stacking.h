// HSTACK and VSTACK, and ROW, COLUMN, ROWS and COLUMNS answered from the
// shape of an array or a reference.
#pragma once

#include "arrayfns/frame.h"

namespace cmx::formula {

void array_fn_hstack(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_vstack(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_row(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_column(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_rows(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_columns(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
