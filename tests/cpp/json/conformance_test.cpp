// Our own conformance cases in the categories of the public JSON parsing
// test suites: texts that must be accepted, texts that must be refused,
// texts whose treatment the standard leaves open (with the choice made here),
// surrogate escapes, and deep nesting.
#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

namespace cmx::json {
namespace {

struct Case {
  std::string_view name;
  std::string_view input;
  std::string_view compact;  // the value written back; empty for refusals
};

TEST(JsonConformance, Accepted) {
  const Case cases[] = {
      {"empty array", "[]", "[]"},
      {"empty object", "{}", "{}"},
      {"array of empties", "[[],{},\"\"]", "[[],{},\"\"]"},
      {"top-level string", "\"s\"", "\"s\""},
      {"top-level number", "-12", "-12"},
      {"top-level literals", " null ", "null"},
      {"true", "true", "true"},
      {"false", "false", "false"},
      {"nested", "[[[1]],{\"a\":{\"b\":[]}}]", "[[[1]],{\"a\":{\"b\":[]}}]"},
      {"every whitespace", "\t\n\r [\t1\n,\r2 ]\t\n\r ", "[1,2]"},
      {"empty key", "{\"\":0}", "{\"\":0}"},
      {"duplicate keys, last wins", "{\"a\":1,\"a\":2}", "{\"a\":2}"},
      {"all short escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\\"\\\\/\\b\\f\\n\\r\\t\""},
      {"unicode escape", "\"\\u0041\\u00e9\\u20AC\"", "\"A\xc3\xa9\xe2\x82\xac\""},
      {"escaped nul", "\"\\u0000\"", "\"\\u0000\""},
      {"raw non-ascii", "\"\xe6\x97\xa5\xf0\x9f\x98\x80\"", "\"\xe6\x97\xa5\xf0\x9f\x98\x80\""},
      {"raw delete byte", "\"\x7f\"", "\"\x7f\""},
      {"escaped line separator", "\"\\u2028\"", "\"\xe2\x80\xa8\""},
      {"noncharacter escape", "\"\\uFFFF\"", "\"\xef\xbf\xbf\""},
      {"zero", "0", "0"},
      {"negative int", "[-1]", "[-1]"},
      {"fraction", "0.5", "0.5"},
      {"exponent forms", "[1e2,1E2,1e+2,1e-2,1.5E-2]", "[100.0,100.0,100.0,0.01,0.015]"},
      {"zero exponent", "0e0", "0.0"},
      {"huge exponent of zero", "0e99999", "0.0"},
      {"long fraction", "0.1000000000000000055511151231257827", "0.1"},
      {"u64 max", "18446744073709551615", "18446744073709551615"},
      {"i64 min", "-9223372036854775808", "-9223372036854775808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = parse_json_value(c.input);
    ASSERT_TRUE(value.has_value()) << json_error_text(value.error());
    EXPECT_EQ(json_value_to_string(*value), c.compact);
  }
}

TEST(JsonConformance, Refused) {
  const Case cases[] = {
      {"nothing", "", ""},
      {"bare word", "hello", ""},
      {"single quotes", "['a']", ""},
      {"unquoted key", "{a:1}", ""},
      {"comment", "[1]//c", ""},
      {"block comment", "/*c*/[1]", ""},
      {"trailing comma array", "[1,]", ""},
      {"trailing comma object", "{\"a\":1,}", ""},
      {"double comma", "[1,,2]", ""},
      {"missing value", "{\"a\":}", ""},
      {"colon in array", "[1:2]", ""},
      {"comma instead of colon", "{\"a\",1}", ""},
      {"unclosed array", "[1", ""},
      {"unclosed object", "{\"a\":1", ""},
      {"extra close", "[1]]", ""},
      {"two values", "[] []", ""},
      {"plus sign", "+1", ""},
      {"leading zero", "012", ""},
      {"leading point", ".5", ""},
      {"trailing point", "5.", ""},
      {"hex number", "0x10", ""},
      {"infinity", "Infinity", ""},
      {"nan", "NaN", ""},
      {"minus infinity", "-Infinity", ""},
      {"capital true", "True", ""},
      {"number too large", "1e309", ""},
      {"raw tab in string", "\"\t\"", ""},
      {"raw newline in string", "\"\n\"", ""},
      {"unknown escape", "\"\\a\"", ""},
      {"upper-case escape", "\"\\U0041\"", ""},
      {"short unicode escape", "\"\\u41\"", ""},
      {"unclosed string", "\"abc", ""},
      {"byte order mark", "\xef\xbb\xbf[]", ""},
      {"form feed whitespace", "\f[]", ""},
      {"non-breaking space", "\xc2\xa0[]", ""},
      {"nul after value", std::string_view("[]\0", 3), ""},
      {"invalid utf-8 in string", "\"\xc3\x28\"", ""},
      {"overlong utf-8", "\"\xc0\xaf\"", ""},
      {"encoded surrogate", "\"\xed\xa0\x80\"", ""},
      {"truncated utf-8", "\"\xe6\x97\"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = parse_json_value(c.input);
    EXPECT_FALSE(value.has_value());
    if (!value.has_value()) {
      EXPECT_TRUE(value.error().has_position());
    }
  }
}

TEST(JsonConformance, ImplementationChoices) {
  // Where the standard leaves the reader free, these are the answers.
  const Case cases[] = {
      {"integer beyond u64 becomes a float", "18446744073709551616", "1.8446744073709552e+19"},
      {"integer below i64 becomes a float", "-9223372036854775809", "-9.223372036854776e+18"},
      {"underflow reads as zero", "1e-400", "0.0"},
      {"negative underflow keeps its sign", "-1e-400", "-0.0"},
      {"minus zero is the integer zero", "-0", "0"},
      {"many digits round to nearest", "1.00000000000000011102230246251565404236316680908203125", "1.0"},
      {"just above halfway rounds up", "1.00000000000000011102230246251565404236316680908203126",
       "1.0000000000000002"},
      {"largest double", "1.7976931348623157e308", "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = parse_json_value(c.input);
    ASSERT_TRUE(value.has_value()) << json_error_text(value.error());
    EXPECT_EQ(json_value_to_string(*value), c.compact);
  }
  // Past the largest double: refused, not infinity.
  EXPECT_FALSE(parse_json_value("1.7976931348623159e308").has_value());
}

TEST(JsonConformance, Surrogates) {
  const Case accepted[] = {
      {"pair", "\"\\uD83D\\uDE00\"", "\"\xf0\x9f\x98\x80\""},
      {"lower-case pair", "\"\\ud834\\udd1e\"", "\"\xf0\x9d\x84\x9e\""},
      {"highest pair", "\"\\uDBFF\\uDFFF\"", "\"\xf4\x8f\xbf\xbf\""},
      {"pair then text", "\"\\uD83D\\uDE00x\"", "\"\xf0\x9f\x98\x80x\""},
  };
  for (const auto& c : accepted) {
    SCOPED_TRACE(c.name);
    auto value = parse_json_value(c.input);
    ASSERT_TRUE(value.has_value()) << json_error_text(value.error());
    EXPECT_EQ(json_value_to_string(*value), c.compact);
  }
  const std::pair<std::string_view, JsonErrorKind> refused[] = {
      {"\"\\uDE00\"", JsonErrorKind::LoneLeadingSurrogate},
      {"\"\\uDFFF\\uD800\"", JsonErrorKind::LoneLeadingSurrogate},
      {"\"\\uD800\\uD800\"", JsonErrorKind::LoneLeadingSurrogate},
      {"\"\\uD800\\u0041\"", JsonErrorKind::LoneLeadingSurrogate},
      {"\"\\uD800\"", JsonErrorKind::UnexpectedEndOfHexEscape},
      {"\"\\uD800abc\"", JsonErrorKind::UnexpectedEndOfHexEscape},
      {"\"\\uD800\\\"\"", JsonErrorKind::UnexpectedEndOfHexEscape},
      {"\"\\uD800\\uDC0\"", JsonErrorKind::InvalidEscape},
  };
  for (const auto& [input, kind] : refused) {
    SCOPED_TRACE(input);
    auto value = parse_json_value(input);
    ASSERT_FALSE(value.has_value());
    EXPECT_EQ(value.error().kind, kind) << json_error_text(value.error());
  }
}

TEST(JsonConformance, DeepNesting) {
  struct Depth {
    size_t depth;
    bool accepted;
  };
  for (const Depth d : {Depth{1, true}, Depth{100, true}, Depth{127, true}, Depth{128, false},
                        Depth{500, false}, Depth{100000, false}}) {
    SCOPED_TRACE(d.depth);
    std::string text(d.depth, '[');
    text.append(d.depth, ']');
    auto value = parse_json_value(text);
    EXPECT_EQ(value.has_value(), d.accepted);
    if (!d.accepted) {
      EXPECT_EQ(json_error_text(value.error()), "recursion limit exceeded at line 1 column 128");
    }
    // Skipping takes any depth.
    JsonReader reader(text);
    EXPECT_TRUE(reader.skip_value().has_value());
  }
}

TEST(JsonErrors, EveryKindHasItsOwnMessage) {
  std::vector<std::string> messages;
  for (int k = 0; k <= static_cast<int>(JsonErrorKind::Custom); ++k) {
    JsonError error{static_cast<JsonErrorKind>(k), std::string(1, 'f'), std::string(1, 'e')};
    std::string message = json_error_message(error);
    EXPECT_FALSE(message.empty()) << k;
    for (const std::string& other : messages) EXPECT_NE(message, other) << k;
    messages.push_back(message);
  }
  JsonError placed = invalid_type(describe_null(), "a string");
  EXPECT_EQ(json_error_text(placed), "invalid type: null, expected a string");
  placed.line = 2;
  placed.column = 0;
  EXPECT_EQ(json_error_text(placed), "invalid type: null, expected a string at line 2 column 0");
}

TEST(JsonErrors, FoundValueDescriptions) {
  EXPECT_EQ(describe_bool(false), "boolean `false`");
  EXPECT_EQ(describe_i64(-3), "integer `-3`");
  EXPECT_EQ(describe_f64(1e20), "floating point `1e+20`");
  EXPECT_EQ(describe_string("a\"b\\c\n\x01"), "string \"a\\\"b\\\\c\\n\\u{1}\"");
  EXPECT_EQ(describe_sequence(), "sequence");
  EXPECT_EQ(describe_map(), "map");
}

}  // namespace
}  // namespace cmx::json
