// The reader's syntax faults, each with its message and place, the nesting
// limit, and the iterative skip.
#include <gtest/gtest.h>

#include <string>

#include "json/json.h"

namespace cmx::json {
namespace {

std::string read_error_text(std::string_view text) {
  auto value = parse_json_value(text);
  if (value.has_value()) return "accepted";
  return json_error_text(value.error());
}

struct SyntaxCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

TEST(JsonSyntax, MessagesWithLineAndColumn) {
  const SyntaxCase cases[] = {
      // EOF while parsing a value: nothing, whitespace, after a colon or comma, a cut literal.
      {"empty", "", "EOF while parsing a value at line 1 column 0"},
      {"three spaces", "   ", "EOF while parsing a value at line 1 column 3"},
      {"after colon", "{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"after comma in array", "[1,", "EOF while parsing a value at line 1 column 3"},
      {"after comma in object", "{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"cut literal", "tru", "EOF while parsing a value at line 1 column 3"},
      {"cut null", "[nul", "EOF while parsing a value at line 1 column 4"},
      // EOF inside containers and strings.
      {"open array", "[", "EOF while parsing a list at line 1 column 1"},
      {"array after element", "[1", "EOF while parsing a list at line 1 column 2"},
      {"open object", "{", "EOF while parsing an object at line 1 column 1"},
      {"object after name", "{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"object after value", "{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"open string", "\"abc", "EOF while parsing a string at line 1 column 4"},
      {"open escape", "\"ab\\", "EOF while parsing a string at line 1 column 4"},
      {"short hex escape", "\"\\u12", "EOF while parsing a string at line 1 column 5"},
      // Bytes that do not fit.
      {"no value byte", "x", "expected value at line 1 column 1"},
      {"close bracket as value", "[}", "expected value at line 1 column 2"},
      {"comma first in array", "[,1]", "expected value at line 1 column 2"},
      {"broken null", "nulx", "expected ident at line 1 column 4"},
      {"broken true", "tRue", "expected ident at line 1 column 2"},
      {"broken false", "[fals]", "expected ident at line 1 column 6"},
      {"no colon", "{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"no list comma", "[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"no object comma", "{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"number as name", "{1:2}", "key must be a string at line 1 column 2"},
      {"number as later name", "{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
      {"comma first in object", "{,}", "key must be a string at line 1 column 2"},
      {"array trailing comma", "[1,]", "trailing comma at line 1 column 4"},
      {"array trailing comma with space", "[1, ]", "trailing comma at line 1 column 5"},
      {"object trailing comma", "{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"letter after value", "{} a", "trailing characters at line 1 column 4"},
      {"second value", "1 2", "trailing characters at line 1 column 3"},
      // Numbers.
      {"leading zero", "01", "invalid number at line 1 column 2"},
      {"negative leading zero", "[-01]", "invalid number at line 1 column 4"},
      {"minus without digits", "[-]", "invalid number at line 1 column 3"},
      {"minus then letter", "-a", "invalid number at line 1 column 2"},
      {"point without digits", "1.e5", "invalid number at line 1 column 3"},
      {"exponent without digits", "[1e]", "invalid number at line 1 column 4"},
      {"signed exponent without digits", "1e+x", "invalid number at line 1 column 4"},
      {"bare minus at end", "-", "EOF while parsing a value at line 1 column 1"},
      {"point at end", "1.", "EOF while parsing a value at line 1 column 2"},
      {"exponent at end", "1.5e", "EOF while parsing a value at line 1 column 4"},
      {"plus sign", "+1", "expected value at line 1 column 1"},
      {"too large", "1e400", "number out of range at line 1 column 5"},
      {"too large negative", "[-1e400]", "number out of range at line 1 column 7"},
      {"long integer too large", std::string_view("[1" "000000000000000000000000000000000000000000000000000000000000000000000000000000"
                                                  "000000000000000000000000000000000000000000000000000000000000000000000000000000"
                                                  "000000000000000000000000000000000000000000000000000000000000000000000000000000"
                                                  "000000000000000000000000000000000000000000000000000000000000000000000000000000]"),
       "number out of range at line 1 column 314"},
      // Strings.
      {"unknown escape", "\"\\x\"", "invalid escape at line 1 column 3"},
      {"bad hex escape", "\"\\u12G4\"", "invalid escape at line 1 column 7"},
      {"raw control byte", "\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"raw line feed", "\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"lone low surrogate", "\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"high then no low", "\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"high then text", "\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"high then other escape", "\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"high at end", "\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      {"invalid utf-8", "\"\xff\"", "invalid unicode code point at line 1 column 2"},
      // Placed just after the byte at which the fault shows, not at the end
      // of the run of plain bytes.
      {"invalid byte inside a run", "\"abc\xff" "defgh\"", "invalid unicode code point at line 1 column 5"},
      {"continuation out of range", "\"a\xe0\x80zz\"", "invalid unicode code point at line 1 column 4"},
      {"surrogate encoded", "\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 3"},
      {"sequence cut by the quote", "\"ab\xe6\x97\"  ", "invalid unicode code point at line 1 column 6"},
      {"sequence cut by an escape", "\"\xc3\\n\"", "invalid unicode code point at line 1 column 3"},
      {"sequence cut by the end", "\"\xf0\x9f", "invalid unicode code point at line 1 column 3"},
      {"valid then invalid", "\"\xc3\xa9\xc3x\"", "invalid unicode code point at line 1 column 5"},
      // Lines and byte columns.
      {"second line", "[1,\n 2,\n ]", "trailing comma at line 3 column 2"},
      {"column counts bytes", "[\"\xc3\xa9\" x]", "expected `,` or `]` at line 1 column 7"},
      {"carriage return is no line break", "[1,\r]", "trailing comma at line 1 column 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_error_text(c.input), c.expected);
  }
}

TEST(JsonSyntax, AcceptsWhitespaceAroundValues) {
  const std::string_view inputs[] = {"{}\n   ", " \t\r\n[ 1 , 2 ]\n", "{ \"a\" : [ ] , \"b\" : { } }", "\"\""};
  for (std::string_view input : inputs) {
    SCOPED_TRACE(input);
    EXPECT_TRUE(parse_json_value(input).has_value());
  }
}

std::string nested(size_t depth, char open, char close, std::string_view inner = "") {
  std::string text;
  for (size_t i = 0; i < depth; ++i) {
    text.push_back(open);
    if (open == '{') text += "\"k\":";
  }
  text += inner;
  if (open == '{' && inner.empty()) text += "1";
  text.append(depth, close);
  return text;
}

TEST(JsonSyntax, NestingLimit) {
  // 127 levels pass, the 128th opening bracket is refused at its own column.
  EXPECT_TRUE(parse_json_value(nested(127, '[', ']')).has_value());
  EXPECT_EQ(read_error_text(nested(128, '[', ']')),
            "recursion limit exceeded at line 1 column 128");
  std::string objects = nested(127, '{', '}');
  EXPECT_TRUE(parse_json_value(objects).has_value());
  std::string expected = "recursion limit exceeded at line 1 column ";
  expected += std::to_string(127 * 5 + 1);
  EXPECT_EQ(read_error_text(nested(128, '{', '}')), expected);
  // Mixed, and leaving a level gives it back.
  std::string wide = "[";
  wide += nested(126, '[', ']');
  wide += ",";
  wide += nested(126, '{', '}');
  wide += "]";
  EXPECT_TRUE(parse_json_value(wide).has_value());
}

TEST(JsonSyntax, SkipIsExemptFromNestingAndIterative) {
  // A value nested a million levels deep is skipped without recursion.
  constexpr size_t kDeep = 1000000;
  std::string deep = nested(kDeep, '[', ']');
  JsonReader reader(deep);
  ASSERT_TRUE(reader.skip_value().has_value());
  EXPECT_EQ(reader.offset(), deep.size());
  EXPECT_TRUE(reader.finish().has_value());

  std::string deep_objects = nested(kDeep, '{', '}');
  JsonReader object_reader(deep_objects);
  EXPECT_TRUE(object_reader.skip_value().has_value());

  // Still strict: an unclosed deep value fails with the syntax message.
  std::string open(kDeep, '[');
  JsonReader open_reader(open);
  auto skipped = open_reader.skip_value();
  ASSERT_FALSE(skipped.has_value());
  EXPECT_EQ(json_error_message(skipped.error()), "EOF while parsing a list");

  // Reading the same text stops at the limit instead.
  EXPECT_EQ(json_error_message(parse_json_value(deep).error()), "recursion limit exceeded");
}

TEST(JsonSyntax, SkipKeepsTheGrammar) {
  const SyntaxCase cases[] = {
      {"valid mixed", "[{\"a\":[1,2,{\"b\":null}],\"c\":\"x\\u00e9\"},true,-1.5e3] ", "ok"},
      {"trailing comma", "[1,[2,]]", "trailing comma at line 1 column 7"},
      {"missing colon", "{\"a\":{\"b\" 1}}", "expected `:` at line 1 column 11"},
      {"bad literal", "[[truth]]", "expected ident at line 1 column 6"},
      {"bad escape", "[\"\\q\"]", "invalid escape at line 1 column 4"},
      {"empty containers", "[[],{},[[]],{\"a\":{}}]", "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JsonReader reader(c.input);
    auto skipped = reader.skip_value();
    std::string got = skipped.has_value() ? "ok" : json_error_text(skipped.error());
    EXPECT_EQ(got, c.expected);
  }
}

TEST(JsonSyntax, EveryTruncatedPrefixFailsCleanly) {
  const std::string_view text =
      "{\"sheet\":{\"name\":\"S\\u00e9\",\"cells\":[[1,-2.5e-3,true,null],{\"k\":\"\\ud83d\\ude00\"}]}}";
  ASSERT_TRUE(parse_json_value(text).has_value());
  for (size_t n = 0; n < text.size(); ++n) {
    auto prefix = text.substr(0, n);
    auto value = parse_json_value(prefix);
    ASSERT_FALSE(value.has_value()) << prefix;
    EXPECT_EQ(value.error().line, 1u);
    EXPECT_LE(value.error().column, n);
    EXPECT_NE(json_error_message(value.error()).find("EOF"), std::string::npos) << prefix;
  }
}

}  // namespace
}  // namespace cmx::json
