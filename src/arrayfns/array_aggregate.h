// SUM, PRODUCT, MIN, MAX, AVERAGE, COUNT, COUNTA and SUMPRODUCT over
// computed arrays; calls without an array argument go to the built-ins.
#pragma once

#include "arrayfns/frame.h"

namespace cmx::formula {

// A value given as an operand (not read from a cell) as a number: a Number
// (not finite: "#NUM!"), a Text that parses ("#VALUE!" otherwise), a Bool as
// 1 or 0, Empty as 0, an Error as itself.
Result<double, model::CellErrorCode> operand_number(const model::CellValue& v);

void array_fn_sum(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_product(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_min(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_max(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_average(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_count(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_counta(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_sumproduct(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
