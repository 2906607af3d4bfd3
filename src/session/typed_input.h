// What a user types into a cell, turned into the content to store, and the
// stored-cell limits that content must meet. Pure: nothing is changed.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "model/workbook.h"
#include "session/error.h"

namespace cmx::session {

// Clear, formula, boolean, number or text, carrying the cell's current style.
// Unknown sheets and cells simply have no style; nothing is checked here.
model::SheetCell parse_typed_cell_input(const model::WorkbookModel& workbook, uint32_t sheet, uint32_t row,
                                        uint32_t col, std::string_view text);

// InvalidOperation "cell number must be finite", "cell text exceeds the 32,767-character
// length limit" (32,768 characters or more) or "formula exceeds the length
// limit" (more than 32,768 bytes).
Result<void, EngineError> validate_cell_input(const model::SheetCell& cell);

}  // namespace cmx::session
