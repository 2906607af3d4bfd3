// Shortest digits, positional layout and strict reading.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <cstring>
#include <random>

#include "base/number_text.h"

namespace cmx {
namespace {

TEST(NumberText, ShortestDigits) {
  struct Case { double in; bool negative; const char* digits; int point; };
  const Case cases[] = {
      {0.0, false, "0", 1},
      {-0.0, true, "0", 1},
      {1.0, false, "1", 1},
      {123.45, false, "12345", 3},
      {0.001, false, "1", -2},
      {1e23, false, "1", 24},
      {-2.5e-300, true, "25", -299},
      {0.1 + 0.2, false, "30000000000000004", 0},
      {std::numeric_limits<double>::max(), false, "17976931348623157", 309},
      {5e-324, false, "5", -323},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    ShortestDigits d = shortest_digits(c.in);
    EXPECT_EQ(d.negative, c.negative);
    EXPECT_EQ(d.digits, c.digits);
    EXPECT_EQ(d.point, c.point);
  }
}

TEST(NumberText, Positional) {
  EXPECT_EQ(format_positional(1e23), "100000000000000000000000");
  EXPECT_EQ(format_positional(1e-6), "0.000001");
  EXPECT_EQ(format_positional(-12.5), "-12.5");
  EXPECT_EQ(format_positional(-0.0), "-0");
  EXPECT_EQ(format_positional(100.0), "100");
  EXPECT_EQ(format_shortest(1e23), "1e+23");
  EXPECT_EQ(format_i64(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(format_u64(UINT64_MAX), "18446744073709551615");
}

TEST(NumberText, ShortestDigitsRoundTrip) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = rng();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    auto parsed = parse_float(format_positional(value));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->value, value);
  }
}

TEST(NumberText, ParseFloat) {
  struct Case { const char* in; bool ok; double value; FloatRange range; };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"0", true, 0.0, FloatRange::InRange},
      {"-0", true, -0.0, FloatRange::InRange},
      {"1.5", true, 1.5, FloatRange::InRange},
      {".5", true, 0.5, FloatRange::InRange},
      {"5.", true, 5.0, FloatRange::InRange},
      {"1e3", true, 1000.0, FloatRange::InRange},
      {"1E-3", true, 0.001, FloatRange::InRange},
      {"1e400", true, inf, FloatRange::Overflow},
      {"-1e400", true, -inf, FloatRange::Overflow},
      {"1e-400", true, 0.0, FloatRange::Underflow},
      {"0.0000000001e-320", true, 0.0, FloatRange::Underflow},
      {"1000e-326", true, 1e-323, FloatRange::InRange},
      {"0e999999", true, 0.0, FloatRange::InRange},
      {"4.9e-324", true, 5e-324, FloatRange::InRange},
      {"", false, 0, FloatRange::InRange},
      {"+1", false, 0, FloatRange::InRange},
      {"inf", false, 0, FloatRange::InRange},
      {"nan", false, 0, FloatRange::InRange},
      {" 1", false, 0, FloatRange::InRange},
      {"1 ", false, 0, FloatRange::InRange},
      {"1.2.3", false, 0, FloatRange::InRange},
      {"1e", false, 0, FloatRange::InRange},
      {"e5", false, 0, FloatRange::InRange},
      {".", false, 0, FloatRange::InRange},
      {"0x10", false, 0, FloatRange::InRange},
      {"1,5", false, 0, FloatRange::InRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    auto parsed = parse_float(c.in);
    ASSERT_EQ(parsed.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(parsed->value, c.value);
    EXPECT_EQ(std::signbit(parsed->value), std::signbit(c.value));
    EXPECT_EQ(parsed->range, c.range);
  }
}

TEST(NumberText, ParseFloatOptions) {
  FloatSyntax loose;
  loose.allow_plus = true;
  loose.allow_inf_nan = true;
  EXPECT_EQ(parse_float("+2", loose)->value, 2.0);
  EXPECT_TRUE(std::isinf(parse_float("-Infinity", loose)->value));
  EXPECT_TRUE(std::isnan(parse_float("NaN", loose)->value));
  EXPECT_FALSE(parse_float("nan(1)", loose).has_value());
  FloatSyntax strict;
  strict.allow_bare_point = false;
  strict.allow_exponent = false;
  EXPECT_FALSE(parse_float(".5", strict).has_value());
  EXPECT_FALSE(parse_float("5.", strict).has_value());
  EXPECT_FALSE(parse_float("1e5", strict).has_value());
  EXPECT_EQ(parse_float("0.5", strict)->value, 0.5);
}

TEST(NumberText, ParseIntegers) {
  EXPECT_EQ(parse_u64("18446744073709551615"), UINT64_MAX);
  EXPECT_FALSE(parse_u64("18446744073709551616").has_value());
  EXPECT_FALSE(parse_u64("-1").has_value());
  EXPECT_FALSE(parse_u64("").has_value());
  EXPECT_EQ(parse_i64("-9223372036854775808"), INT64_MIN);
  EXPECT_FALSE(parse_i64("9223372036854775808").has_value());
  EXPECT_FALSE(parse_i64("+5").has_value());
  EXPECT_EQ(parse_i64("+5", /*allow_plus=*/true), 5);
  EXPECT_FALSE(parse_i64("-").has_value());
}

}  // namespace
}  // namespace cmx
