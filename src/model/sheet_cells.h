// Writing one cell record into a sheet's cell map, the one place that keeps
// empty records out of the map.
#pragma once

#include <cstdint>

#include "model/workbook.h"

namespace cmx::model {

// Puts `cell` at (row, col), replacing what is there. An empty record (no
// formula, an Empty value, no style) removes the cell instead, and does
// nothing when there is none. Row and column are zero-based and in the grid.
void set_sheet_cell(SheetModel& sheet, uint32_t row, uint32_t col, SheetCell cell);

}  // namespace cmx::model
