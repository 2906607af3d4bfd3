// Sheet insertion, removal and rename as apply_op performs them: positions
// the model stores (name scopes, table sheets) follow, chart references of
// the other sheets narrow when a sheet goes, and formula texts follow a rename.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "ops/error.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

Result<InverseList, OpsError> apply_insert_sheet(model::WorkbookModel& model, const InsertSheet& step);
// Refused for a sheet that holds a table: nothing could bring the table back.
Result<InverseList, OpsError> apply_remove_sheet(model::WorkbookModel& model, const RemoveSheet& step);
Result<InverseList, OpsError> apply_rename_sheet(model::WorkbookModel& model, const RenameSheet& step);
Result<InverseList, OpsError> apply_rename_sheet_with_cells(model::WorkbookModel& model,
                                                            const RenameSheetWithCells& step);

// One chart reference with the sheet `removed` (one of `old_names`) taken out:
// spans narrow to their surviving ends, a piece naming only that sheet
// becomes #REF!. Unchanged byte for byte when nothing named it.
std::string narrow_chart_ref_for_removed_sheet(std::string_view text, const std::vector<std::string>& old_names,
                                               std::string_view removed);

}  // namespace cmx::ops
