// The serial calendar every date and time function computes in: the 1900
// system with its fictitious 1900-02-29 at day 60, whatever the workbook's
// own date system.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cmx::formula {

struct SerialCivil {
  int64_t year = 1900;
  int64_t month = 1;
  int64_t day = 0;
  friend bool operator==(const SerialCivil&, const SerialCivil&) = default;
};

// Years whose day numbers still fit 64 bits with room to spare.
inline constexpr int64_t kMaxSerialYearMagnitude = int64_t{1} << 54;

// The date of a day number: 0 is (1900, 1, 0), 60 is (1900, 2, 29). Absent for
// a negative day number.
std::optional<SerialCivil> civil_from_serial(int64_t day_number);

// The day number of a date; months and days outside their ranges roll over
// (month 13 is January next year, day 0 the last day of the month before).
// Only the exact triple (1900, 2, 29) gives 60. Absent when the arithmetic
// would leave the representable range.
std::optional<int64_t> serial_from_civil(int64_t year, int64_t month, int64_t day);

// 1 for Sunday ... 6 for Friday, 0 for Saturday (the day number mod 7).
int serial_weekday(int64_t day_number);

// Gregorian leap years (1900 is not one here).
bool is_leap_year(int64_t year);
// 28 to 31; month 1 to 12.
int days_in_month(int64_t year, int month);

// A year written in a date: one or two characters mean 2000 + v below 30 and
// 1900 + v from 30 on; longer tokens are taken as they are. Signs are read,
// negative values fail.
std::optional<int64_t> expand_year_token(std::string_view token);
// A year standing alone beside a month: accepted when at least 32 or written
// with four characters.
std::optional<int64_t> parse_year_token(std::string_view token);

}  // namespace cmx::formula
