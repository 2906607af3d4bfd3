// The built-in handlers, one file per family; dispatch.cpp indexes them by id.
#pragma once

#include "functions/dispatch.h"

namespace cmx::formula {

// Sums and products (math_sum.cpp).
void fn_sum(model::CellValue& out, Args args, EvalContext& ctx);

// Logical functions (logical.cpp).
void fn_if(model::CellValue& out, Args args, EvalContext& ctx);

// Text measuring, slicing and searching (text_search.cpp).
void fn_len(model::CellValue& out, Args args, EvalContext& ctx);
void fn_left(model::CellValue& out, Args args, EvalContext& ctx);
void fn_right(model::CellValue& out, Args args, EvalContext& ctx);
void fn_mid(model::CellValue& out, Args args, EvalContext& ctx);
void fn_find(model::CellValue& out, Args args, EvalContext& ctx);
void fn_search(model::CellValue& out, Args args, EvalContext& ctx);
void fn_textbefore(model::CellValue& out, Args args, EvalContext& ctx);
void fn_textafter(model::CellValue& out, Args args, EvalContext& ctx);
void fn_exact(model::CellValue& out, Args args, EvalContext& ctx);
void fn_code(model::CellValue& out, Args args, EvalContext& ctx);
void fn_char(model::CellValue& out, Args args, EvalContext& ctx);
void fn_t(model::CellValue& out, Args args, EvalContext& ctx);
// Text building and cleaning (text_build.cpp).
void fn_substitute(model::CellValue& out, Args args, EvalContext& ctx);
void fn_replace(model::CellValue& out, Args args, EvalContext& ctx);
void fn_rept(model::CellValue& out, Args args, EvalContext& ctx);
void fn_concatenate(model::CellValue& out, Args args, EvalContext& ctx);
void fn_textjoin(model::CellValue& out, Args args, EvalContext& ctx);
void fn_trim(model::CellValue& out, Args args, EvalContext& ctx);
void fn_clean(model::CellValue& out, Args args, EvalContext& ctx);
void fn_proper(model::CellValue& out, Args args, EvalContext& ctx);
void fn_upper(model::CellValue& out, Args args, EvalContext& ctx);
void fn_lower(model::CellValue& out, Args args, EvalContext& ctx);
// Text conversion (text_convert.cpp).
void fn_value(model::CellValue& out, Args args, EvalContext& ctx);
void fn_numbervalue(model::CellValue& out, Args args, EvalContext& ctx);
void fn_text(model::CellValue& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
