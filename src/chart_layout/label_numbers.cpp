#include "chart_layout/label_numbers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

#include "opc/part_names.h"


namespace cmx::chart_layout {

namespace {

bool is_placeholder_mark(char c) { return c == '#' || c == '%' || c == ',' || c == '.' || c == '0' || c == '?'; }

std::vector<std::string_view> split_sections(std::string_view code) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == '\\' || c == '_' || c == '*')) {
      ++i;
    } else if (!quoted && c == ';') {
      sections.push_back(code.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(code.substr(std::min(start, code.size())));
  return sections;
}

bool starts_with_folded(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && opc::ascii_lowered(text.substr(0, prefix.size())) == prefix;
}

// Drops colour brackets and keeps a currency bracket's symbol as literal
// characters; none for any other bracket.
std::optional<std::string> resolve_brackets(std::string_view section) {
  static constexpr std::array<std::string_view, 8> kColours = {"black", "blue",  "cyan",  "green",
                                                               "magenta", "red", "white", "yellow"};
  std::string out;
  size_t pos = 0;
  while (pos < section.size()) {
    const size_t open = section.find('[', pos);
    if (open == std::string_view::npos) {
      out += section.substr(pos);
      break;
    }
    out += section.substr(pos, open - pos);
    const size_t close = section.find(']', open);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view content = section.substr(open + 1, close - open - 1);
    if (!content.empty() && content.front() == '$') {
      const std::string_view symbol = content.substr(1, content.find('-') == std::string_view::npos
                                                            ? std::string_view::npos
                                                            : content.find('-') - 1);
      for (char c : symbol) {
        out += '\\';
        out += c;
      }
    } else if (std::find(kColours.begin(), kColours.end(), opc::ascii_lowered(content)) == kColours.end() &&
               !starts_with_folded(content, "color")) {
      return std::nullopt;
    }
    pos = close + 1;
  }
  return out;
}

bool is_date_time_or_scientific(std::string_view section) {
  for (char c : section) {
    if (c == 'E' || c == 'e' || c == 'd' || c == 'h' || c == 's' || c == 'y') return true;
  }
  return section.find("m/") != std::string_view::npos;
}

// "#", "0", "?" and the first "." in order, outside quotes and escapes.
std::string collect_placeholders(std::string_view section) {
  std::string out;
  bool point = false;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"') {
      const size_t end = section.find('"', i + 1);
      if (end == std::string_view::npos) break;
      i = end;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == '#' || c == '0' || c == '?') {
      out += c;
    } else if (c == '.' && !point) {
      point = true;
      out += c;
    }
  }
  return out;
}

std::string format_numeric_section(double value, std::string_view section, bool signed_out) {
  const std::string placeholders = collect_placeholders(section);
  const size_t point = placeholders.find('.');
  const std::string_view before = std::string_view(placeholders).substr(0, point);
  const std::string_view after =
      point == std::string::npos ? std::string_view() : std::string_view(placeholders).substr(point + 1);
  const int d = static_cast<int>(std::min<size_t>(after.size(), 9));
  const bool percent = section.find('%') != std::string_view::npos;
  const double v = percent ? value * 100 : value;

  const double scaled = std::round(std::fabs(v) * std::pow(10.0, d));
  char buffer[400];
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, scaled, std::chars_format::fixed, 0);
  std::string digits(buffer, done.ptr);
  if (digits.size() <= static_cast<size_t>(d)) digits.insert(0, static_cast<size_t>(d) + 1 - digits.size(), '0');
  std::string integer = digits.substr(0, digits.size() - static_cast<size_t>(d));
  std::string fraction = digits.substr(digits.size() - static_cast<size_t>(d));

  const size_t zeros = static_cast<size_t>(std::count(before.begin(), before.end(), '0'));
  if (zeros == 0 && integer == "0") integer.clear();
  if (integer.size() < zeros) integer.insert(0, zeros - integer.size(), '0');
  for (size_t k = fraction.size(); k > 0 && fraction[k - 1] == '0'; --k) {
    const char mark = after[k - 1];
    if (mark == '?') {
      fraction[k - 1] = ' ';
    } else if (mark == '#') {
      fraction.erase(k - 1, 1);
    } else {
      break;
    }
  }
  std::string number = integer;
  if (point != std::string::npos) number += "." + fraction;
  if (section.find(',') != std::string_view::npos) number = group_thousands(number);

  const auto [literal_before, literal_after] = split_format_literals(section);
  std::string out;
  if (signed_out && number.find_first_not_of("0.,") != std::string::npos) out += '-';
  out += literal_before + number + literal_after;
  if (percent) out += '%';
  return out;
}

}  // namespace

std::string format_percent_label(double value) {
  double p = value * 100;
  const double nearest = std::round(p);
  if (std::fabs(p - nearest) <= 1e-6) p = nearest;
  return format_label_number(p) + "%";
}

std::string tick_label_text(double value, const std::optional<std::string>& code, bool percent) {
  if (code) {
    if (std::optional<std::string> text = format_chart_number(value, *code)) return *text;
  }
  return percent ? format_percent_label(value) : format_label_number(value);
}

std::optional<std::string> format_chart_number(double value, std::string_view code) {
  if (!std::isfinite(value) || code.empty()) return std::nullopt;
  const std::vector<std::string_view> sections = split_sections(code);
  std::string_view chosen = sections[0];
  if (sections.size() >= 2) {
    if (value < 0) {
      chosen = sections[1];
    } else if (value == 0 && sections.size() >= 3) {
      chosen = sections[2];
    }
  }
  const bool signed_out = value < 0 && sections.size() == 1;
  if (opc::ascii_lowered(chosen) == "general") return format_label_number(value);
  const std::optional<std::string> section = resolve_brackets(chosen);
  if (!section || is_date_time_or_scientific(*section)) return std::nullopt;
  const std::string placeholders = collect_placeholders(*section);
  if (placeholders.find_first_of("#0?") != std::string::npos) {
    return format_numeric_section(sections.size() >= 2 ? std::fabs(value) : value, *section, signed_out);
  }
  return split_format_literals(*section).first;
}

std::pair<std::string, std::string> split_format_literals(std::string_view section) {
  std::string before;
  std::string after;
  bool past = false;
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    std::string& out = past ? after : before;
    if (c == '"') {
      const size_t end = section.find('"', i + 1);
      const size_t stop = end == std::string_view::npos ? section.size() : end;
      out += section.substr(i + 1, stop - i - 1);
      i = stop;
    } else if (is_placeholder_mark(c)) {
      past = true;
    } else if (c == '*' || c == '_') {
      ++i;
    } else if (c == '\\') {
      if (i + 1 < section.size()) out += section[++i];
    } else {
      out += c;
    }
  }
  return {before, after};
}

std::string group_thousands(std::string_view number) {
  const size_t point = std::min(number.find('.'), number.size());
  std::string out;
  for (size_t i = 0; i < point; ++i) {
    if (i > 0 && (point - i) % 3 == 0) out += ',';
    out += number[i];
  }
  out += number.substr(point);
  return out;
}

std::string label_field_text(std::string_view field_type, std::span<const SeriesView> views, const SeriesView& series,
                             uint64_t i, double total, const std::optional<std::string>& code) {
  const double v = point_value(series, i).value_or(0);
  if (field_type == "VALUE") {
    if (code) {
      if (auto text = format_chart_number(v, *code)) return *text;
    }
    return format_label_number(v);
  }
  if (field_type == "PERCENTAGE") {
    const double p = total > 0 ? v / total : 0;
    if (code) {
      if (auto text = format_chart_number(p, *code)) return *text;
    }
    return format_percent_label(p);
  }
  if (field_type == "SERIESNAME") return series.series->name().value_or("");
  if (field_type == "CATEGORYNAME") return category_label_text(views, i);
  return "";
}

}  // namespace cmx::chart_layout
