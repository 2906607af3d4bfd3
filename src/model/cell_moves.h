// Moving the stored cells and array-formula anchors of a sheet when rows or
// columns are inserted or deleted. The edit operations call this and build
// their inverse from the cells it hands back.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "model/address.h"
#include "model/workbook.h"

namespace cmx::model {

enum class StructuralKind : uint8_t { InsertRows, DeleteRows, InsertColumns, DeleteColumns };

// `at` is the zero-based first row or column of the edit, `count` how many.
struct StructuralShift {
  StructuralKind kind = StructuralKind::InsertRows;
  uint32_t at = 0;
  uint32_t count = 0;
};

// The position of `key` after the edit, or absent when the key falls into a
// deleted band or is pushed past the last row or column.
std::optional<CellKey> shifted_cell_key(const StructuralShift& shift, CellKey key);

// Moves `sheet.cells` and `sheet.array_ranges` by the edit. Returns the cells
// it removed (deleted or pushed off the grid) at their old positions, in
// row-major order. Empty records are dropped everywhere and never returned;
// array anchors that fall off are dropped for good. Row edits touch only the
// cells from the first moved one on; an edit whose moved cells would
// interleave with unmoved ones rebuilds the map.
std::vector<std::pair<CellRef, SheetCell>> shift_cells_for_structural_op(SheetModel& sheet,
                                                                         const StructuralShift& shift);

}  // namespace cmx::model
