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
  // Rounding, elementary, unit conversion, random, logical and information.
  table[static_cast<BuiltinId>(Builtin::Round)] = fn_round;
  table[static_cast<BuiltinId>(Builtin::RoundUp)] = fn_roundup;
  table[static_cast<BuiltinId>(Builtin::RoundDown)] = fn_rounddown;
  table[static_cast<BuiltinId>(Builtin::Trunc)] = fn_rounddown;
  table[static_cast<BuiltinId>(Builtin::MRound)] = fn_mround;
  table[static_cast<BuiltinId>(Builtin::Int)] = fn_int;
  table[static_cast<BuiltinId>(Builtin::Ceiling)] = fn_ceiling;
  table[static_cast<BuiltinId>(Builtin::Floor)] = fn_floor;
  table[static_cast<BuiltinId>(Builtin::Mod)] = fn_mod;
  table[static_cast<BuiltinId>(Builtin::Quotient)] = fn_quotient;
  table[static_cast<BuiltinId>(Builtin::Sign)] = fn_sign;
  table[static_cast<BuiltinId>(Builtin::Abs)] = fn_abs;
  table[static_cast<BuiltinId>(Builtin::Power)] = fn_power;
  table[static_cast<BuiltinId>(Builtin::Sqrt)] = fn_sqrt;
  table[static_cast<BuiltinId>(Builtin::Exp)] = fn_exp;
  table[static_cast<BuiltinId>(Builtin::Ln)] = fn_ln;
  table[static_cast<BuiltinId>(Builtin::Log)] = fn_log;
  table[static_cast<BuiltinId>(Builtin::Log10)] = fn_log10;
  table[static_cast<BuiltinId>(Builtin::Sin)] = fn_sin;
  table[static_cast<BuiltinId>(Builtin::Cos)] = fn_cos;
  table[static_cast<BuiltinId>(Builtin::Tan)] = fn_tan;
  table[static_cast<BuiltinId>(Builtin::Asin)] = fn_asin;
  table[static_cast<BuiltinId>(Builtin::Acos)] = fn_acos;
  table[static_cast<BuiltinId>(Builtin::Atan)] = fn_atan;
  table[static_cast<BuiltinId>(Builtin::Atan2)] = fn_atan2;
  table[static_cast<BuiltinId>(Builtin::Sinh)] = fn_sinh;
  table[static_cast<BuiltinId>(Builtin::Cosh)] = fn_cosh;
  table[static_cast<BuiltinId>(Builtin::Tanh)] = fn_tanh;
  table[static_cast<BuiltinId>(Builtin::Degrees)] = fn_degrees;
  table[static_cast<BuiltinId>(Builtin::Radians)] = fn_radians;
  table[static_cast<BuiltinId>(Builtin::Convert)] = fn_convert;
  table[static_cast<BuiltinId>(Builtin::RandBetween)] = fn_randbetween;
  table[static_cast<BuiltinId>(Builtin::IfError)] = fn_iferror;
  table[static_cast<BuiltinId>(Builtin::IfNa)] = fn_ifna;
  table[static_cast<BuiltinId>(Builtin::Ifs)] = fn_ifs;
  table[static_cast<BuiltinId>(Builtin::Switch)] = fn_switch;
  table[static_cast<BuiltinId>(Builtin::And)] = fn_and;
  table[static_cast<BuiltinId>(Builtin::Or)] = fn_or;
  table[static_cast<BuiltinId>(Builtin::Xor)] = fn_xor;
  table[static_cast<BuiltinId>(Builtin::Not)] = fn_not;
  table[static_cast<BuiltinId>(Builtin::IsBlank)] = fn_isblank;
  table[static_cast<BuiltinId>(Builtin::IsNumber)] = fn_isnumber;
  table[static_cast<BuiltinId>(Builtin::IsText)] = fn_istext;
  table[static_cast<BuiltinId>(Builtin::IsLogical)] = fn_islogical;
  table[static_cast<BuiltinId>(Builtin::IsError)] = fn_iserror;
  table[static_cast<BuiltinId>(Builtin::IsErr)] = fn_iserr;
  table[static_cast<BuiltinId>(Builtin::IsNa)] = fn_isna;
  table[static_cast<BuiltinId>(Builtin::IsEven)] = fn_iseven;
  table[static_cast<BuiltinId>(Builtin::IsOdd)] = fn_isodd;
  table[static_cast<BuiltinId>(Builtin::N)] = fn_n;
  // ---- Sums and products, counts, conditional aggregates, SUBTOTAL/AGGREGATE
  table[static_cast<BuiltinId>(Builtin::SumSq)] = fn_sumsq;
  table[static_cast<BuiltinId>(Builtin::Product)] = fn_product;
  table[static_cast<BuiltinId>(Builtin::SumProduct)] = fn_sumproduct;
  table[static_cast<BuiltinId>(Builtin::MMult)] = fn_mmult;
  table[static_cast<BuiltinId>(Builtin::SeriesSum)] = fn_seriessum;
  table[static_cast<BuiltinId>(Builtin::SumIf)] = fn_sumif;
  table[static_cast<BuiltinId>(Builtin::SumIfs)] = fn_sumifs;
  table[static_cast<BuiltinId>(Builtin::Count)] = fn_count;
  table[static_cast<BuiltinId>(Builtin::CountA)] = fn_counta;
  table[static_cast<BuiltinId>(Builtin::CountBlank)] = fn_countblank;
  table[static_cast<BuiltinId>(Builtin::Average)] = fn_average;
  table[static_cast<BuiltinId>(Builtin::AverageA)] = fn_averagea;
  table[static_cast<BuiltinId>(Builtin::Max)] = fn_max;
  table[static_cast<BuiltinId>(Builtin::Min)] = fn_min;
  table[static_cast<BuiltinId>(Builtin::MaxA)] = fn_maxa;
  table[static_cast<BuiltinId>(Builtin::MinA)] = fn_mina;
  table[static_cast<BuiltinId>(Builtin::CountIf)] = fn_countif;
  table[static_cast<BuiltinId>(Builtin::CountIfs)] = fn_countifs;
  table[static_cast<BuiltinId>(Builtin::AverageIf)] = fn_averageif;
  table[static_cast<BuiltinId>(Builtin::AverageIfs)] = fn_averageifs;
  table[static_cast<BuiltinId>(Builtin::MaxIfs)] = fn_maxifs;
  table[static_cast<BuiltinId>(Builtin::MinIfs)] = fn_minifs;
  table[static_cast<BuiltinId>(Builtin::Subtotal)] = fn_subtotal;
  table[static_cast<BuiltinId>(Builtin::Aggregate)] = fn_aggregate;
  table[static_cast<BuiltinId>(Builtin::VarS)] = fn_var_s;
  table[static_cast<BuiltinId>(Builtin::VarP)] = fn_var_p;
  table[static_cast<BuiltinId>(Builtin::StdevS)] = fn_stdev_s;
  table[static_cast<BuiltinId>(Builtin::StdevP)] = fn_stdev_p;
  table[static_cast<BuiltinId>(Builtin::Median)] = fn_median;
  table[static_cast<BuiltinId>(Builtin::ModeSngl)] = fn_mode_sngl;
  table[static_cast<BuiltinId>(Builtin::Large)] = fn_large;
  table[static_cast<BuiltinId>(Builtin::Small)] = fn_small;
  table[static_cast<BuiltinId>(Builtin::PercentileInc)] = fn_percentile_inc;
  table[static_cast<BuiltinId>(Builtin::QuartileInc)] = fn_quartile_inc;
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
  // Lookup and reference functions.
  table[static_cast<BuiltinId>(Builtin::VLookup)] = fn_vlookup;
  table[static_cast<BuiltinId>(Builtin::HLookup)] = fn_hlookup;
  table[static_cast<BuiltinId>(Builtin::Match)] = fn_match;
  table[static_cast<BuiltinId>(Builtin::XMatch)] = fn_xmatch;
  table[static_cast<BuiltinId>(Builtin::XLookup)] = fn_xlookup;
  table[static_cast<BuiltinId>(Builtin::Lookup)] = fn_lookup;
  table[static_cast<BuiltinId>(Builtin::Index)] = fn_index;
  table[static_cast<BuiltinId>(Builtin::Offset)] = fn_offset;
  table[static_cast<BuiltinId>(Builtin::Indirect)] = fn_indirect;
  table[static_cast<BuiltinId>(Builtin::Row)] = fn_row;
  table[static_cast<BuiltinId>(Builtin::Column)] = fn_column;
  table[static_cast<BuiltinId>(Builtin::Rows)] = fn_rows;
  table[static_cast<BuiltinId>(Builtin::Columns)] = fn_columns;
  table[static_cast<BuiltinId>(Builtin::Choose)] = fn_choose;
  table[static_cast<BuiltinId>(Builtin::Address)] = fn_address;
  table[static_cast<BuiltinId>(Builtin::FormulaText)] = fn_formulatext;
  table[static_cast<BuiltinId>(Builtin::Hyperlink)] = fn_hyperlink;
  table[static_cast<BuiltinId>(Builtin::Transpose)] = fn_transpose;
  // ---- Dispersion and shape, order statistics, paired statistics, NORM.DIST
  table[static_cast<BuiltinId>(Builtin::StdevA)] = fn_stdeva;
  table[static_cast<BuiltinId>(Builtin::DevSq)] = fn_devsq;
  table[static_cast<BuiltinId>(Builtin::AveDev)] = fn_avedev;
  table[static_cast<BuiltinId>(Builtin::Skew)] = fn_skew;
  table[static_cast<BuiltinId>(Builtin::Kurt)] = fn_kurt;
  table[static_cast<BuiltinId>(Builtin::GeoMean)] = fn_geomean;
  table[static_cast<BuiltinId>(Builtin::HarMean)] = fn_harmean;
  table[static_cast<BuiltinId>(Builtin::RankEq)] = fn_rank_eq;
  table[static_cast<BuiltinId>(Builtin::TrimMean)] = fn_trimmean;
  table[static_cast<BuiltinId>(Builtin::Correl)] = fn_correl;
  table[static_cast<BuiltinId>(Builtin::CovarianceP)] = fn_covariance_p;
  table[static_cast<BuiltinId>(Builtin::CovarianceS)] = fn_covariance_s;
  table[static_cast<BuiltinId>(Builtin::Slope)] = fn_slope;
  table[static_cast<BuiltinId>(Builtin::Intercept)] = fn_intercept;
  table[static_cast<BuiltinId>(Builtin::NormDist)] = fn_norm_dist;
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
