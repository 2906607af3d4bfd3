#include "session/undo_redo.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "collab/bootstrap.h"
#include "collab/hydration.h"
#include "collab/local_operations.h"
#include "collab/undo_history.h"
#include "ops/batch.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/proposals.h"
#include "session/range_ops.h"
#include "session/recalc_requests.h"
#include "session/views.h"

namespace cmx::session {
namespace {

std::optional<std::string> active_sheet_name(const WorkbookSession& session) {
  if (session.active_sheet >= session.model.sheets.size()) return std::nullopt;
  return session.model.sheets[session.active_sheet].name;
}

EditReport report_of(const formula::RecalcResult& calculation) {
  return EditReport{calculation.changed, calculation.cycles, calculation.limited, true};
}

// The model step runs on a copy before the document is written, so a
// refused step leaves the document, its structure history and the model as
// they were, and a retry cannot write the step twice.
Result<EditReport, EngineError> undo_redo_local(WorkbookSession& session, UndoDirection direction,
                                                std::optional<double> now_serial) {
  const bool undo = direction == UndoDirection::Undo;
  std::vector<ops::Batch>& stack = undo ? session.local_history.undo_stack : session.local_history.redo_stack;
  std::vector<ops::Batch>& opposite = undo ? session.local_history.redo_stack : session.local_history.undo_stack;
  const std::optional<std::string> active_name = active_sheet_name(session);
  std::vector<std::string> names_before;
  for (const model::SheetModel& sheet : session.model.sheets) names_before.push_back(sheet.name);
  if (stack.empty()) return EditReport{};

  const ops::Batch step = stack.back();
  model::WorkbookModel changed = clone_workbook_model(session.model);
  auto inverse = ops::apply_batch(changed, step);
  if (!inverse) return unexpected(EngineError::from_ops(inverse.error()));
  ensure_document(session);
  auto written = collab::apply_local_operation(session.authority, step,
                                               undo ? collab::LocalOrigin::kUndo : collab::LocalOrigin::kRedo,
                                               session.model.styles);
  if (!written) return unexpected(from_authority_error(written.error()));

  const CellStyleStates states = collect_view_cell_states(session, step);
  install_model(session, std::move(changed));
  stack.pop_back();
  opposite.push_back(std::move(inverse).value());
  update_view_cache(session, step, states);

  std::vector<SourceSnapshot>& sources = undo ? session.source_undo : session.source_redo;
  std::vector<SourceSnapshot>& other_sources = undo ? session.source_redo : session.source_undo;
  if (!sources.empty()) {
    SourceSnapshot pair = std::move(sources.back());
    sources.pop_back();
    session.sheet_sources = undo ? pair.first : pair.second;
    other_sources.push_back(std::move(pair));
  } else {
    rebuild_sheet_cell_maps(session, names_before, step);
  }
  reselect_active_sheet(session, active_name);
  if (std::any_of(step.begin(), step.end(), is_structural_op)) clear_proposals(session);

  const formula::RecalcResult calculation = recalculate_session(session, now_serial);
  std::optional<std::vector<uint8_t>> update = std::move(written).value();
  if (update && is_empty_update(*update)) update.reset();
  finish_local_commit(session, std::move(update));
  return report_of(calculation);
}

// Puts the document and its saved stacks back after a failed pop.
EngineError restore_document(WorkbookSession& session, const std::vector<uint8_t>& backup,
                             std::vector<crdt::StackItem> saved_undo, std::vector<crdt::StackItem> saved_redo,
                             EngineError error) {
  auto created = crdt::Doc::create(session.authority.doc->client_id() & crdt::kMaxClientId);
  if (!created) return EngineError::collaborative_state("the document could not be rebuilt after a failed undo");
  std::shared_ptr<crdt::Doc> doc(std::move(*created));
  if (auto hydrated = collab::hydrate_from_update(*doc, backup); !hydrated) {
    return EngineError::collaborative_state(hydrated.error());
  }
  session.authority.doc = std::move(doc);
  session.authority.saved_undo = std::move(saved_undo);
  session.authority.saved_redo = std::move(saved_redo);
  return error;
}

Result<EditReport, EngineError> undo_redo_collaborative(WorkbookSession& session, UndoDirection direction,
                                                        std::optional<double> now_serial) {
  const std::vector<uint8_t> backup = collab::encode_document_state(*session.authority.doc);
  std::vector<crdt::StackItem> saved_undo = collab::save_undo_stack(session.authority.saved_undo);
  std::vector<crdt::StackItem> saved_redo = collab::save_undo_stack(session.authority.saved_redo);

  auto popped = collab::pop_undo_and_reproject(session.authority, direction == UndoDirection::Redo);
  if (!popped) {
    return unexpected(restore_document(session, backup, std::move(saved_undo), std::move(saved_redo),
                                       from_authority_error(popped.error())));
  }
  if (!popped->has_value()) return EditReport{};
  collab::UndoneStep& step = **popped;
  if (!session.replica) {
    return unexpected(restore_document(session, backup, std::move(saved_undo), std::move(saved_redo),
                                       EngineError::of(EngineErrorKind::NotCollaborative)));
  }
  if (!collab::replica_state_eq(step.projection.replica, *session.replica)) {
    return unexpected(restore_document(session, backup, std::move(saved_undo), std::move(saved_redo),
                                       EngineError::of(EngineErrorKind::CollaborativeStructureChanged)));
  }

  const std::optional<std::string> active_name = active_sheet_name(session);
  const model::WorkbookModel before = clone_workbook_model(session.model);
  copy_sheets_for_staging(session.model.sheets, step.projection.model.sheets);
  install_model(session, std::move(step.projection.model));
  clear_view_cache(session);
  session.calculated = true;
  reselect_active_sheet(session, active_name);
  clear_proposals(session);

  const formula::RecalcResult calculation = recalculate_session(session, now_serial);
  EditReport report = report_of(calculation);
  report.changed = changed_cells_between(before, session.model);
  std::optional<std::vector<uint8_t>> update;
  if (!is_empty_update(step.update)) update = std::move(step.update);
  finish_local_commit(session, std::move(update));
  return report;
}

}  // namespace

Result<EditReport, EngineError> undo_redo(WorkbookSession& session, UndoDirection direction,
                                          std::optional<double> now_serial) {
  if (session.replica) return undo_redo_collaborative(session, direction, now_serial);
  return undo_redo_local(session, direction, now_serial);
}

HistoryDepths history_depths(const WorkbookSession& session) {
  if (session.replica) return HistoryDepths{session.authority.saved_undo.size(), session.authority.saved_redo.size()};
  return HistoryDepths{session.local_history.undo_stack.size(), session.local_history.redo_stack.size()};
}

}  // namespace cmx::session
