// The name table and the allocation-free name lookup.
#include "functions/builtin_names.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace cmx::formula {
namespace {

constexpr BuiltinName kNames[] = {
    // ---- Sums, rounding and arithmetic
    {"SUM",              0},
    {"SUMIF",            1},
    {"SUMIFS",           2},
    {"SUMPRODUCT",       3},
    {"MMULT",            4},
    {"PRODUCT",          5},
    {"ABS",              6},
    {"SIGN",             7},
    {"ROUND",            8},
    {"ROUNDUP",          9},
    {"ROUNDDOWN",        10},
    {"MROUND",           11},
    {"QUOTIENT",         12},
    {"SERIESSUM",        13},
    {"CEILING",          14},
    {"FLOOR",            15},
    {"INT",              16},
    {"TRUNC",            17},
    {"MOD",              18},
    {"POWER",            19},
    // ---- Elementary functions
    {"SQRT",             20},
    {"EXP",              21},
    {"LN",               22},
    {"LOG",              23},
    {"LOG10",            24},
    {"PI",               25},
    {"TANH",             26},
    {"SIN",              27},
    {"COS",              28},
    {"TAN",              29},
    {"SINH",             30},
    {"COSH",             31},
    {"ASIN",             32},
    {"ACOS",             33},
    {"ATAN",             34},
    {"ATAN2",            35},
    {"DEGREES",          36},
    {"RADIANS",          37},
    // ---- Paired and order statistics
    {"CORREL",           38},
    {"COVARIANCE.P",     39},
    {"COVARIANCE.S",     40},
    {"SLOPE",            41},
    {"INTERCEPT",        42},
    {"PERCENTILE.INC",   43},
    {"QUARTILE.INC",     44},
    {"RANDBETWEEN",      45},
    // ---- Counts, averages and conditional aggregates
    {"AVERAGE",          46},
    {"COUNT",            47},
    {"COUNTA",           48},
    {"COUNTBLANK",       49},
    {"COUNTIF",          50},
    {"COUNTIFS",         51},
    {"AVERAGEIF",        52},
    {"AVERAGEIFS",       53},
    {"MAXIFS",           54},
    {"MINIFS",           55},
    {"MIN",              56},
    {"MAX",              57},
    {"MEDIAN",           58},
    {"MODE.SNGL",        59},
    {"STDEV.S",          60},
    {"STDEV.P",          61},
    {"VAR.S",            62},
    {"VAR.P",            63},
    {"LARGE",            64},
    {"SMALL",            65},
    {"RANK.EQ",          66},
    {"AVERAGEA",         67},
    {"MAXA",             68},
    {"MINA",             69},
    {"STDEVA",           70},
    {"GEOMEAN",          71},
    {"HARMEAN",          72},
    {"AVEDEV",           73},
    {"DEVSQ",            74},
    {"SKEW",             75},
    {"KURT",             76},
    {"TRIMMEAN",         77},
    {"SUMSQ",            78},
    // ---- Text
    {"LEN",              79},
    {"LEFT",             80},
    {"RIGHT",            81},
    {"MID",              82},
    {"FIND",             83},
    {"SEARCH",           84},
    {"SUBSTITUTE",       85},
    {"REPLACE",          86},
    {"TRIM",             87},
    {"UPPER",            88},
    {"LOWER",            89},
    {"PROPER",           90},
    {"CLEAN",            91},
    {"REPT",             92},
    {"EXACT",            93},
    {"T",                94},
    {"CHAR",             95},
    {"CODE",             96},
    {"VALUE",            97},
    {"NUMBERVALUE",      98},
    {"TEXT",             99},
    {"TEXTJOIN",         100},
    {"CONCATENATE",      101},
    // ---- Dates and times
    {"DATE",             102},
    {"YEAR",             103},
    {"MONTH",            104},
    {"DAY",              105},
    {"WEEKDAY",          106},
    {"WEEKNUM",          107},
    {"ISOWEEKNUM",       108},
    {"TEXTBEFORE",       109},
    {"TEXTAFTER",        110},
    {"EDATE",            111},
    {"EOMONTH",          112},
    {"TODAY",            113},
    {"NOW",              114},
    {"HOUR",             115},
    {"MINUTE",           116},
    {"SECOND",           117},
    {"TIME",             118},
    {"DATEDIF",          119},
    {"DATEVALUE",        120},
    {"DAYS",             121},
    {"TIMEVALUE",        122},
    {"YEARFRAC",         123},
    {"WORKDAY.INTL",     124},
    {"CONVERT",          125},
    {"FORMULATEXT",      126},
    {"NETWORKDAYS",      127},
    {"NETWORKDAYS.INTL", 128},
    {"WORKDAY",          129},
    // ---- Logical
    {"IF",               130},
    {"IFERROR",          131},
    {"IFNA",             132},
    {"IFS",              133},
    {"SWITCH",           134},
    {"AND",              135},
    {"OR",               136},
    {"NOT",              137},
    {"XOR",              138},
    {"TRUE",             139},
    {"FALSE",            140},
    // ---- Lookup and reference
    {"VLOOKUP",          141},
    {"HLOOKUP",          142},
    {"INDEX",            143},
    {"OFFSET",           144},
    {"MATCH",            145},
    {"XLOOKUP",          146},
    {"XMATCH",           147},
    {"SUBTOTAL",         148},
    {"AGGREGATE",        149},
    {"CHOOSE",           150},
    {"ROW",              151},
    {"COLUMN",           152},
    {"ROWS",             153},
    {"COLUMNS",          154},
    {"TRANSPOSE",        155},
    // ---- Information
    {"ISBLANK",          156},
    {"ISNUMBER",         157},
    {"ISTEXT",           158},
    {"ISLOGICAL",        159},
    {"ISERROR",          160},
    {"ISERR",            161},
    {"ISNA",             162},
    {"ISEVEN",           163},
    {"ISODD",            164},
    {"NA",               165},
    {"N",                166},
    {"LOOKUP",           167},
    {"INDIRECT",         168},
    {"ADDRESS",          169},
    {"HYPERLINK",        170},
    // ---- Financial and distributions
    {"FV",               171},
    {"PMT",              172},
    {"PV",               173},
    {"NPER",             174},
    {"NPV",              175},
    {"NORM.DIST",        176},
    // ---- Older names of the functions above
    {"COVAR",            39},
    {"PERCENTILE",       43},
    {"QUARTILE",         44},
    {"MODE",             59},
    {"STDEV",            60},
    {"STDEVP",           61},
    {"VAR",              62},
    {"VARP",             63},
    {"RANK",             66},
    {"CONCAT",           101},
    {"NORMDIST",         176},
};
constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);
static_assert(kNameCount == 188);

// The names grouped by byte length, each group in table order, so a lookup
// compares only candidates of its own length and the first match (the lowest
// table row) wins.
struct LengthIndex {
  std::array<uint8_t, kNameCount> order{};
  std::array<uint16_t, kMaxBuiltinNameBytes + 2> first{};  // first[len]..first[len+1]
};

constexpr LengthIndex make_length_index() {
  LengthIndex index;
  size_t next = 0;
  for (size_t len = 0; len <= kMaxBuiltinNameBytes; ++len) {
    index.first[len] = static_cast<uint16_t>(next);
    for (size_t i = 0; i < kNameCount; ++i) {
      if (kNames[i].name.size() == len) index.order[next++] = static_cast<uint8_t>(i);
    }
  }
  index.first[kMaxBuiltinNameBytes + 1] = static_cast<uint16_t>(next);
  return index;
}
constexpr LengthIndex kByLength = make_length_index();
static_assert(kByLength.first[kMaxBuiltinNameBytes + 1] == kNameCount,
              "every name is at most kMaxBuiltinNameBytes long");

constexpr unsigned char ascii_lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

}  // namespace

std::span<const BuiltinName> builtin_names() { return {kNames, kNameCount}; }

std::string_view builtin_primary_name(BuiltinId id) {
  return id < kBuiltinCount ? kNames[id].name : std::string_view();
}

std::optional<std::string_view> strip_prefix_ci(std::string_view text, std::string_view prefix) {
  constexpr size_t kPrefixBytes = 6;
  if (text.size() < kPrefixBytes || prefix.size() < kPrefixBytes) return std::nullopt;
  for (size_t i = 0; i < kPrefixBytes; ++i) {
    if (ascii_lower(static_cast<unsigned char>(text[i])) !=
        ascii_lower(static_cast<unsigned char>(prefix[i]))) {
      return std::nullopt;
    }
  }
  return text.substr(kPrefixBytes);
}

BuiltinId builtin_id_from_name(std::string_view name) {
  if (auto rest = strip_prefix_ci(name, "_xlfn.")) {
    name = *rest;
    if (auto inner = strip_prefix_ci(name, "_xlws.")) name = *inner;
  }
  if (name.empty() || name.size() > kMaxBuiltinNameBytes) return kNotBuiltin;
  char upper[kMaxBuiltinNameBytes];
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    upper[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  const size_t len = name.size();
  for (size_t k = kByLength.first[len]; k < kByLength.first[len + 1]; ++k) {
    const BuiltinName& entry = kNames[kByLength.order[k]];
    if (std::memcmp(entry.name.data(), upper, len) == 0) return entry.id;
  }
  return kNotBuiltin;
}

}  // namespace cmx::formula
