// The one road of a local edit: run the operations on a scratch replica of
// the document and check them (prepare), merge the result into the live
// document with the model, histories and views (integrate), let the caller
// recalculate, then advance the revision and tell the listeners (finish).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "collab/local_operations.h"
#include "formula/recalc.h"
#include "model/cell_address.h"
#include "ops/batch.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::session {

// What an edit did to the formulas: the recalculated cells other than the
// edited ones, the cyclic and budget-limited cells, and whether it applied.
struct EditReport {
  std::vector<model::CellAddress> changed;
  std::vector<model::CellAddress> cycles;
  std::vector<model::CellAddress> limited;
  bool applied = false;
};

// The staged model a caller built and the undo entry that reverses it.
struct StagedEdit {
  model::WorkbookModel model;
  ops::Batch undo_entry;
};

struct PreparedCommit {
  ops::Batch operations;
  model::WorkbookModel model;
  ops::Batch undo_entry;
  collab::ScratchOutcome scratch;  // its model is left empty once taken
  bool untracked = false;
};

// The checks of a collaborative edit's scratch run: the same frozen
// structure (CollaborativeStructureChanged), the update and the whole state
// within 67,108,864 bytes (CollaborationDataTooLarge), at most 65,536
// state-vector entries (CollaborativeState).
Result<void, EngineError> check_collaborative_outcome(const WorkbookSession& session,
                                                      const collab::ScratchOutcome& outcome);

// Runs `operations` on a scratch replica (built from `base` when given, else
// from the live document); a collaborative workbook also checks the frozen
// structure, the update and state sizes and the state-vector entries, and
// takes the projected model with the live cached results. Nothing of the
// session changes.
Result<PreparedCommit, EngineError> prepare_operation_commit(WorkbookSession& session, ops::Batch operations,
                                                             StagedEdit staged, collab::LocalOrigin origin,
                                                             bool untracked,
                                                             std::optional<std::span<const uint8_t>> base);

// A collaborative batch of SetCell operations written straight into the live
// document as one undo step, when none of the checks of a scratch run can
// refuse it (the same structure, the update, the whole state and the state
// vector within their limits): the model takes the written cells as the
// document now holds them, with the live cached results, exactly as the
// scratch run's projection would give them. None when that cannot be shown
// beforehand; nothing has changed then, and the scratch road decides.
Result<std::optional<std::optional<std::vector<uint8_t>>>, EngineError> commit_cells_in_place(
    WorkbookSession& session, const ops::Batch& operations, const model::StyleSheet& source_styles);

// Whether the live document still has the frozen sheet order and structure
// generation of the session's replica state.
bool live_structure_frozen(const WorkbookSession& session);

// Merges the prepared update into the live document and installs the model,
// the views, the histories and the source record. Returns the update to
// broadcast, none for the empty update. A failure changes nothing.
Result<std::optional<std::vector<uint8_t>>, EngineError> integrate_prepared_commit(WorkbookSession& session,
                                                                                   PreparedCommit commit);

// Revision + 1, and a Local event when there is an update.
void finish_local_commit(WorkbookSession& session, std::optional<std::vector<uint8_t>> update);

// Keeps the whole calculation as the last one; reports it without the
// edited cells among the changed ones.
EditReport build_edit_report(WorkbookSession& session, const formula::RecalcResult& calculation,
                             const std::vector<model::CellAddress>& edited);

// The two zero bytes of an update that carries nothing.
bool is_empty_update(std::span<const uint8_t> update);

}  // namespace cmx::session
