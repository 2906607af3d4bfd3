// Values under number-format codes: one table of (code, value, date system)
// → (text, colour) over General, placeholders, scaling, scientific notation,
// sections and conditions, text sections and dates.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "model/format_render.h"

namespace cmx::model {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr DateSystem k1900 = DateSystem::V1900;
constexpr DateSystem k1904 = DateSystem::V1904;

CellValue num(double v) { return CellValue::number(v); }
CellValue txt(std::string_view v) { return CellValue::text(v); }

struct Case {
  const char* code;
  CellValue value;
  DateSystem system;
  const char* text;
  const char* color;  // nullptr for none
};

// (code, value, date system) → (text, colour), grouped by rendering path.
const Case kCases[] = {
    // Booleans, errors, empty cells and text values.
    {"[Red]0", CellValue::boolean(true), k1900, "TRUE", nullptr},
    {"\"x\"", CellValue::boolean(false), k1900, "FALSE", nullptr},
    {"[Red]0", CellValue::error(CellErrorCode::Div0), k1900, "#DIV/0!", nullptr},
    {"@", CellValue::error(CellErrorCode::Calc), k1900, "#CALC!", nullptr},
    {"\"x\"", CellValue(), k1900, "", nullptr},
    {"[Red]0", CellValue(), k1900, "", nullptr},
    // Text: three sections without "@" leave it alone.
    {"0;-0;0", txt("abc"), k1900, "abc", nullptr},
    {"[Blue]@", txt("abc"), k1900, "abc", "#0000FF"},
    {"0;0;0;\"ID \"@", txt("abc"), k1900, "ID abc", nullptr},
    {"0.00", txt("abc"), k1900, "abc", nullptr},
    {"General", txt("abc"), k1900, "abc", nullptr},
    {"0;[Green]@", txt("abc"), k1900, "abc", "#00FF00"},
    {"\"<\"@\">\"_)", txt("abc"), k1900, "<abc> ", nullptr},
    {"@@", txt("ab"), k1900, "abab", nullptr},
    // A fourth section is chosen for text whatever it holds.
    {"[Red];;;", txt("abc"), k1900, "", nullptr},
    {"0;0;0;[Cyan]\"hidden\"", txt("abc"), k1900, "hidden", "#00FFFF"},
    {"", txt("abc"), k1900, "abc", nullptr},
    // General.
    {"General", num(1234.5), k1900, "1234.5", nullptr},
    {" general ", num(1234.5), k1900, "1234.5", nullptr},
    {"", num(1234.5), k1900, "1234.5", nullptr},
    {"GENERAL", num(1.0 / 3), k1900, "0.33333333333", nullptr},
    {"General", num(-2.5), k1900, "-2.5", nullptr},
    {"General", num(0.1 + 0.2), k1900, "0.3", nullptr},
    {"General", num(12345678901), k1900, "12345678901", nullptr},
    {"General", num(123456789012), k1900, "1.23457E+11", nullptr},
    // Boundaries of the positional range.
    {"General", num(0.0001), k1900, "0.0001", nullptr},
    {"General", num(-0.0001), k1900, "-0.0001", nullptr},
    {"General", num(0.00001), k1900, "1E-05", nullptr},
    {"General", num(0.000015), k1900, "1.5E-05", nullptr},
    {"General", num(1e10), k1900, "10000000000", nullptr},
    {"General", num(1e11), k1900, "1E+11", nullptr},
    {"General", num(9.999996e15), k1900, "1E+16", nullptr},
    {"General", num(9.999994e15), k1900, "9.99999E+15", nullptr},
    {"General", num(1e100), k1900, "1E+100", nullptr},
    {"General", num(1.7976931348623157e308), k1900, "1.79769E+308", nullptr},
    {"General", num(-1.5e-300), k1900, "-1.5E-300", nullptr},
    {"General", num(5e-324), k1900, "4.94066E-324", nullptr},
    {"General", num(0.0), k1900, "0", nullptr},
    {"General", num(-0.0), k1900, "0", nullptr},
    {"General", num(kNaN), k1900, "NaN", nullptr},
    {"General", num(kInf), k1900, "INF", nullptr},
    {"General", num(-kInf), k1900, "-INF", nullptr},
    // A General section of a longer code keeps its section's colour.
    {"[Red]General", num(1234.5), k1900, "1234.5", "#FF0000"},
    {"[Red]General", num(-5), k1900, "-5", "#FF0000"},
    {"General\" pcs\"", num(3), k1900, "3 pcs", nullptr},
    {"General%", num(0.5), k1900, "0.5", nullptr},
    // Digit placeholders, grouping, scaling, percent and literals.
    {"0", num(5), k1900, "5", nullptr},
    {"0", num(2.5), k1900, "3", nullptr},
    {"0", num(-2.5), k1900, "-3", nullptr},
    {"0", num(0.5), k1900, "1", nullptr},
    {"0", num(0.4), k1900, "0", nullptr},
    {"#", num(0.4), k1900, "", nullptr},
    {"0.0", num(0.25), k1900, "0.3", nullptr},  // half away from zero, not to even
    {"0.0", num(9.96), k1900, "10.0", nullptr},
    {"0.00", num(-0.001), k1900, "-0.00", nullptr},
    {"0", num(1e20), k1900, "100000000000000000000", nullptr},
    {"#,##0.00", num(1234.567), k1900, "1,234.57", nullptr},
    {"#,##0.00", num(1234567.891), k1900, "1,234,567.89", nullptr},
    {"#,##0.00", num(0), k1900, "0.00", nullptr},
    {"#,##0", num(1234567.891), k1900, "1,234,568", nullptr},
    {"#,##0", num(123), k1900, "123", nullptr},
    {"#,###", num(0), k1900, "", nullptr},
    {"???,??0", num(1234), k1900, "  1,234", nullptr},
    {"0.0%", num(0.1234), k1900, "12.3%", nullptr},
    {"0%", num(0.5), k1900, "50%", nullptr},
    {"#,##0,", num(1234567), k1900, "1,235", nullptr},
    {"0,,", num(1234567890), k1900, "1235", nullptr},
    {",0", num(1234), k1900, "1234", nullptr},
    {"0.##", num(5), k1900, "5", nullptr},
    {"0.##", num(5.1), k1900, "5.1", nullptr},
    {"#.##", num(0), k1900, "", nullptr},
    {"#.##", num(0.5), k1900, ".5", nullptr},
    {"00000", num(42), k1900, "00042", nullptr},
    {"000.000", num(-1.5), k1900, "-001.500", nullptr},
    {"???.??", num(1.5), k1900, "  1.5 ", nullptr},
    {"0-0", num(12), k1900, "12-", nullptr},
    {"0.0.0", num(1.25), k1900, "1.25", nullptr},
    {"$#,##0", num(-5), k1900, "-$5", nullptr},
    {"[$€-407]#,##0", num(1234), k1900, "€1,234", nullptr},
    {"[$-409]0", num(5), k1900, "5", nullptr},
    {"0 \"items\"", num(3), k1900, "3 items", nullptr},
    {"#,##0_);(#,##0)", num(5), k1900, "5 ", nullptr},
    {"#,##0_);(#,##0)", num(-5), k1900, "(5)", nullptr},
    {"* #,##0", num(5), k1900, "5", nullptr},
    {"@", num(5), k1900, "5", nullptr},
    {"0 @", num(5.5), k1900, "6 5.5", nullptr},
    {"# ?/?", num(1.5), k1900, "1.5", nullptr},
    {"# ?\?/?\?", num(-0.25), k1900, "-0.25", nullptr},
    // Literal-only sections.
    {"\"x\"", num(5), k1900, "x", nullptr},
    {"\"x\"", num(0), k1900, "x", nullptr},
    {"\"x\"", num(-1), k1900, "-x", nullptr},
    {"\"a\"_-\"b\"%", num(1), k1900, "a b", nullptr},
    // Values outside any sensible placeholder layout still render.
    {"0", num(kNaN), k1900, "-NaN", nullptr},
    {"0", num(kInf), k1900, "INF", nullptr},
    {"0.00", num(-kInf), k1900, "-INF", nullptr},
    {"0", num(-0.0), k1900, "0", nullptr},
    {"0;(0);\"zero\"", num(-0.0), k1900, "zero", nullptr},
    // Scientific notation.
    {"0.00E+00", num(12345), k1900, "1.23E+04", nullptr},
    {"0.00E+00", num(0.00012), k1900, "1.20E-04", nullptr},
    {"0.00E+00", num(0), k1900, "0.00E+00", nullptr},
    {"0.00E+00", num(-12345), k1900, "-1.23E+04", nullptr},
    {"##0.0E+0", num(12345), k1900, "12.3E+3", nullptr},
    {"##0.0E+0", num(0.0012345), k1900, "1.2E-3", nullptr},
    {"0.0E-0", num(1000), k1900, "1.0E3", nullptr},
    {"0.0E+00", num(9.96), k1900, "1.0E+01", nullptr},
    {"0E+0", num(5e-324), k1900, "5E-324", nullptr},
    {"\"~\"0.0E+00\" u\"", num(250), k1900, "~2.5E+02 u", nullptr},
    {"0.0%E+00", num(0.5), k1900, "5.0E+01", nullptr},
    // Sections, conditions and colours.
    {"#,##0;(#,##0)", num(-5), k1900, "(5)", nullptr},
    {"0", num(-5), k1900, "-5", nullptr},
    {"[<0]0;0", num(-5), k1900, "5", nullptr},
    {"[>100]0;0", num(-5), k1900, "-5", nullptr},
    {"[>100]0;0", num(150), k1900, "150", nullptr},
    {"0;;", num(0), k1900, "", nullptr},
    {"0;;", num(-5), k1900, "", nullptr},
    {"0;;", num(5), k1900, "5", nullptr},
    {"0;-0", num(-5), k1900, "-5", nullptr},
    {"#,##0.00;[Red](#,##0.00)", num(-1234.5), k1900, "(1,234.50)", "#FF0000"},
    {"#,##0.00;[Red](#,##0.00)", num(1234.5), k1900, "1,234.50", nullptr},
    {"#,##0 ;(#,##0)", num(1234), k1900, "1,234 ", nullptr},
    {"[red]0", num(1), k1900, "1", "#FF0000"},
    {"[Color5]0", num(1), k1900, "1", "#0000FF"},
    {"[Red][<=-1]0;[Blue]0", num(-5), k1900, "5", "#FF0000"},
    {"[Red][<=-1]0;[Blue]0", num(0), k1900, "0", "#0000FF"},
    {"[=0]\"none\";0", num(0), k1900, "none", nullptr},
    {"[=0]\"none\";0", num(-3), k1900, "-3", nullptr},
    {"[<>0]0;\"zero\"", num(kNaN), k1900, "NaN", nullptr},
    {"#,##0;(#,##0)", num(kNaN), k1900, "(NaN)", nullptr},
    {"0;0;0;@", num(-5), k1900, "5", nullptr},
    // Dates and times.
    {"m/d/yy", num(45292), k1900, "1/1/24", nullptr},
    {"d-mmm-yy", num(45292.5), k1900, "1-Jan-24", nullptr},
    {"dddd, mmmm d, yyyy", num(45292), k1900, "Monday, January 1, 2024", nullptr},
    {"h:mm AM/PM", num(0.75), k1900, "6:00 PM", nullptr},
    {"h:mm AM/PM", num(0), k1900, "12:00 AM", nullptr},
    {"h AM/PM", num(0.5), k1900, "12 PM", nullptr},
    {"hh:mm:ss", num(0.5), k1900, "12:00:00", nullptr},
    {"[h]:mm:ss", num(1.5), k1900, "36:00:00", nullptr},
    {"[mm]:ss", num(1.5), k1900, "2160:00", nullptr},
    {"[ss]", num(0.5), k1900, "43200", nullptr},
    {"[hhh]", num(0.5), k1900, "012", nullptr},
    {"mm:ss.00", num(61.257 / 86400), k1900, "01:01.26", nullptr},
    {"mmss.0", num(61.24 / 86400), k1900, "0101.2", nullptr},
    {"ss.000", num(0.5 / 86400), k1900, "00.500", nullptr},
    {"ss.0", num(0.5 / 86400), k1900, "00.5", nullptr},
    // Short runs round the plain product: 0.15 s is 1.5 tenths, though the
    // double nearest 0.15 lies just below it.
    {"ss.0", num(0.15 / 86400), k1900, "00.2", nullptr},
    {"ss.00", num(0.125 / 86400), k1900, "00.13", nullptr},
    {"yyyy-mm-dd", num(60), k1900, "1900-02-29", nullptr},
    {"yyyy-mm-dd", num(0), k1900, "1900-01-00", nullptr},
    {"yyyy-mm-dd", num(1), k1900, "1900-01-01", nullptr},
    {"yyyy-mm-dd", num(59), k1900, "1900-02-28", nullptr},
    {"yyyy-mm-dd", num(61), k1900, "1900-03-01", nullptr},
    {"yyyy-mm-dd", num(2958465), k1900, "9999-12-31", nullptr},
    {"yyyy", num(2958466), k1900, "10000", nullptr},
    {"yy y yyy", num(45292), k1900, "24 24 2024", nullptr},
    {"mmmmm", num(45292), k1900, "J", nullptr},
    {"mmm mmmm", num(45292), k1900, "Jan January", nullptr},
    {"mm", num(45292), k1900, "01", nullptr},
    {"mm:ss", num(0.5 + 125.0 / 86400), k1900, "02:05", nullptr},
    {"h:mm", num(0.5 + 420.0 / 86400), k1900, "12:07", nullptr},
    {"m/d/yy h:mm", num(45292 + 727.0 / 1440), k1900, "1/1/24 12:07", nullptr},
    {"hh:mm", num(0.99999999), k1900, "00:00", nullptr},
    {"yyyy-mm-dd hh:mm", num(45292.99999999), k1900, "2024-01-02 00:00", nullptr},
    {"ddd", num(1), k1900, "Mon", nullptr},
    {"ddd", num(0), k1900, "Sun", nullptr},
    {"dddd", num(60), k1900, "Thursday", nullptr},
    {"ddd", num(0), k1904, "Fri", nullptr},
    {"d dd", num(45300), k1900, "9 09", nullptr},
    {"m/d/yy", num(0), k1904, "1/1/04", nullptr},
    {"m/d/yy", num(1462), k1904, "1/2/08", nullptr},
    {"yyyy0", num(45292), k1900, "2024", nullptr},
    {"yyyy.", num(45292), k1900, "2024.", nullptr},
    {"d/m,yyyy%@_x", num(45292), k1900, "1/1,2024 ", nullptr},
    {"a/p h", num(0.25), k1900, "a 6", nullptr},
    {"a/p h", num(0.75), k1900, "p 6", nullptr},
    // Long fraction runs: the count is exact, so whole seconds stay whole.
    {"ss.000000000000000000000000000000000", num(1.5), k1900, "00.000000000000000000000000000000000",
     nullptr},
    {"hh:mm:ss.0000000000000000000000000", num(45292.75), k1900,
     "18:00:00.0000000000000000000000000", nullptr},
    {"ss.000000000000000000000000000000000", num(2), k1900, "#######", nullptr},
    // Past 2^53 units the exact product decides: 0.15 s under 20 digits.
    {"ss.00000000000000000000", num(0.15 / 86400), k1900, "00.14999999999999999445", nullptr},
    {"[Red]yyyy", num(-1), k1900, "#######", "#FF0000"},
    {"yyyy", num(kNaN), k1900, "#######", nullptr},
    {"yyyy", num(1e300), k1900, "#######", nullptr},
    {"[h]", num(kInf), k1900, "#######", nullptr},
    {"[s]", num(1e13), k1900, "864000000000000000", nullptr},
    {"[s]", num(1e30), k1900, "#######", nullptr},  // the day count leaves 64 bits
    {"0;[Blue]yyyy", num(-45292), k1900, "#######", "#0000FF"},
};

TEST(FormatCellValue, Table) {
  for (const Case& c : kCases) {
    std::string value_text = c.value.is_number() ? format_general(c.value.as_number()) : "(non-number)";
    SCOPED_TRACE(std::string("code [") + c.code + "] value " + value_text);
    FormattedText got = format_cell_value(c.value, c.code, c.system);
    EXPECT_EQ(got.text, c.text);
    if (c.color == nullptr) {
      EXPECT_EQ(got.color, std::nullopt);
    } else {
      EXPECT_EQ(got.color, std::optional<std::string>(c.color));
    }
  }
}

}  // namespace
}  // namespace cmx::model
