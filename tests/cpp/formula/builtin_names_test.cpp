// The built-in name table: its shape, every accepted name and alias with its
// id, and the prefix and case rules of the lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "formula/formula.h"

namespace cmx::formula {
namespace {

TEST(BuiltinNames, TableShape) {
  const auto names = builtin_names();
  ASSERT_EQ(names.size(), 188u);
  std::set<std::string_view> seen;
  std::set<int> ids;
  for (size_t i = 0; i < names.size(); ++i) {
    const BuiltinName& entry = names[i];
    SCOPED_TRACE(std::string(entry.name));
    EXPECT_TRUE(seen.insert(entry.name).second) << "duplicate name";
    EXPECT_FALSE(entry.name.empty());
    EXPECT_LE(entry.name.size(), kMaxBuiltinNameBytes);
    EXPECT_NE(entry.name.size(), 13u);
    EXPECT_NE(entry.name.size(), 15u);
    for (char c : entry.name) {
      EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.') << c;
    }
    // The first 177 rows are the primary names in id order.
    if (i < static_cast<size_t>(kBuiltinCount)) {
      EXPECT_EQ(entry.id, i);
    }
    EXPECT_LT(entry.id, kBuiltinCount);
    ids.insert(entry.id);
    EXPECT_EQ(builtin_id_from_name(entry.name), entry.id);
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kBuiltinCount));  // every id reachable
  EXPECT_EQ(builtin_primary_name(0), "SUM");
  EXPECT_EQ(builtin_primary_name(176), "NORM.DIST");
  EXPECT_EQ(builtin_primary_name(177), "");
  EXPECT_EQ(builtin_primary_name(kNotBuiltin), "");
}

TEST(BuiltinNames, EveryNameAndId) {
  // The whole table, written out independently of the implementation.
  const char* const by_id[] = {
      "SUM", "SUMIF", "SUMIFS", "SUMPRODUCT", "MMULT", "PRODUCT", "ABS", "SIGN", "ROUND", "ROUNDUP",
      "ROUNDDOWN", "MROUND", "QUOTIENT", "SERIESSUM", "CEILING", "FLOOR", "INT", "TRUNC", "MOD", "POWER",
      "SQRT", "EXP", "LN", "LOG", "LOG10", "PI", "TANH", "SIN", "COS", "TAN",
      "SINH", "COSH", "ASIN", "ACOS", "ATAN", "ATAN2", "DEGREES", "RADIANS", "CORREL", "COVARIANCE.P",
      "COVARIANCE.S", "SLOPE", "INTERCEPT", "PERCENTILE.INC", "QUARTILE.INC", "RANDBETWEEN", "AVERAGE",
      "COUNT", "COUNTA", "COUNTBLANK",
      "COUNTIF", "COUNTIFS", "AVERAGEIF", "AVERAGEIFS", "MAXIFS", "MINIFS", "MIN", "MAX", "MEDIAN", "MODE.SNGL",
      "STDEV.S", "STDEV.P", "VAR.S", "VAR.P", "LARGE", "SMALL", "RANK.EQ", "AVERAGEA", "MAXA", "MINA",
      "STDEVA", "GEOMEAN", "HARMEAN", "AVEDEV", "DEVSQ", "SKEW", "KURT", "TRIMMEAN", "SUMSQ", "LEN",
      "LEFT", "RIGHT", "MID", "FIND", "SEARCH", "SUBSTITUTE", "REPLACE", "TRIM", "UPPER", "LOWER",
      "PROPER", "CLEAN", "REPT", "EXACT", "T", "CHAR", "CODE", "VALUE", "NUMBERVALUE", "TEXT",
      "TEXTJOIN", "CONCATENATE", "DATE", "YEAR", "MONTH", "DAY", "WEEKDAY", "WEEKNUM", "ISOWEEKNUM", "TEXTBEFORE",
      "TEXTAFTER", "EDATE", "EOMONTH", "TODAY", "NOW", "HOUR", "MINUTE", "SECOND", "TIME", "DATEDIF",
      "DATEVALUE", "DAYS", "TIMEVALUE", "YEARFRAC", "WORKDAY.INTL", "CONVERT", "FORMULATEXT", "NETWORKDAYS",
      "NETWORKDAYS.INTL", "WORKDAY",
      "IF", "IFERROR", "IFNA", "IFS", "SWITCH", "AND", "OR", "NOT", "XOR", "TRUE",
      "FALSE", "VLOOKUP", "HLOOKUP", "INDEX", "OFFSET", "MATCH", "XLOOKUP", "XMATCH", "SUBTOTAL", "AGGREGATE",
      "CHOOSE", "ROW", "COLUMN", "ROWS", "COLUMNS", "TRANSPOSE", "ISBLANK", "ISNUMBER", "ISTEXT", "ISLOGICAL",
      "ISERROR", "ISERR", "ISNA", "ISEVEN", "ISODD", "NA", "N", "LOOKUP", "INDIRECT", "ADDRESS",
      "HYPERLINK", "FV", "PMT", "PV", "NPER", "NPV", "NORM.DIST",
  };
  ASSERT_EQ(std::size(by_id), 177u);
  for (size_t id = 0; id < std::size(by_id); ++id) {
    SCOPED_TRACE(by_id[id]);
    EXPECT_EQ(builtin_id_from_name(by_id[id]), id);
    EXPECT_EQ(builtin_primary_name(static_cast<BuiltinId>(id)), by_id[id]);
    std::string lower = by_id[id];
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(builtin_id_from_name(lower), id);
    EXPECT_EQ(builtin_id_from_name("_xlfn." + lower), id);
    EXPECT_EQ(builtin_id_from_name("_XLFN._XLWS." + std::string(by_id[id])), id);
    EXPECT_EQ(builtin_id_from_name("_xlws." + std::string(by_id[id])), kNotBuiltin);
  }
  struct Alias { const char* name; BuiltinId id; };
  const Alias aliases[] = {
      {"COVAR", 39}, {"PERCENTILE", 43}, {"QUARTILE", 44}, {"MODE", 59},    {"STDEV", 60},
      {"STDEVP", 61}, {"VAR", 62},       {"VARP", 63},     {"RANK", 66},    {"CONCAT", 101},
      {"NORMDIST", 176},
  };
  for (const Alias& a : aliases) {
    SCOPED_TRACE(a.name);
    EXPECT_EQ(builtin_id_from_name(a.name), a.id);
  }
}

TEST(BuiltinNames, LookupRules) {
  struct Case { std::string_view name; BuiltinId id; };
  const Case cases[] = {
      {"sum", 0}, {"Sum", 0}, {"SUM", 0}, {"_xlfn.sum", 0}, {"_XLFN.SUM", 0},
      {"_xlfn.NORM.DIST", 176}, {"NORMDIST", 176}, {"norm.dist", 176},
      {"_xlfn._xlws.SUM", 0}, {"_xlws.SUM", kNotBuiltin}, {"_xlws._xlfn.SUM", kNotBuiltin},
      {"_xlfn._xlfn.SUM", kNotBuiltin}, {"_xlfn.", kNotBuiltin}, {"_xlfn._xlws.", kNotBuiltin},
      {"", kNotBuiltin}, {"NETWORKDAYS.INTL", 128}, {"_xlfn.NETWORKDAYS.INTL", 128},
      {"NETWORKDAYS.INTLX", kNotBuiltin}, {"COVAR", 39}, {"COVARIANCE.P", 39},
      {"CONCAT", 101}, {"CONCATENATE", 101}, {"RAND", kNotBuiltin}, {"RANK.AVG", kNotBuiltin},
      {"SORT", kNotBuiltin}, {"FILTER", kNotBuiltin}, {"\xc4\xb1" "f", kNotBuiltin},  // dotless i
      {" SUM", kNotBuiltin}, {"SUM ", kNotBuiltin}, {"SU", kNotBuiltin}, {"SUMX", kNotBuiltin},
      {"xlfn.SUM", kNotBuiltin}, {"_xlfnSUM", kNotBuiltin}, {"S\0M", kNotBuiltin},
      {"T", 94}, {"t", 94}, {"N", 166}, {"if", 130}, {"IFS", 133},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(builtin_id_from_name(c.name), c.id);
  }
}

TEST(BuiltinNames, NamedIds) {
  struct Case { Builtin id; std::string_view name; };
  const Case cases[] = {
      {Builtin::Sum, "SUM"},           {Builtin::Pi, "PI"},
      {Builtin::CovarianceP, "COVAR"}, {Builtin::Concatenate, "CONCAT"},
      {Builtin::Today, "TODAY"},       {Builtin::Now, "NOW"},
      {Builtin::True, "TRUE"},         {Builtin::False, "FALSE"},
      {Builtin::VLookup, "VLOOKUP"},   {Builtin::Na, "NA"},
      {Builtin::NetworkDaysIntl, "NETWORKDAYS.INTL"}, {Builtin::NormDist, "NORMDIST"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(builtin_id_from_name(c.name), static_cast<BuiltinId>(c.id));
  }
  EXPECT_EQ(static_cast<int>(Builtin::Today), 113);
  EXPECT_EQ(static_cast<int>(Builtin::VLookup), 141);
}

TEST(BuiltinNames, StripPrefix) {
  EXPECT_EQ(strip_prefix_ci("_XLFN.abc", "_xlfn."), std::optional<std::string_view>("abc"));
  EXPECT_EQ(strip_prefix_ci("_xlfn.", "_xlfn."), std::optional<std::string_view>(""));
  EXPECT_EQ(strip_prefix_ci("_xlfn", "_xlfn."), std::nullopt);
  EXPECT_EQ(strip_prefix_ci("_xlws.x", "_xlfn."), std::nullopt);
  // Only the first six bytes of the prefix count.
  EXPECT_EQ(strip_prefix_ci("_xlfn.x", "_xlfn.IGNORED"), std::optional<std::string_view>("x"));
}

TEST(BuiltinNames, CallsCarryIds) {
  auto parsed = parse_formula("_xlfn.STDEV.S(1)+stdev(2)+Foo(3)");
  ASSERT_TRUE(parsed.has_value());
  const auto& outer = (*parsed)->as<node::Binary>();
  const auto& inner = outer.left->as<node::Binary>();
  EXPECT_EQ(inner.left->as<node::Call>().id, 60);
  EXPECT_EQ(inner.left->as<node::Call>().name, "_xlfn.STDEV.S");
  EXPECT_EQ(inner.right->as<node::Call>().id, 60);
  EXPECT_EQ(outer.right->as<node::Call>().id, kNotBuiltin);
}

}  // namespace
}  // namespace cmx::formula
