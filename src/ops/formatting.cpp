#include "ops/formatting.h"

#include "model/number_format.h"
#include "model/workbook.h"

namespace cmx::ops {

namespace {

using model::BuiltinNumFmt;
using model::CustomPattern;
using model::NumberFormat;

std::string format_code(const NumberFormat& format) {
  if (const auto* custom = std::get_if<CustomPattern>(&format)) return custom->pattern;
  return std::string(model::builtin_format_code(std::get<BuiltinNumFmt>(format).id).value_or("General"));
}

bool is_date_or_time_code(std::string_view code) {
  std::string lower(code);
  for (char& ch : lower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
  }
  return lower.find_first_of("yd") != std::string::npos || lower.find("h:") != std::string::npos ||
         lower.find(":m") != std::string::npos || lower.find(":s") != std::string::npos;
}

bool is_placeholder(char ch) { return ch == '0' || ch == '#' || ch == '?'; }

// The code works byte by byte: every character it looks for or inserts is
// ASCII, and no byte of a multi-byte UTF-8 sequence is.
std::string step_decimals(std::string code, int step) {
  const size_t section_end = std::min(code.find(';'), code.size());
  const size_t point = code.find('.');
  if (point < section_end) {
    if (step > 0) {
      size_t after = point + 1;
      while (after < section_end && is_placeholder(code[after])) ++after;
      code.insert(after, "0");
      return code;
    }
    for (size_t i = section_end; i > point + 1; --i) {
      if (!is_placeholder(code[i - 1])) continue;
      if (i - 1 == point + 1) {
        code.erase(point, 2);
      } else {
        code.erase(i - 1, 1);
      }
      return code;
    }
    return code;
  }
  if (step < 0) return code;
  size_t insert_at = section_end;
  for (size_t i = section_end; i > 0; --i) {
    if (is_placeholder(code[i - 1])) {
      insert_at = i;
      break;
    }
  }
  code.insert(insert_at, ".0");
  return code;
}

bool is_hex_digit(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

}  // namespace

NumberFormat adjust_decimals(const NumberFormat& format, int step) {
  const std::string code = format_code(format);
  if (is_date_or_time_code(code)) return format;
  if (code == "@" || model::eq_ignore_ascii_case(code, "General")) {
    return CustomPattern{step > 0 ? "0.0" : "0"};
  }
  return CustomPattern{step_decimals(code, step)};
}

NumberFormat number_format_for_mutation(const NumberFormatMutation& mutation, const NumberFormat& current) {
  using Kind = NumberFormatMutationKind;
  switch (mutation.kind) {
    case Kind::Automatic:
      return BuiltinNumFmt{0};
    case Kind::PlainText:
      return BuiltinNumFmt{49};
    case Kind::Number:
      return BuiltinNumFmt{4};
    case Kind::Percent:
      return BuiltinNumFmt{10};
    case Kind::Scientific:
      return BuiltinNumFmt{11};
    case Kind::Currency:
      return CustomPattern{"$#,##0.00"};
    case Kind::Date:
      return BuiltinNumFmt{14};
    case Kind::Time:
      return BuiltinNumFmt{20};
    case Kind::Custom:
      return CustomPattern{mutation.pattern};
    case Kind::IncreaseDecimal:
      return adjust_decimals(current, +1);
    case Kind::DecreaseDecimal:
      return adjust_decimals(current, -1);
  }
  return current;
}

Result<std::string, OpsError> parse_hex_color(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '#') digits.remove_prefix(1);
  bool valid = digits.size() == 6;
  for (char ch : digits) valid = valid && is_hex_digit(ch);
  if (!valid) return unexpected(OpsError::invalid_style("invalid color " + std::string(text) + "; expected #rrggbb"));
  std::string out = "#";
  for (char ch : digits) out += (ch >= 'A' && ch <= 'F') ? static_cast<char>(ch + 32) : ch;
  return out;
}

}  // namespace cmx::ops
