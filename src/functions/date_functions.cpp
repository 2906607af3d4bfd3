// Date functions: DATE, YEAR, MONTH, DAY, EDATE, EOMONTH, DATEDIF, DAYS,
// WEEKDAY, WEEKNUM, ISOWEEKNUM and YEARFRAC, all in the 1900 serial
// calendar whatever the workbook's date system. Every one is a constant
// number of calendar conversions, however far apart its dates lie.
#include <algorithm>

#include "base/unicode.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/date_args.h"
#include "functions/handlers.h"
#include "functions/serial_dates.h"
#include "functions/text_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

int64_t floor_mod(int64_t a, int64_t b) {
  const int64_t r = a % b;
  return r < 0 ? r + b : r;
}

int64_t floor_div(int64_t a, int64_t b) { return (a - floor_mod(a, b)) / b; }

// The date of a day number known to be non-negative.
SerialCivil civil_of(int64_t day) { return civil_from_serial(day).value(); }

// Day number 0 as 1900-01-01, as the year-fraction conventions read it.
SerialCivil civil_for_counting(int64_t day) {
  return day == 0 ? SerialCivil{1900, 1, 1} : civil_of(day);
}

CellValue day_result(std::optional<int64_t> day) {
  if (!day || *day < 0) return CellValue::error(CellErrorCode::Num);
  return CellValue::number(static_cast<double>(*day));
}

Result<CellValue, CellErrorCode> date(Args args, EvalContext& ctx) {
  if (args.size() != 3) return unexpected(CellErrorCode::Value);
  auto year = arg_truncated(args, 0, ctx);
  auto month = arg_truncated(args, 1, ctx);
  auto day = arg_truncated(args, 2, ctx);
  if (!year.has_value()) return unexpected(year.error());
  if (!month.has_value()) return unexpected(month.error());
  if (!day.has_value()) return unexpected(day.error());
  int64_t y = *year;
  if (y >= 0 && y < 1900) y += 1900;
  return day_result(serial_from_civil(y, *month, *day));
}

enum class DatePart { Year, Month, Day };

Result<CellValue, CellErrorCode> date_part(Args args, EvalContext& ctx, DatePart part) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double serial, arg_date(args, ctx));
  const int64_t day = day_of_serial(serial);
  if (day < 0) return unexpected(CellErrorCode::Num);
  const SerialCivil civil = civil_of(day);
  const int64_t value = part == DatePart::Year ? civil.year
                        : part == DatePart::Month ? civil.month
                                                  : civil.day;
  return CellValue::number(static_cast<double>(value));
}

Result<CellValue, CellErrorCode> add_months(Args args, EvalContext& ctx, bool end_of_month) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double serial, arg_date(args, ctx));
  CMX_ASSIGN_OR_RETURN(int64_t months, arg_truncated(args, 1, ctx));
  const int64_t start = day_of_serial(serial);
  if (start < 0) return unexpected(CellErrorCode::Num);
  const SerialCivil civil = civil_of(start);
  int64_t total = 0;
  if (__builtin_mul_overflow(civil.year, int64_t{12}, &total) ||
      __builtin_add_overflow(total, civil.month - 1, &total) ||
      __builtin_add_overflow(total, months, &total)) {
    return unexpected(CellErrorCode::Num);
  }
  const int64_t year = floor_div(total, 12);
  const int month = static_cast<int>(floor_mod(total, 12)) + 1;
  const int length = days_in_month(year, month);
  const int64_t day = end_of_month ? length : std::min<int64_t>(civil.day, length);
  return day_result(serial_from_civil(year, month, day));
}

Result<CellValue, CellErrorCode> datedif(Args args, EvalContext& ctx) {
  if (args.size() != 3) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double start_serial, arg_number(args, 0, ctx));
  CMX_ASSIGN_OR_RETURN(double end_serial, arg_number(args, 1, ctx));
  CMX_ASSIGN_OR_RETURN(std::string unit_text, value_to_text(eval_scalar(*args[2], ctx)));
  const std::string unit = unicode::to_upper(unit_text);
  const int64_t start = day_of_serial(start_serial);
  const int64_t end = day_of_serial(end_serial);
  if (end < start || start < 0) return unexpected(CellErrorCode::Num);
  const SerialCivil a = civil_of(start);
  const SerialCivil b = civil_of(end);
  const bool earlier_in_year = b.month < a.month || (b.month == a.month && b.day < a.day);
  const int64_t c = earlier_in_year ? 1 : 0;
  const int64_t months = (b.year - a.year) * 12 + b.month - a.month - (b.day < a.day ? 1 : 0);
  int64_t result = 0;
  if (unit == "Y") {
    result = b.year - a.year - c;
  } else if (unit == "M") {
    result = months;
  } else if (unit == "D") {
    result = end - start;
  } else if (unit == "YM") {
    result = floor_mod(months, 12);
  } else if (unit == "MD") {
    result = b.day - a.day;
    if (b.day < a.day) {
      result += b.month == 1 ? 31 : days_in_month(b.year, static_cast<int>(b.month) - 1);
    }
  } else if (unit == "YD") {
    std::optional<int64_t> anniversary = serial_from_civil(b.year - c, a.month, a.day);
    if (!anniversary) return unexpected(CellErrorCode::Num);
    result = end - *anniversary;
  } else {
    return unexpected(CellErrorCode::Value);
  }
  return CellValue::number(static_cast<double>(result));
}

Result<CellValue, CellErrorCode> days(Args args, EvalContext& ctx) {
  if (args.size() != 2) return unexpected(CellErrorCode::Value);
  auto end = day_number_arg(args, 0, ctx);
  auto start = day_number_arg(args, 1, ctx);
  if (!end.has_value()) return unexpected(end.error());
  if (!start.has_value()) return unexpected(start.error());
  // Both are non-negative, so the difference cannot overflow.
  return CellValue::number(static_cast<double>(*end - *start));
}

// Where a week starts, for the WEEKDAY and WEEKNUM type codes 11 to 17:
// 0 for Monday ... 6 for Sunday.
std::optional<int> week_start_from_monday(int64_t type) {
  if (type == 1) return 6;
  if (type == 2) return 0;
  if (type >= 11 && type <= 17) return static_cast<int>(type - 11);
  return std::nullopt;
}

// WEEKDAY's and WEEKNUM's day number and type code (default 1), read in
// that order.
struct DayAndType {
  int64_t day = 0;
  int64_t type = 1;
};

Result<DayAndType, CellErrorCode> day_and_type(Args args, EvalContext& ctx) {
  if (args.empty() || args.size() > 2) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double serial, arg_date(args, ctx));
  DayAndType out{day_of_serial(serial)};
  if (args.size() == 2) {
    CMX_ASSIGN_OR_RETURN(out.type, arg_truncated(args, 1, ctx));
  }
  return out;
}

Result<CellValue, CellErrorCode> weekday(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(DayAndType read, day_and_type(args, ctx));
  const int64_t type = read.type;
  // Reduced first: a saturated day number has no room for the shift.
  const int64_t from_monday = floor_mod(floor_mod(read.day, 7) - 2, 7);
  if (type == 3) return CellValue::number(static_cast<double>(from_monday));
  std::optional<int> first = week_start_from_monday(type);
  if (!first) return unexpected(CellErrorCode::Num);
  return CellValue::number(static_cast<double>(floor_mod(from_monday - *first, 7) + 1));
}

Result<CellValue, CellErrorCode> iso_week_number(int64_t day) {
  if (day < 0) return unexpected(CellErrorCode::Num);
  const int64_t monday = day - floor_mod(day - 2, 7);
  if (monday < -3 || monday > INT64_MAX - 3) return unexpected(CellErrorCode::Num);
  const int64_t thursday = monday + 3;
  if (thursday < 0) return unexpected(CellErrorCode::Num);
  std::optional<int64_t> jan1 = serial_from_civil(civil_of(thursday).year, 1, 1);
  if (!jan1) return unexpected(CellErrorCode::Num);
  return CellValue::number(static_cast<double>(floor_div(thursday - *jan1, 7) + 1));
}

Result<CellValue, CellErrorCode> weeknum(Args args, EvalContext& ctx) {
  CMX_ASSIGN_OR_RETURN(DayAndType read, day_and_type(args, ctx));
  const int64_t day = read.day;
  const int64_t type = read.type;
  if (type == 21) return iso_week_number(day);
  std::optional<int> first = week_start_from_monday(type);
  if (!first) return unexpected(CellErrorCode::Num);
  if (day < 0) return unexpected(CellErrorCode::Num);
  std::optional<int64_t> jan1 = serial_from_civil(civil_of(day).year, 1, 1);
  if (!jan1) return unexpected(CellErrorCode::Num);
  const int64_t sunday_first = (*first + 1) % 7;  // 0 for Sunday ... 6 for Saturday
  const int64_t offset = floor_mod(floor_mod(*jan1 - 1, 7) - sunday_first, 7);
  return CellValue::number(static_cast<double>(floor_div(day - *jan1 + offset, 7) + 1));
}

Result<CellValue, CellErrorCode> isoweeknum(Args args, EvalContext& ctx) {
  if (args.size() != 1) return unexpected(CellErrorCode::Value);
  CMX_ASSIGN_OR_RETURN(double serial, arg_date(args, ctx));
  return iso_week_number(day_of_serial(serial));
}

// The day count of the 30-day-month conventions, lo not after hi.
double days_360(int64_t lo, int64_t hi, bool european) {
  const SerialCivil a = civil_for_counting(lo);
  const SerialCivil b = civil_for_counting(hi);
  int64_t d1 = a.day;
  int64_t d2 = b.day;
  if (european) {
    d1 = std::min<int64_t>(d1, 30);
    d2 = std::min<int64_t>(d2, 30);
  } else if (a.month == 2 && d1 == days_in_month(a.year, 2)) {
    if (b.month == 2 && d2 == days_in_month(b.year, 2)) {
      d2 = 30;
    } else if (d2 == 31) {
      d2 = 30;
    }
    d1 = 30;
  } else if (d1 == 31) {
    d1 = 30;
    if (d2 == 31) d2 = 30;
  } else if (d2 == 31 && d1 == 30) {
    d2 = 30;
  }
  // Years far past 9999 would overflow 64 bits once multiplied by 360.
  return static_cast<double>(b.year - a.year) * 360 + static_cast<double>(b.month - a.month) * 30 +
         static_cast<double>(d2 - d1);
}

// Leap years from year 1 to `year` inclusive, for year >= 0.
int64_t leap_years_through(int64_t year) { return year / 4 - year / 100 + year / 400; }

double average_year_length(int64_t first, int64_t last) {
  const int64_t years = last - first + 1;
  const __int128 total_days = static_cast<__int128>(years) * 365 +
                              (leap_years_through(last) - leap_years_through(first - 1));
  return static_cast<double>(total_days) / static_cast<double>(years);
}

bool holds_leap_day(int64_t year, int64_t lo, int64_t hi) {
  if (!is_leap_year(year)) return false;
  // Past the years serial_from_civil serves (about 1.8e16) no leap day is found.
  std::optional<int64_t> leap_day = serial_from_civil(year, 2, 29);
  return leap_day && lo <= *leap_day && *leap_day <= hi;
}

double actual_years(int64_t lo, int64_t hi) {
  const SerialCivil a = civil_for_counting(lo);
  const SerialCivil b = civil_for_counting(hi);
  const auto span = static_cast<double>(hi - lo);
  if (a.year == b.year) return span / (is_leap_year(a.year) ? 366 : 365);
  const bool more_than_a_year =
      b.year > a.year + 1 || a.month < b.month || (a.month == b.month && a.day < b.day);
  if (more_than_a_year) return span / average_year_length(a.year, b.year);
  const bool leap = holds_leap_day(a.year, lo, hi) || holds_leap_day(b.year, lo, hi);
  return span / (leap ? 366 : 365);
}

Result<CellValue, CellErrorCode> yearfrac(Args args, EvalContext& ctx) {
  if (args.size() < 2 || args.size() > 3) return unexpected(CellErrorCode::Value);
  auto start = arg_number(args, 0, ctx);
  auto end = arg_number(args, 1, ctx);
  if (!start.has_value()) return unexpected(start.error());
  if (!end.has_value()) return unexpected(end.error());
  int64_t basis = 0;
  if (arg_given(args, 2)) {
    CMX_ASSIGN_OR_RETURN(basis, arg_truncated(args, 2, ctx));
  }
  const int64_t a = day_of_serial(*start);
  const int64_t b = day_of_serial(*end);
  if (a < 0 || b < 0 || basis < 0 || basis > 4) return unexpected(CellErrorCode::Num);
  const int64_t lo = std::min(a, b);
  const int64_t hi = std::max(a, b);
  const auto span = static_cast<double>(hi - lo);
  double years = 0;
  switch (basis) {
    case 0:
      years = days_360(lo, hi, /*european=*/false) / 360;
      break;
    case 1:
      years = actual_years(lo, hi);
      break;
    case 2:
      years = span / 360;
      break;
    case 3:
      years = span / 365;
      break;
    default:
      years = days_360(lo, hi, /*european=*/true) / 360;
      break;
  }
  if (!std::isfinite(years)) return unexpected(CellErrorCode::Num);
  return CellValue::number(years);
}

}  // namespace

void fn_date(CellValue& out, Args args, EvalContext& ctx) { out = value_or_error(date(args, ctx)); }

void fn_year(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(date_part(args, ctx, DatePart::Year));
}

void fn_month(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(date_part(args, ctx, DatePart::Month));
}

void fn_day(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(date_part(args, ctx, DatePart::Day));
}

void fn_edate(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(add_months(args, ctx, /*end_of_month=*/false));
}

void fn_eomonth(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(add_months(args, ctx, /*end_of_month=*/true));
}

void fn_datedif(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(datedif(args, ctx));
}

void fn_days(CellValue& out, Args args, EvalContext& ctx) { out = value_or_error(days(args, ctx)); }

void fn_weekday(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(weekday(args, ctx));
}

void fn_weeknum(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(weeknum(args, ctx));
}

void fn_isoweeknum(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(isoweeknum(args, ctx));
}

void fn_yearfrac(CellValue& out, Args args, EvalContext& ctx) {
  out = value_or_error(yearfrac(args, ctx));
}

}  // namespace cmx::formula
