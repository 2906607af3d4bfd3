// Attribute value rules: booleans, floats, clamped counts, cell references
// and error literals.
#include "xml/attr_values.h"

#include <gtest/gtest.h>

#include <cmath>

namespace cmx::xml {
namespace {

TEST(AttrBool, Table) {
  struct Case {
    AttrText text;
    bool expected;
  };
  const Case cases[] = {{"1", true},      {"on", true},    {"true", true},   {"yes", false},
                        {"True", false},  {"TRUE", false}, {"true ", false}, {"0", false},
                        {"false", false}, {"", false},     {std::nullopt, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("(absent)"));
    EXPECT_EQ(attr_bool(c.text), c.expected);
  }
}

TEST(AttrFloat, Table) {
  struct Case {
    AttrText text;
    std::optional<double> expected;
  };
  const Case cases[] = {
      {"12.5", 12.5}, {"1e3", 1000.0}, {".5", 0.5}, {"5.", 5.0}, {"+2", 2.0}, {"1E-2", 0.01},
      {" 12", std::nullopt}, {"12 ", std::nullopt}, {"1,5", std::nullopt}, {".", std::nullopt},
      {"", std::nullopt}, {"e5", std::nullopt}, {"0x10", std::nullopt}, {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("(absent)"));
    EXPECT_EQ(attr_float(c.text), c.expected);
  }
  EXPECT_TRUE(std::signbit(*attr_float("-0")));
  EXPECT_EQ(*attr_float("1e999"), HUGE_VAL);
  EXPECT_EQ(*attr_float("-Infinity"), -HUGE_VAL);
  EXPECT_EQ(*attr_float("INF"), HUGE_VAL);
  EXPECT_TRUE(std::isnan(*attr_float("NaN")));
  EXPECT_TRUE(std::isnan(*attr_float("-nan")));
}

TEST(AttrClampedCount, Table) {
  struct Case {
    AttrText text;
    uint32_t expected;
  };
  const Case cases[] = {{"3", 3},     {"3.0", 3},         {"2.5", 0},     {"-1", 0},   {"inf", 0},
                        {"nan", 0},   {"x", 0},           {"1e9", 16384}, {"-0", 0},   {"16384", 16384},
                        {"16385", 16384}, {std::nullopt, 0}, {"1e999", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.value_or("(absent)"));
    EXPECT_EQ(attr_clamped_count(c.text, 16384), c.expected);
  }
}

TEST(AttrCellRef, Table) {
  auto b3 = attr_cell_ref("B3");
  ASSERT_TRUE(b3.has_value());
  EXPECT_EQ(*b3, (model::CellRef{2, 1, false, false}));
  auto abs = attr_cell_ref("$B$3");
  ASSERT_TRUE(abs.has_value());
  EXPECT_EQ(*abs, (model::CellRef{2, 1, true, true}));
  EXPECT_EQ(attr_cell_ref("b3"), std::nullopt);
  EXPECT_EQ(attr_cell_ref("XFD1048577"), std::nullopt);
  EXPECT_EQ(attr_cell_ref(std::nullopt), std::nullopt);
}

TEST(ParseErrorLiteral, Table) {
  struct Case {
    std::string_view text;
    std::optional<model::CellErrorCode> expected;
  };
  using C = model::CellErrorCode;
  const Case cases[] = {
      {"#DIV/0!", C::Div0}, {"#N/A", C::NA},         {"#NAME?", C::Name},  {"#NULL!", C::Null},
      {"#NUM!", C::Num},    {"#REF!", C::Ref},       {"#VALUE!", C::Value}, {"#SPILL!", C::Spill},
      {"#CALC!", C::Calc},  {"#n/a", std::nullopt},  {"#N/A ", std::nullopt}, {"#GETTING_DATA", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_error_literal(c.text), c.expected);
  }
}

}  // namespace
}  // namespace cmx::xml
