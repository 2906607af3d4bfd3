// Number text without the process locale: the shortest round-trip digits of a
// double, on which every output layout builds, and strict float reading.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cmx {

// value = (negative ? -1 : 1) × 0.d1d2…dn × 10^point, with digits "d1…dn"
// the shortest that read back as the same double. Zero is digits "0" with
// point 1. Not for NaN or infinities.
struct ShortestDigits {
  bool negative = false;
  std::string digits;
  int point = 0;
};
ShortestDigits shortest_digits(double value);

// Shortest digits laid out without an exponent ("100000000000000000000000",
// "0.000001", "-12.5"); -0.0 prints "-0". Not for NaN or infinities.
std::string format_positional(double value);
// Shortest digits in the layout of std::to_chars' shortest form ("1e+23").
std::string format_shortest(double value);

std::string format_u64(uint64_t value);
std::string format_i64(int64_t value);

enum class FloatRange : uint8_t {
  InRange,    // the value read is finite and as close as a double gets
  Overflow,   // the magnitude exceeds the largest double: value is ±inf
  Underflow,  // a non-zero text below the smallest subnormal: value is ±0.0
};

struct ParsedFloat {
  double value = 0.0;
  FloatRange range = FloatRange::InRange;
};

// What a decimal reader accepts besides [-]digits[.digits][e[±]digits].
struct FloatSyntax {
  bool allow_plus = false;        // a leading "+"
  bool allow_inf_nan = false;     // "inf", "infinity", "nan", any ASCII case, after the sign
  bool allow_bare_point = true;   // ".5" and "5."
  bool allow_exponent = true;     // "1e5"
};

// Reads the whole text as a decimal number; absent when the text is not in the
// grammar (empty, spaces, a second point, trailing bytes).
std::optional<ParsedFloat> parse_float(std::string_view text, const FloatSyntax& syntax = {});

// Reads the whole text as ASCII decimal digits with an optional leading "-"
// (and "+" when allowed); absent on any other byte or on overflow.
std::optional<uint64_t> parse_u64(std::string_view text);
std::optional<int64_t> parse_i64(std::string_view text, bool allow_plus = false);

}  // namespace cmx
