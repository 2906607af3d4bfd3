// The closed table of built-in function names and their 8-bit ids. A call is
// resolved once, at parse time; evaluation dispatches on the id alone.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace cmx::formula {

// 0..176 name a built-in function; kNotBuiltin marks every other name.
using BuiltinId = uint8_t;
inline constexpr BuiltinId kNotBuiltin = 255;
inline constexpr int kBuiltinCount = 177;
// Longest accepted name after the prefixes are removed (NETWORKDAYS.INTL).
inline constexpr size_t kMaxBuiltinNameBytes = 16;

// The ids by name, in table order, for dispatch tables and tests:
// static_cast<BuiltinId>(Builtin::VLookup) == 141.
enum class Builtin : BuiltinId {
  Sum = 0, SumIf, SumIfs, SumProduct, MMult, Product, Abs, Sign, Round, RoundUp, RoundDown,
  MRound, Quotient, SeriesSum, Ceiling, Floor, Int, Trunc, Mod, Power, Sqrt, Exp, Ln, Log, Log10,
  Pi, Tanh, Sin, Cos, Tan, Sinh, Cosh, Asin, Acos, Atan, Atan2, Degrees, Radians, Correl,
  CovarianceP, CovarianceS, Slope, Intercept, PercentileInc, QuartileInc, RandBetween, Average,
  Count, CountA, CountBlank, CountIf, CountIfs, AverageIf, AverageIfs, MaxIfs, MinIfs, Min, Max,
  Median, ModeSngl, StdevS, StdevP, VarS, VarP, Large, Small, RankEq, AverageA, MaxA, MinA,
  StdevA, GeoMean, HarMean, AveDev, DevSq, Skew, Kurt, TrimMean, SumSq, Len, Left, Right, Mid,
  Find, Search, Substitute, Replace, Trim, Upper, Lower, Proper, Clean, Rept, Exact, T, Char,
  Code, Value, NumberValue, Text, TextJoin, Concatenate, Date, Year, Month, Day, Weekday,
  WeekNum, IsoWeekNum, TextBefore, TextAfter, EDate, EoMonth, Today, Now, Hour, Minute, Second,
  Time, DateDif, DateValue, Days, TimeValue, YearFrac, WorkdayIntl, Convert, FormulaText,
  NetworkDays, NetworkDaysIntl, Workday, If, IfError, IfNa, Ifs, Switch, And, Or, Not, Xor, True,
  False, VLookup, HLookup, Index, Offset, Match, XLookup, XMatch, Subtotal, Aggregate, Choose,
  Row, Column, Rows, Columns, Transpose, IsBlank, IsNumber, IsText, IsLogical, IsError, IsErr,
  IsNa, IsEven, IsOdd, Na, N, Lookup, Indirect, Address, Hyperlink, Fv, Pmt, Pv, NPer, Npv,
  NormDist,
};
static_assert(static_cast<int>(Builtin::NormDist) + 1 == kBuiltinCount);

struct BuiltinName {
  std::string_view name;  // upper-case ASCII
  BuiltinId id;
};

// Every accepted name: the 177 primary names in id order, then the eleven
// older aliases, each pointing at the id of its modern name.
std::span<const BuiltinName> builtin_names();

// The primary (modern) name of an id below kBuiltinCount; empty otherwise.
std::string_view builtin_primary_name(BuiltinId id);

// The rest of `text` after a 6-byte `prefix` compared ASCII case-insensitively;
// absent when `text` is shorter or differs. Only prefix[0..6) is compared.
std::optional<std::string_view> strip_prefix_ci(std::string_view text, std::string_view prefix);

// The id of a call name as written: "_xlfn." and then (only after it)
// "_xlws." are removed, a..z upper-cased, and the rest looked up exactly.
// Empty or over-long rests and unknown names give kNotBuiltin. Allocates nothing.
BuiltinId builtin_id_from_name(std::string_view name);

}  // namespace cmx::formula
