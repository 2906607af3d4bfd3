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

}  // namespace cmx::formula
