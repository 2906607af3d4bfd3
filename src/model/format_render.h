// Cell values as display text under a number-format code: the dispatch over
// value kinds, text sections, the General style, digit placeholders and
// scientific notation. Date sections are rendered by date_time.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/cell_value.h"
#include "model/workbook.h"

namespace cmx::model {

struct FormattedText {
  std::string text;
  // The chosen section's colour, "#" and six upper-case hex digits; absent
  // for General, booleans, errors, empty cells and text without a text section.
  std::optional<std::string> color;
  friend bool operator==(const FormattedText&, const FormattedText&) = default;
};

// Never fails: every value and every code gives some text.
FormattedText format_cell_value(const CellValue& value, std::string_view code, DateSystem system);

// A number under a code; an empty or "General" code (white space around it
// ignored) renders format_general without colour.
FormattedText format_value(std::string_view code, DateSystem system, double value);

// At most 11 significant digits, positional for exponents -4 to 10 and
// "1.23457E+11" otherwise; "NaN", "INF" and "-INF" for the non-finite values.
std::string format_general(double value);

}  // namespace cmx::model
