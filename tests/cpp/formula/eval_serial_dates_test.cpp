// The serial calendar: day numbers to dates and back, weekdays, year tokens.
#include <gtest/gtest.h>

#include "functions/serial_dates.h"

namespace cmx::formula {
namespace {

TEST(SerialFromCivil, Table) {
  struct Case {
    int64_t y, m, d;
    std::optional<int64_t> want;
  };
  const int64_t feb_2024 = 45323;  // 2024-02-01
  const Case cases[] = {
      {1900, 1, 1, 1},        {1900, 2, 28, 59},        {1900, 2, 29, 60},
      {1900, 3, 1, 61},       {1900, 3, 0, 59},         {1900, 1, 60, 61},
      {1899, 12, 31, 0},      {1899, 12, 30, -1},       {1904, 1, 1, 1462},
      {9999, 12, 31, 2958465}, {10000, 1, 1, 2958466},  {2023, 14, 1, feb_2024},
      {2024, 0, 1, 45261},    {2024, 1, -1, 45290},     {2024, -1, 1, 45231},
      {1900, 1, 0, 0},
      // Arithmetic beyond 64 bits answers absent, never wraps.
      {INT64_MAX, 1, 1, std::nullopt},
      {2024, INT64_MAX, 1, std::nullopt},
      {2024, INT64_MIN, 1, std::nullopt},
      {2024, 1, INT64_MAX, std::nullopt},
      {2024, 1, INT64_MIN, std::nullopt},
      {INT64_MIN, 1, 1, std::nullopt},
      {kMaxSerialYearMagnitude + 1, 1, 1, std::nullopt},
      {2024, 1, INT64_MAX - 1000, std::nullopt},  // the day offset overflows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
    EXPECT_EQ(serial_from_civil(c.y, c.m, c.d), c.want);
  }
}

TEST(CivilFromSerial, FictitiousDaysAndBounds) {
  EXPECT_EQ(civil_from_serial(0), (SerialCivil{1900, 1, 0}));
  EXPECT_EQ(civil_from_serial(59), (SerialCivil{1900, 2, 28}));
  EXPECT_EQ(civil_from_serial(60), (SerialCivil{1900, 2, 29}));
  EXPECT_EQ(civil_from_serial(61), (SerialCivil{1900, 3, 1}));
  EXPECT_EQ(civil_from_serial(45292), (SerialCivil{2024, 1, 1}));
  EXPECT_EQ(civil_from_serial(-1), std::nullopt);
  // Far day numbers still have dates, and convert back.
  for (int64_t n : {int64_t{1} << 40, int64_t{1} << 55, INT64_MAX / 2}) {
    auto far = civil_from_serial(n);
    ASSERT_TRUE(far.has_value());
    EXPECT_EQ(serial_from_civil(far->year, far->month, far->day), n);
  }
  EXPECT_TRUE(civil_from_serial(INT64_MAX).has_value());
  // Round trip across the whole four-digit-year range.
  for (int64_t n = 1; n <= 2958465; n += 997) {
    auto civil = civil_from_serial(n);
    ASSERT_TRUE(civil.has_value());
    EXPECT_EQ(serial_from_civil(civil->year, civil->month, civil->day), n);
  }
}

TEST(SerialWeekday, FromDayNumber) {
  EXPECT_EQ(serial_weekday(1), 1);      // Sunday
  EXPECT_EQ(serial_weekday(60), 4);     // Wednesday
  EXPECT_EQ(serial_weekday(61), 5);     // Thursday
  EXPECT_EQ(serial_weekday(45292), 2);  // Monday
  EXPECT_EQ(serial_weekday(0), 0);      // Saturday
  EXPECT_EQ(serial_weekday(-1), 6);     // never negative
}

TEST(YearTokens, ExpandAndParse) {
  struct Case {
    std::string_view token;
    std::optional<int64_t> expand, parse;
  };
  const Case cases[] = {
      {"5", 2005, std::nullopt},   {"29", 2029, std::nullopt}, {"30", 1930, std::nullopt},
      {"99", 1999, 99},            {"+9", 2009, std::nullopt}, {"123", 123, 123},
      {"2024", 2024, 2024},        {"-5", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt}, {"1a", std::nullopt, std::nullopt},
      {"32", 1932, 32},            {"31", 1931, std::nullopt}, {"0005", 5, 5},
      {"1999", 1999, 1999},        {"12", 2012, std::nullopt}, {"+", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.token));
    EXPECT_EQ(expand_year_token(c.token), c.expand);
    EXPECT_EQ(parse_year_token(c.token), c.parse);
  }
}

}  // namespace
}  // namespace cmx::formula
