// Spreadsheet serials as dates and times: the Gregorian day arithmetic, the
// two date systems with the 1900 system's fictitious days, and the rendering
// of a date or time section of a number format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/number_format.h"
#include "model/workbook.h"

namespace cmx::model {

struct CivilDate {
  int64_t year = 1970;
  uint8_t month = 1;  // 1 to 12
  uint8_t day = 1;    // 1 to 31; 0 only for the 1900 system's serial 0
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Proleptic Gregorian calendar, days counted from 1970-01-01. Exact over the
// whole int64 range of years and days that can be represented.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);
CivilDate civil_from_days(int64_t days);
// 0 is Sunday, 6 Saturday.
uint8_t weekday_from_days(int64_t days);

struct SerialDate {
  CivilDate date;
  uint8_t weekday = 0;  // 0 is Sunday
};
// The date of a whole day count in a date system. In the 1900 system, 0 is
// 1900-01-00 (a Sunday, like 1899-12-31) and 60 is 1900-02-29 (a Thursday,
// like 1900-03-01), both days the calendar does not have. Absent for a
// negative count.
std::optional<SerialDate> serial_day_date(int64_t days, DateSystem system);

// The text of `value` under a section holding date or time tokens.
// Negative serials, NaN and serials whose count of time units leaves the
// 128-bit range or whose day count leaves the 64-bit range render "#######".
std::string render_date_section(const FormatSection& section, double value, DateSystem system);

}  // namespace cmx::model
