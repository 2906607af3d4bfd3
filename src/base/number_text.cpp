#include "base/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace cmx {

ShortestDigits shortest_digits(double value) {
  ShortestDigits out;
  out.negative = std::signbit(value);
  if (value == 0.0) {
    out.digits.assign(1, '0');
    out.point = 1;
    return out;
  }
  // Scientific shortest form: d[.ddd]e±xx. The fixed form of libstdc++ is not
  // shortest for large values (1e23 prints 99999999999999991611392).
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                              std::chars_format::scientific);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  size_t e = text.find('e');
  std::string_view mantissa = text.substr(0, e);
  int exponent = 0;
  std::string_view exp_text = text.substr(e + 1);
  bool exp_negative = exp_text.front() == '-';
  exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  if (exp_negative) exponent = -exponent;
  for (char c : mantissa) {
    if (c != '.') out.digits.push_back(c);
  }
  while (out.digits.size() > 1 && out.digits.back() == '0') out.digits.pop_back();
  out.point = exponent + 1;
  return out;
}

std::string format_positional(double value) {
  ShortestDigits d = shortest_digits(value);
  std::string out;
  if (d.negative) out.push_back('-');
  int n = static_cast<int>(d.digits.size());
  if (d.point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-d.point), '0');
    out += d.digits;
  } else if (d.point >= n) {
    out += d.digits;
    out.append(static_cast<size_t>(d.point - n), '0');
  } else {
    out.append(d.digits, 0, static_cast<size_t>(d.point));
    out.push_back('.');
    out.append(d.digits, static_cast<size_t>(d.point));
  }
  return out;
}

std::string format_shortest(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string format_u64(uint64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string format_i64(int64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ascii_ci(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lower_word[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<ParsedFloat> parse_float(std::string_view text, const FloatSyntax& syntax) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || (syntax.allow_plus && text[pos] == '+'))) {
    negative = text[pos] == '-';
    ++pos;
  }
  std::string_view body = text.substr(pos);
  if (syntax.allow_inf_nan) {
    if (equals_ascii_ci(body, "inf") || equals_ascii_ci(body, "infinity")) {
      return ParsedFloat{negative ? -HUGE_VAL : HUGE_VAL, FloatRange::InRange};
    }
    if (equals_ascii_ci(body, "nan")) {
      return ParsedFloat{negative ? -std::nan("") : std::nan(""), FloatRange::InRange};
    }
  }
  // Validate the grammar ourselves: from_chars also takes "inf" and "nan(…)".
  size_t int_start = pos;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  size_t int_digits = pos - int_start;
  size_t frac_digits = 0;
  bool has_point = false;
  if (pos < text.size() && text[pos] == '.') {
    has_point = true;
    ++pos;
    size_t frac_start = pos;
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    frac_digits = pos - frac_start;
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  if (has_point && !syntax.allow_bare_point && (int_digits == 0 || frac_digits == 0)) {
    return std::nullopt;
  }
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    if (!syntax.allow_exponent) return std::nullopt;
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    size_t exp_start = pos;
    while (pos < text.size() && is_digit(text[pos])) ++pos;
    if (pos == exp_start) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;

  std::string_view number = text.substr(int_start);
  double magnitude = 0.0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), magnitude,
                                std::chars_format::general);
  ParsedFloat out;
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range either way: decide by the decimal exponent of the first
    // non-zero digit.
    long long first_nonzero = 0;
    bool seen = false;
    long long position = 0;  // exponent of the digit just before the point
    size_t i = 0;
    long long digits_before_point = static_cast<long long>(int_digits);
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
      if (number[i] == '.') continue;
      if (number[i] != '0' && !seen) {
        seen = true;
        first_nonzero = digits_before_point - 1 - position;
      }
      ++position;
    }
    long long exponent = 0;
    if (i < number.size()) {
      std::string_view exp_text = number.substr(i + 1);
      bool exp_negative = !exp_text.empty() && exp_text.front() == '-';
      if (!exp_text.empty() && (exp_text.front() == '-' || exp_text.front() == '+')) {
        exp_text.remove_prefix(1);
      }
      for (char c : exp_text) {
        if (exponent < 1000000000) exponent = exponent * 10 + (c - '0');
      }
      if (exp_negative) exponent = -exponent;
    }
    if (!seen || first_nonzero + exponent < 0) {
      out.value = 0.0;
      out.range = FloatRange::Underflow;
    } else {
      out.value = HUGE_VAL;
      out.range = FloatRange::Overflow;
    }
  } else if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
    return std::nullopt;
  } else {
    out.value = magnitude;
  }
  if (negative) out.value = -out.value;
  return out;
}

std::optional<uint64_t> parse_u64(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
  }
  uint64_t value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int64_t> parse_i64(std::string_view text, bool allow_plus) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '-' || (allow_plus && digits.front() == '+'))) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (!is_digit(c)) return std::nullopt;
  }
  uint64_t magnitude = 0;
  auto result = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) return std::nullopt;
  if (negative) {
    if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return std::nullopt;
    return static_cast<int64_t>(0 - magnitude);
  }
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

}  // namespace cmx
