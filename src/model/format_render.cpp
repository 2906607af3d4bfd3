#include "model/format_render.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/saturate.h"
#include "model/date_time.h"
#include "model/number_format.h"

namespace cmx::model {

namespace {

// Exact decimal expansion of `value` with `precision` decimals, rounded
// correctly; locale-free. The largest double has 309 integer digits.
std::string fixed_text(double value, int precision) {
  std::array<char, 512> buffer;
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                              std::chars_format::fixed, precision);
  if (result.ec == std::errc()) return std::string(buffer.data(), result.ptr);
  std::string big(static_cast<size_t>(precision) + 400, '\0');
  result = std::to_chars(big.data(), big.data() + big.size(), value, std::chars_format::fixed, precision);
  big.resize(static_cast<size_t>(result.ptr - big.data()));
  return big;
}

void trim_fraction_zeros(std::string& text) {
  if (text.find('.') == std::string::npos) return;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
}

// value / 10^exponent, in steps where 10^exponent alone would underflow, so
// that subnormal values keep their digits.
double div_pow10(double value, int64_t exponent) {
  while (exponent < -300 && std::isfinite(value)) {
    value *= 1e300;
    exponent += 300;
  }
  return value / std::pow(10.0, static_cast<double>(exponent));
}

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

struct RoundedDigits {
  std::string integer;   // no leading zeros: zero has no integer digits
  std::string fraction;  // exactly nf digits
};

// w × 10^nf rounded half away from zero, split into integer and fraction
// digits. Absent when the product is not finite.
std::optional<RoundedDigits> split_rounded_digits(double w, size_t nf) {
  std::string digits = "0";
  if (w != 0) {
    double x = std::round(w * std::pow(10.0, static_cast<double>(nf)));
    if (!std::isfinite(x)) return std::nullopt;
    digits = fixed_text(x, 0);
  }
  if (digits.size() <= nf) digits.insert(0, nf + 1 - digits.size(), '0');
  RoundedDigits out;
  out.fraction = digits.substr(digits.size() - nf);
  std::string_view integer(digits.data(), digits.size() - nf);
  size_t first = integer.find_first_not_of('0');
  if (first != std::string_view::npos) out.integer = integer.substr(first);
  return out;
}

std::string group_thousands(const std::string& text) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return text;
  std::string out = text.substr(0, start);
  const size_t length = text.size() - start;
  for (size_t i = 0; i < length; ++i) {
    if (i != 0 && (length - i) % 3 == 0) out += ',';
    out += text[start + i];
  }
  return out;
}

std::string fill_integer_placeholders(const std::string& digits, const std::vector<char>& placeholders,
                                      bool grouping) {
  std::string out;
  if (placeholders.empty()) {
    out = digits;
  } else {
    const size_t count = placeholders.size();
    const size_t surplus = digits.size() > count ? digits.size() - count : 0;
    // Placeholder j takes digit j - (count - size); the first one also takes
    // every surplus digit.
    for (size_t j = 0; j < count; ++j) {
      if (j + digits.size() >= count) {
        size_t index = j + digits.size() - count;
        if (j == 0) {
          out.append(digits, 0, surplus + 1);
        } else {
          out += digits[index];
        }
      } else {
        switch (placeholders[j]) {
          case '0': out += '0'; break;
          case '?': out += ' '; break;
          default: break;
        }
      }
    }
  }
  return grouping ? group_thousands(out) : out;
}

std::string fill_fraction_placeholders(const std::string& digits, const std::vector<char>& placeholders) {
  // A digit shows while anything to its right still shows: trailing zeros
  // vanish under '#', turn into spaces under '?', and stay under '0'.
  const size_t count = placeholders.size();
  std::vector<bool> shown(count, false);
  bool significant = false;
  for (size_t j = count; j-- > 0;) {
    significant = significant || digits[j] != '0' || placeholders[j] == '0';
    shown[j] = significant;
  }
  std::string out;
  for (size_t j = 0; j < count; ++j) {
    if (shown[j]) {
      out += digits[j];
    } else if (placeholders[j] == '?') {
      out += ' ';
    }
  }
  return out;
}

std::vector<char> digit_placeholders(const std::vector<FormatToken>& tokens, size_t begin, size_t end) {
  std::vector<char> out;
  for (size_t i = begin; i < end; ++i) {
    if (auto* digit = std::get_if<format_token::Digit>(&tokens[i])) out.push_back(digit->placeholder);
  }
  return out;
}

size_t find_kind(const std::vector<FormatToken>& tokens, FormatTokenKind kind, size_t end) {
  for (size_t i = 0; i < end; ++i) {
    if (token_kind(tokens[i]) == kind) return i;
  }
  return std::string::npos;
}

size_t count_kind(const std::vector<FormatToken>& tokens, FormatTokenKind kind) {
  return static_cast<size_t>(std::count_if(tokens.begin(), tokens.end(),
                                           [kind](const FormatToken& t) { return token_kind(t) == kind; }));
}

double apply_percent(double w, size_t percents) {
  for (size_t i = 0; i < percents && std::isfinite(w); ++i) w *= 100;
  return w;
}

std::string render_placeholders(const FormatSection& section, double a) {
  const auto& tokens = section.tokens;
  const size_t point = find_kind(tokens, FormatTokenKind::DecimalPoint, tokens.size());
  const size_t int_end = point == std::string::npos ? tokens.size() : point;
  const std::vector<char> int_placeholders = digit_placeholders(tokens, 0, int_end);
  const std::vector<char> frac_placeholders =
      point == std::string::npos ? std::vector<char>{} : digit_placeholders(tokens, point + 1, tokens.size());

  // A comma between digits groups thousands; after the last digit it divides
  // by a thousand.
  size_t first_digit = std::string::npos;
  size_t last_digit = std::string::npos;
  for (size_t i = 0; i < int_end; ++i) {
    if (token_kind(tokens[i]) == FormatTokenKind::Digit) {
      if (first_digit == std::string::npos) first_digit = i;
      last_digit = i;
    }
  }
  bool grouping = false;
  size_t scaling = 0;
  for (size_t i = 0; i < int_end; ++i) {
    if (token_kind(tokens[i]) != FormatTokenKind::Comma) continue;
    if (first_digit == std::string::npos || first_digit > i) continue;
    if (last_digit > i) {
      grouping = true;
    } else {
      ++scaling;
    }
  }
  double w = apply_percent(a, count_kind(tokens, FormatTokenKind::Percent));
  for (size_t i = 0; i < scaling && w != 0; ++i) w /= 1000;

  // A value whose digits are not finite ("NaN", "INF") shows its General
  // text in place of the digits, between the section's literals.
  std::string int_text = format_general(a);
  std::string frac_text;
  if (std::optional<RoundedDigits> digits = split_rounded_digits(w, frac_placeholders.size())) {
    int_text = fill_integer_placeholders(digits->integer, int_placeholders, grouping);
    frac_text = fill_fraction_placeholders(digits->fraction, frac_placeholders);
  }

  std::string out;
  bool integer_given = false;
  bool point_given = false;
  for (const FormatToken& token : tokens) {
    switch (token_kind(token)) {
      case FormatTokenKind::Digit:
        if (!integer_given && !point_given) {
          out += int_text;
          integer_given = true;
        }
        break;
      case FormatTokenKind::DecimalPoint:
        // Only the first point: a second one would print the fraction twice.
        if (point_given) break;
        point_given = true;
        if (!integer_given) {
          out += int_text;
          integer_given = true;
        }
        if (!frac_text.empty()) {
          out += '.';
          out += frac_text;
        }
        break;
      case FormatTokenKind::Percent: out += '%'; break;
      case FormatTokenKind::TextPlaceholder: out += format_general(a); break;
      case FormatTokenKind::Literal: out += std::get<format_token::Literal>(token).text; break;
      case FormatTokenKind::Padding: out += ' '; break;
      default: break;
    }
  }
  return out;
}

std::string render_scientific(const FormatSection& section, double a) {
  const auto& tokens = section.tokens;
  const size_t p = find_kind(tokens, FormatTokenKind::Exponent, tokens.size());
  const size_t point = find_kind(tokens, FormatTokenKind::DecimalPoint, p);
  const std::vector<char> int_placeholders =
      digit_placeholders(tokens, 0, point == std::string::npos ? p : point);
  const std::vector<char> frac_placeholders =
      point == std::string::npos ? std::vector<char>{} : digit_placeholders(tokens, point + 1, p);
  const int64_t k = std::max<int64_t>(1, static_cast<int64_t>(int_placeholders.size()));

  const double w = apply_percent(a, count_kind(tokens, FormatTokenKind::Percent));
  int64_t e = 0;
  double m = 0;
  if (w != 0) {
    e = saturate_cast<int32_t>(std::floor(std::log10(w)));
    e = k * floor_div(e, k);
    m = div_pow10(w, e);
  }
  std::optional<RoundedDigits> digits = split_rounded_digits(m, frac_placeholders.size());
  if (!digits) return format_general(a);
  // 9.996 under two decimals rounds to 10.00: carry into the exponent.
  if (w != 0 && static_cast<int64_t>(digits->integer.size()) > k) {
    e += k;
    m = div_pow10(w, e);
    digits = split_rounded_digits(m, frac_placeholders.size());
    if (!digits) return format_general(a);
  }
  std::string mantissa = fill_integer_placeholders(digits->integer, int_placeholders, /*grouping=*/false);
  const std::string frac_text = fill_fraction_placeholders(digits->fraction, frac_placeholders);
  if (!frac_text.empty()) {
    mantissa += '.';
    mantissa += frac_text;
  }

  std::string out;
  for (const FormatToken& token : tokens) {
    const FormatTokenKind kind = token_kind(token);
    if (kind == FormatTokenKind::Digit || kind == FormatTokenKind::DecimalPoint) break;
    if (kind == FormatTokenKind::Literal) out += std::get<format_token::Literal>(token).text;
  }
  out += mantissa;
  out += 'E';
  if (e < 0) {
    out += '-';
  } else if (std::get<format_token::Exponent>(tokens[p]).plus) {
    out += '+';
  }
  size_t width = 0;
  for (size_t i = p + 1; i < tokens.size(); ++i) {
    auto* digit = std::get_if<format_token::Digit>(&tokens[i]);
    if (digit != nullptr && digit->placeholder == '0') ++width;
  }
  const std::string exponent_digits = fixed_text(static_cast<double>(e < 0 ? -e : e), 0);
  if (exponent_digits.size() < width) out.append(width - exponent_digits.size(), '0');
  out += exponent_digits;
  for (size_t i = p + 1; i < tokens.size(); ++i) {
    if (auto* literal = std::get_if<format_token::Literal>(&tokens[i])) out += literal->text;
  }
  return out;
}

std::string render_number_section(const FormatSection& section, double a) {
  const auto& tokens = section.tokens;
  if (section.has(FormatTokenKind::GeneralNumber)) {
    std::string out;
    for (const FormatToken& token : tokens) {
      switch (token_kind(token)) {
        case FormatTokenKind::GeneralNumber: out += format_general(a); break;
        case FormatTokenKind::Literal: out += std::get<format_token::Literal>(token).text; break;
        case FormatTokenKind::Padding: out += ' '; break;
        default: break;
      }
    }
    return out;
  }
  // Fractions are shown as decimals.
  if (section.has(FormatTokenKind::FractionSlash)) return format_general(a);
  if (section.has(FormatTokenKind::Exponent)) return render_scientific(section, a);
  if (!section.has(FormatTokenKind::Digit) && !section.has(FormatTokenKind::TextPlaceholder)) {
    std::string out;
    for (const FormatToken& token : tokens) {
      if (auto* literal = std::get_if<format_token::Literal>(&token)) {
        out += literal->text;
      } else if (token_kind(token) == FormatTokenKind::Padding) {
        out += ' ';
      }
    }
    return out;
  }
  return render_placeholders(section, a);
}

FormattedText format_text_value(std::string_view text, std::string_view code) {
  const ParsedNumberFormat format = parse_format_cached(code);
  const size_t count = format.section_count();
  std::optional<size_t> chosen;
  if (count == 4) {
    chosen = 3;
  } else {
    for (size_t i = 0; i < std::min<size_t>(count, 3) && !chosen; ++i) {
      if (format.section(i).has(FormatTokenKind::TextPlaceholder)) chosen = i;
    }
  }
  if (!chosen) return {std::string(text), std::nullopt};
  const FormatSection& section = format.section(*chosen);
  FormattedText out{std::string(), section.color};
  for (const FormatToken& token : section.tokens) {
    switch (token_kind(token)) {
      case FormatTokenKind::TextPlaceholder: out.text += text; break;
      case FormatTokenKind::Literal: out.text += std::get<format_token::Literal>(token).text; break;
      case FormatTokenKind::Padding: out.text += ' '; break;
      default: break;
    }
  }
  return out;
}

}  // namespace

std::string format_general(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  const double a = std::fabs(value);
  int64_t e = saturate_cast<int32_t>(std::floor(std::log10(a)));
  std::string out = value < 0 ? "-" : "";
  if (e >= -4 && e <= 10) {
    const int p = static_cast<int>(10 - e);
    const double power = std::pow(10.0, p);
    std::string text = fixed_text(std::round(a * power) / power, p);
    trim_fraction_zeros(text);
    return out + text;
  }
  double m = std::round(div_pow10(a, e) * 100000) / 100000;
  if (m >= 10) {
    m = 1;
    ++e;
  }
  std::string text = fixed_text(m, 5);
  trim_fraction_zeros(text);
  out += text;
  out += e < 0 ? "E-" : "E+";
  const int64_t magnitude = e < 0 ? -e : e;
  if (magnitude < 10) out += '0';
  out += fixed_text(static_cast<double>(magnitude), 0);
  return out;
}

FormattedText format_value(std::string_view code, DateSystem system, double value) {
  std::string_view trimmed = trim_unicode_white_space(code);
  if (trimmed.empty() || eq_ignore_ascii_case(trimmed, "general")) {
    return {format_general(value), std::nullopt};
  }
  const ParsedNumberFormat format = parse_format_cached(code);
  const SectionChoice choice = select_format_section(format, value);
  const FormatSection& section = format.section(choice.index);
  FormattedText out{std::string(), section.color};
  if (section.has_date_token()) {
    out.text = render_date_section(section, value, system);
    return out;
  }
  out.text = render_number_section(section, std::fabs(value));
  if (choice.minus) out.text.insert(out.text.begin(), '-');
  return out;
}

FormattedText format_cell_value(const CellValue& value, std::string_view code, DateSystem system) {
  switch (value.kind()) {
    case CellValue::Kind::Empty: return {};
    case CellValue::Kind::Number: return format_value(code, system, value.as_number());
    case CellValue::Kind::Text: return format_text_value(value.as_text(), code);
    case CellValue::Kind::Bool: return {value.as_bool() ? "TRUE" : "FALSE", std::nullopt};
    case CellValue::Kind::Error: return {std::string(error_code_text(value.as_error())), std::nullopt};
  }
  return {};
}

}  // namespace cmx::model
