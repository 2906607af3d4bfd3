#include "model/sheet_cells.h"

namespace cmx::model {

void set_sheet_cell(SheetModel& sheet, uint32_t row, uint32_t col, SheetCell cell) {
  const CellKey key{row, col};
  if (is_empty_record(cell)) {
    sheet.cells.erase(key);
    return;
  }
  sheet.cells.insert_or_assign(key, std::move(cell));
}

}  // namespace cmx::model
