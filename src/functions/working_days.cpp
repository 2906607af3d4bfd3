// NETWORKDAYS, NETWORKDAYS.INTL, WORKDAY and WORKDAY.INTL: workdays counted
// and stepped under a weekend pattern and a holiday list. Whole weeks are
// counted arithmetically and holidays by binary search, so the cost follows
// the length of the holiday list, never the number of days spanned.
#include <algorithm>
#include <array>
#include <vector>

#include "formula/array_eval.h"
#include "formula/value_coercion.h"
#include "functions/arg_coercion.h"
#include "functions/date_args.h"
#include "functions/handlers.h"
#include "functions/text_args.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

// 9999-12-31: the last day WORKDAY may answer.
constexpr int64_t kLastWorkdayResult = 2'958'465;

// Monday first; a set flag marks a weekend day.
using WeekendMask = std::array<bool, 7>;

int monday_index(int64_t day) {
  const int64_t r = day % 7;
  return static_cast<int>(((r < 0 ? r + 7 : r) + 5) % 7);
}

Result<WeekendMask, CellErrorCode> parse_weekend(const CellValue& value) {
  WeekendMask mask{};
  if (value.is_text()) {
    std::string_view text = value.as_text();
    if (text.size() != 7) return unexpected(CellErrorCode::Value);
    for (size_t i = 0; i < 7; ++i) {
      if (text[i] != '0' && text[i] != '1') return unexpected(CellErrorCode::Value);
      mask[i] = text[i] == '1';
    }
    return mask;
  }
  CMX_ASSIGN_OR_RETURN(double number, value_to_number(value));
  const auto code = saturate_cast<int64_t>(number);
  if (code >= 1 && code <= 7) {
    // Code 1 is Saturday and Sunday, each next code one day earlier.
    mask[static_cast<size_t>((code + 4) % 7)] = true;
    mask[static_cast<size_t>((code + 5) % 7)] = true;
    return mask;
  }
  if (code >= 11 && code <= 17) {
    mask[static_cast<size_t>((code - 5) % 7)] = true;  // 11 is Sunday, 12 Monday ...
    return mask;
  }
  return unexpected(CellErrorCode::Num);
}

constexpr WeekendMask kSaturdaySunday = {false, false, false, false, false, true, true};

Result<WeekendMask, CellErrorCode> weekend_arg(Args args, EvalContext& ctx) {
  if (!arg_given(args, 2)) return kSaturdaySunday;
  const CellValue value = eval_scalar(*args[2], ctx);
  if (value.is_empty()) return kSaturdaySunday;
  return parse_weekend(value);
}

Result<void, CellErrorCode> add_holiday(const CellValue& value, std::vector<int64_t>& days) {
  switch (value.kind()) {
    case CellValue::Kind::Number:
      days.push_back(day_of_serial(value.as_number()));
      return {};
    case CellValue::Kind::Text: {
      // Only numbers: date texts are not read here.
      std::optional<double> n = parse_number_text(value.as_text());
      if (!n) return unexpected(CellErrorCode::Value);
      days.push_back(day_of_serial(*n));
      return {};
    }
    case CellValue::Kind::Error:
      return unexpected(value.as_error());
    default:
      return {};
  }
}

Result<std::vector<int64_t>, CellErrorCode> collect_holidays(Args args, size_t i,
                                                             EvalContext& ctx) {
  std::vector<int64_t> days;
  if (!arg_given(args, i)) return days;
  EvalResult result = eval_array(*args[i], ctx);
  if (result.is_array()) {
    for (const CellValue& v : result.as_array().values) CMX_TRY(add_holiday(v, days));
  } else {
    CMX_TRY(add_holiday(top_left_value(std::move(result)), days));
  }
  return days;
}

// The calendar of one call: the weekend and the distinct holidays that fall
// on workdays, sorted.
class WorkCalendar {
 public:
  WorkCalendar(const WeekendMask& mask, std::vector<int64_t> holidays) : mask_(mask) {
    for (bool weekend : mask) per_week_ += weekend ? 0 : 1;
    std::erase_if(holidays, [&](int64_t day) { return !is_workday(day); });
    std::sort(holidays.begin(), holidays.end());
    holidays.erase(std::unique(holidays.begin(), holidays.end()), holidays.end());
    holidays_ = std::move(holidays);
  }

  int per_week() const { return per_week_; }
  bool is_workday(int64_t day) const { return !mask_[static_cast<size_t>(monday_index(day))]; }

  // Workdays in [lo, hi], lo <= hi, before holidays.
  uint64_t workdays(int64_t lo, int64_t hi) const {
    const uint64_t days = static_cast<uint64_t>(hi - lo) + 1;
    uint64_t count = static_cast<uint64_t>(per_week_) * (days / 7);
    // Counted down from hi: a day after hi may not exist in 64 bits.
    for (uint64_t back = 0; back < days % 7; ++back) {
      count += is_workday(hi - static_cast<int64_t>(back)) ? 1 : 0;
    }
    return count;
  }

  // Workdays in [lo, hi] that are no holiday.
  uint64_t open_days(int64_t lo, int64_t hi) const {
    const auto first = std::lower_bound(holidays_.begin(), holidays_.end(), lo);
    const auto last = std::upper_bound(first, holidays_.end(), hi);
    return workdays(lo, hi) - static_cast<uint64_t>(last - first);
  }

 private:
  WeekendMask mask_;
  int per_week_ = 0;
  std::vector<int64_t> holidays_;
};

Result<CellValue, CellErrorCode> count_workdays(Args args, EvalContext& ctx,
                                                const WeekendMask& mask, size_t holidays_at) {
  auto start_serial = arg_number(args, 0, ctx);
  auto end_serial = arg_number(args, 1, ctx);
  if (!start_serial.has_value()) return unexpected(start_serial.error());
  if (!end_serial.has_value()) return unexpected(end_serial.error());
  CMX_ASSIGN_OR_RETURN(std::vector<int64_t> holidays, collect_holidays(args, holidays_at, ctx));
  const int64_t start = day_of_serial(*start_serial);
  const int64_t end = day_of_serial(*end_serial);
  if (start < 0 || end < 0) return unexpected(CellErrorCode::Num);
  const WorkCalendar calendar(mask, std::move(holidays));
  const auto count = static_cast<double>(calendar.open_days(std::min(start, end), std::max(start, end)));
  return CellValue::number(end < start ? -count : count);
}

// Without holidays: whole weeks skipped for free, then at most a week
// walked, one cell charged per day.
Result<int64_t, CellErrorCode> step_plain(const WorkCalendar& calendar, int64_t start,
                                          uint64_t n, int direction, EvalContext& ctx) {
  const auto per_week = static_cast<uint64_t>(calendar.per_week());
  __int128 day = start;
  if (n > per_week) {
    const uint64_t weeks = (n - 1) / per_week;
    day += static_cast<__int128>(7) * weeks * direction;
    if (day < 0 || day > kLastWorkdayResult) return unexpected(CellErrorCode::Num);
    n -= weeks * per_week;
  }
  while (n > 0) {
    if (!charge_cells(ctx, 1)) return unexpected(CellErrorCode::Num);
    day += direction;  // 128 bits: a saturated start has no room to step
    if (day < 0 || day > kLastWorkdayResult) return unexpected(CellErrorCode::Num);
    if (calendar.is_workday(static_cast<int64_t>(day))) --n;
  }
  return static_cast<int64_t>(day);
}

// With holidays: the n-th open day found by binary search over the count of
// open days. The cells charged are the days a walk from the start would
// visit, so a long step still exhausts the formula's budget.
Result<int64_t, CellErrorCode> step_with_holidays(const WorkCalendar& calendar, int64_t start,
                                                  uint64_t n, int direction, EvalContext& ctx) {
  std::optional<int64_t> found;
  uint64_t visited = 1;  // a first step out of range is refused at once
  if (direction > 0 && start < kLastWorkdayResult) {
    int64_t lo = start + 1;
    int64_t hi = kLastWorkdayResult;
    if (calendar.open_days(lo, hi) >= n) {
      while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (calendar.open_days(start + 1, mid) >= n) {
          hi = mid;
        } else {
          lo = mid + 1;
        }
      }
      found = lo;
    }
    visited = static_cast<uint64_t>((found ? *found : kLastWorkdayResult + 1) - start);
  } else if (direction < 0 && start > 0 && start - 1 <= kLastWorkdayResult) {
    int64_t lo = 0;
    int64_t hi = start - 1;
    if (calendar.open_days(lo, hi) >= n) {
      while (lo < hi) {
        const int64_t mid = hi - (hi - lo) / 2;
        if (calendar.open_days(mid, start - 1) >= n) {
          lo = mid;
        } else {
          hi = mid - 1;
        }
      }
      found = lo;
    }
    visited = static_cast<uint64_t>(start - (found ? *found : -1));
  }
  if (!charge_cells(ctx, visited) || !found) return unexpected(CellErrorCode::Num);
  return *found;
}

Result<CellValue, CellErrorCode> step_workdays(Args args, EvalContext& ctx,
                                               const WeekendMask& mask, size_t holidays_at) {
  auto start_serial = arg_number(args, 0, ctx);
  auto count = arg_truncated(args, 1, ctx);
  if (!start_serial.has_value()) return unexpected(start_serial.error());
  if (!count.has_value()) return unexpected(count.error());
  CMX_ASSIGN_OR_RETURN(std::vector<int64_t> holidays, collect_holidays(args, holidays_at, ctx));
  const int64_t start = day_of_serial(*start_serial);
  if (start < 0) return unexpected(CellErrorCode::Num);
  if (std::all_of(mask.begin(), mask.end(), [](bool weekend) { return weekend; })) {
    return unexpected(CellErrorCode::Value);
  }
  if (*count == 0) return CellValue::number(static_cast<double>(start));
  const int direction = *count < 0 ? -1 : 1;
  const uint64_t n = *count < 0 ? 0 - static_cast<uint64_t>(*count) : static_cast<uint64_t>(*count);
  const bool plain = holidays.empty();
  const WorkCalendar calendar(mask, std::move(holidays));
  CMX_ASSIGN_OR_RETURN(int64_t day, plain ? step_plain(calendar, start, n, direction, ctx)
                                          : step_with_holidays(calendar, start, n, direction, ctx));
  return CellValue::number(static_cast<double>(day));
}

using WorkdayCore = Result<CellValue, CellErrorCode> (*)(Args, EvalContext&, const WeekendMask&,
                                                         size_t holidays_at);

// The plain forms: two dates, then holidays, under the Saturday-Sunday weekend.
CellValue run_plain(Args args, EvalContext& ctx, WorkdayCore core) {
  if (args.size() < 2 || args.size() > 3) return CellValue::error(CellErrorCode::Value);
  return value_or_error(core(args, ctx, kSaturdaySunday, 2));
}

// The .INTL forms: the weekend is read before anything else.
CellValue run_intl(Args args, EvalContext& ctx, WorkdayCore core) {
  if (args.size() < 2 || args.size() > 4) return CellValue::error(CellErrorCode::Value);
  auto mask = weekend_arg(args, ctx);
  if (!mask.has_value()) return CellValue::error(mask.error());
  return value_or_error(core(args, ctx, *mask, 3));
}

}  // namespace

void fn_networkdays(CellValue& out, Args args, EvalContext& ctx) {
  out = run_plain(args, ctx, count_workdays);
}

void fn_networkdays_intl(CellValue& out, Args args, EvalContext& ctx) {
  out = run_intl(args, ctx, count_workdays);
}

void fn_workday(CellValue& out, Args args, EvalContext& ctx) {
  out = run_plain(args, ctx, step_workdays);
}

void fn_workday_intl(CellValue& out, Args args, EvalContext& ctx) {
  out = run_intl(args, ctx, step_workdays);
}

}  // namespace cmx::formula
