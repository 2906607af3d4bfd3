// The value rules against expected values taken from Python's float(),
// repr() and datetime (eval_peer_cases.inc, written by eval_peer_cases.py).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "formula/value_coercion.h"
#include "functions/serial_dates.h"

namespace cmx::formula {
namespace {

struct PeerNumberText {
  const char* text;
  double value;
  bool ok;
};
struct PeerNumberToText {
  double value;
  const char* text;
};
struct PeerDateText {
  const char* text;
  int64_t serial;
  bool ok;
};
struct PeerCivil {
  int64_t serial;
  int64_t year, month, day;
};
struct PeerTimeText {
  const char* text;
  double value;
};

#include "eval_peer_cases.inc"

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(PeerCases, NumberTextsReadAsPythonFloat) {
  for (const auto& c : kPeerNumberTexts) {
    SCOPED_TRACE(c.text);
    std::optional<double> got = parse_number_text(c.text);
    ASSERT_EQ(got.has_value(), c.ok);
    // "-0" reads as negative zero in both.
    if (got) { EXPECT_TRUE(same_bits(*got, c.value)) << *got; }
  }
}

TEST(PeerCases, NumberToTextIsShortestRepr) {
  for (const auto& c : kPeerNumberToText) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(number_to_text(c.value), c.text);
    // The text reads back as the same number (zero's sign aside).
    std::optional<double> back = parse_number_text(number_to_text(c.value));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.value);
  }
}

TEST(PeerCases, DateTextsMatchDatetime) {
  for (const auto& c : kPeerDateTexts) {
    SCOPED_TRACE(c.text);
    std::optional<double> got = parse_date_text(c.text, std::nullopt);
    ASSERT_EQ(got.has_value(), c.ok);
    if (got) { EXPECT_EQ(*got, static_cast<double>(c.serial)); }
  }
}

TEST(PeerCases, SerialsMatchDatetime) {
  for (const auto& c : kPeerCivil) {
    SCOPED_TRACE(c.serial);
    EXPECT_EQ(serial_from_civil(c.year, c.month, c.day), c.serial);
    std::optional<SerialCivil> civil = civil_from_serial(c.serial);
    ASSERT_TRUE(civil.has_value());
    EXPECT_EQ(*civil, (SerialCivil{c.year, c.month, c.day}));
  }
}

TEST(PeerCases, TimeTexts) {
  for (const auto& c : kPeerTimeTexts) {
    SCOPED_TRACE(c.text);
    std::optional<double> got = parse_number_text(c.text);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(same_bits(*got, c.value)) << *got;
  }
}

}  // namespace
}  // namespace cmx::formula
