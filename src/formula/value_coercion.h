// Value rules shared by the operators and the built-ins: texts read as
// numbers, times and dates; values as numbers, truth values and texts; the
// one total order of values; and texts made within the length limit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "model/cell_value.h"

namespace cmx::formula {

struct EvalContext;

// A trimmed decimal number, "n%" (recursively), a mixed fraction "W N/D",
// or a time of day; absent for anything else and for non-finite values.
std::optional<double> parse_number_text(std::string_view text);
// "h:m[:s]" with an optional AM/PM, as a fraction of a day.
std::optional<double> parse_time_text(std::string_view text);
// A date written in words or numbers, month first for numeric dates, as a
// whole 1900-system serial. A date without a year takes the year of
// `now_serial`, and fails without one.
std::optional<double> parse_date_text(std::string_view text, std::optional<double> now_serial);
// 1 to 12 for a prefix of at least three letters of an English month name.
std::optional<int> month_from_name(std::string_view text);

Result<double, model::CellErrorCode> value_to_number(const model::CellValue& value);
Result<bool, model::CellErrorCode> value_to_bool(const model::CellValue& value);
Result<std::string, model::CellErrorCode> value_to_text(const model::CellValue& value);
// Whole numbers below 1e15 as integers, anything else as the shortest
// round-trip digits written positionally; never an exponent.
std::string number_to_text(double x);

// -1, 0 or 1. Numbers < texts < bools < errors; Empty takes the kind of the
// other side; texts compare case-insensitively; all errors are equal.
int compare_values(const model::CellValue& a, const model::CellValue& b);
// Full lower-casing, then code points compared by class (other < digit <
// letter), then by value.
int compare_text_ci(std::string_view a, std::string_view b);
// The same order for texts already lower-cased (sorts lower-case each once).
int compare_lowered_text(std::string_view la, std::string_view lb);

// The text without Unicode White_Space characters at either end.
std::string_view trim_white_space(std::string_view text);

// Whether a text holds kMaxTextChars characters or more.
bool text_too_long(std::string_view text);
// The Text if short enough (else "#VALUE!"), its bytes charged (refused: "#NUM!").
model::CellValue text_result(std::string_view text, EvalContext& ctx);
// The Text if short enough, else "#VALUE!"; nothing charged.
model::CellValue text_within_limit(std::string_view text);

// A walk over an evaluated array's elements that keeps two walks over arrays
// of one size aligned position by position.
struct ArrayNumberWalk {
  std::span<const model::CellValue> values;
  size_t next = 0;
};
struct NoNumber {};  // a Text, Bool or Empty element
struct WalkEnd {};
using ArrayNumberStep = std::variant<double, NoNumber, WalkEnd, model::CellErrorCode>;
ArrayNumberStep next_array_number(ArrayNumberWalk& walk);

}  // namespace cmx::formula
