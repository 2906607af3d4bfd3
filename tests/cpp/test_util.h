// Matchers shared by the C++ tests.
#pragma once

#include <gmock/gmock.h>

// EXPECT_THAT(result, FailsWith(SomeError::Variant)) for error enums.
MATCHER_P(FailsWith, expected, "") {
  if (arg.has_value()) {
    *result_listener << "succeeded";
    return false;
  }
  return arg.error() == expected;
}

// EXPECT_THAT(result, FailsWithKind(SomeError::Variant)) for error records with `kind`.
MATCHER_P(FailsWithKind, expected, "") {
  if (arg.has_value()) {
    *result_listener << "succeeded";
    return false;
  }
  return arg.error().kind == expected;
}
