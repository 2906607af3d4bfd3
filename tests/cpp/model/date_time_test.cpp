// Serials and dates over the whole range of both date systems, against a
// calendar that steps one day at a time, and the day arithmetic both ways.
#include <gtest/gtest.h>

#include <string>

#include "model/date_time.h"
#include "model/format_render.h"

namespace cmx::model {
namespace {

// An independent calendar: advance one day by the month lengths of the
// Gregorian leap rule.
struct SteppingCalendar {
  int64_t year;
  unsigned month;
  unsigned day;
  unsigned weekday;  // 0 is Sunday

  static bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
  unsigned month_length() const {
    static constexpr unsigned kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : kLengths[month - 1];
  }
  void advance() {
    weekday = (weekday + 1) % 7;
    if (++day <= month_length()) return;
    day = 1;
    if (++month <= 12) return;
    month = 1;
    ++year;
  }
};

constexpr int64_t kLastSerial1900 = 2958465;  // 9999-12-31
constexpr int64_t kLastSerial1904 = 2957003;  // 9999-12-31

void expect_date(const std::optional<SerialDate>& got, int64_t y, unsigned m, unsigned d, unsigned wd) {
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->date, (CivilDate{y, static_cast<uint8_t>(m), static_cast<uint8_t>(d)}));
  EXPECT_EQ(got->weekday, wd);
}

TEST(SerialDayDate, System1900WholeRange) {
  // 1900-01-01 was a Monday.
  SteppingCalendar cal{1900, 1, 1, 1};
  for (int64_t serial = 1; serial <= kLastSerial1900 + 1000; ++serial) {
    std::optional<SerialDate> got = serial_day_date(serial, DateSystem::V1900);
    if (serial == 60) {
      // The leap day 1900 did not have, with the weekday of 1900-03-01.
      expect_date(got, 1900, 2, 29, 4);
      continue;
    }
    if (got->date != CivilDate{cal.year, static_cast<uint8_t>(cal.month), static_cast<uint8_t>(cal.day)} ||
        got->weekday != cal.weekday) {
      SCOPED_TRACE(serial);
      expect_date(got, cal.year, cal.month, cal.day, cal.weekday);
      return;
    }
    cal.advance();
  }
  EXPECT_EQ(cal.year, 10002);
}

TEST(SerialDayDate, System1904WholeRange) {
  // 1904-01-01 was a Friday.
  SteppingCalendar cal{1904, 1, 1, 5};
  for (int64_t serial = 0; serial <= kLastSerial1904 + 1000; ++serial) {
    std::optional<SerialDate> got = serial_day_date(serial, DateSystem::V1904);
    if (got->date != CivilDate{cal.year, static_cast<uint8_t>(cal.month), static_cast<uint8_t>(cal.day)} ||
        got->weekday != cal.weekday) {
      SCOPED_TRACE(serial);
      expect_date(got, cal.year, cal.month, cal.day, cal.weekday);
      return;
    }
    cal.advance();
  }
}

TEST(SerialDayDate, Anchors) {
  struct Case { int64_t serial; DateSystem system; int64_t y; unsigned m; unsigned d; unsigned wd; };
  // Dates and weekdays as Python's datetime gives them.
  const Case cases[] = {
      {0, DateSystem::V1900, 1900, 1, 0, 0},
      {1, DateSystem::V1900, 1900, 1, 1, 1},
      {59, DateSystem::V1900, 1900, 2, 28, 3},
      {60, DateSystem::V1900, 1900, 2, 29, 4},
      {61, DateSystem::V1900, 1900, 3, 1, 4},
      {36526, DateSystem::V1900, 2000, 1, 1, 6},
      {45292, DateSystem::V1900, 2024, 1, 1, 1},
      {100000, DateSystem::V1900, 2173, 10, 14, 4},
      {1000000, DateSystem::V1900, 4637, 11, 26, 0},
      {kLastSerial1900, DateSystem::V1900, 9999, 12, 31, 5},
      {0, DateSystem::V1904, 1904, 1, 1, 5},
      {1462, DateSystem::V1904, 1908, 1, 2, 4},
      {kLastSerial1904, DateSystem::V1904, 9999, 12, 31, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serial);
    expect_date(serial_day_date(c.serial, c.system), c.y, c.m, c.d, c.wd);
  }
  EXPECT_EQ(serial_day_date(-1, DateSystem::V1900), std::nullopt);
  EXPECT_EQ(serial_day_date(-1, DateSystem::V1904), std::nullopt);
}

TEST(SerialDayDate, ExtremeDayCountsDoNotOverflow) {
  auto last = serial_day_date(INT64_MAX, DateSystem::V1904);
  ASSERT_TRUE(last.has_value());
  EXPECT_GE(last->date.year, 25'000'000'000'000'000LL);
  auto first = civil_from_days(INT64_MIN);
  EXPECT_LE(first.year, -25'000'000'000'000'000LL);
}

TEST(CivilDays, RoundTrip) {
  // Whole range of both systems, and far outside it.
  for (int64_t days = -800'000; days <= 3'000'000; ++days) {
    CivilDate date = civil_from_days(days);
    if (days_from_civil(date.year, date.month, date.day) != days) {
      FAIL() << "day " << days << " gives " << date.year << "-" << int(date.month) << "-" << int(date.day);
    }
  }
  for (int64_t days : {INT64_C(-1'000'000'000'000), INT64_C(1'000'000'000'000), INT64_C(4'000'000'000'000'000'000)}) {
    CivilDate date = civil_from_days(days);
    EXPECT_EQ(days_from_civil(date.year, date.month, date.day), days);
  }
  EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
  EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
  EXPECT_EQ(weekday_from_days(0), 4);
  EXPECT_EQ(weekday_from_days(-1), 3);
}

std::string padded(int64_t value, size_t width) {
  std::string digits = std::to_string(value);
  return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

// The rendering path agrees with the day arithmetic over the whole range;
// every 97th serial keeps the sanitizer build quick.
TEST(RenderDateSection, WholeRangeThroughFormatValue) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (DateSystem system : {DateSystem::V1900, DateSystem::V1904}) {
    const int64_t last = system == DateSystem::V1900 ? kLastSerial1900 : kLastSerial1904;
    for (int64_t serial = 0; serial <= last; serial += 97) {
      SerialDate date = *serial_day_date(serial, system);
      const std::string expected = padded(date.date.year, 4) + "-" + padded(date.date.month, 2) + "-" +
                                   padded(date.date.day, 2) + " " + kDays[date.weekday];
      std::string got = format_value("yyyy-mm-dd ddd", system, static_cast<double>(serial) + 0.25).text;
      if (got != expected) {
        FAIL() << "serial " << serial << ": " << got << " != " << expected;
      }
    }
  }
}

}  // namespace
}  // namespace cmx::model
