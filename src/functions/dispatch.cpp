// The dispatch table: one entry per built-in id, and the six answers the
// dispatcher gives itself.
#include "functions/dispatch.h"

#include <array>
#include <cmath>

#include "functions/handlers.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

constexpr std::array<BuiltinHandler, kBuiltinCount> make_table() {
  std::array<BuiltinHandler, kBuiltinCount> table{};
  table[static_cast<BuiltinId>(Builtin::Sum)] = fn_sum;
  table[static_cast<BuiltinId>(Builtin::If)] = fn_if;
  // Text functions.
  table[static_cast<BuiltinId>(Builtin::Len)] = fn_len;
  table[static_cast<BuiltinId>(Builtin::Left)] = fn_left;
  table[static_cast<BuiltinId>(Builtin::Right)] = fn_right;
  table[static_cast<BuiltinId>(Builtin::Mid)] = fn_mid;
  table[static_cast<BuiltinId>(Builtin::Find)] = fn_find;
  table[static_cast<BuiltinId>(Builtin::Search)] = fn_search;
  table[static_cast<BuiltinId>(Builtin::TextBefore)] = fn_textbefore;
  table[static_cast<BuiltinId>(Builtin::TextAfter)] = fn_textafter;
  table[static_cast<BuiltinId>(Builtin::Exact)] = fn_exact;
  table[static_cast<BuiltinId>(Builtin::Code)] = fn_code;
  table[static_cast<BuiltinId>(Builtin::Char)] = fn_char;
  table[static_cast<BuiltinId>(Builtin::T)] = fn_t;
  table[static_cast<BuiltinId>(Builtin::Substitute)] = fn_substitute;
  table[static_cast<BuiltinId>(Builtin::Replace)] = fn_replace;
  table[static_cast<BuiltinId>(Builtin::Rept)] = fn_rept;
  table[static_cast<BuiltinId>(Builtin::Concatenate)] = fn_concatenate;
  table[static_cast<BuiltinId>(Builtin::TextJoin)] = fn_textjoin;
  table[static_cast<BuiltinId>(Builtin::Trim)] = fn_trim;
  table[static_cast<BuiltinId>(Builtin::Clean)] = fn_clean;
  table[static_cast<BuiltinId>(Builtin::Proper)] = fn_proper;
  table[static_cast<BuiltinId>(Builtin::Upper)] = fn_upper;
  table[static_cast<BuiltinId>(Builtin::Lower)] = fn_lower;
  table[static_cast<BuiltinId>(Builtin::Value)] = fn_value;
  table[static_cast<BuiltinId>(Builtin::NumberValue)] = fn_numbervalue;
  table[static_cast<BuiltinId>(Builtin::Text)] = fn_text;
  // Date, time, working-day and financial functions.
  table[static_cast<BuiltinId>(Builtin::Date)] = fn_date;
  table[static_cast<BuiltinId>(Builtin::Year)] = fn_year;
  table[static_cast<BuiltinId>(Builtin::Month)] = fn_month;
  table[static_cast<BuiltinId>(Builtin::Day)] = fn_day;
  table[static_cast<BuiltinId>(Builtin::EDate)] = fn_edate;
  table[static_cast<BuiltinId>(Builtin::EoMonth)] = fn_eomonth;
  table[static_cast<BuiltinId>(Builtin::DateDif)] = fn_datedif;
  table[static_cast<BuiltinId>(Builtin::Days)] = fn_days;
  table[static_cast<BuiltinId>(Builtin::Weekday)] = fn_weekday;
  table[static_cast<BuiltinId>(Builtin::WeekNum)] = fn_weeknum;
  table[static_cast<BuiltinId>(Builtin::IsoWeekNum)] = fn_isoweeknum;
  table[static_cast<BuiltinId>(Builtin::YearFrac)] = fn_yearfrac;
  table[static_cast<BuiltinId>(Builtin::NetworkDays)] = fn_networkdays;
  table[static_cast<BuiltinId>(Builtin::NetworkDaysIntl)] = fn_networkdays_intl;
  table[static_cast<BuiltinId>(Builtin::Workday)] = fn_workday;
  table[static_cast<BuiltinId>(Builtin::WorkdayIntl)] = fn_workday_intl;
  table[static_cast<BuiltinId>(Builtin::Time)] = fn_time;
  table[static_cast<BuiltinId>(Builtin::Hour)] = fn_hour;
  table[static_cast<BuiltinId>(Builtin::Minute)] = fn_minute;
  table[static_cast<BuiltinId>(Builtin::Second)] = fn_second;
  table[static_cast<BuiltinId>(Builtin::TimeValue)] = fn_timevalue;
  table[static_cast<BuiltinId>(Builtin::DateValue)] = fn_datevalue;
  table[static_cast<BuiltinId>(Builtin::Fv)] = fn_fv;
  table[static_cast<BuiltinId>(Builtin::Pv)] = fn_pv;
  table[static_cast<BuiltinId>(Builtin::Pmt)] = fn_pmt;
  table[static_cast<BuiltinId>(Builtin::NPer)] = fn_nper;
  table[static_cast<BuiltinId>(Builtin::Npv)] = fn_npv;
  return table;
}

constexpr std::array<BuiltinHandler, kBuiltinCount> kHandlers = make_table();

bool is_inline(Builtin b) {
  switch (b) {
    case Builtin::Pi:
    case Builtin::True:
    case Builtin::False:
    case Builtin::Na:
    case Builtin::Today:
    case Builtin::Now:
      return true;
    default:
      return false;
  }
}

CellValue now_answer(const EvalContext& ctx, bool whole_day) {
  if (!ctx.now_serial) return CellValue::error(CellErrorCode::Value);
  double now = *ctx.now_serial;
  if (!std::isfinite(now)) return CellValue::error(CellErrorCode::Num);
  return CellValue::number(whole_day ? std::floor(now) : now);
}

}  // namespace

bool builtin_available(BuiltinId id) {
  return id < kBuiltinCount && (is_inline(static_cast<Builtin>(id)) || kHandlers[id] != nullptr);
}

void call_builtin(CellValue& out, BuiltinId id, Args args, EvalContext& ctx) {
  const auto builtin = static_cast<Builtin>(id);
  if (is_inline(builtin)) {
    // Decided before anything is evaluated: arguments are never looked at.
    if (!args.empty()) {
      out = CellValue::error(CellErrorCode::Value);
      return;
    }
    switch (builtin) {
      case Builtin::Pi:
        out = CellValue::number(3.141592653589793);
        return;
      case Builtin::True:
        out = CellValue::boolean(true);
        return;
      case Builtin::False:
        out = CellValue::boolean(false);
        return;
      case Builtin::Na:
        out = CellValue::error(CellErrorCode::NA);
        return;
      case Builtin::Today:
        out = now_answer(ctx, /*whole_day=*/true);
        return;
      default:
        out = now_answer(ctx, /*whole_day=*/false);
        return;
    }
  }
  BuiltinHandler handler = kHandlers[id];
  if (handler == nullptr) {
    count_unknown_call(ctx);
    out = CellValue::error(CellErrorCode::Name);
    return;
  }
  handler(out, args, ctx);
}

}  // namespace cmx::formula
