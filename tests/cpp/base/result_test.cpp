// Result, SharedString, OptionalSharedString and the saturating conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/saturate.h"
#include "base/shared_string.h"
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

TEST(SharedString, CopiesShareStorageAndCompareByContent) {
  SharedString empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.view(), "");
  SharedString a("hello");
  SharedString b = a;
  EXPECT_TRUE(a.same_storage(b));
  EXPECT_EQ(a.use_count(), 2u);
  SharedString c(std::string("hello"));
  EXPECT_FALSE(a.same_storage(c));
  EXPECT_EQ(a, c);
  SharedString moved = std::move(b);
  EXPECT_EQ(moved.view(), "hello");
  EXPECT_EQ(a.use_count(), 2u);
  moved = SharedString("other");
  EXPECT_EQ(a.use_count(), 1u);
  a = a;  // self-assignment keeps the text
  EXPECT_EQ(a.view(), "hello");
  EXPECT_LT(SharedString("abc"), SharedString("abd"));
  std::string with_nul("a\0b", 3);
  EXPECT_EQ(SharedString(with_nul).size(), 3u);
}

// Every state, however it was reached, answers and compares as the
// std::optional<SharedString> it replaces; a present empty text is never
// taken for an absent one.
TEST(OptionalSharedString, AgreesWithStdOptional) {
  using Std = std::optional<SharedString>;
  const Std states[] = {std::nullopt, SharedString(), SharedString(""), SharedString("1+1"),
                        SharedString("1+1"), SharedString("A1")};
  auto built = [](const Std& state) {
    std::vector<OptionalSharedString> out;
    out.emplace_back(state);
    out.emplace_back(Std(state));
    OptionalSharedString assigned = SharedString("old");
    assigned = state;
    out.push_back(assigned);
    OptionalSharedString direct("old");
    if (state) {
      direct.emplace(state->view());
    } else {
      direct = std::nullopt;
    }
    OptionalSharedString moved(direct);
    out.push_back(std::move(moved));
    OptionalSharedString reassigned = state ? OptionalSharedString(std::nullopt) : OptionalSharedString("x");
    if (state) {
      reassigned = *state;
    } else {
      reassigned.reset();
    }
    out.push_back(reassigned);
    return out;
  };
  for (size_t i = 0; i < std::size(states); ++i) {
    for (const OptionalSharedString& a : built(states[i])) {
      SCOPED_TRACE(i);
      ASSERT_EQ(a.has_value(), states[i].has_value());
      EXPECT_EQ(static_cast<bool>(a), states[i].has_value());
      EXPECT_EQ(a == std::nullopt, !states[i]);
      if (a) {
        EXPECT_EQ(a->view(), states[i]->view());
        EXPECT_EQ((*a).size(), states[i]->size());
        EXPECT_EQ(a->empty(), states[i]->empty());
        EXPECT_EQ(a->data()[a->size()], '\0');
        EXPECT_EQ(*a, SharedString(states[i]->view()));
      }
      for (size_t j = 0; j < std::size(states); ++j) {
        for (const OptionalSharedString& b : built(states[j])) {
          EXPECT_EQ(a == b, states[i] == states[j]) << i << " vs " << j;
        }
      }
    }
  }
}

// A present text is held, not copied, and let go on reset; the present
// empty text's copies retain and release like any other.
TEST(OptionalSharedString, HoldsAndReleasesStorage) {
  const SharedString text("SUM(A1:A9)");
  OptionalSharedString held = text;
  EXPECT_TRUE(held->same_storage(text));
  EXPECT_EQ(text.use_count(), 2u);
  held.reset();
  EXPECT_FALSE(held);
  EXPECT_EQ(text.use_count(), 1u);

  const OptionalSharedString empty = SharedString();
  const uint32_t start = empty->use_count();
  {
    const std::vector<OptionalSharedString> copies(3, empty);
    SharedString out = *empty;
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(out, SharedString());
    EXPECT_EQ(empty->use_count(), start + 4);
  }
  EXPECT_EQ(empty->use_count(), start);
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
