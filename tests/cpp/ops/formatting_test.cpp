// Number formats of mutations, decimal steps, and colour texts.
#include <gtest/gtest.h>

#include "ops/formatting.h"

namespace cmx::ops {
namespace {

using model::BuiltinNumFmt;
using model::CustomPattern;
using model::NumberFormat;

std::string describe(const NumberFormat& format) {
  if (const auto* custom = std::get_if<CustomPattern>(&format)) return "custom " + custom->pattern;
  return "builtin " + std::to_string(std::get<BuiltinNumFmt>(format).id);
}

TEST(AdjustDecimals, Table) {
  struct Case {
    NumberFormat format;
    int step;
    const char* expected;
  };
  const Case cases[] = {
      // General and text become fixed codes
      {BuiltinNumFmt{0}, +1, "custom 0.0"},
      {BuiltinNumFmt{0}, -1, "custom 0"},
      {BuiltinNumFmt{7}, +1, "custom 0.0"},  // an id without a code reads as General
      {CustomPattern{"general"}, -1, "custom 0"},
      {CustomPattern{"@"}, +1, "custom 0.0"},
      {BuiltinNumFmt{49}, -1, "custom 0"},
      // one more decimal
      {CustomPattern{"0"}, +1, "custom 0.0"},
      {BuiltinNumFmt{3}, +1, "custom #,##0.0"},
      {BuiltinNumFmt{9}, +1, "custom 0.0%"},
      {BuiltinNumFmt{2}, +1, "custom 0.000"},
      {BuiltinNumFmt{11}, +1, "custom 0.000E+00"},
      {CustomPattern{"mmss.0"}, +1, "custom mmss.00"},
      {CustomPattern{"x."}, +1, "custom x.0"},
      {CustomPattern{"€ 0"}, +1, "custom € 0.0"},
      {CustomPattern{"\"kg\""}, +1, "custom \"kg\".0"},
      {CustomPattern{";0"}, +1, "custom .0;0"},
      // one fewer
      {CustomPattern{"0.0"}, -1, "custom 0"},
      {BuiltinNumFmt{10}, -1, "custom 0.0%"},
      {BuiltinNumFmt{11}, -1, "custom 0.00E+0"},
      {BuiltinNumFmt{39}, -1, "custom #,##0.0;(#,##0.00)"},
      {BuiltinNumFmt{1}, -1, "custom 0"},
      {CustomPattern{"0.x"}, -1, "custom 0.x"},
      {CustomPattern{"0;0.00"}, -1, "custom 0;0.00"},
      // dates and times stay as they are
      {BuiltinNumFmt{14}, +1, "builtin 14"},
      {CustomPattern{"h:mm"}, +1, "custom h:mm"},
      {CustomPattern{"[h]:mm:ss"}, -1, "custom [h]:mm:ss"},
      {BuiltinNumFmt{38}, +1, "builtin 38"},  // the d of [Red]
      {CustomPattern{"0.0 \"days\""}, +1, "custom 0.0 \"days\""},
      {CustomPattern{"YYYY"}, +1, "custom YYYY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.format) + (c.step > 0 ? " up" : " down"));
    EXPECT_EQ(describe(adjust_decimals(c.format, c.step)), c.expected);
  }
}

TEST(NumberFormatForMutation, Table) {
  using Kind = NumberFormatMutationKind;
  struct Case {
    NumberFormatMutation mutation;
    const char* expected;
  };
  const NumberFormat current = CustomPattern{"0.00"};
  const Case cases[] = {
      {{Kind::Automatic, ""}, "builtin 0"},     {{Kind::PlainText, ""}, "builtin 49"},
      {{Kind::Number, ""}, "builtin 4"},        {{Kind::Percent, ""}, "builtin 10"},
      {{Kind::Scientific, ""}, "builtin 11"},   {{Kind::Currency, ""}, "custom $#,##0.00"},
      {{Kind::Date, ""}, "builtin 14"},         {{Kind::Time, ""}, "builtin 20"},
      {{Kind::Custom, "0.0%"}, "custom 0.0%"}, {{Kind::Custom, ""}, "custom "},
      {{Kind::IncreaseDecimal, ""}, "custom 0.000"}, {{Kind::DecreaseDecimal, ""}, "custom 0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(describe(number_format_for_mutation(c.mutation, current)), c.expected);
  }
}

TEST(ParseHexColor, Table) {
  struct Case {
    const char* text;
    const char* expected;  // null: refused
  };
  const Case cases[] = {
      {"A1B2C3", "#a1b2c3"}, {"#a1B2c3", "#a1b2c3"}, {"#000000", "#000000"}, {"ffFFff", "#ffffff"},
      {"#a1b2c", nullptr},   {"a1b2c3 ", nullptr},   {" a1b2c3", nullptr},   {"##a1b2c3", nullptr},
      {"", nullptr},         {"#", nullptr},         {"#abc", nullptr},      {"#ffa1b2c3", nullptr},
      {"#g1b2c3", nullptr},  {"#a1b2c٣", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto got = parse_hex_color(c.text);
    if (c.expected) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(got.value(), c.expected);
      continue;
    }
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, OpsErrorKind::InvalidStyle);
    EXPECT_EQ(ops_error_message(got.error()), std::string("invalid color ") + c.text + "; expected #rrggbb");
  }
}

}  // namespace
}  // namespace cmx::ops
