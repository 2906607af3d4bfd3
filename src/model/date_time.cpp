#include "model/date_time.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

namespace cmx::model {

namespace {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

constexpr std::string_view kHashes = "#######";

constexpr std::array<std::string_view, 7> kDayNames = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// 1900-01-01 and 1904-01-01 as days from 1970-01-01.
constexpr int64_t kDays1900 = -25567;
constexpr int64_t kDays1904 = -24107;

// More fraction digits than this would overflow the unit count
// (10^n × 86400 must stay below 2^127).
constexpr int kMaxDateFractionDigits = 33;

Int128 floor_div(Int128 a, Int128 b) {
  Int128 q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

void append_u128(std::string& out, UInt128 value) {
  // Chunks of 19 digits, the most a uint64 holds in full.
  constexpr uint64_t kChunk = 10'000'000'000'000'000'000ULL;
  std::array<uint64_t, 3> chunks{};
  int count = 0;
  do {
    chunks[static_cast<size_t>(count++)] = static_cast<uint64_t>(value % kChunk);
    value /= kChunk;
  } while (value != 0);
  char buffer[24];
  for (int i = count - 1; i >= 0; --i) {
    auto result = std::to_chars(buffer, buffer + sizeof buffer, chunks[static_cast<size_t>(i)]);
    size_t length = static_cast<size_t>(result.ptr - buffer);
    if (i != count - 1) out.append(19 - length, '0');
    out.append(buffer, length);
  }
}

void append_padded(std::string& out, UInt128 value, size_t width) {
  std::string digits;
  append_u128(digits, value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

// The letters of the time tokens in section order: m for MonthOrMinute, h,
// s, and an elapsed token's unit; with the token index of each.
struct TimeLetter {
  char letter;
  size_t token_index;
};

// A MonthOrMinute is a minute when it follows an hour or precedes a second.
std::vector<bool> minute_flags(const FormatSection& section) {
  std::vector<TimeLetter> letters;
  for (size_t i = 0; i < section.tokens.size(); ++i) {
    const FormatToken& token = section.tokens[i];
    switch (token_kind(token)) {
      case FormatTokenKind::MonthOrMinute: letters.push_back({'m', i}); break;
      case FormatTokenKind::Hour: letters.push_back({'h', i}); break;
      case FormatTokenKind::Second: letters.push_back({'s', i}); break;
      case FormatTokenKind::Elapsed:
        letters.push_back({std::get<format_token::Elapsed>(token).unit, i});
        break;
      default: break;
    }
  }
  std::vector<bool> minute(section.tokens.size(), false);
  for (size_t k = 0; k < letters.size(); ++k) {
    if (token_kind(section.tokens[letters[k].token_index]) != FormatTokenKind::MonthOrMinute) continue;
    bool after_hour = k > 0 && letters[k - 1].letter == 'h';
    bool before_second = k + 1 < letters.size() && letters[k + 1].letter == 's';
    minute[letters[k].token_index] = after_hour || before_second;
  }
  return minute;
}

size_t digit_run_after(const std::vector<FormatToken>& tokens, size_t point) {
  size_t end = point + 1;
  while (end < tokens.size() && token_kind(tokens[end]) == FormatTokenKind::Digit) ++end;
  return end - point - 1;
}

// round(seconds × 10^digits), half away from zero, computed from the exact
// binary value of `seconds`: a product formed in double precision loses the
// low digits once it passes 2^53, and with them the carry into the seconds
// (1.5 days under 30 fraction digits would show 59.999… seconds). Absent
// when the exact product does not fit or `seconds` is not finite; `seconds`
// is not negative.
std::optional<Int128> exact_scaled_count(double seconds, int digits) {
  if (!std::isfinite(seconds)) return std::nullopt;
  if (seconds == 0) return Int128{0};
  int binary_exponent = 0;
  const double fraction = std::frexp(seconds, &binary_exponent);
  // seconds = mantissa × 2^shift exactly, the mantissa odd.
  auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  int shift = binary_exponent - 53;
  const int zeros = __builtin_ctzll(mantissa);
  mantissa >>= zeros;
  shift += zeros;
  // × 10^digits = × 5^digits × 2^digits.
  UInt128 product = mantissa;
  for (int i = 0; i < digits; ++i) {
    if (__builtin_mul_overflow(product, UInt128{5}, &product)) return std::nullopt;
  }
  shift += digits;
  constexpr UInt128 kMax = (static_cast<UInt128>(1) << 127) - 1;
  if (shift >= 0) {
    if (shift >= 127 || product > (kMax >> shift)) return std::nullopt;
    return static_cast<Int128>(product << shift);
  }
  const int down = -shift;
  if (down > 128) return Int128{0};
  const UInt128 whole = down == 128 ? 0 : product >> down;
  const bool half_or_more = ((product >> (down - 1)) & 1) != 0;
  if (whole >= kMax) return std::nullopt;
  return static_cast<Int128>(whole + (half_or_more ? 1 : 0));
}

}  // namespace

int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
  Int128 y = static_cast<Int128>(year) - (month <= 2 ? 1 : 0);
  Int128 era = floor_div(y, 400);
  Int128 yoe = y - era * 400;
  Int128 doy = (153 * static_cast<Int128>(month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  Int128 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int64_t>(era * 146097 + doe - 719468);
}

CivilDate civil_from_days(int64_t days) {
  Int128 z = static_cast<Int128>(days) + 719468;
  Int128 era = floor_div(z, 146097);
  Int128 doe = z - era * 146097;
  Int128 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  Int128 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  Int128 mp = (5 * doy + 2) / 153;
  auto day = static_cast<uint8_t>(doy - (153 * mp + 2) / 5 + 1);
  auto month = static_cast<uint8_t>(mp < 10 ? mp + 3 : mp - 9);
  Int128 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<int64_t>(year), month, day};
}

uint8_t weekday_from_days(int64_t days) {
  // 1970-01-01 was a Thursday.
  Int128 r = (static_cast<Int128>(days) + 4) % 7;
  if (r < 0) r += 7;
  return static_cast<uint8_t>(r);
}

std::optional<SerialDate> serial_day_date(int64_t days, DateSystem system) {
  if (days < 0) return std::nullopt;
  int64_t from_1970 = 0;
  switch (system) {
    case DateSystem::V1904:
      from_1970 = kDays1904 + days;
      break;
    case DateSystem::V1900:
      // Day 0 and the leap day 1900 never had keep their places in the count.
      if (days == 0) return SerialDate{{1900, 1, 0}, weekday_from_days(kDays1900 - 1)};
      if (days == 60) return SerialDate{{1900, 2, 29}, weekday_from_days(kDays1900 + 59)};
      from_1970 = kDays1900 + (days > 60 ? days - 1 : days) - 1;
      break;
  }
  return SerialDate{civil_from_days(from_1970), weekday_from_days(from_1970)};
}

std::string render_date_section(const FormatSection& section, double value, DateSystem system) {
  if (!(value >= 0)) return std::string(kHashes);  // negative or NaN
  const auto& tokens = section.tokens;

  size_t fraction_digits = 0;
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (token_kind(tokens[i]) == FormatTokenKind::DecimalPoint) {
      size_t run = digit_run_after(tokens, i);
      if (run > 0) {
        fraction_digits = run;
        break;
      }
    }
  }
  const int n = static_cast<int>(std::min<size_t>(fraction_digits, kMaxDateFractionDigits));
  Int128 scale = 1;
  for (int i = 0; i < n; ++i) scale *= 10;

  // One rounded count of time units: day, time and fraction all come from it,
  // so 23:59:59.9999 carries into the next day instead of showing 24:00.
  // While the double product stays below 2^53 it still holds every unit, and
  // its own rounding is what a reader expects (0.15 s under "ss.0" is 1.5
  // units, hence "00.2", though the double nearest 0.15 lies below it);
  // beyond that the exact product keeps the carries the double would drop.
  std::optional<Int128> count;
  const double seconds = value * 86400.0;
  const double product = std::pow(10.0, n) * seconds;
  constexpr double kTwoTo53 = 9007199254740992.0;
  if (product < kTwoTo53) {
    count = static_cast<Int128>(std::round(product));
  } else {
    count = exact_scaled_count(seconds, n);
  }
  if (!count) {
    const double scaled = std::round(product);
    constexpr double kTwoTo127 = 170141183460469231731687303715884105728.0;
    if (!(scaled < kTwoTo127)) return std::string(kHashes);
    count = static_cast<Int128>(scaled);
  }
  const Int128 total = *count;
  const Int128 unit = scale * 86400;
  const Int128 days = total / unit;
  const Int128 rem = total - days * unit;
  const auto secs = static_cast<int64_t>(rem / scale);
  const Int128 frac = rem - static_cast<Int128>(secs) * scale;
  const Int128 total_secs = total / scale;
  if (days > std::numeric_limits<int64_t>::max()) return std::string(kHashes);
  std::optional<SerialDate> date = serial_day_date(static_cast<int64_t>(days), system);
  if (!date) return std::string(kHashes);

  const bool has_am_pm = section.has(FormatTokenKind::AmPm);
  const int64_t hour24 = secs / 3600;
  const int64_t hour = has_am_pm ? ((hour24 + 11) % 12) + 1 : hour24;
  const int64_t minute = (secs % 3600) / 60;
  const int64_t second = secs % 60;
  const bool before_noon = secs < 43200;
  const std::vector<bool> is_minute = minute_flags(section);

  std::string out;
  auto number = [&out](int64_t v, unsigned width) {
    append_padded(out, static_cast<UInt128>(v), width);
  };
  for (size_t i = 0; i < tokens.size(); ++i) {
    const FormatToken& token = tokens[i];
    switch (token_kind(token)) {
      case FormatTokenKind::Year: {
        uint8_t run = std::get<format_token::Year>(token).run;
        if (run <= 2) {
          number(date->date.year % 100, 2);
        } else {
          number(date->date.year, 4);
        }
        break;
      }
      case FormatTokenKind::MonthOrMinute: {
        uint8_t run = std::get<format_token::MonthOrMinute>(token).run;
        if (is_minute[i]) {
          number(minute, run >= 2 ? 2 : 1);
          break;
        }
        const uint8_t month = date->date.month;
        std::string_view name = kMonthNames[month - 1];
        switch (run) {
          case 1: number(month, 1); break;
          case 2: number(month, 2); break;
          case 3: out += name.substr(0, 3); break;
          case 4: out += name; break;
          default: out += name.substr(0, 1); break;
        }
        break;
      }
      case FormatTokenKind::Day: {
        uint8_t run = std::get<format_token::Day>(token).run;
        std::string_view name = kDayNames[date->weekday];
        switch (run) {
          case 1: number(date->date.day, 1); break;
          case 2: number(date->date.day, 2); break;
          case 3: out += name.substr(0, 3); break;
          default: out += name; break;
        }
        break;
      }
      case FormatTokenKind::Hour:
        number(hour, std::get<format_token::Hour>(token).run >= 2 ? 2 : 1);
        break;
      case FormatTokenKind::Second:
        number(second, std::get<format_token::Second>(token).run >= 2 ? 2 : 1);
        break;
      case FormatTokenKind::Elapsed: {
        const auto& elapsed = std::get<format_token::Elapsed>(token);
        Int128 amount = total_secs;
        if (elapsed.unit == 'h') amount /= 3600;
        if (elapsed.unit == 'm') amount /= 60;
        append_padded(out, static_cast<UInt128>(amount), elapsed.width);
        break;
      }
      case FormatTokenKind::AmPm: {
        const auto& am_pm = std::get<format_token::AmPm>(token);
        out += before_noon ? am_pm.am : am_pm.pm;
        break;
      }
      case FormatTokenKind::DecimalPoint: {
        out += '.';
        size_t run = digit_run_after(tokens, i);
        if (run > 0) {
          std::string digits;
          append_padded(digits, static_cast<UInt128>(frac), static_cast<size_t>(n));
          out.append(digits, 0, std::min(run, static_cast<size_t>(n)));
          i += run;
        }
        break;
      }
      case FormatTokenKind::Comma: out += ','; break;
      case FormatTokenKind::FractionSlash: out += '/'; break;
      case FormatTokenKind::Literal: out += std::get<format_token::Literal>(token).text; break;
      case FormatTokenKind::Padding: out += ' '; break;
      case FormatTokenKind::Digit:
      case FormatTokenKind::Percent:
      case FormatTokenKind::Exponent:
      case FormatTokenKind::TextPlaceholder:
      case FormatTokenKind::GeneralNumber:
      case FormatTokenKind::Repeat:
        break;
    }
  }
  return out;
}

}  // namespace cmx::model
