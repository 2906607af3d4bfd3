// The built-in handlers, one file per family; dispatch.cpp indexes them by id.
#pragma once

#include "functions/dispatch.h"

namespace cmx::formula {

// Sums and products (math_sum.cpp).
void fn_sum(model::CellValue& out, Args args, EvalContext& ctx);

// Logical functions (logical.cpp).
void fn_if(model::CellValue& out, Args args, EvalContext& ctx);

// Rounding and integer functions (rounding.cpp); ROUNDDOWN serves TRUNC.
void fn_round(model::CellValue& out, Args args, EvalContext& ctx);
void fn_roundup(model::CellValue& out, Args args, EvalContext& ctx);
void fn_rounddown(model::CellValue& out, Args args, EvalContext& ctx);
void fn_mround(model::CellValue& out, Args args, EvalContext& ctx);
void fn_int(model::CellValue& out, Args args, EvalContext& ctx);
void fn_ceiling(model::CellValue& out, Args args, EvalContext& ctx);
void fn_floor(model::CellValue& out, Args args, EvalContext& ctx);
void fn_mod(model::CellValue& out, Args args, EvalContext& ctx);
void fn_quotient(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sign(model::CellValue& out, Args args, EvalContext& ctx);
void fn_abs(model::CellValue& out, Args args, EvalContext& ctx);

// Elementary functions (elementary.cpp); PI is answered inline.
void fn_power(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sqrt(model::CellValue& out, Args args, EvalContext& ctx);
void fn_exp(model::CellValue& out, Args args, EvalContext& ctx);
void fn_ln(model::CellValue& out, Args args, EvalContext& ctx);
void fn_log(model::CellValue& out, Args args, EvalContext& ctx);
void fn_log10(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sin(model::CellValue& out, Args args, EvalContext& ctx);
void fn_cos(model::CellValue& out, Args args, EvalContext& ctx);
void fn_tan(model::CellValue& out, Args args, EvalContext& ctx);
void fn_asin(model::CellValue& out, Args args, EvalContext& ctx);
void fn_acos(model::CellValue& out, Args args, EvalContext& ctx);
void fn_atan(model::CellValue& out, Args args, EvalContext& ctx);
void fn_atan2(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sinh(model::CellValue& out, Args args, EvalContext& ctx);
void fn_cosh(model::CellValue& out, Args args, EvalContext& ctx);
void fn_tanh(model::CellValue& out, Args args, EvalContext& ctx);
void fn_degrees(model::CellValue& out, Args args, EvalContext& ctx);
void fn_radians(model::CellValue& out, Args args, EvalContext& ctx);

// Unit conversion (unit_conversion.cpp).
void fn_convert(model::CellValue& out, Args args, EvalContext& ctx);

// Random integers (random.cpp).
void fn_randbetween(model::CellValue& out, Args args, EvalContext& ctx);

// Logical functions beyond IF (logical.cpp).
void fn_iferror(model::CellValue& out, Args args, EvalContext& ctx);
void fn_ifna(model::CellValue& out, Args args, EvalContext& ctx);
void fn_ifs(model::CellValue& out, Args args, EvalContext& ctx);
void fn_switch(model::CellValue& out, Args args, EvalContext& ctx);
void fn_and(model::CellValue& out, Args args, EvalContext& ctx);
void fn_or(model::CellValue& out, Args args, EvalContext& ctx);
void fn_xor(model::CellValue& out, Args args, EvalContext& ctx);
void fn_not(model::CellValue& out, Args args, EvalContext& ctx);

// Information functions (information.cpp); NA is answered inline.
void fn_isblank(model::CellValue& out, Args args, EvalContext& ctx);
void fn_isnumber(model::CellValue& out, Args args, EvalContext& ctx);
void fn_istext(model::CellValue& out, Args args, EvalContext& ctx);
void fn_islogical(model::CellValue& out, Args args, EvalContext& ctx);
void fn_iserror(model::CellValue& out, Args args, EvalContext& ctx);
void fn_iserr(model::CellValue& out, Args args, EvalContext& ctx);
void fn_isna(model::CellValue& out, Args args, EvalContext& ctx);
void fn_iseven(model::CellValue& out, Args args, EvalContext& ctx);
void fn_isodd(model::CellValue& out, Args args, EvalContext& ctx);
void fn_n(model::CellValue& out, Args args, EvalContext& ctx);

// Lookup functions (lookup.cpp).
void fn_vlookup(model::CellValue& out, Args args, EvalContext& ctx);
void fn_hlookup(model::CellValue& out, Args args, EvalContext& ctx);
void fn_match(model::CellValue& out, Args args, EvalContext& ctx);
void fn_xmatch(model::CellValue& out, Args args, EvalContext& ctx);
void fn_xlookup(model::CellValue& out, Args args, EvalContext& ctx);
void fn_lookup(model::CellValue& out, Args args, EvalContext& ctx);
// Reference functions (reference.cpp); the range forms are in references.h.
void fn_index(model::CellValue& out, Args args, EvalContext& ctx);
void fn_offset(model::CellValue& out, Args args, EvalContext& ctx);
void fn_indirect(model::CellValue& out, Args args, EvalContext& ctx);
void fn_row(model::CellValue& out, Args args, EvalContext& ctx);
void fn_column(model::CellValue& out, Args args, EvalContext& ctx);
void fn_rows(model::CellValue& out, Args args, EvalContext& ctx);
void fn_columns(model::CellValue& out, Args args, EvalContext& ctx);
void fn_choose(model::CellValue& out, Args args, EvalContext& ctx);
void fn_address(model::CellValue& out, Args args, EvalContext& ctx);
void fn_formulatext(model::CellValue& out, Args args, EvalContext& ctx);
void fn_hyperlink(model::CellValue& out, Args args, EvalContext& ctx);
void fn_transpose(model::CellValue& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
