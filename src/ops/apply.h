// apply_op: one edit step applied in place, returning the steps that undo it.
// Read batch.h next for all-or-nothing lists of steps and the undo history.
#pragma once

#include "base/result.h"
#include "model/workbook.h"
#include "ops/error.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

// Checks the sheet index (and, for SetCellFormats, its grid first) before
// changing anything. Rows and columns are not checked against the grid;
// that is the caller's duty. Applying the inverse list front to back
// restores what the step changed. Refusals leave the model as it was.
// Errors: SheetNotFound; InvalidStyle, NumFmtTableFull and StyleTableFull
// for the style kinds; ChartNotFound and ChartFrameShifted for
// SetChartAnchor.
Result<InverseList, OpsError> apply_op(model::WorkbookModel& model, const WorkbookOp& step);

}  // namespace cmx::ops
