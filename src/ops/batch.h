// All-or-nothing lists of steps, and the undo and redo stacks of a workbook
// that is not collaborative.
#pragma once

#include <vector>

#include "base/result.h"
#include "model/workbook.h"
#include "ops/error.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

using Batch = std::vector<WorkbookOp>;

// Applies the steps in order to a copy of the model and keeps the copy only
// when every step succeeds. Returns the inverse batch: the steps' inverse
// lists from the last step's to the first's. On the first refusal the
// caller's model is untouched and that step's error is returned.
Result<Batch, OpsError> apply_batch(model::WorkbookModel& model, const Batch& batch);

struct LocalHistory {
  std::vector<Batch> undo_stack;  // the last entry undoes the latest edit or redo
  std::vector<Batch> redo_stack;  // the last entry redoes the latest undo
};

// Records an edit: one undo entry per batch, even an empty one, and the redo
// stack emptied. A refused batch leaves model and history as they were.
Result<void, OpsError> apply_batch_with_undo(LocalHistory& history, model::WorkbookModel& model,
                                             const Batch& batch);

// Applies the last undo (redo) entry; on success it moves, as the batch that
// reverses it, onto the other stack. False when the stack is empty. A
// refused entry stays where it was.
Result<bool, OpsError> undo(LocalHistory& history, model::WorkbookModel& model);
Result<bool, OpsError> redo(LocalHistory& history, model::WorkbookModel& model);

void clear_undo_redo(LocalHistory& history);

}  // namespace cmx::ops
