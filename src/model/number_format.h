// Number-format codes: the parsed form of a code, the per-thread cache of
// parsed codes, the choice of section for a number, and the built-in codes.
// Rendering under a parsed code is in format_render.h and date_time.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cmx::model {

// The tokens of one section, in the order of the FormatToken variant.
namespace format_token {
struct Digit {
  char placeholder = '0';  // '0', '#' or '?'
  friend bool operator==(const Digit&, const Digit&) = default;
};
struct DecimalPoint {
  friend bool operator==(const DecimalPoint&, const DecimalPoint&) = default;
};
// Thousands grouping or scaling; which one is decided when rendering.
struct Comma {
  friend bool operator==(const Comma&, const Comma&) = default;
};
struct Percent {
  friend bool operator==(const Percent&, const Percent&) = default;
};
struct Exponent {
  bool plus = false;  // written "E+" rather than "E-"
  friend bool operator==(const Exponent&, const Exponent&) = default;
};
struct FractionSlash {
  friend bool operator==(const FractionSlash&, const FractionSlash&) = default;
};
struct TextPlaceholder {
  friend bool operator==(const TextPlaceholder&, const TextPlaceholder&) = default;
};
struct GeneralNumber {
  friend bool operator==(const GeneralNumber&, const GeneralNumber&) = default;
};
struct Literal {
  std::string text;  // the code's bytes, possibly empty
  friend bool operator==(const Literal&, const Literal&) = default;
};
// "_x": one space in place of the width of x.
struct Padding {
  friend bool operator==(const Padding&, const Padding&) = default;
};
// "*x": fill to the column width, which display text has none of.
struct Repeat {
  friend bool operator==(const Repeat&, const Repeat&) = default;
};
struct Year {
  uint8_t run = 0;
  friend bool operator==(const Year&, const Year&) = default;
};
struct MonthOrMinute {
  uint8_t run = 0;
  friend bool operator==(const MonthOrMinute&, const MonthOrMinute&) = default;
};
struct Day {
  uint8_t run = 0;
  friend bool operator==(const Day&, const Day&) = default;
};
struct Hour {
  uint8_t run = 0;
  friend bool operator==(const Hour&, const Hour&) = default;
};
struct Second {
  uint8_t run = 0;
  friend bool operator==(const Second&, const Second&) = default;
};
// "[h]", "[mm]", "[sss]": a duration in one unit, not wrapped at a day.
struct Elapsed {
  char unit = 'h';  // 'h', 'm' or 's'
  uint8_t width = 0;
  friend bool operator==(const Elapsed&, const Elapsed&) = default;
};
struct AmPm {
  std::string am;  // as written: "AM", "am", "a", …
  std::string pm;
  friend bool operator==(const AmPm&, const AmPm&) = default;
};
}  // namespace format_token

using FormatToken =
    std::variant<format_token::Digit, format_token::DecimalPoint, format_token::Comma,
                 format_token::Percent, format_token::Exponent, format_token::FractionSlash,
                 format_token::TextPlaceholder, format_token::GeneralNumber, format_token::Literal,
                 format_token::Padding, format_token::Repeat, format_token::Year,
                 format_token::MonthOrMinute, format_token::Day, format_token::Hour,
                 format_token::Second, format_token::Elapsed, format_token::AmPm>;

// The variant index of each token kind, for switches over FormatToken::index().
enum class FormatTokenKind : uint8_t {
  Digit, DecimalPoint, Comma, Percent, Exponent, FractionSlash, TextPlaceholder,
  GeneralNumber, Literal, Padding, Repeat, Year, MonthOrMinute, Day, Hour, Second,
  Elapsed, AmPm
};
inline FormatTokenKind token_kind(const FormatToken& token) {
  return static_cast<FormatTokenKind>(token.index());
}
// Year, MonthOrMinute, Day, Hour, Second, Elapsed and AmPm: a section holding
// one of them renders as a date.
inline bool is_date_token(const FormatToken& token) {
  return token_kind(token) >= FormatTokenKind::Year;
}

enum class ConditionOp : uint8_t { Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

struct SectionCondition {
  ConditionOp op = ConditionOp::Less;
  double value = 0.0;
  friend bool operator==(const SectionCondition&, const SectionCondition&) = default;
};

struct FormatSection {
  std::vector<FormatToken> tokens;
  std::optional<std::string> color;  // "#" and six upper-case hex digits
  std::optional<SectionCondition> condition;
  friend bool operator==(const FormatSection&, const FormatSection&) = default;

  bool has(FormatTokenKind kind) const;
  bool has_date_token() const;
};

// One to four sections, immutable and shared: a copy is a reference-count
// increment, so the cache and any number of callers hold the same parse.
class ParsedNumberFormat {
 public:
  // `sections` must hold one to four sections.
  explicit ParsedNumberFormat(std::vector<FormatSection> sections);

  std::span<const FormatSection> sections() const { return *sections_; }
  const FormatSection& section(size_t index) const { return (*sections_)[index]; }
  size_t section_count() const { return sections_->size(); }
  // True when both hold the very same parse (not merely equal sections).
  bool shares_with(const ParsedNumberFormat& other) const { return sections_ == other.sections_; }

 private:
  std::shared_ptr<const std::vector<FormatSection>> sections_;
};

// Codes longer than this are parsed on every use and never cached, so one
// huge generated code cannot pin memory in every thread that saw it.
inline constexpr size_t kMaxCachedFormatCodeBytes = 256;
// Entries per cache generation.
inline constexpr size_t kFormatCacheGenerationEntries = 128;

// Parses any text: malformed parts become literals or are dropped. Never fails.
ParsedNumberFormat parse_format(std::string_view code);

// parse_format through the calling thread's two-generation cache.
ParsedNumberFormat parse_format_cached(std::string_view code);

// The calling thread's cache sizes, for tests and diagnostics.
struct NumberFormatCacheStats {
  size_t young = 0;
  size_t old = 0;
};
NumberFormatCacheStats number_format_cache_stats();

struct SectionChoice {
  size_t index = 0;    // below the number of sections
  bool minus = false;  // the renderer puts "-" in front
};
// The section a number renders through. A NaN counts as negative when no
// section has a condition; the fourth section is never chosen for a number.
SectionChoice select_format_section(const ParsedNumberFormat& format, double value);

// The text without the Unicode white space at either end.
std::string_view trim_unicode_white_space(std::string_view text);

// The code of a built-in format id; absent for ids without one (5-8, 23-36,
// 41-44, 50 and above), for which callers use "General".
std::optional<std::string_view> builtin_format_code(uint16_t id);

}  // namespace cmx::model
