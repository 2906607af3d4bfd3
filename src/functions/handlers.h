// The built-in handlers, one file per family; dispatch.cpp indexes them by id.
#pragma once

#include "functions/dispatch.h"

namespace cmx::formula {

// Sums and products (math_sum.cpp).
void fn_sum(model::CellValue& out, Args args, EvalContext& ctx);

// Logical functions (logical.cpp).
void fn_if(model::CellValue& out, Args args, EvalContext& ctx);

// ---- Sums and products, counts and averages, conditional aggregates,
// SUBTOTAL and AGGREGATE, and the statistics AGGREGATE calls (math_sum.cpp,
// counts.cpp, conditional.cpp, subtotal.cpp, dispersion.cpp, order_stats.cpp).
void fn_sumsq(model::CellValue& out, Args args, EvalContext& ctx);
void fn_product(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sumproduct(model::CellValue& out, Args args, EvalContext& ctx);
void fn_mmult(model::CellValue& out, Args args, EvalContext& ctx);
void fn_seriessum(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sumif(model::CellValue& out, Args args, EvalContext& ctx);
void fn_sumifs(model::CellValue& out, Args args, EvalContext& ctx);
void fn_count(model::CellValue& out, Args args, EvalContext& ctx);
void fn_counta(model::CellValue& out, Args args, EvalContext& ctx);
void fn_countblank(model::CellValue& out, Args args, EvalContext& ctx);
void fn_average(model::CellValue& out, Args args, EvalContext& ctx);
void fn_averagea(model::CellValue& out, Args args, EvalContext& ctx);
void fn_max(model::CellValue& out, Args args, EvalContext& ctx);
void fn_min(model::CellValue& out, Args args, EvalContext& ctx);
void fn_maxa(model::CellValue& out, Args args, EvalContext& ctx);
void fn_mina(model::CellValue& out, Args args, EvalContext& ctx);
void fn_countif(model::CellValue& out, Args args, EvalContext& ctx);
void fn_countifs(model::CellValue& out, Args args, EvalContext& ctx);
void fn_averageif(model::CellValue& out, Args args, EvalContext& ctx);
void fn_averageifs(model::CellValue& out, Args args, EvalContext& ctx);
void fn_maxifs(model::CellValue& out, Args args, EvalContext& ctx);
void fn_minifs(model::CellValue& out, Args args, EvalContext& ctx);
void fn_subtotal(model::CellValue& out, Args args, EvalContext& ctx);
void fn_aggregate(model::CellValue& out, Args args, EvalContext& ctx);
void fn_var_s(model::CellValue& out, Args args, EvalContext& ctx);
void fn_var_p(model::CellValue& out, Args args, EvalContext& ctx);
void fn_stdev_s(model::CellValue& out, Args args, EvalContext& ctx);
void fn_stdev_p(model::CellValue& out, Args args, EvalContext& ctx);
void fn_median(model::CellValue& out, Args args, EvalContext& ctx);
void fn_mode_sngl(model::CellValue& out, Args args, EvalContext& ctx);
void fn_large(model::CellValue& out, Args args, EvalContext& ctx);
void fn_small(model::CellValue& out, Args args, EvalContext& ctx);
void fn_percentile_inc(model::CellValue& out, Args args, EvalContext& ctx);
void fn_quartile_inc(model::CellValue& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
