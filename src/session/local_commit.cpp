#include "session/local_commit.h"

#include <tuple>
#include <utility>

#include "absl/container/flat_hash_set.h"
#include "collab/cell_writes.h"
#include "collab/undo_history.h"
#include "collab/update_scan.h"
#include "crdt/crdt.h"
#include "session/document.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/views.h"

namespace cmx::session {

bool is_empty_update(std::span<const uint8_t> update) {
  return update.size() == 2 && update[0] == 0 && update[1] == 0;
}

Result<void, EngineError> check_collaborative_outcome(const WorkbookSession& session,
                                                      const collab::ScratchOutcome& outcome) {
  if (!collab::replica_state_eq(outcome.replica, *session.replica)) {
    return unexpected(EngineError::of(EngineErrorKind::CollaborativeStructureChanged));
  }
  for (const uint64_t size : {uint64_t{outcome.update.size()}, outcome.state_size}) {
    if (size > kMaxCollaborationBytes) {
      return unexpected(
          EngineError::with_numbers(EngineErrorKind::CollaborationDataTooLarge, size, kMaxCollaborationBytes));
    }
  }
  if (outcome.state_vector_entries > collab::kMaxStateVectorEntries) {
    return unexpected(
        EngineError::collaborative_state(collab::state_vector_limit_message(outcome.state_vector_entries)));
  }
  return {};
}

Result<PreparedCommit, EngineError> prepare_operation_commit(WorkbookSession& session, ops::Batch operations,
                                                             StagedEdit staged, collab::LocalOrigin origin,
                                                             bool untracked,
                                                             std::optional<std::span<const uint8_t>> base) {
  ensure_document(session);
  auto ran = base ? collab::apply_on_scratch_replica(session.authority, operations, origin, staged.model.styles,
                                                     *base)
                  : collab::dry_run_local_operation(session.authority, operations, origin, staged.model.styles);
  if (!ran) return unexpected(from_authority_error(ran.error()));
  PreparedCommit commit{std::move(operations), model::WorkbookModel{}, std::move(staged.undo_entry),
                        std::move(ran).value(), untracked};
  if (!session.collaborative()) {
    commit.model = std::move(staged.model);
    commit.scratch.model = model::WorkbookModel{};
    return commit;
  }
  CMX_TRY(check_collaborative_outcome(session, commit.scratch));
  commit.model = std::move(commit.scratch.model);
  commit.scratch.model = model::WorkbookModel{};
  refresh_formula_cache_targets(session.model.sheets, commit.model.sheets);
  copy_sheets_for_staging(session.model.sheets, commit.model.sheets);
  return commit;
}

namespace {

bool same_formula(const model::SheetCell& a, const model::SheetCell& b) {
  return a.formula.has_value() == b.formula.has_value() && (!a.formula || a.formula->view() == b.formula->view());
}


// The written cells into the live model as a projection carried through
// refresh_formula_cache_targets and copy_sheets_for_staging would have them.
void install_written_cells(WorkbookSession& session, collab::InPlaceCellWrite& written) {
  model::WorkbookModel& model = session.model;
  for (auto& [at, cell] : written.cells) {
    model::SheetModel& sheet = model.sheets[at.sheet];
    const model::CellKey key{at.cell.row, at.cell.col};
    const auto live = sheet.cells.find(key);
    const bool kept_formula = cell && cell->formula && live != sheet.cells.end() && same_formula(live->second, *cell);
    if (kept_formula) cell->value = live->second.value;
    if (!kept_formula) sheet.array_ranges.erase(key);
    if (cell) {
      sheet.cells.insert_or_assign(key, std::move(*cell));
    } else if (live != sheet.cells.end()) {
      sheet.cells.erase(live);
    }
  }
  if (written.catalog) model.styles = std::move(written.catalog->styles);
  ++session.generation;
  session.chart_cache.with([](ParsedChartCache& cache) { cache.clear(); });
}

EngineError invalid_update(std::string text) {
  return EngineError::with_text(EngineErrorKind::InvalidUpdate, std::move(text));
}

// Untracked: one "xlsx:untracked" transaction. Tracked in a collaborative
// workbook: one new step of the document's undo manager.
Result<void, EngineError> merge_update(WorkbookSession& session, std::span<const uint8_t> update, bool tracked) {
  auto decoded = collab::decode_update_bounded(update, collab::ScanLimits::own(update));
  if (!decoded) return unexpected(invalid_update(std::move(decoded).error()));
  if (tracked) {
    if (auto merged = collab::integrate_update_as_undo_step(session.authority, update); !merged) {
      return unexpected(from_authority_error(merged.error()));
    }
    return {};
  }
  crdt::Doc& doc = *session.authority.doc;
  Result<void, crdt::CrdtError> applied;
  {
    crdt::Transaction txn(doc, std::string(collab::kUntrackedOrigin));
    applied = txn.apply_update(std::move(decoded).value());
    txn.commit();
  }
  if (!applied) return unexpected(invalid_update(crdt::crdt_error_message(applied.error())));
  return {};
}

}  // namespace

// The rest of the structure only a structure edit can change, and a cell
// write is none.
bool live_structure_frozen(const WorkbookSession& session) {
  const crdt::Doc& doc = *session.authority.doc;
  auto lock = doc.read_lock();
  auto order = doc.find_array(collab::kSheetOrderRoot);
  auto metadata = doc.find_map(collab::kMetadataRoot);
  if (!order || !metadata) return false;
  auto keys = collab::read_sheet_order(*order);
  auto generation = collab::read_metadata_integer(*metadata, collab::kStructureGenerationKey);
  return keys && generation && *generation >= 0 && *keys == session.replica->sheet_keys &&
         static_cast<uint64_t>(*generation) == session.replica->structure_generation;
}

Result<std::optional<std::optional<std::vector<uint8_t>>>, EngineError> commit_cells_in_place(
    WorkbookSession& session, const ops::Batch& operations, const model::StyleSheet& source_styles) {
  using Declined = std::optional<std::optional<std::vector<uint8_t>>>;
  if (!session.collaborative() || !collab::only_cell_writes(operations) || !live_structure_frozen(session)) {
    return Declined();
  }
  auto written = collab::write_cells_as_undo_step(session.authority, operations, source_styles,
                                                  kMaxCollaborationBytes, collab::kMaxStateVectorEntries);
  if (!written) return unexpected(from_authority_error(written.error()));
  if (!*written) return Declined();
  collab::InPlaceCellWrite& write = **written;
  if (write.styles_kept) {
    install_written_cells(session, write);
  } else {
    // New formats moved the indices of others: every cell's style may have
    // moved with them.
    auto projected = collab::decode_document(session.authority, false);
    if (!projected) return unexpected(EngineError::collaborative_state(std::move(projected).error()));
    refresh_formula_cache_targets(session.model.sheets, projected->model.sheets);
    copy_sheets_for_staging(session.model.sheets, projected->model.sheets);
    install_model(session, std::move(projected->model));
  }
  if (is_empty_update(write.update)) return Declined(std::optional<std::vector<uint8_t>>());
  return Declined(std::optional<std::vector<uint8_t>>(std::move(write.update)));
}

Result<std::optional<std::vector<uint8_t>>, EngineError> integrate_prepared_commit(WorkbookSession& session,
                                                                                   PreparedCommit commit) {
  const bool local_tracked = !commit.untracked && !session.collaborative();
  std::optional<SheetSourceTable> sources_before;
  if (local_tracked) sources_before = session.sheet_sources;
  std::vector<std::string> names_before;
  names_before.reserve(session.model.sheets.size());
  for (const model::SheetModel& sheet : session.model.sheets) names_before.push_back(sheet.name);
  const CellStyleStates states = collect_view_cell_states(session, commit.operations);

  CMX_TRY(merge_update(session, commit.scratch.update, !commit.untracked && session.collaborative()));

  session.authority.base = commit.scratch.base;
  session.authority.replica_sheet_counter = commit.scratch.replica_sheet_counter;
  if (local_tracked && commit.scratch.structure_step) {
    collab::record_structure_step(session.authority, std::move(*commit.scratch.structure_step),
                                  collab::StructureStepKind::kNewStep);
  }
  install_model(session, std::move(commit.model));
  update_view_cache(session, commit.operations, states);
  if (local_tracked) {
    session.local_history.undo_stack.push_back(std::move(commit.undo_entry));
    session.local_history.redo_stack.clear();
  }
  rebuild_sheet_cell_maps(session, names_before, commit.operations);
  if (local_tracked) {
    session.source_undo.emplace_back(std::move(*sources_before), session.sheet_sources);
    session.source_redo.clear();
  }
  session.calculated = true;
  if (is_empty_update(commit.scratch.update)) return std::optional<std::vector<uint8_t>>();
  return std::optional<std::vector<uint8_t>>(std::move(commit.scratch.update));
}

void finish_local_commit(WorkbookSession& session, std::optional<std::vector<uint8_t>> update) {
  ++session.revision;
  if (update) notify_change_listeners(*session.listeners, ChangeEvent{std::move(*update), ChangeSource::Local});
}

EditReport build_edit_report(WorkbookSession& session, const formula::RecalcResult& calculation,
                             const std::vector<model::CellAddress>& edited) {
  absl::flat_hash_set<std::tuple<uint32_t, uint32_t, uint32_t>> edited_set;
  edited_set.reserve(edited.size());
  for (const model::CellAddress& cell : edited) edited_set.emplace(cell.sheet, cell.cell.row, cell.cell.col);
  session.last_calculation = clone_calculation_cells(calculation);
  EditReport report;
  report.applied = true;
  for (const model::CellAddress& cell : calculation.changed) {
    if (!edited_set.contains(std::make_tuple(cell.sheet, cell.cell.row, cell.cell.col))) {
      report.changed.push_back(cell);
    }
  }
  report.cycles = calculation.cycles;
  report.limited = calculation.limited;
  return report;
}

}  // namespace cmx::session
