// Value rules: number, time and date texts, conversions, the order of
// values, and texts within the length limit.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "eval_harness.h"
#include "formula/value_coercion.h"

namespace cmx::formula {
namespace {

using namespace testing;

constexpr double kSerial2024_01_01 = 45292;

TEST(ParseNumberText, Table) {
  struct Case {
    std::string_view text;
    std::optional<double> want;
  };
  const Case cases[] = {
      // Plain decimals, trimmed by Unicode white space.
      {" 12.5 ", 12.5},
      {"\xC2\xA0" "3\xE3\x80\x80", 3},  // no-break space and ideographic space
      {"1e3", 1000},
      {".5", 0.5},
      {"5.", 5},
      {"+7", 7},
      {"1,000", std::nullopt},
      {"$5", std::nullopt},
      {"inf", std::nullopt},
      {"-Infinity", std::nullopt},
      {"nan", std::nullopt},
      {"1e400", std::nullopt},
      {"1e-400", 0},
      {"", std::nullopt},
      {"  ", std::nullopt},
      // Percent, nested.
      {"%", std::nullopt},
      {"10%", 0.1},
      {"50 %", 0.5},
      {"5%%", 0.0005},
      {"1 1/2%", 0.015},
      {"12:00%", 0.005},
      // Mixed fractions.
      {"1 1/0", std::nullopt},
      {"1  1/2", 1.5},
      {"+1 1/2", 1.5},
      {"-2 3/4", -2.75},
      {"0 1/8", 0.125},
      {"- 1/2", std::nullopt},
      {"1/2", std::nullopt},
      {"1 1/2/3", std::nullopt},
      // Times.
      {"12:30", 12.5 / 24},
      {"12:30 PM", 12.5 / 24},
      {"12:30 AM", 0.5 / 24},
      {"1:15 pm", (13 * 60 + 15) / 1440.0},
      {"13:00 PM", std::nullopt},
      {"0:90", std::nullopt},
      {"1:2:3:4", std::nullopt},
      {"9:5.5", std::nullopt},
      {"9:05:30.5", (9 * 3600 + 5 * 60 + 30.5) / 86400},
      {"25:00", 25.0 / 24},
      {"36:30:00", 36.5 / 24},
      {"-1:00", std::nullopt},
      {"1:60", std::nullopt},
      {"1:00:60", std::nullopt},
      {"1e400:00", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    std::optional<double> got = parse_number_text(c.text);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) { EXPECT_EQ(*got, *c.want); }
  }
}

TEST(ParseNumberText, LongPercentRunsDoNotRecurse) {
  std::string text = "1" + std::string(200'000, '%');
  std::optional<double> got = parse_number_text(text);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, 0.0);  // 1 divided by 100 two hundred thousand times underflows to 0
  EXPECT_FALSE(parse_number_text(std::string(200'000, '%')).has_value());
}

TEST(ParseDateText, Table) {
  struct Case {
    std::string_view text;
    std::optional<double> now;
    std::optional<double> want;
  };
  const std::optional<double> no_now;
  const double now_2024 = kSerial2024_01_01 + 100.25;
  const Case cases[] = {
      {"2024-02-29", no_now, 45351},
      {"2023-02-29", no_now, std::nullopt},
      {"2/29/1900", no_now, 60},
      {"1900-03-01", no_now, 61},
      {"1900-02-28", no_now, 59},
      {"12/31/9999", no_now, 2958465},
      {"1/1/10000", no_now, std::nullopt},
      {"1/1/1899", no_now, std::nullopt},
      {"Jan 2024", no_now, kSerial2024_01_01},
      {"2024 Jan", no_now, kSerial2024_01_01},
      {"Jan-2024", no_now, kSerial2024_01_01},
      {"Jan 5", now_2024, kSerial2024_01_01 + 4},
      {"5 Jan", now_2024, kSerial2024_01_01 + 4},
      {"1/15", now_2024, kSerial2024_01_01 + 14},
      {"Jan 5", no_now, std::nullopt},
      {"Jan 5", -1.0, std::nullopt},
      {"2024-01-15 10:30", no_now, kSerial2024_01_01 + 14},
      {"10:30 2024-01-15", no_now, std::nullopt},
      {"2024-01-15 pm", no_now, kSerial2024_01_01 + 14},
      {"15.1.2024", no_now, std::nullopt},
      {"Jan 5 2024 extra", no_now, std::nullopt},
      {"5th Jan 2024", no_now, std::nullopt},
      {"Jan5 2024", no_now, kSerial2024_01_01 + 4},
      {"15-Jan-2024", no_now, kSerial2024_01_01 + 14},
      {"January 15, 2024", no_now, kSerial2024_01_01 + 14},
      {"Jan 15 24", no_now, kSerial2024_01_01 + 14},
      {"1/15/24", no_now, kSerial2024_01_01 + 14},
      {"1/15/30", no_now, 10973},  // 1930-01-15
      {"15/1/2024", no_now, std::nullopt},
      {"2024/1/15", no_now, kSerial2024_01_01 + 14},
      {"Sept 1 2024", no_now, kSerial2024_01_01 + 244},
      {"Ja 1 2024", no_now, std::nullopt},
      {"2024_01_15", no_now, std::nullopt},
      {"", no_now, std::nullopt},
      {"2024", no_now, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    std::optional<double> got = parse_date_text(c.text, c.now);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << (got ? *got : -1);
    if (got) { EXPECT_EQ(*got, *c.want); }
  }
}

TEST(MonthFromName, Prefixes) {
  EXPECT_EQ(month_from_name("jan"), 1);
  EXPECT_EQ(month_from_name("JANU"), 1);
  EXPECT_EQ(month_from_name("january"), 1);
  EXPECT_EQ(month_from_name("sept"), 9);
  EXPECT_EQ(month_from_name("DEC"), 12);
  EXPECT_EQ(month_from_name("ja"), std::nullopt);
  EXPECT_EQ(month_from_name("janx"), std::nullopt);
  EXPECT_EQ(month_from_name("januaryy"), std::nullopt);
}

TEST(NumberToText, Table) {
  struct Case {
    double x;
    std::string_view want;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1000000000000000"},
      {-2.5, "-2.5"},
      {123456789012345678.0, "123456789012345680"},
      {0.1, "0.1"},
      {1.0 / 3, "0.3333333333333333"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1.5e-10, "0.00000000015"},
      {1e20, "100000000000000000000"},
      {-42, "-42"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.want));
    EXPECT_EQ(number_to_text(c.x), c.want);
  }
}

TEST(ValueConversions, ToBoolNumberText) {
  EXPECT_EQ(value_to_bool(txt("True")).value(), true);
  EXPECT_EQ(value_to_bool(txt("fALSE")).value(), false);
  EXPECT_EQ(value_to_bool(txt("yes")).error(), CellErrorCode::Value);
  EXPECT_EQ(value_to_bool(txt("1")).error(), CellErrorCode::Value);
  EXPECT_EQ(value_to_bool(num(0.0001)).value(), true);
  EXPECT_EQ(value_to_bool(num(-0.0)).value(), false);
  EXPECT_EQ(value_to_bool(CellValue()).value(), false);
  EXPECT_EQ(value_to_bool(err(CellErrorCode::NA)).error(), CellErrorCode::NA);

  EXPECT_EQ(value_to_number(txt(" 2 ")).value(), 2);
  EXPECT_EQ(value_to_number(txt("x")).error(), CellErrorCode::Value);
  EXPECT_EQ(value_to_number(num(INFINITY)).error(), CellErrorCode::Num);
  EXPECT_EQ(value_to_number(boolean(true)).value(), 1);
  EXPECT_EQ(value_to_number(CellValue()).value(), 0);
  EXPECT_EQ(value_to_number(err(CellErrorCode::Ref)).error(), CellErrorCode::Ref);

  EXPECT_EQ(value_to_text(num(0.5)).value(), "0.5");
  EXPECT_EQ(value_to_text(boolean(false)).value(), "FALSE");
  EXPECT_EQ(value_to_text(CellValue()).value(), "");
  EXPECT_EQ(value_to_text(err(CellErrorCode::Div0)).error(), CellErrorCode::Div0);
}

TEST(CompareValues, TotalOrder) {
  struct Case {
    std::string_view name;
    CellValue a, b;
    int want;
  };
  const Case cases[] = {
      {"empty equals zero", CellValue(), num(0), 0},
      {"empty equals empty text", CellValue(), txt(""), 0},
      {"empty equals false", CellValue(), boolean(false), 0},
      {"empty below error", CellValue(), err(CellErrorCode::NA), -1},
      {"empty below one", CellValue(), num(1), -1},
      {"empty equals empty", CellValue(), CellValue(), 0},
      {"zero below empty text", num(0), txt(""), -1},
      {"false above zero", boolean(false), num(0), 1},
      {"false above empty text", boolean(false), txt(""), 1},
      {"text 10 above number 9", txt("10"), num(9), 1},
      {"text 10 below TRUE", txt("10"), boolean(true), -1},
      {"errors equal", err(CellErrorCode::NA), err(CellErrorCode::Div0), 0},
      {"bool below error", boolean(true), err(CellErrorCode::Div0), -1},
      {"numbers", num(-1), num(2), -1},
      {"false before true", boolean(false), boolean(true), -1},
      {"texts ignore case", txt("a"), txt("A"), 0},
      {"b after A", txt("b"), txt("A"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compare_values(c.a, c.b), c.want);
    EXPECT_EQ(compare_values(c.b, c.a), -c.want);
  }
}

TEST(CompareTextCi, ClassesAndFullLowerCase) {
  struct Case {
    std::string_view a, b;
    int want;
  };
  const Case cases[] = {
      {"a", "A", 0},
      {"_", "a", -1},  // punctuation before letters whatever the code point
      {"{", "a", -1},
      {"1", "a", -1},
      {"~", "0", -1},
      {"b", "A", 1},
      {"\xC3\xA9", "z", 1},           // é after z
      {"ab", "abc", -1},
      {"", "", 0},
      {"\xC3\x84pfel", "\xC3\xA4PFEL", 0},   // Ä and ä
      {"\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x82", 0},  // ΣΑΣ lower-cases with a final sigma
      {"\xD9\xA3", "a", -1},          // Arabic-Indic digit three: a digit
      {"\xD9\xA3", "~", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + std::string(c.b));
    EXPECT_EQ(compare_text_ci(c.a, c.b), c.want);
    EXPECT_EQ(compare_text_ci(c.b, c.a), -c.want);
  }
}

TEST(TextResult, LengthLimitAndCharge) {
  Workbook wb;
  EvalContext ctx = wb.context();
  const uint64_t bytes_before = ctx.shared->bytes_left;
  std::string ok(32'767, 'x');
  EXPECT_TRUE(same_value(text_result(ok, ctx), txt(ok)));
  EXPECT_EQ(ctx.shared->bytes_left, bytes_before - 32'767);
  EXPECT_TRUE(same_value(text_result(ok + "x", ctx), err(CellErrorCode::Value)));
  EXPECT_FALSE(ctx.shared->limited);
  // Characters, not bytes: 20,000 two-byte characters are within the limit.
  std::string wide;
  for (int i = 0; i < 20'000; ++i) wide += "\xC3\xA9";
  EXPECT_TRUE(same_value(text_within_limit(wide), txt(wide)));
  EXPECT_TRUE(same_value(text_within_limit(wide + wide), err(CellErrorCode::Value)));
  // A refused byte charge.
  ctx.shared->bytes_left = 3;
  EXPECT_TRUE(same_value(text_result("abcd", ctx), err(CellErrorCode::Num)));
  EXPECT_TRUE(ctx.shared->limited);
  EXPECT_EQ(ctx.shared->bytes_left, 3u);
}

TEST(NextArrayNumber, KeepsPositions) {
  const CellValue values[] = {num(1), txt("x"), CellValue(), num(2), err(CellErrorCode::NA)};
  ArrayNumberWalk walk{values};
  EXPECT_EQ(std::get<double>(next_array_number(walk)), 1);
  EXPECT_TRUE(std::holds_alternative<NoNumber>(next_array_number(walk)));
  EXPECT_TRUE(std::holds_alternative<NoNumber>(next_array_number(walk)));
  EXPECT_EQ(std::get<double>(next_array_number(walk)), 2);
  EXPECT_EQ(std::get<CellErrorCode>(next_array_number(walk)), CellErrorCode::NA);
  EXPECT_TRUE(std::holds_alternative<WalkEnd>(next_array_number(walk)));
}

}  // namespace
}  // namespace cmx::formula
