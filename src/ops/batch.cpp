#include "ops/batch.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "ops/apply.h"

namespace cmx::ops {

namespace {

Result<bool, OpsError> move_entry(std::vector<Batch>& from, std::vector<Batch>& to, model::WorkbookModel& model) {
  if (from.empty()) return false;
  CMX_ASSIGN_OR_RETURN(Batch reverse, apply_batch(model, from.back()));
  from.pop_back();
  to.push_back(std::move(reverse));
  return true;
}

// Cell writes to sheets that exist cannot fail, so a batch of them needs no
// copy of the whole model to stay all-or-nothing.
bool cannot_fail_part_way(const model::WorkbookModel& model, const Batch& batch) {
  return std::all_of(batch.begin(), batch.end(), [&](const WorkbookOp& step) {
    const auto* set = std::get_if<SetCell>(&step);
    return set != nullptr && set->address.sheet < model.sheets.size();
  });
}

}  // namespace

Result<Batch, OpsError> apply_batch(model::WorkbookModel& model, const Batch& batch) {
  std::vector<InverseList> inverses;
  inverses.reserve(batch.size());
  if (cannot_fail_part_way(model, batch)) {
    for (const WorkbookOp& step : batch) {
      CMX_ASSIGN_OR_RETURN(InverseList inverse, apply_op(model, step));
      inverses.push_back(std::move(inverse));
    }
  } else {
    // The copy starts with empty style caches; they refill on use.
    model::WorkbookModel copy = model;
    for (const WorkbookOp& step : batch) {
      CMX_ASSIGN_OR_RETURN(InverseList inverse, apply_op(copy, step));
      inverses.push_back(std::move(inverse));
    }
    model = std::move(copy);
  }
  if (inverses.size() == 1) return std::move(inverses[0]);
  size_t total = 0;
  for (const InverseList& inverse : inverses) total += inverse.size();
  Batch out;
  out.reserve(total);
  for (auto it = inverses.rbegin(); it != inverses.rend(); ++it) {
    for (WorkbookOp& step : *it) out.push_back(std::move(step));
  }
  return out;
}

Result<void, OpsError> apply_batch_with_undo(LocalHistory& history, model::WorkbookModel& model,
                                             const Batch& batch) {
  CMX_ASSIGN_OR_RETURN(Batch inverse, apply_batch(model, batch));
  history.undo_stack.push_back(std::move(inverse));
  history.redo_stack.clear();
  return {};
}

Result<bool, OpsError> undo(LocalHistory& history, model::WorkbookModel& model) {
  return move_entry(history.undo_stack, history.redo_stack, model);
}

Result<bool, OpsError> redo(LocalHistory& history, model::WorkbookModel& model) {
  return move_entry(history.redo_stack, history.undo_stack, model);
}

void clear_undo_redo(LocalHistory& history) {
  history.undo_stack.clear();
  history.redo_stack.clear();
}

}  // namespace cmx::ops
