// A stored cell as a spreadsheet shows it: the number-format code that applies
// to its style, and its value rendered under that code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/styles.h"
#include "model/workbook.h"

namespace cmx::model {

// The code of a cell's style: "General" without a style, for a style beyond
// the table or without a number-format id, for a built-in id without a code,
// and for a custom id no custom format carries. Ids below 164 always mean the
// built-in code, whatever custom formats the styles part declared with them.
std::string cell_format_code(const StyleSheet& styles, std::optional<uint32_t> style);

// The cell's cached value under its code, colour dropped; empty for Empty.
std::string cell_display_text(const StyleSheet& styles, DateSystem system, const SheetCell& cell);

}  // namespace cmx::model
