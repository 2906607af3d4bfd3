// Reading texts as numbers, times and dates; converting and ordering values.
#include "formula/value_coercion.h"

#include <array>
#include <cmath>

#include "base/number_text.h"
#include "base/saturate.h"
#include "base/unicode.h"
#include "formula/eval_context.h"
#include "functions/serial_dates.h"

namespace cmx::formula {
namespace {

using model::CellErrorCode;
using model::CellValue;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool all_ascii_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

bool eq_ascii_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

std::string_view trim_start(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    if (!unicode::is_white_space(unicode::decode_utf8(text, next))) break;
    pos = next;
  }
  return text.substr(pos);
}

std::string_view trim_end(std::string_view text) {
  size_t end = text.size();
  while (end > 0) {
    // Step back to the lead byte of the last character.
    size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    size_t pos = start;
    char32_t cp = unicode::decode_utf8(text, pos);
    if (pos != end) break;  // an ill-formed tail is no white space
    if (!unicode::is_white_space(cp)) break;
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

// The plain decimal grammar: sign, digits with an optional point, exponent.
std::optional<double> read_decimal(std::string_view text) {
  static constexpr FloatSyntax kSyntax{.allow_plus = true, .allow_inf_nan = true,
                                       .allow_bare_point = true, .allow_exponent = true};
  std::optional<ParsedFloat> parsed = parse_float(text, kSyntax);
  if (!parsed || !std::isfinite(parsed->value)) return std::nullopt;
  return parsed->value;
}

std::optional<double> read_digits(std::string_view text) {
  if (!all_ascii_digits(text)) return std::nullopt;
  std::optional<ParsedFloat> parsed = parse_float(text);
  if (!parsed) return std::nullopt;
  return parsed->value;
}

// "W N/D" with the text already trimmed.
std::optional<double> read_mixed_fraction(std::string_view text) {
  size_t space = text.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  std::string_view whole = text.substr(0, space);
  double sign = 1;
  if (!whole.empty() && (whole.front() == '+' || whole.front() == '-')) {
    sign = whole.front() == '-' ? -1 : 1;
    whole.remove_prefix(1);
  }
  std::string_view fraction = trim_start(text.substr(space + 1));
  size_t slash = fraction.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  std::optional<double> w = read_digits(whole);
  std::optional<double> n = read_digits(fraction.substr(0, slash));
  std::optional<double> d = read_digits(fraction.substr(slash + 1));
  if (!w || !n || !d || *d == 0) return std::nullopt;
  double result = sign * (*w + *n / *d);
  if (!std::isfinite(result)) return std::nullopt;
  return result;
}

struct DateTokens {
  std::array<std::string_view, 3> items;
  size_t count = 0;
};

bool push_token(DateTokens& tokens, std::string_view token) {
  if (token.empty()) return true;
  if (tokens.count == tokens.items.size()) return false;  // too many for any date
  tokens.items[tokens.count++] = token;
  return true;
}

// Splits a date text into its tokens; absent when a character may not stand
// in a date or there are more than three tokens.
std::optional<DateTokens> date_tokens(std::string_view text) {
  DateTokens tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    // One word.
    size_t word_start = pos;
    while (pos < text.size()) {
      size_t next = pos;
      if (unicode::is_white_space(unicode::decode_utf8(text, next))) break;
      pos = next;
    }
    std::string_view word = text.substr(word_start, pos - word_start);
    while (pos < text.size()) {
      size_t next = pos;
      if (!unicode::is_white_space(unicode::decode_utf8(text, next))) break;
      pos = next;
    }
    if (word.empty()) continue;
    if (word.find(':') != std::string_view::npos) break;  // a time ends the date
    if (eq_ascii_ci(word, "am") || eq_ascii_ci(word, "pm") || eq_ascii_ci(word, "a.m.") ||
        eq_ascii_ci(word, "p.m.")) {
      continue;
    }
    size_t token_start = 0;
    int token_class = -1;  // -1 none, 0 non-digit, 1 digit
    size_t i = 0;
    while (i < word.size()) {
      size_t at = i;
      char32_t cp = unicode::decode_utf8(word, i);
      if (cp == ',' || cp == '-' || cp == '.' || cp == '/') {
        if (!push_token(tokens, word.substr(token_start, at - token_start))) return std::nullopt;
        token_class = -1;
        token_start = i;
        continue;
      }
      int cls = 0;
      if (cp >= '0' && cp <= '9') {
        cls = 1;
      } else if (!is_ascii_letter(cp) && !unicode::is_alphabetic(cp) && !unicode::is_numeric(cp)) {
        return std::nullopt;
      }
      if (token_class != -1 && cls != token_class) {
        if (!push_token(tokens, word.substr(token_start, at - token_start))) return std::nullopt;
        token_start = at;
      }
      token_class = cls;
    }
    if (!push_token(tokens, word.substr(token_start))) return std::nullopt;
  }
  return tokens;
}

std::optional<int64_t> read_integer(std::string_view token) {
  if (!all_ascii_digits(token)) return std::nullopt;
  return parse_i64(token);
}

std::optional<int64_t> current_year(std::optional<double> now_serial) {
  if (!now_serial || !std::isfinite(*now_serial)) return std::nullopt;
  double day = std::floor(*now_serial);
  if (day < 0) return std::nullopt;
  std::optional<SerialCivil> civil = civil_from_serial(saturate_cast<int64_t>(day));
  if (!civil) return std::nullopt;
  return civil->year;
}

int char_class(char32_t cp) {
  if (cp < 0x80) {
    if (is_ascii_letter(cp)) return 2;
    if (cp >= '0' && cp <= '9') return 1;
    return 0;
  }
  if (unicode::is_alphabetic(cp)) return 2;
  if (unicode::is_numeric(cp)) return 1;
  return 0;
}

}  // namespace

std::optional<double> parse_number_text(std::string_view text) {
  // Trailing percent signs nest: each divides what the rest reads by 100. A
  // text ending in "%" never reads as a plain number, so they are all
  // stripped first.
  text = trim(text);
  int percents = 0;
  std::optional<double> value = read_decimal(text);
  if (!value) {
    while (!text.empty() && text.back() == '%') {
      ++percents;
      text = trim_end(text.substr(0, text.size() - 1));
    }
    if (percents > 0) value = read_decimal(text);
  }
  if (!value) value = read_mixed_fraction(text);
  if (!value) value = parse_time_text(text);
  if (!value) return std::nullopt;
  double result = *value;
  for (int i = 0; i < percents; ++i) result /= 100;
  return result;
}

std::optional<double> parse_time_text(std::string_view text) {
  enum class Half { None, Am, Pm } half = Half::None;
  if (text.size() >= 2) {
    std::string_view tail = text.substr(text.size() - 2);
    if (eq_ascii_ci(tail, "am")) half = Half::Am;
    if (eq_ascii_ci(tail, "pm")) half = Half::Pm;
    if (half != Half::None) text = trim_end(text.substr(0, text.size() - 2));
  }
  std::array<double, 3> parts{0, 0, 0};
  size_t count = 0;
  size_t start = 0;
  while (true) {
    size_t colon = text.find(':', start);
    std::string_view piece = text.substr(start, colon == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : colon - start);
    if (count == parts.size()) return std::nullopt;
    std::optional<double> v = read_decimal(trim(piece));
    if (!v) return std::nullopt;
    parts[count++] = *v;
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (count < 2) return std::nullopt;
  double h = parts[0], m = parts[1], s = parts[2];
  if (!(h >= 0) || std::trunc(h) != h) return std::nullopt;
  if (!(m >= 0 && m < 60) || std::trunc(m) != m) return std::nullopt;
  if (!(s >= 0 && s < 60)) return std::nullopt;
  if (half != Half::None) {
    if (h < 1 || h > 12) return std::nullopt;
    if (half == Half::Pm && h < 12) h += 12;
    if (half == Half::Am && h == 12) h = 0;
  }
  double result = (h * 3600 + m * 60 + s) / 86400;
  if (!std::isfinite(result)) return std::nullopt;
  return result;
}

std::optional<int> month_from_name(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "january", "february", "march",     "april",   "may",      "june",
      "july",    "august",   "september", "october", "november", "december"};
  if (text.size() < 3) return std::nullopt;
  for (size_t m = 0; m < kMonths.size(); ++m) {
    std::string_view name = kMonths[m];
    if (text.size() > name.size()) continue;
    bool match = true;
    for (size_t i = 0; i < text.size() && match; ++i) match = ascii_lower(text[i]) == name[i];
    if (match) return static_cast<int>(m + 1);
  }
  return std::nullopt;
}

std::optional<double> parse_date_text(std::string_view text, std::optional<double> now_serial) {
  std::optional<DateTokens> tokens = date_tokens(text);
  if (!tokens || tokens->count < 2) return std::nullopt;
  const auto& t = tokens->items;
  std::optional<int64_t> year, month, day;
  if (tokens->count == 2) {
    std::string_view other;
    if (auto m = month_from_name(t[0])) {
      month = *m;
      other = t[1];
    } else if (auto m1 = month_from_name(t[1])) {
      month = *m1;
      other = t[0];
    } else {
      month = read_integer(t[0]);
      other = t[1];
    }
    if (auto y = parse_year_token(other)) {
      year = *y;
      day = 1;
    } else {
      day = read_integer(other);
      year = current_year(now_serial);
    }
  } else {
    if (auto m = month_from_name(t[0])) {
      month = *m;
      day = read_integer(t[1]);
      year = expand_year_token(t[2]);
    } else if (auto m1 = month_from_name(t[1])) {
      day = read_integer(t[0]);
      month = *m1;
      year = expand_year_token(t[2]);
    } else if (t[0].size() == 4 && all_ascii_digits(t[0])) {
      year = read_integer(t[0]);
      month = read_integer(t[1]);
      day = read_integer(t[2]);
    } else {
      month = read_integer(t[0]);
      day = read_integer(t[1]);
      year = expand_year_token(t[2]);
    }
  }
  if (!year || !month || !day) return std::nullopt;
  if (*year < 1900 || *year > 9999 || *month < 1 || *month > 12) return std::nullopt;
  if (*year == 1900 && *month == 2 && *day == 29) return 60.0;
  if (*day < 1 || *day > days_in_month(*year, static_cast<int>(*month))) return std::nullopt;
  std::optional<int64_t> serial = serial_from_civil(*year, *month, *day);
  if (!serial) return std::nullopt;
  return static_cast<double>(*serial);
}

Result<double, CellErrorCode> value_to_number(const CellValue& value) {
  switch (value.kind()) {
    case CellValue::Kind::Empty:
      return 0.0;
    case CellValue::Kind::Number:
      if (!std::isfinite(value.as_number())) return unexpected(CellErrorCode::Num);
      return value.as_number();
    case CellValue::Kind::Text:
      if (auto n = parse_number_text(value.as_text())) return *n;
      return unexpected(CellErrorCode::Value);
    case CellValue::Kind::Bool:
      return value.as_bool() ? 1.0 : 0.0;
    case CellValue::Kind::Error:
      return unexpected(value.as_error());
  }
  return unexpected(CellErrorCode::Value);
}

Result<bool, CellErrorCode> value_to_bool(const CellValue& value) {
  switch (value.kind()) {
    case CellValue::Kind::Empty:
      return false;
    case CellValue::Kind::Number:
      return value.as_number() != 0;
    case CellValue::Kind::Text:
      if (eq_ascii_ci(value.as_text(), "TRUE")) return true;
      if (eq_ascii_ci(value.as_text(), "FALSE")) return false;
      return unexpected(CellErrorCode::Value);
    case CellValue::Kind::Bool:
      return value.as_bool();
    case CellValue::Kind::Error:
      return unexpected(value.as_error());
  }
  return unexpected(CellErrorCode::Value);
}

Result<std::string, CellErrorCode> value_to_text(const CellValue& value) {
  switch (value.kind()) {
    case CellValue::Kind::Empty:
      return std::string();
    case CellValue::Kind::Number:
      return number_to_text(value.as_number());
    case CellValue::Kind::Text:
      return std::string(value.as_text());
    case CellValue::Kind::Bool:
      return std::string(value.as_bool() ? "TRUE" : "FALSE");
    case CellValue::Kind::Error:
      return unexpected(value.as_error());
  }
  return unexpected(CellErrorCode::Value);
}

std::string number_to_text(double x) {
  if (x == 0) return "0";
  if (std::fabs(x) < 1e15 && std::trunc(x) == x) return format_i64(static_cast<int64_t>(x));
  return format_positional(x);
}

int compare_text_ci(std::string_view a, std::string_view b) {
  return compare_lowered_text(unicode::to_lower(a), unicode::to_lower(b));
}

int compare_lowered_text(std::string_view la, std::string_view lb) {
  size_t ia = 0, ib = 0;
  while (ia < la.size() && ib < lb.size()) {
    char32_t ca = unicode::decode_utf8(la, ia);
    char32_t cb = unicode::decode_utf8(lb, ib);
    if (ca == cb) continue;
    int class_a = char_class(ca), class_b = char_class(cb);
    if (class_a != class_b) return class_a < class_b ? -1 : 1;
    return ca < cb ? -1 : 1;
  }
  if (ia < la.size()) return 1;
  if (ib < lb.size()) return -1;
  return 0;
}

int compare_values(const CellValue& a, const CellValue& b) {
  using Kind = CellValue::Kind;
  auto rank = [](Kind k) {
    switch (k) {
      case Kind::Empty:
      case Kind::Number:
        return 0;
      case Kind::Text:
        return 1;
      case Kind::Bool:
        return 2;
      case Kind::Error:
        return 3;
    }
    return 3;
  };
  if (a.is_empty() && b.is_empty()) return 0;
  // Empty stands for the zero value of the other side's kind.
  static const CellValue kEmptyText = CellValue::text("");
  static const CellValue kZero = CellValue::number(0);
  static const CellValue kFalse = CellValue::boolean(false);
  auto stand_in = [&](const CellValue& other) -> const CellValue& {
    switch (other.kind()) {
      case Kind::Text:
        return kEmptyText;
      case Kind::Bool:
        return kFalse;
      default:
        return kZero;
    }
  };
  const CellValue& x = a.is_empty() ? stand_in(b) : a;
  const CellValue& y = b.is_empty() ? stand_in(a) : b;
  int rx = rank(x.kind()), ry = rank(y.kind());
  if (rx != ry) return rx < ry ? -1 : 1;
  switch (x.kind()) {
    case Kind::Empty:
      return 0;
    case Kind::Number:
      if (x.as_number() < y.as_number()) return -1;
      return x.as_number() > y.as_number() ? 1 : 0;
    case Kind::Text:
      return compare_text_ci(x.as_text(), y.as_text());
    case Kind::Bool:
      return x.as_bool() == y.as_bool() ? 0 : (x.as_bool() ? 1 : -1);
    case Kind::Error:
      return 0;
  }
  return 0;
}

std::string_view trim_white_space(std::string_view text) { return trim(text); }

bool text_too_long(std::string_view text) {
  // A text of fewer bytes cannot hold that many characters.
  return text.size() >= kMaxTextChars && unicode::count_scalars(text) >= kMaxTextChars;
}

CellValue text_result(std::string_view text, EvalContext& ctx) {
  if (text_too_long(text)) return CellValue::error(CellErrorCode::Value);
  if (!charge_bytes(ctx, text.size())) return CellValue::error(CellErrorCode::Num);
  return CellValue::text(text);
}

CellValue text_within_limit(std::string_view text) {
  if (text_too_long(text)) return CellValue::error(CellErrorCode::Value);
  return CellValue::text(text);
}

ArrayNumberStep next_array_number(ArrayNumberWalk& walk) {
  if (walk.next >= walk.values.size()) return WalkEnd{};
  const CellValue& v = walk.values[walk.next++];
  if (v.is_number()) return v.as_number();
  if (v.is_error()) return v.as_error();
  return NoNumber{};
}

}  // namespace cmx::formula
