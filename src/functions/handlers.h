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
// Date functions (date_functions.cpp).
void fn_date(model::CellValue& out, Args args, EvalContext& ctx);
void fn_year(model::CellValue& out, Args args, EvalContext& ctx);
void fn_month(model::CellValue& out, Args args, EvalContext& ctx);
void fn_day(model::CellValue& out, Args args, EvalContext& ctx);
void fn_edate(model::CellValue& out, Args args, EvalContext& ctx);
void fn_eomonth(model::CellValue& out, Args args, EvalContext& ctx);
void fn_datedif(model::CellValue& out, Args args, EvalContext& ctx);
void fn_days(model::CellValue& out, Args args, EvalContext& ctx);
void fn_weekday(model::CellValue& out, Args args, EvalContext& ctx);
void fn_weeknum(model::CellValue& out, Args args, EvalContext& ctx);
void fn_isoweeknum(model::CellValue& out, Args args, EvalContext& ctx);
void fn_yearfrac(model::CellValue& out, Args args, EvalContext& ctx);
// Working days (working_days.cpp).
void fn_networkdays(model::CellValue& out, Args args, EvalContext& ctx);
void fn_networkdays_intl(model::CellValue& out, Args args, EvalContext& ctx);
void fn_workday(model::CellValue& out, Args args, EvalContext& ctx);
void fn_workday_intl(model::CellValue& out, Args args, EvalContext& ctx);
// Time functions (time_functions.cpp).
void fn_time(model::CellValue& out, Args args, EvalContext& ctx);
void fn_hour(model::CellValue& out, Args args, EvalContext& ctx);
void fn_minute(model::CellValue& out, Args args, EvalContext& ctx);
void fn_second(model::CellValue& out, Args args, EvalContext& ctx);
void fn_timevalue(model::CellValue& out, Args args, EvalContext& ctx);
void fn_datevalue(model::CellValue& out, Args args, EvalContext& ctx);
// Financial functions (financial.cpp).
void fn_fv(model::CellValue& out, Args args, EvalContext& ctx);
void fn_pv(model::CellValue& out, Args args, EvalContext& ctx);
void fn_pmt(model::CellValue& out, Args args, EvalContext& ctx);
void fn_nper(model::CellValue& out, Args args, EvalContext& ctx);
void fn_npv(model::CellValue& out, Args args, EvalContext& ctx);

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

// ---- Dispersion and shape, order statistics, paired statistics and the
// normal distribution (dispersion.cpp, order_stats.cpp, paired_stats.cpp,
// normal_dist.cpp).
void fn_stdeva(model::CellValue& out, Args args, EvalContext& ctx);
void fn_devsq(model::CellValue& out, Args args, EvalContext& ctx);
void fn_avedev(model::CellValue& out, Args args, EvalContext& ctx);
void fn_skew(model::CellValue& out, Args args, EvalContext& ctx);
void fn_kurt(model::CellValue& out, Args args, EvalContext& ctx);
void fn_geomean(model::CellValue& out, Args args, EvalContext& ctx);
void fn_harmean(model::CellValue& out, Args args, EvalContext& ctx);
void fn_rank_eq(model::CellValue& out, Args args, EvalContext& ctx);
void fn_trimmean(model::CellValue& out, Args args, EvalContext& ctx);
void fn_correl(model::CellValue& out, Args args, EvalContext& ctx);
void fn_covariance_p(model::CellValue& out, Args args, EvalContext& ctx);
void fn_covariance_s(model::CellValue& out, Args args, EvalContext& ctx);
void fn_slope(model::CellValue& out, Args args, EvalContext& ctx);
void fn_intercept(model::CellValue& out, Args args, EvalContext& ctx);
void fn_norm_dist(model::CellValue& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
