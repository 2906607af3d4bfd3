// Number classes and the integer and float readers' edges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "json/json.h"

namespace cmx::json {
namespace {

struct ClassCase {
  std::string_view input;
  JsonNumber::Kind kind;
  uint64_t u = 0;
  int64_t i = 0;
  double f = 0.0;
};

TEST(JsonNumbers, Classification) {
  const ClassCase cases[] = {
      {"0", JsonNumber::Kind::U64, 0},
      {"18446744073709551615", JsonNumber::Kind::U64, std::numeric_limits<uint64_t>::max()},
      {"18446744073709551616", JsonNumber::Kind::F64, 0, 0, 18446744073709551616.0},
      {"-1", JsonNumber::Kind::I64, 0, -1},
      {"-9223372036854775808", JsonNumber::Kind::I64, 0, std::numeric_limits<int64_t>::min()},
      {"-9223372036854775809", JsonNumber::Kind::F64, 0, 0, -9223372036854775809.0},
      {"1.0", JsonNumber::Kind::F64, 0, 0, 1.0},
      {"1e3", JsonNumber::Kind::F64, 0, 0, 1000.0},
      {"1E-2", JsonNumber::Kind::F64, 0, 0, 0.01},
      {"0.1", JsonNumber::Kind::F64, 0, 0, 0.1},
      {"1.7976931348623157e308", JsonNumber::Kind::F64, 0, 0, std::numeric_limits<double>::max()},
      {"4.9406564584124654e-324", JsonNumber::Kind::F64, 0, 0, std::numeric_limits<double>::denorm_min()},
      // Nearest double to a long decimal (halfway cases round to even).
      {"9007199254740993.0", JsonNumber::Kind::F64, 0, 0, 9007199254740992.0},
      {"1e-400", JsonNumber::Kind::F64, 0, 0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto value = parse_json_value(c.input);
    ASSERT_TRUE(value.has_value()) << json_error_text(value.error());
    const JsonNumber& n = value->as_number();
    ASSERT_EQ(n.kind(), c.kind);
    switch (c.kind) {
      case JsonNumber::Kind::U64: EXPECT_EQ(n.as_u64(), c.u); break;
      case JsonNumber::Kind::I64: EXPECT_EQ(n.as_i64(), c.i); break;
      case JsonNumber::Kind::F64: EXPECT_EQ(n.as_f64(), c.f); break;
    }
  }
}

TEST(JsonNumbers, SignedZeros) {
  // An integer with a minus sign that fits 64 bits is an integer: "-0" is 0.
  for (std::string_view input : {"-0", " -0 "}) {
    SCOPED_TRACE(input);
    auto value = parse_json_value(input);
    ASSERT_TRUE(value.has_value());
    ASSERT_EQ(value->as_number().kind(), JsonNumber::Kind::U64);
    EXPECT_EQ(value->as_number().as_u64(), 0u);
    EXPECT_EQ(json_value_to_string(*value), "0");
  }
  // With a fraction or an exponent the sign stays on a float zero.
  for (std::string_view input : {"-0.0", "-0e5", "-1e-400"}) {
    SCOPED_TRACE(input);
    auto value = parse_json_value(input);
    ASSERT_TRUE(value.has_value());
    ASSERT_EQ(value->as_number().kind(), JsonNumber::Kind::F64);
    EXPECT_EQ(value->as_number().as_f64(), 0.0);
    EXPECT_TRUE(std::signbit(value->as_number().as_f64()));
    EXPECT_EQ(json_value_to_string(*value), "-0.0");
  }
  auto positive = parse_json_value("1e-400");
  ASSERT_TRUE(positive.has_value());
  EXPECT_FALSE(std::signbit(positive->as_number().as_f64()));
}

TEST(JsonNumbers, OutOfRangeRefused) {
  for (std::string_view input : {"1e400", "-1e400", "1.8e308", "1e99999999999999999999"}) {
    SCOPED_TRACE(input);
    auto value = parse_json_value(input);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().kind, JsonErrorKind::NumberOutOfRange);
  }
}

template <typename F>
std::string read_one(std::string_view text, F&& read) {
  auto result = read_json_text(text, read);
  if (!result.has_value()) return json_error_text(result.error());
  return "ok";
}

struct ScalarCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

TEST(JsonNumbers, IntegerReadersFromText) {
  auto u32 = [](JsonReader& r) { return r.read_u32(); };
  auto u16 = [](JsonReader& r) { return r.read_u16(); };
  auto i64 = [](JsonReader& r) { return r.read_i64(); };
  const ScalarCase u32_cases[] = {
      {"max", "4294967295", "ok"},
      {"max plus one", "4294967296", "invalid value: integer `4294967296`, expected u32 at line 1 column 10"},
      {"negative", " -1", "invalid value: integer `-1`, expected u32 at line 1 column 3"},
      {"float without fraction", "2.0", "invalid type: floating point `2.0`, expected u32 at line 1 column 3"},
      {"exponent form", "1e3", "invalid type: floating point `1000.0`, expected u32 at line 1 column 3"},
      {"minus zero is the integer zero", "-0", "ok"},
      {"minus zero with a fraction", "-0.0", "invalid type: floating point `-0.0`, expected u32 at line 1 column 4"},
      {"string", "\"7\"", "invalid type: string \"7\", expected u32 at line 1 column 3"},
      {"null", "null", "invalid type: null, expected u32 at line 1 column 4"},
      {"boolean", "true", "invalid type: boolean `true`, expected u32 at line 1 column 4"},
      {"array not taken", " [1]", "invalid type: sequence, expected u32 at line 1 column 1"},
      {"object not taken", "{}", "invalid type: map, expected u32 at line 1 column 0"},
  };
  for (const auto& c : u32_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_one(c.input, u32), c.expected);
  }
  EXPECT_EQ(read_one("65535", u16), "ok");
  EXPECT_EQ(read_one("65536", u16), "invalid value: integer `65536`, expected u16 at line 1 column 5");
  EXPECT_EQ(read_one("-9223372036854775808", i64), "ok");
  EXPECT_EQ(read_one("9223372036854775807", i64), "ok");
  EXPECT_EQ(read_one("9223372036854775808", i64),
            "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 19");
  EXPECT_EQ(read_one("2.5", i64), "invalid type: floating point `2.5`, expected i64 at line 1 column 3");
}

TEST(JsonNumbers, FloatReaderTakesAnyNumber) {
  const std::pair<std::string_view, double> cases[] = {
      {"3", 3.0}, {"-3", -3.0}, {"18446744073709551615", 18446744073709551615.0}, {"2.5e-3", 0.0025}};
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    auto value = read_json_text(input, [](JsonReader& r) { return r.read_f64(); });
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, expected);
  }
  EXPECT_EQ(read_one("\"1\"", [](JsonReader& r) { return r.read_f64(); }),
            "invalid type: string \"1\", expected f64 at line 1 column 3");
}

TEST(JsonNumbers, IntegerReadersFromBufferedAndTree) {
  struct Case {
    std::string_view input;
    std::string_view expected;
  };
  const Case cases[] = {
      {"4294967295", "ok"},
      {"4294967296", "invalid value: integer `4294967296`, expected u32"},
      {"-5", "invalid value: integer `-5`, expected u32"},
      {"2.0", "invalid type: floating point `2.0`, expected u32"},
      {"\"x\\\"y\"", "invalid type: string \"x\\\"y\", expected u32"},
      {"[]", "invalid type: sequence, expected u32"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto value = parse_json_value(c.input);
    ASSERT_TRUE(value.has_value());
    auto from_tree = value_to_u32(*value);
    auto from_content = content_to_u32(content_from_value(*value));
    EXPECT_EQ(from_tree.has_value() ? "ok" : json_error_text(from_tree.error()), c.expected);
    EXPECT_EQ(from_content.has_value() ? "ok" : json_error_text(from_content.error()), c.expected);
  }
}

}  // namespace
}  // namespace cmx::json
