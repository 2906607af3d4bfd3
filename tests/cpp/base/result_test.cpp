// Result and the saturating conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/result.h"
#include "base/saturate.h"
#include "test_util.h"

namespace cmx {
namespace {

enum class TestError { Bad, Worse };

Result<int, TestError> half(int x) {
  if (x % 2) return unexpected(TestError::Bad);
  return x / 2;
}

Result<int, TestError> quarter(int x) {
  CMX_ASSIGN_OR_RETURN(int h, half(x));
  CMX_ASSIGN_OR_RETURN(h, half(h));
  return h;
}

Result<void, TestError> check_even(int x) {
  CMX_TRY(half(x));
  return {};
}

TEST(Result, ValuesErrorsAndEarlyReturns) {
  EXPECT_EQ(quarter(8).value(), 2);
  EXPECT_THAT(quarter(6), FailsWith(TestError::Bad));
  EXPECT_THAT(quarter(3), FailsWith(TestError::Bad));
  EXPECT_TRUE(check_even(4).has_value());
  EXPECT_THAT(check_even(5), FailsWith(TestError::Bad));
  Result<std::string, TestError> text = std::string("abc");
  EXPECT_EQ(text->size(), 3u);
  Result<std::string, TestError> failed = unexpected(TestError::Worse);
  EXPECT_EQ(failed.value_or("x"), "x");
  EXPECT_EQ(cant_fail(half(10)), 5);
}

TEST(Saturate, DoubleToIntegerClamps) {
  struct Case { double in; int64_t i64; uint32_t u32; };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, 0, 0},
      {-0.5, 0, 0},
      {2.9, 2, 2},
      {-2.9, -2, 0},
      {4294967295.0, 4294967295LL, 4294967295u},
      {4294967296.0, 4294967296LL, 4294967295u},
      {9.2233720368547758e18, INT64_MAX, UINT32_MAX},
      {-9.3e18, INT64_MIN, 0},
      {inf, INT64_MAX, UINT32_MAX},
      {-inf, INT64_MIN, 0},
      {std::nan(""), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(saturate_cast<int64_t>(c.in), c.i64);
    EXPECT_EQ(saturate_cast<uint32_t>(c.in), c.u32);
  }
  EXPECT_EQ((saturate_int<uint32_t>(uint64_t{1} << 40)), UINT32_MAX);
  EXPECT_EQ((saturate_int<uint32_t>(-5)), 0u);
  EXPECT_EQ((saturate_int<int8_t>(300)), 127);
}

}  // namespace
}  // namespace cmx
