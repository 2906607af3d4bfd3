// Serial day numbers to civil dates and back, over the model's Gregorian
// day arithmetic.
#include "functions/serial_dates.h"

#include "base/number_text.h"
#include "model/date_time.h"

namespace cmx::formula {
namespace {

// 1899-12-31 counted from 1970-01-01.
const int64_t kDayBeforeSerialOne = model::days_from_civil(1899, 12, 31);
int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::optional<int64_t> read_signed_token(std::string_view token) {
  if (token.empty()) return std::nullopt;
  return parse_i64(token, /*allow_plus=*/true);
}

}  // namespace

std::optional<SerialCivil> civil_from_serial(int64_t day_number) {
  if (day_number < 0) return std::nullopt;
  if (day_number == 0) return SerialCivil{1900, 1, 0};
  if (day_number == 60) return SerialCivil{1900, 2, 29};
  int64_t k = day_number > 60 ? day_number - 1 : day_number;
  // The day before serial 1 is negative, so this sum cannot overflow.
  model::CivilDate date = model::civil_from_days(kDayBeforeSerialOne + k);
  return SerialCivil{date.year, date.month, date.day};
}

std::optional<int64_t> serial_from_civil(int64_t year, int64_t month, int64_t day) {
  if (year == 1900 && month == 2 && day == 29) return 60;
  if (month == INT64_MIN || day == INT64_MIN) return std::nullopt;
  int64_t year_shift = floor_div(month - 1, 12);
  int64_t m = (month - 1) - year_shift * 12 + 1;
  int64_t y = 0;
  if (__builtin_add_overflow(year, year_shift, &y)) return std::nullopt;
  if (y > kMaxSerialYearMagnitude || y < -kMaxSerialYearMagnitude) return std::nullopt;
  int64_t first = model::days_from_civil(y, static_cast<unsigned>(m), 1);
  int64_t k = 0;
  if (__builtin_add_overflow(first - kDayBeforeSerialOne, day - 1, &k)) return std::nullopt;
  if (k < 60) return k;
  if (k == INT64_MAX) return std::nullopt;
  return k + 1;
}

int serial_weekday(int64_t day_number) {
  int64_t r = day_number % 7;
  return static_cast<int>(r < 0 ? r + 7 : r);
}

bool is_leap_year(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && is_leap_year(year)) return 29;
  return kDays[month - 1];
}

std::optional<int64_t> expand_year_token(std::string_view token) {
  std::optional<int64_t> value = read_signed_token(token);
  if (!value || *value < 0) return std::nullopt;
  if (token.size() <= 2) return *value < 30 ? 2000 + *value : 1900 + *value;
  return value;
}

std::optional<int64_t> parse_year_token(std::string_view token) {
  std::optional<int64_t> value = read_signed_token(token);
  if (!value) return std::nullopt;
  if (*value >= 32 || token.size() == 4) return value;
  return std::nullopt;
}

}  // namespace cmx::formula
