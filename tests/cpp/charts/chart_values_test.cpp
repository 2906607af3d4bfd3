#include "charts/chart_values.h"

#include <gtest/gtest.h>

#include <cmath>

#include "chart_xml_util.h"

namespace cmx::charts {
namespace {

TEST(ChartValues, NumberRule) {
  struct Case {
    std::string_view name;
    std::optional<std::string_view> text;
    std::optional<double> expected;
  };
  const Case cases[] = {
      {"plain", "150", 150},
      {"spaces around", " 2.5 ", 2.5},
      {"unicode spaces", "\u00A03\u2003", 3},
      {"sign and exponent", "-1.5e2", -150},
      {"leading plus", "+4", 4},
      {"bare point before", ".5", 0.5},
      {"hex", "0x10", 16},
      {"hex upper prefix with plus", "0X+ff", 255},
      {"octal", "0o17", 15},
      {"binary", "0b101", 5},
      {"largest hex", "0xFFFFFFFFFFFFFFFF", 18446744073709551615.0},
      {"hex beyond 64 bits", "0x10000000000000000", std::nullopt},
      {"prefix alone", "0x", std::nullopt},
      {"minus after prefix", "0x-1", std::nullopt},
      {"minus before prefix", "-0x1", std::nullopt},
      {"bad digit for base", "0b102", std::nullopt},
      {"overflowing exponent", "1e400", std::nullopt},
      {"nan", "NaN", std::nullopt},
      {"infinity", "inf", std::nullopt},
      {"empty", "", std::nullopt},
      {"only spaces", "  ", std::nullopt},
      {"missing", std::nullopt, std::nullopt},
      {"trailing text", "12px", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_chart_number(c.text), c.expected);
  }
}

TEST(ChartValues, IndexRule) {
  struct Case {
    std::string_view name;
    std::optional<std::string_view> text;
    std::optional<uint32_t> expected;
  };
  const Case cases[] = {
      {"plain", "3", 3},
      {"spaces", " 3 ", 3},
      {"largest", "4294967295", 4294967295u},
      {"one past", "4294967296", std::nullopt},
      {"sign", "+3", std::nullopt},
      {"negative", "-1", std::nullopt},
      {"fraction", "3.0", std::nullopt},
      {"empty", "", std::nullopt},
      {"missing", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_chart_index(c.text), c.expected);
  }
}

TEST(ChartValues, ValueAttributeAndBoolChild) {
  const xml::XmlElement wrap = testing::parse_wrapped(
      "<c:a val=\"x\" c:val=\"y\"/><c:b c:val=\"y\"/><c:flag val=\"true\"/><c:flag val=\"0\"/>"
      "<c:odd val=\"TRUE\"/><c:none/>");
  EXPECT_EQ(child_value(wrap.children, "a"), "x");
  EXPECT_EQ(child_value(wrap.children, "b"), "y");
  // The first child of a name wins.
  EXPECT_EQ(read_bool_child(wrap.children, "flag"), true);
  EXPECT_EQ(read_bool_child(wrap.children, "odd"), std::nullopt);
  EXPECT_EQ(read_bool_child(wrap.children, "none"), std::nullopt);
  EXPECT_EQ(read_bool_child(wrap.children, "absent"), std::nullopt);
}

TEST(ChartValues, SearchFindsTheDeepestElementATreeHolds) {
  // The tree parser allows 64 open elements, so the target sits 63 levels
  // below the wrapper.
  auto nest = [](int levels) {
    std::string open, close;
    for (int i = 0; i < levels - 1; ++i) {
      open += "<c:n>";
      close = "</c:n>" + close;
    }
    return open + "<c:target/>" + close;
  };
  const xml::XmlElement found = testing::parse_wrapped(nest(63));
  EXPECT_NE(first_below(&found, "target"), nullptr);
  EXPECT_EQ(first_below(&found, "wrap"), &found);
  EXPECT_EQ(first_below(nullptr, "target"), nullptr);
}

}  // namespace
}  // namespace cmx::charts
