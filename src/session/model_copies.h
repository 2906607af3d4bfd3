// The one copy of a workbook model, its comparisons, and the carry-over of
// what the collaborative document does not hold (cached formula results and
// array-formula ranges) into a model rebuilt from it. All pure.
#pragma once

#include <vector>

#include "model/cell_address.h"
#include "model/workbook.h"

namespace cmx::session {

// A deep copy; the style sheet's interning lookups start empty in the copy.
model::WorkbookModel clone_workbook_model(const model::WorkbookModel& workbook);

// Equal in everything a cell edit can change: date system, text list, style
// tables, and per sheet the name, merges, widths, heights and cells.
// Hyperlinks, column styles, charts, array ranges, panes, names and tables
// play no part. Numbers compare numerically (0 equals -0, NaN nothing).
bool workbook_models_equal(const model::WorkbookModel& a, const model::WorkbookModel& b);

// Every field equal.
bool workbook_model_eq(const model::WorkbookModel& a, const model::WorkbookModel& b);

// For each formula cell of `target` whose text equals the live cell's at the
// same place, the live cell's cached value; formula and style stay.
void refresh_formula_cache_targets(const std::vector<model::SheetModel>& live,
                                   std::vector<model::SheetModel>& target);

// Each array range of `live` whose anchor holds the same formula in both
// sheet lists is written into `target` at that anchor.
void copy_sheets_for_staging(const std::vector<model::SheetModel>& live, std::vector<model::SheetModel>& target);

// Every cell stored on one side only, or whose value, formula or style
// differs, in (sheet, row, column) order; a sheet missing on one side counts
// as empty. Numbers compare as IEEE doubles (a NaN always differs).
std::vector<model::CellAddress> changed_cells_between(const std::vector<model::SheetModel>& before,
                                                      const std::vector<model::SheetModel>& after);

}  // namespace cmx::session
