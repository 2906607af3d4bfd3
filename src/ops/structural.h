// Row and column insertions and deletions as apply_op performs them: the
// rewriting passes over the whole workbook, then the edited sheet's grid,
// sizes, column styles, merges and hyperlink ranges, and the inverse list.
#pragma once

#include "base/result.h"
#include "model/cell_moves.h"
#include "ops/error.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

// A refusal leaves the model as it was.
Result<InverseList, OpsError> apply_structural(model::WorkbookModel& model, SheetId sheet,
                                               const model::StructuralShift& shift);

}  // namespace cmx::ops
