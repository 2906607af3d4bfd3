#include "model/number_format.h"

#include <algorithm>
#include <array>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "absl/strings/string_view.h"
#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::model {

namespace ft = format_token;

bool FormatSection::has(FormatTokenKind kind) const {
  return std::any_of(tokens.begin(), tokens.end(),
                     [kind](const FormatToken& t) { return token_kind(t) == kind; });
}

bool FormatSection::has_date_token() const {
  return std::any_of(tokens.begin(), tokens.end(), is_date_token);
}

ParsedNumberFormat::ParsedNumberFormat(std::vector<FormatSection> sections)
    : sections_(std::make_shared<const std::vector<FormatSection>>(std::move(sections))) {}

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool starts_with_ignore_ascii_case(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  for (size_t i = 0; i < lower_prefix.size(); ++i) {
    if (ascii_lower(text[i]) != lower_prefix[i]) return false;
  }
  return true;
}

// Byte length of the character starting at `pos`; an ill-formed byte counts as one.
size_t char_length(std::string_view text, size_t pos) {
  size_t next = pos;
  unicode::decode_utf8(text, next);
  return next - pos;
}

}  // namespace

std::string_view trim_unicode_white_space(std::string_view text) {
  size_t first = text.size();
  size_t end = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = pos;
    char32_t cp = unicode::decode_utf8(text, pos);
    if (!unicode::is_white_space(cp)) {
      if (first == text.size()) first = start;
      end = pos;
    }
  }
  if (first == text.size()) return {};
  return text.substr(first, end - first);
}

namespace {

// Splits at ";" outside quotes, brackets and the character after "\", "_" or
// "*". At most four sections; the last may be empty.
std::vector<std::string_view> split_sections(std::string_view code) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  size_t i = 0;
  const size_t n = code.size();
  auto skip_past = [&](char close) {
    size_t j = code.find(close, i + 1);
    i = j == std::string_view::npos ? n : j + 1;
  };
  while (i < n) {
    char c = code[i];
    if (c == '"') {
      skip_past('"');
    } else if (c == '[') {
      skip_past(']');
    } else if (c == '\\' || c == '_' || c == '*') {
      // Continuation bytes of a multi-byte character are never special, so
      // skipping one byte of it is enough.
      i = std::min(i + 2, n);
    } else if (c == ';') {
      sections.push_back(code.substr(start, i - start));
      start = ++i;
      if (sections.size() == 4) return sections;
    } else {
      ++i;
    }
  }
  sections.push_back(code.substr(start));
  return sections;
}

struct NamedColor {
  std::string_view name;
  std::string_view hex;
};
constexpr std::array<NamedColor, 8> kNamedColors = {{
    {"BLACK", "#000000"}, {"WHITE", "#FFFFFF"}, {"RED", "#FF0000"}, {"GREEN", "#00FF00"},
    {"BLUE", "#0000FF"}, {"YELLOW", "#FFFF00"}, {"MAGENTA", "#FF00FF"}, {"CYAN", "#00FFFF"},
}};
// [Color1] … [Color8].
constexpr std::array<std::string_view, 8> kNumberedColors = {
    "#000000", "#FFFFFF", "#FF0000", "#00FF00", "#0000FF", "#FFFF00", "#FF00FF", "#00FFFF",
};

std::optional<std::string_view> bracket_color(std::string_view content) {
  std::string upper(content);
  for (char& c : upper) c = ascii_upper(c);
  for (const NamedColor& named : kNamedColors) {
    if (upper == named.name) return named.hex;
  }
  std::string_view view(upper);
  if (!view.starts_with("COLOR")) return std::nullopt;
  std::string_view number = trim_unicode_white_space(view.substr(5));
  if (number.starts_with('+')) number.remove_prefix(1);
  if (number.empty() || !std::all_of(number.begin(), number.end(),
                                     [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::optional<uint64_t> index = parse_u64(number);
  if (!index || *index < 1 || *index > kNumberedColors.size()) return std::nullopt;
  return kNumberedColors[*index - 1];
}

std::optional<SectionCondition> bracket_condition(std::string_view content) {
  ConditionOp op;
  size_t op_length = 2;
  if (content.starts_with(">=")) {
    op = ConditionOp::GreaterEqual;
  } else if (content.starts_with("<=")) {
    op = ConditionOp::LessEqual;
  } else if (content.starts_with("<>")) {
    op = ConditionOp::NotEqual;
  } else {
    op_length = 1;
    switch (content.front()) {
      case '<': op = ConditionOp::Less; break;
      case '=': op = ConditionOp::Equal; break;
      case '>': op = ConditionOp::Greater; break;
      default: return std::nullopt;
    }
  }
  FloatSyntax syntax;
  syntax.allow_plus = true;
  std::optional<ParsedFloat> value = parse_float(trim_unicode_white_space(content.substr(op_length)), syntax);
  if (!value) return std::nullopt;
  return SectionCondition{op, value->value};
}

uint8_t saturate_run(size_t length) { return static_cast<uint8_t>(std::min<size_t>(length, 255)); }

void apply_bracket(std::string_view raw, FormatSection& section) {
  std::string_view content = trim_unicode_white_space(raw);
  if (content.empty()) return;
  if (auto color = bracket_color(content)) {
    section.color = std::string(*color);
    return;
  }
  if (auto condition = bracket_condition(content)) {
    section.condition = *condition;
    return;
  }
  char unit = ascii_lower(content.front());
  if ((unit == 'h' || unit == 'm' || unit == 's') &&
      std::all_of(content.begin(), content.end(), [unit](char c) { return ascii_lower(c) == unit; })) {
    section.tokens.emplace_back(ft::Elapsed{unit, saturate_run(content.size())});
    return;
  }
  if (content.front() == '$') {
    std::string_view symbol = content.substr(1);
    symbol = symbol.substr(0, symbol.find('-'));
    if (!symbol.empty()) section.tokens.emplace_back(ft::Literal{std::string(symbol)});
  }
  // Anything else is a locale or calendar code that display text ignores.
}

FormatSection tokenize_section(std::string_view s) {
  FormatSection section;
  auto& tokens = section.tokens;
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const char c = s[i];
    switch (c) {
      case '"': {
        size_t close = s.find('"', i + 1);
        if (close == std::string_view::npos) close = n;
        tokens.emplace_back(ft::Literal{std::string(s.substr(i + 1, close - i - 1))});
        i = std::min(close + 1, n);
        continue;
      }
      case '0': case '#': case '?':
        tokens.emplace_back(ft::Digit{c});
        ++i;
        continue;
      case '.': tokens.emplace_back(ft::DecimalPoint{}); ++i; continue;
      case ',': tokens.emplace_back(ft::Comma{}); ++i; continue;
      case '%': tokens.emplace_back(ft::Percent{}); ++i; continue;
      case '/': tokens.emplace_back(ft::FractionSlash{}); ++i; continue;
      case '@': tokens.emplace_back(ft::TextPlaceholder{}); ++i; continue;
      case '_':
      case '*':
        if (c == '_') {
          tokens.emplace_back(ft::Padding{});
        } else {
          tokens.emplace_back(ft::Repeat{});
        }
        ++i;
        if (i < n) i += char_length(s, i);
        continue;
      case '\\':
        ++i;
        if (i < n) {
          size_t length = char_length(s, i);
          tokens.emplace_back(ft::Literal{std::string(s.substr(i, length))});
          i += length;
        }
        continue;
      case 'E': case 'e':
        if (i + 1 < n && (s[i + 1] == '+' || s[i + 1] == '-')) {
          tokens.emplace_back(ft::Exponent{s[i + 1] == '+'});
          i += 2;
        } else {
          tokens.emplace_back(ft::Literal{std::string(1, c)});
          ++i;
        }
        continue;
      case 'G': case 'g':
        if (starts_with_ignore_ascii_case(s.substr(i), "general")) {
          tokens.emplace_back(ft::GeneralNumber{});
          i += 7;
        } else {
          tokens.emplace_back(ft::Literal{std::string(1, c)});
          ++i;
        }
        continue;
      case 'A': case 'a': {
        std::string_view rest = s.substr(i);
        if (starts_with_ignore_ascii_case(rest, "am/pm")) {
          tokens.emplace_back(ft::AmPm{std::string(rest.substr(0, 2)), std::string(rest.substr(3, 2))});
          i += 5;
        } else if (starts_with_ignore_ascii_case(rest, "a/p")) {
          tokens.emplace_back(ft::AmPm{std::string(rest.substr(0, 1)), std::string(rest.substr(2, 1))});
          i += 3;
        } else {
          tokens.emplace_back(ft::Literal{std::string(1, c)});
          ++i;
        }
        continue;
      }
      case 'y': case 'Y': case 'm': case 'M': case 'd': case 'D':
      case 'h': case 'H': case 's': case 'S': {
        const char letter = ascii_lower(c);
        size_t end = i + 1;
        while (end < n && ascii_lower(s[end]) == letter) ++end;
        const uint8_t run = saturate_run(end - i);
        switch (letter) {
          case 'y': tokens.emplace_back(ft::Year{run}); break;
          case 'm': tokens.emplace_back(ft::MonthOrMinute{run}); break;
          case 'd': tokens.emplace_back(ft::Day{run}); break;
          case 'h': tokens.emplace_back(ft::Hour{run}); break;
          default: tokens.emplace_back(ft::Second{run}); break;
        }
        i = end;
        continue;
      }
      case '[': {
        size_t close = s.find(']', i + 1);
        if (close == std::string_view::npos) close = n;
        apply_bracket(s.substr(i + 1, close - i - 1), section);
        i = std::min(close + 1, n);
        continue;
      }
      default: {
        size_t length = char_length(s, i);
        tokens.emplace_back(ft::Literal{std::string(s.substr(i, length))});
        i += length;
        continue;
      }
    }
  }
  return section;
}

bool condition_holds(const SectionCondition& condition, double v) {
  switch (condition.op) {
    case ConditionOp::Less: return v < condition.value;
    case ConditionOp::LessEqual: return v <= condition.value;
    case ConditionOp::Greater: return v > condition.value;
    case ConditionOp::GreaterEqual: return v >= condition.value;
    case ConditionOp::Equal: return v == condition.value;
    case ConditionOp::NotEqual: return v != condition.value;  // true for NaN
  }
  return false;
}

// Two generations: a stream of one-off codes (the TEXT function builds them)
// evicts at most the older half, while codes in steady use keep being copied
// into the young map.
struct NumberFormatCache {
  absl::flat_hash_map<std::string, ParsedNumberFormat> young;
  absl::flat_hash_map<std::string, ParsedNumberFormat> old;
  ~NumberFormatCache();
};

// Trivially destructible, so it can still be read while the thread's other
// thread-local objects are being destroyed.
thread_local bool t_cache_gone = false;

NumberFormatCache::~NumberFormatCache() { t_cache_gone = true; }

NumberFormatCache* thread_cache() {
  if (t_cache_gone) return nullptr;
  thread_local NumberFormatCache cache;
  return &cache;
}

}  // namespace

ParsedNumberFormat parse_format(std::string_view code) {
  std::vector<FormatSection> sections;
  for (std::string_view text : split_sections(code)) sections.push_back(tokenize_section(text));
  return ParsedNumberFormat(std::move(sections));
}

ParsedNumberFormat parse_format_cached(std::string_view code) {
  if (code.size() > kMaxCachedFormatCodeBytes) return parse_format(code);
  NumberFormatCache* cache = thread_cache();
  if (cache == nullptr) return parse_format(code);
  const absl::string_view key(code.data(), code.size());
  if (auto it = cache->young.find(key); it != cache->young.end()) return it->second;
  std::optional<ParsedNumberFormat> parsed;
  if (auto it = cache->old.find(key); it != cache->old.end()) {
    parsed = it->second;
  } else {
    parsed = parse_format(code);
  }
  if (cache->young.size() >= kFormatCacheGenerationEntries) {
    cache->old = std::move(cache->young);
    cache->young = {};
  }
  cache->young.emplace(std::string(code), *parsed);
  return *parsed;
}

NumberFormatCacheStats number_format_cache_stats() {
  NumberFormatCache* cache = thread_cache();
  if (cache == nullptr) return {};
  return {cache->young.size(), cache->old.size()};
}

SectionChoice select_format_section(const ParsedNumberFormat& format, double value) {
  const size_t count = format.section_count();
  const size_t conditional = std::min<size_t>(count, 3);
  bool any_condition = false;
  for (size_t i = 0; i < conditional; ++i) any_condition |= format.section(i).condition.has_value();
  if (!any_condition) {
    if (value > 0) return {0, false};
    if (value == 0) return {count >= 3 ? size_t{2} : size_t{0}, false};
    // Negative, or NaN.
    return count >= 2 ? SectionChoice{1, false} : SectionChoice{0, true};
  }
  for (size_t i = 0; i < conditional; ++i) {
    const auto& condition = format.section(i).condition;
    if (!condition) return {i, value < 0};
    if (condition_holds(*condition, value)) return {i, false};
  }
  return {0, value < 0};
}

namespace {
struct BuiltinCode {
  uint16_t id;
  std::string_view code;
};
constexpr std::array<BuiltinCode, 28> kBuiltinCodes = {{
    {0, "General"},
    {1, "0"},
    {2, "0.00"},
    {3, "#,##0"},
    {4, "#,##0.00"},
    {9, "0%"},
    {10, "0.00%"},
    {11, "0.00E+00"},
    {12, "# ?/?"},
    {13, "# ?\?/?\?"},  // escaped: "??/" is a trigraph
    {14, "m/d/yy"},
    {15, "d-mmm-yy"},
    {16, "d-mmm"},
    {17, "mmm-yy"},
    {18, "h:mm AM/PM"},
    {19, "h:mm:ss AM/PM"},
    {20, "h:mm"},
    {21, "h:mm:ss"},
    {22, "m/d/yy h:mm"},
    {37, "#,##0 ;(#,##0)"},
    {38, "#,##0 ;[Red](#,##0)"},
    {39, "#,##0.00;(#,##0.00)"},
    {40, "#,##0.00;[Red](#,##0.00)"},
    {45, "mm:ss"},
    {46, "[h]:mm:ss"},
    {47, "mmss.0"},
    {48, "##0.0E+0"},
    {49, "@"},
}};
}  // namespace

std::optional<std::string_view> builtin_format_code(uint16_t id) {
  for (const BuiltinCode& entry : kBuiltinCodes) {
    if (entry.id == id) return entry.code;
  }
  return std::nullopt;
}

}  // namespace cmx::model
