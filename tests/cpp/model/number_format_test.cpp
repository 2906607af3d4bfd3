// Number-format codes: section splitting, tokens and brackets, the choice of
// section, the built-in table, and the per-thread two-generation cache.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "model/number_format.h"

namespace cmx::model {
namespace {

namespace t = format_token;
using Tokens = std::vector<FormatToken>;

TEST(ParseFormat, SectionSplitting) {
  struct Case { const char* code; size_t sections; };
  const Case cases[] = {
      {"", 1},
      {";", 2},
      {"0;", 2},
      {"0;0;0;@", 4},
      {"0;0;0;@;0", 4},
      {";;;;;;", 4},
      {"\"a;b\"0", 1},
      {"0\\;0", 1},
      {"[<;5]0", 1},
      {"_;0", 1},
      {"*;0", 1},
      {"\"unclosed;0", 1},
      {"[unclosed;0", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(parse_format(c.code).section_count(), c.sections);
  }
}

TEST(ParseFormat, Tokens) {
  struct Case { const char* code; Tokens tokens; };
  const Case cases[] = {
      {"", {}},
      {"\"a;b\"0", {t::Literal{"a;b"}, t::Digit{'0'}}},
      {"0\\;0", {t::Digit{'0'}, t::Literal{";"}, t::Digit{'0'}}},
      {"[<;5]0", {t::Digit{'0'}}},
      {"#,##0.0?%", {t::Digit{'#'}, t::Comma{}, t::Digit{'#'}, t::Digit{'#'}, t::Digit{'0'},
                     t::DecimalPoint{}, t::Digit{'0'}, t::Digit{'?'}, t::Percent{}}},
      {"[hh]:mm", {t::Elapsed{'h', 2}, t::Literal{":"}, t::MonthOrMinute{2}}},
      {"[SSS]", {t::Elapsed{'s', 3}}},
      {"[hm]", {}},
      {"AM/PM", {t::AmPm{"AM", "PM"}}},
      {"am/pm", {t::AmPm{"am", "pm"}}},
      {"a/P", {t::AmPm{"a", "P"}}},
      {"Am", {t::Literal{"A"}, t::MonthOrMinute{1}}},
      {"E+00", {t::Exponent{true}, t::Digit{'0'}, t::Digit{'0'}}},
      {"e-0", {t::Exponent{false}, t::Digit{'0'}}},
      {"E5", {t::Literal{"E"}, t::Literal{"5"}}},
      {"GENERAL", {t::GeneralNumber{}}},
      {"general", {t::GeneralNumber{}}},
      {"Gen", {t::Literal{"G"}, t::Literal{"e"}, t::Literal{"n"}}},
      {"[$€-407]#,##0", {t::Literal{"€"}, t::Digit{'#'}, t::Comma{}, t::Digit{'#'}, t::Digit{'#'},
                         t::Digit{'0'}}},
      {"[$-409]0", {t::Digit{'0'}}},
      {"[$USD]", {t::Literal{"USD"}}},
      {"\"\"", {t::Literal{""}}},
      {"\"open", {t::Literal{"open"}}},
      {"_)* x", {t::Padding{}, t::Repeat{}, t::Literal{"x"}}},
      {"_", {t::Padding{}}},
      {"\\", {}},
      {"\\é_é", {t::Literal{"é"}, t::Padding{}}},
      {"yyyy-MM-dd", {t::Year{4}, t::Literal{"-"}, t::MonthOrMinute{2}, t::Literal{"-"}, t::Day{2}}},
      {"Mm hH sS dD", {t::MonthOrMinute{2}, t::Literal{" "}, t::Hour{2}, t::Literal{" "}, t::Second{2},
                       t::Literal{" "}, t::Day{2}}},
      {"/@B n$(-)!:", {t::FractionSlash{}, t::TextPlaceholder{}, t::Literal{"B"}, t::Literal{" "},
                       t::Literal{"n"}, t::Literal{"$"}, t::Literal{"("}, t::Literal{"-"},
                       t::Literal{")"}, t::Literal{"!"}, t::Literal{":"}}},
      {"[]0", {t::Digit{'0'}}},
      {"[DBNum1][$-zh-CN]0", {t::Digit{'0'}, }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ParsedNumberFormat parsed = parse_format(c.code);
    ASSERT_EQ(parsed.section_count(), 1u);
    EXPECT_EQ(parsed.section(0).tokens, c.tokens);
  }
}

TEST(ParseFormat, RunLengthsSaturateAtEightBits) {
  ParsedNumberFormat parsed = parse_format(std::string(300, 'y') + "[" + std::string(300, 'h') + "]");
  EXPECT_EQ(parsed.section(0).tokens, (Tokens{t::Year{255}, t::Elapsed{'h', 255}}));
}

TEST(ParseFormat, ColoursAndConditions) {
  struct Case {
    const char* code;
    std::optional<std::string> color;
    std::optional<SectionCondition> condition;
    Tokens tokens;
  };
  const Case cases[] = {
      {"[Red][>=100]0.0", "#FF0000", SectionCondition{ConditionOp::GreaterEqual, 100},
       {t::Digit{'0'}, t::DecimalPoint{}, t::Digit{'0'}}},
      {"[ blue ]0", "#0000FF", std::nullopt, {t::Digit{'0'}}},
      {"[Color3]0", "#FF0000", std::nullopt, {t::Digit{'0'}}},
      {"[color 8]", "#00FFFF", std::nullopt, {}},
      {"[COLOR+1]", "#000000", std::nullopt, {}},
      {"[Color9]0", std::nullopt, std::nullopt, {t::Digit{'0'}}},
      {"[Color0]0", std::nullopt, std::nullopt, {t::Digit{'0'}}},
      {"[Color-1]0", std::nullopt, std::nullopt, {t::Digit{'0'}}},
      {"[Red][Green]", "#00FF00", std::nullopt, {}},
      {"[magenta][yellow][WHITE][black][cyan]", "#00FFFF", std::nullopt, {}},
      {"[<0]", std::nullopt, SectionCondition{ConditionOp::Less, 0}, {}},
      {"[<=-1.5]", std::nullopt, SectionCondition{ConditionOp::LessEqual, -1.5}, {}},
      {"[> 1e3 ]", std::nullopt, SectionCondition{ConditionOp::Greater, 1000}, {}},
      {"[=+2]", std::nullopt, SectionCondition{ConditionOp::Equal, 2}, {}},
      {"[<>.5]", std::nullopt, SectionCondition{ConditionOp::NotEqual, 0.5}, {}},
      {"[>1][<2]", std::nullopt, SectionCondition{ConditionOp::Less, 2}, {}},
      {"[>x]", std::nullopt, std::nullopt, {}},
      {"[=]", std::nullopt, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ParsedNumberFormat parsed = parse_format(c.code);
    EXPECT_EQ(parsed.section(0).color, c.color);
    EXPECT_EQ(parsed.section(0).condition, c.condition);
    EXPECT_EQ(parsed.section(0).tokens, c.tokens);
  }
}

TEST(ParseFormat, DateTokensMarkDateSections) {
  EXPECT_TRUE(parse_format("yyyy").section(0).has_date_token());
  EXPECT_TRUE(parse_format("[h]").section(0).has_date_token());
  EXPECT_TRUE(parse_format("A/P").section(0).has_date_token());
  EXPECT_FALSE(parse_format("0.00E+00\"d\"").section(0).has_date_token());
  EXPECT_FALSE(parse_format("\\y0").section(0).has_date_token());
}

TEST(SelectFormatSection, Choices) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct Case { const char* code; double value; size_t index; bool minus; };
  const Case cases[] = {
      {"0", 5, 0, false},
      {"0", 0, 0, false},
      {"0", -5, 0, true},
      {"0", kNaN, 0, true},
      {"0;0", -5, 1, false},
      {"0;0", 0, 0, false},
      {"0;0", kNaN, 1, false},
      {"0;0;0", 0, 2, false},
      {"0;0;0", -0.0, 2, false},
      {"0;0;0;@", -1, 1, false},
      {"#,##0;(#,##0)", -5, 1, false},
      {"[<0]0;0", -5, 0, false},
      {"[>100]0;0", -5, 1, true},
      {"[>100]0;0", 150, 0, false},
      {"[>100]0;[>50]0;0", 75, 1, false},
      {"[>100]0;[>50]0;0", -1, 2, true},
      {"[>100]0;[>50]0;[>10]0", 1, 0, false},
      {"[>100]0;[>50]0;[>10]0", -1, 0, true},
      // A condition on the fourth section is never read.
      {"0;0;0;[<0]@", -1, 1, false},
      {"[=5]0;0", kNaN, 1, false},
      {"[<>5]0;0", kNaN, 0, false},
      {"[=5]0", 5, 0, false},
      {"[<=5]0", 5, 0, false},
      {"[>=5]0", 4, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.code) + " value " + std::to_string(c.value));
    SectionChoice choice = select_format_section(parse_format(c.code), c.value);
    EXPECT_EQ(choice.index, c.index);
    EXPECT_EQ(choice.minus, c.minus);
  }
}

TEST(BuiltinFormatCode, Table) {
  struct Case { uint16_t id; const char* code; };
  const Case present[] = {
      {0, "General"}, {1, "0"}, {2, "0.00"}, {3, "#,##0"}, {4, "#,##0.00"}, {9, "0%"},
      {10, "0.00%"}, {11, "0.00E+00"}, {12, "# ?/?"}, {13, "# ?\?/?\?"}, {14, "m/d/yy"},
      {15, "d-mmm-yy"}, {16, "d-mmm"}, {17, "mmm-yy"}, {18, "h:mm AM/PM"}, {19, "h:mm:ss AM/PM"},
      {20, "h:mm"}, {21, "h:mm:ss"}, {22, "m/d/yy h:mm"}, {37, "#,##0 ;(#,##0)"},
      {38, "#,##0 ;[Red](#,##0)"}, {39, "#,##0.00;(#,##0.00)"}, {40, "#,##0.00;[Red](#,##0.00)"},
      {45, "mm:ss"}, {46, "[h]:mm:ss"}, {47, "mmss.0"}, {48, "##0.0E+0"}, {49, "@"},
  };
  size_t found = 0;
  for (uint32_t id = 0; id <= UINT16_MAX; ++id) {
    SCOPED_TRACE(id);
    auto code = builtin_format_code(static_cast<uint16_t>(id));
    const Case* expected = nullptr;
    for (const Case& c : present) {
      if (c.id == id) expected = &c;
    }
    if (expected == nullptr) {
      EXPECT_EQ(code, std::nullopt);
    } else {
      ASSERT_TRUE(code.has_value());
      EXPECT_EQ(*code, expected->code);
      ++found;
    }
  }
  EXPECT_EQ(found, std::size(present));
}

// Each test runs in a thread of its own so that it sees a fresh cache.
template <typename F>
void in_fresh_thread(F body) {
  std::thread worker(body);
  worker.join();
}

std::string short_code(int i) { return "0\"" + std::to_string(i) + "\""; }

TEST(ParseFormatCached, SameParseAsUncached) {
  in_fresh_thread([] {
    for (const char* code : {"", "0;", "[Red][>=100]0.0", "yyyy-mm-dd", "General"}) {
      SCOPED_TRACE(code);
      ParsedNumberFormat cached = parse_format_cached(code);
      ParsedNumberFormat plain = parse_format(code);
      ASSERT_EQ(cached.section_count(), plain.section_count());
      for (size_t i = 0; i < plain.section_count(); ++i) EXPECT_EQ(cached.section(i), plain.section(i));
    }
  });
}

TEST(ParseFormatCached, GenerationTurn) {
  in_fresh_thread([] {
    std::vector<ParsedNumberFormat> first;
    for (int i = 0; i < 128; ++i) first.push_back(parse_format_cached(short_code(i)));
    EXPECT_EQ(number_format_cache_stats().young, 128u);
    EXPECT_EQ(number_format_cache_stats().old, 0u);
    // A hit is served from the young map and turns nothing.
    EXPECT_TRUE(parse_format_cached(short_code(5)).shares_with(first[5]));
    EXPECT_EQ(number_format_cache_stats().old, 0u);

    // The 129th distinct code turns the generations.
    ParsedNumberFormat turned = parse_format_cached(short_code(128));
    EXPECT_EQ(number_format_cache_stats().young, 1u);
    EXPECT_EQ(number_format_cache_stats().old, 128u);

    // An old hit is the same parse and is copied into the young map.
    EXPECT_TRUE(parse_format_cached(short_code(0)).shares_with(first[0]));
    EXPECT_EQ(number_format_cache_stats().young, 2u);
    EXPECT_EQ(number_format_cache_stats().old, 128u);
    EXPECT_TRUE(parse_format_cached(short_code(0)).shares_with(first[0]));
    EXPECT_EQ(number_format_cache_stats().young, 2u);

    // Fill the young map again; the next turn drops the codes only the old
    // map held, and keeps the one that was used since.
    for (int i = 1000; i < 1126; ++i) parse_format_cached(short_code(i));
    EXPECT_EQ(number_format_cache_stats().young, 128u);
    parse_format_cached(short_code(2000));
    EXPECT_EQ(number_format_cache_stats().young, 1u);
    EXPECT_EQ(number_format_cache_stats().old, 128u);
    EXPECT_TRUE(parse_format_cached(short_code(0)).shares_with(first[0]));
    EXPECT_TRUE(parse_format_cached(short_code(128)).shares_with(turned));
    EXPECT_FALSE(parse_format_cached(short_code(1)).shares_with(first[1]));
  });
}

TEST(ParseFormatCached, LongCodesBypassTheCache) {
  in_fresh_thread([] {
    const std::string at_limit = "0" + std::string(255, '.');
    const std::string over_limit = "0" + std::string(256, '.');
    ASSERT_EQ(at_limit.size(), kMaxCachedFormatCodeBytes);
    EXPECT_TRUE(parse_format_cached(at_limit).shares_with(parse_format_cached(at_limit)));
    EXPECT_EQ(number_format_cache_stats().young, 1u);
    ParsedNumberFormat a = parse_format_cached(over_limit);
    ParsedNumberFormat b = parse_format_cached(over_limit);
    EXPECT_FALSE(a.shares_with(b));
    EXPECT_EQ(a.section(0), b.section(0));
    EXPECT_EQ(number_format_cache_stats().young, 1u);
    EXPECT_EQ(number_format_cache_stats().old, 0u);
  });
}

TEST(ParseFormatCached, ThreadsHaveTheirOwnCache) {
  ParsedNumberFormat here = parse_format_cached("0.000\"own\"");
  std::optional<ParsedNumberFormat> there;
  in_fresh_thread([&] { there = parse_format_cached("0.000\"own\""); });
  EXPECT_FALSE(here.shares_with(*there));
  EXPECT_EQ(here.section(0), there->section(0));
}

}  // namespace
}  // namespace cmx::model
