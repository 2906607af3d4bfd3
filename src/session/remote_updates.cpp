#include "session/remote_updates.h"

#include <limits>
#include <string>
#include <utility>

#include "base/number_text.h"
#include "collab/bootstrap.h"
#include "collab/cell_writes.h"
#include "collab/hydration.h"
#include "collab/layout.h"
#include "collab/update_scan.h"
#include "crdt/crdt.h"
#include "session/model_copies.h"
#include "session/validation.h"
#include "session/views.h"

namespace cmx::session {
namespace {

constexpr std::string_view kRemoteOrigin = "xlsx:remote";

EngineError invalid_update(std::string text) { return EngineError::with_text(EngineErrorKind::InvalidUpdate, std::move(text)); }

// What the scan of a queued update showed of it.
struct UpdateSummary {
  std::vector<std::pair<uint64_t, uint32_t>> first_clocks;
  bool deletes = false;
};

UpdateSummary summarize(const crdt::Update& update) {
  UpdateSummary summary;
  for (const auto& [client, blocks] : update.clients) {
    if (!blocks.empty()) summary.first_clocks.emplace_back(client, blocks.front().id.clock);
  }
  summary.deletes = !update.delete_set.empty();
  return summary;
}

crdt::StateVector live_state_vector(const WorkbookSession& session) {
  auto lock = session.authority.doc->read_lock();
  return session.authority.doc->state_vector();
}

std::vector<uint8_t> live_state(const WorkbookSession& session) {
  auto lock = session.authority.doc->read_lock();
  return collab::encode_document_state(*session.authority.doc);
}

// A queued update can only integrate something once one of its clients'
// first clocks has been reached, or when it deletes.
// What every integrated peer update leaves: its engine and calculation, no
// local history (its steps no longer fit the document), and the listeners told.
void finish_remote_integration(WorkbookSession& session, std::unique_ptr<formula::EngineState> engine,
                               const formula::RecalcResult& result, std::vector<uint8_t> update) {
  clear_view_cache(session);
  session.engine = std::move(engine);
  session.last_calculation = clone_calculation_cells(result);
  ops::clear_undo_redo(session.local_history);
  session.source_undo.clear();
  session.source_redo.clear();
  collab::clear_structure_history(session.authority);
  session.calculated = true;
  ++session.revision;
  notify_change_listeners(*session.listeners, ChangeEvent{std::move(update), ChangeSource::Remote});
}

bool worth_retrying(const PendingUpdate& entry, const crdt::StateVector& live) {
  if (entry.deletes) return true;
  for (const auto& [client, clock] : entry.first_clocks) {
    if (clock <= live.get(client)) return true;
  }
  return false;
}

Result<RemoteTrial, EngineError> run_trial(const WorkbookSession& session, std::span<const uint8_t> update,
                                           std::optional<std::span<const uint8_t>> base_state,
                                           UpdateSummary* summary) {
  const collab::Authority& live = session.authority;
  auto decoded = collab::decode_update_bounded(update, collab::ScanLimits::remote());
  if (!decoded) return unexpected(invalid_update(std::move(decoded).error()));
  {
    auto lock = live.doc->read_lock();
    if (auto foreign = collab::check_foreign_update(*decoded, *live.doc); !foreign) {
      return unexpected(invalid_update(std::move(foreign).error()));
    }
  }
  if (summary != nullptr) *summary = summarize(*decoded);

  const crdt::StateVector before = live_state_vector(session);
  std::vector<uint8_t> own_base;
  if (!base_state) own_base = live_state(session);
  const std::span<const uint8_t> base = base_state ? *base_state : std::span<const uint8_t>(own_base);

  auto created = crdt::Doc::create(live.doc->client_id() & crdt::kMaxClientId);
  if (!created) return unexpected(EngineError::collaborative_state(collab::write_failure(created.error())));
  collab::Authority scratch{std::shared_ptr<crdt::Doc>(std::move(*created)), live.base, live.replica_sheet_counter,
                            {}, {}, {}, {}};
  if (auto hydrated = collab::hydrate_from_update(*scratch.doc, base); !hydrated) {
    return unexpected(EngineError::collaborative_state(std::move(hydrated).error()));
  }
  {
    crdt::Transaction txn(*scratch.doc, std::string(kRemoteOrigin));
    auto applied = txn.apply_update(std::move(*decoded));
    txn.commit();
    if (!applied) return unexpected(invalid_update(crdt::crdt_error_message(applied.error())));
  }

  RemoteTrial trial;
  trial.pending = scratch.doc->has_pending();
  if (auto migrated = collab::hydrate_document(scratch); !migrated && !trial.pending) {
    return unexpected(EngineError::collaborative_state(std::move(migrated).error()));
  }
  trial.state_size = collab::encode_document_state(*scratch.doc).size();
  trial.update = scratch.doc->encode_state_as_update(before);
  trial.state_vector_entries = collab::state_vector_entry_count(scratch);
  const bool same_vector = scratch.doc->state_vector() == before;

  // The live projection stands in whenever the trial changes nothing.
  auto take_live = [&]() -> Result<void, EngineError> {
    auto projected = collab::decode_document(live, true);
    if (!projected) return unexpected(EngineError::collaborative_state(std::move(projected).error()));
    trial.model = std::move(projected->model);
    trial.replica = std::move(projected->replica);
    trial.update = {0, 0};
    trial.state_size = base.size();  // the live document's whole state
    trial.state_vector_entries = collab::state_vector_entry_count(live);
    trial.changed = false;
    return {};
  };
  // Equal vectors leave only the projections to tell a change.
  auto differs_from_live = [&](const collab::Projection& projected) -> Result<bool, EngineError> {
    auto current = collab::decode_document(live, true);
    if (!current) return unexpected(EngineError::collaborative_state(std::move(current).error()));
    return !workbook_model_eq(projected.model, current->model) ||
           !collab::replica_state_eq(projected.replica, current->replica);
  };

  const bool empty_update = trial.update.size() == 2 && trial.update[0] == 0 && trial.update[1] == 0;
  if (trial.pending) {
    // A projection that fails while predecessors are missing counts as no change.
    std::optional<collab::Projection> projected;
    if (!empty_update) {
      if (auto decoded_scratch = collab::decode_document(scratch, true)) projected = std::move(*decoded_scratch);
    }
    bool changed = projected.has_value();
    if (changed && same_vector) {
      CMX_ASSIGN_OR_RETURN(changed, differs_from_live(*projected));
    }
    if (changed) {
      trial.model = std::move(projected->model);
      trial.replica = std::move(projected->replica);
      trial.changed = true;
    } else {
      CMX_TRY(take_live());
    }
  } else {
    auto projected = collab::decode_document(scratch, true);
    if (!projected) return unexpected(EngineError::collaborative_state(std::move(projected).error()));
    bool changed = !same_vector;
    if (!changed) {
      CMX_ASSIGN_OR_RETURN(changed, differs_from_live(*projected));
    }
    trial.model = std::move(projected->model);
    trial.replica = std::move(projected->replica);
    trial.changed = changed;
  }

  CMX_TRY(check_update_limits(trial.state_size, trial.state_vector_entries));
  if (auto repinned = check_remote_repins(session, trial.model); !repinned) {
    return unexpected(EngineError::collaborative_state(engine_error_display(repinned.error())));
  }
  return trial;
}

// The trial and the integration at once, for an update whose whole effect
// remote_cell_plan shows beforehand (only cell entries, nothing pending, no
// structure, every written value one the checks accept, the limits kept):
// it goes straight into the live document and only its cells are projected
// again. The model, the recalculation, the report, the histories and the
// bytes told to the listeners are those of the trial's road. None when the
// plan declines; nothing has changed then and the trial decides.
Result<std::optional<bool>, EngineError> integrate_cells_directly(WorkbookSession& session,
                                                                  std::span<const uint8_t> update,
                                                                  const std::vector<model::SheetModel>& before,
                                                                  std::optional<double> now_serial,
                                                                  UpdateSummary& summary) {
  using Declined = std::optional<bool>;
  collab::Authority& live = session.authority;
  auto decoded = collab::decode_update_bounded(update, collab::ScanLimits::remote());
  if (!decoded) return unexpected(invalid_update(std::move(decoded).error()));
  {
    auto lock = live.doc->read_lock();
    if (auto foreign = collab::check_foreign_update(*decoded, *live.doc); !foreign) {
      return unexpected(invalid_update(std::move(foreign).error()));
    }
  }
  summary = summarize(*decoded);
  if (!live_structure_frozen(session)) return Declined();
  auto plan = collab::remote_cell_plan(live, *decoded, update.size());
  if (!plan) return Declined();
  // Cell entries leave the charts as they are: they must still pass.
  if (!check_chart_repins(session, session.model)) return Declined();
  const size_t style_count = std::max<size_t>(session.model.styles.cell_xfs.size(), 1);
  for (const model::SheetCell& cell : plan->written) {
    if (!validate_cell_for_sharing(cell, style_count)) return Declined();
  }
  const crdt::StateVector before_vector = live_state_vector(session);
  const uint64_t state_bound = collab::state_size_bound(live);
  if (before_vector.size() + plan->new_clients > collab::kMaxStateVectorEntries ||
      state_bound > collab::kMaxCollaborationBytes ||
      plan->state_growth > collab::kMaxCollaborationBytes - state_bound) {
    return Declined();
  }

  {
    crdt::Transaction txn(*live.doc, std::string(kRemoteOrigin));
    auto applied = txn.apply_update(std::move(*decoded));
    txn.commit();
    if (!applied) return unexpected(invalid_update(crdt::crdt_error_message(applied.error())));
  }
  collab::raise_state_size_bound(live, plan->state_growth);
  std::vector<uint8_t> integrated;
  {
    auto lock = live.doc->read_lock();
    if (live.doc->has_pending()) {
      return unexpected(EngineError::collaborative_state("a planned remote update left structs waiting"));
    }
    integrated = live.doc->encode_state_as_update(before_vector);
  }
  auto catalog = collab::project_catalog(live);
  if (!catalog) return unexpected(EngineError::collaborative_state("cell format catalog does not decode"));
  auto cells = collab::project_cell_list(live, plan->cells, *catalog);
  if (!cells) return unexpected(EngineError::collaborative_state("remote cells do not decode"));

  // The trial's projection carries the array ranges of unchanged formulas
  // over and is then recalculated whole, from any cached results.
  model::WorkbookModel& model = session.model;
  for (auto& [at, cell] : *cells) {
    model::SheetModel& sheet = model.sheets[at.sheet];
    const model::CellKey key{at.cell.row, at.cell.col};
    const auto current = sheet.cells.find(key);
    const bool kept_formula = cell && cell->formula && current != sheet.cells.end() &&
                              current->second.formula && current->second.formula->view() == cell->formula->view();
    if (!kept_formula) sheet.array_ranges.erase(key);
    if (cell) {
      sheet.cells.insert_or_assign(key, std::move(*cell));
    } else if (current != sheet.cells.end()) {
      sheet.cells.erase(current);
    }
  }
  auto [engine, result] = formula::recalculate_all(model, now_serial);
  result.changed = changed_cells_between(before, model.sheets);

  ++session.generation;
  session.chart_cache.with([](ParsedChartCache& cache) { cache.clear(); });
  finish_remote_integration(session, std::move(engine), result, std::move(integrated));
  return Declined(true);
}

// The frozen structure a peer's document must keep, field by field; the
// counter and the map ids may differ between documents.
bool same_adopted_structure(const collab::ReplicaState& a, const collab::ReplicaState& b) {
  return a.sheet_keys == b.sheet_keys && a.sheet_names == b.sheet_names &&
         a.sheet_freeze_panes == b.sheet_freeze_panes && a.sheet_hyperlinks == b.sheet_hyperlinks &&
         a.sheet_charts == b.sheet_charts && a.sheet_merges == b.sheet_merges;
}

// Adoption of a peer's whole document: none when the update is no complete
// workbook document (the normal path then takes it).
Result<std::optional<EditReport>, EngineError> adopt_remote_document(WorkbookSession& session,
                                                                     std::span<const uint8_t> update,
                                                                     const collab::ReplicaState& expected,
                                                                     const std::vector<model::SheetModel>& before,
                                                                     std::optional<double> now_serial) {
  using Declined = std::optional<EditReport>;
  const collab::Authority& live = session.authority;
  auto created = crdt::Doc::create(live.doc->client_id() & crdt::kMaxClientId);
  if (!created) return Declined();
  auto decoded = collab::decode_update_bounded(update, collab::ScanLimits::remote());
  if (!decoded) return Declined();
  {
    crdt::Transaction txn(**created, std::string(collab::kHydrateOrigin));
    auto applied = txn.apply_update(std::move(*decoded));
    txn.commit();
    if (!applied) return Declined();
  }
  collab::Authority scratch{std::shared_ptr<crdt::Doc>(std::move(*created)), live.base, live.replica_sheet_counter,
                            {}, {}, {}, {}};
  {
    auto lock = scratch.doc->read_lock();
    if (!collab::check_root_names(*scratch.doc)) return Declined();
    crdt::Branch* metadata = scratch.doc->find_root(collab::kMetadataRoot);
    if (metadata == nullptr) return Declined();
    if (!collab::check_map_keys(crdt::MapRef(metadata), collab::kMetadataKeys, "workbook metadata")) {
      return Declined();
    }
  }

  if (auto migrated = collab::hydrate_document(scratch); !migrated) {
    return unexpected(EngineError::collaborative_state(std::move(migrated).error()));
  }
  if (auto strict = collab::decode_document(scratch, true); !strict) {
    return unexpected(EngineError::collaborative_state(std::move(strict).error()));
  }
  // Projection is a pure function of the document: one lenient pass gives
  // both the structure to compare and the new model.
  auto projected = collab::decode_document(scratch, false);
  if (!projected) return unexpected(EngineError::collaborative_state(std::move(projected).error()));
  if (!same_adopted_structure(projected->replica, expected)) {
    return unexpected(EngineError::of(EngineErrorKind::CollaborativeStructureChanged));
  }
  model::WorkbookModel adopted = std::move(projected->model);
  copy_sheets_for_staging(session.model.sheets, adopted.sheets);
  if (auto repinned = check_remote_repins(session, adopted); !repinned) {
    return unexpected(EngineError::collaborative_state(engine_error_display(repinned.error())));
  }
  std::vector<uint8_t> whole = collab::encode_document_state(*scratch.doc);
  CMX_TRY(check_update_limits(whole.size(), collab::state_vector_entry_count(scratch)));

  auto [engine, result] = formula::recalculate_all(adopted, now_serial);
  result.changed = changed_cells_between(session.model.sheets, adopted.sheets);

  const size_t sheet_count = adopted.sheets.size();
  session.authority = std::move(scratch);
  resize_sheet_sources(session.sheet_sources, sheet_count);
  install_model(session, std::move(adopted));
  clear_view_cache(session);
  session.engine = std::move(engine);
  session.last_calculation = std::move(result);
  session.replica = std::move(projected->replica);
  session.pending_updates.clear();
  session.pending_retry_due = false;
  ops::clear_undo_redo(session.local_history);
  session.source_undo.clear();
  session.source_redo.clear();
  collab::clear_structure_history(session.authority);
  session.proposals.clear();
  session.calculated = true;
  session.version_id = new_version_id();
  notify_change_listeners(*session.listeners, ChangeEvent{std::move(whole), ChangeSource::Local});
  return Declined(remote_update_report(session, before, true));
}

bool in_bootstrap_state(const WorkbookSession& session) {
  const crdt::Doc& doc = *session.authority.doc;
  auto lock = doc.read_lock();
  const crdt::StateVector sv = doc.state_vector();
  if (sv.size() != 1) return false;
  if ((sv.entries().begin()->first & crdt::kMaxClientId) != session.authority.base->bootstrap_client_id) return false;
  return doc.store().delete_set().empty();
}

}  // namespace

Result<RemoteTrial, EngineError> apply_remote_update(const WorkbookSession& session,
                                                     std::span<const uint8_t> update,
                                                     std::optional<std::span<const uint8_t>> base_state) {
  return run_trial(session, update, base_state, nullptr);
}

Result<void, EngineError> check_update_limits(uint64_t state_size, uint64_t state_vector_entries) {
  if (state_size > collab::kMaxCollaborationBytes) {
    return unexpected(EngineError::with_numbers(EngineErrorKind::CollaborationDataTooLarge, state_size,
                                                collab::kMaxCollaborationBytes));
  }
  if (state_vector_entries > collab::kMaxStateVectorEntries) {
    return unexpected(EngineError::collaborative_state(collab::state_vector_limit_message(state_vector_entries)));
  }
  return {};
}

Result<void, EngineError> check_remote_repins(const WorkbookSession& session, const model::WorkbookModel& candidate) {
  CMX_TRY(validate_workbook_for_sharing(candidate));
  return check_chart_repins(session, candidate);
}

Result<void, EngineError> check_chart_repins(const WorkbookSession& session, const model::WorkbookModel& candidate) {
  bool charts = false;
  for (const model::SheetModel& sheet : candidate.sheets) charts = charts || !sheet.charts.empty();
  if (charts && !session.source_package) {
    return unexpected(
        EngineError::invalid_operation("charts can only be preserved from a source package, and this workbook has none"));
  }
  for (const model::SheetModel& sheet : candidate.sheets) {
    for (const model::SheetChart& chart : sheet.charts) {
      auto pinned = session.pinned_charts.find(model::chart_frame_key(chart));
      if (pinned != session.pinned_charts.end() && pinned->second == chart.anchor) continue;
      if (auto valid = check_chart_anchor_values(chart.anchor); !valid) {
        return unexpected(EngineError::invalid_operation("remote update repins " + chart.part + ": " +
                                                         std::string(valid.error())));
      }
    }
  }
  return {};
}

void resize_sheet_sources(SheetSourceTable& table, size_t sheet_count) {
  table.origins.resize(sheet_count);
  table.source_maps.resize(sheet_count);
  table.move_maps.resize(sheet_count);
  table.added.resize(sheet_count, 0);
}

Result<std::pair<formula::RecalcResult, bool>, EngineError> integrate_remote_update(
    WorkbookSession& session, RemoteTrial trial, std::optional<double> now_serial) {
  if (!trial.changed) return std::pair(formula::RecalcResult{}, false);
  copy_sheets_for_staging(session.model.sheets, trial.model.sheets);
  auto [engine, result] = formula::recalculate_all(trial.model, now_serial);
  result.changed = changed_cells_between(session.model.sheets, trial.model.sheets);

  auto decoded = collab::decode_update_bounded(trial.update, collab::ScanLimits::own(trial.update));
  if (!decoded) return unexpected(invalid_update(std::move(decoded).error()));
  {
    crdt::Transaction txn(*session.authority.doc, std::string(kRemoteOrigin));
    auto applied = txn.apply_update(std::move(*decoded));
    txn.commit();
    if (!applied) return unexpected(invalid_update(crdt::crdt_error_message(applied.error())));
  }

  install_model(session, std::move(trial.model));
  finish_remote_integration(session, std::move(engine), result, std::move(trial.update));
  return std::pair(std::move(result), true);
}

Result<bool, EngineError> retry_pending_updates(WorkbookSession& session, const collab::ReplicaState& expected,
                                                std::optional<double> now_serial) {
  if (session.pending_updates.empty()) {
    session.pending_retry_due = false;
    return false;
  }
  // Settled only when the walk below ends normally.
  session.pending_retry_due = true;
  bool changed = false;
  std::optional<EngineError> dropped;
  std::optional<std::vector<uint8_t>> base;
  std::optional<crdt::StateVector> live;
  size_t i = 0;
  while (i < session.pending_updates.size()) {
    if (!live) live = live_state_vector(session);
    if (!worth_retrying(session.pending_updates[i], *live)) {
      ++i;
      continue;
    }
    if (!base) base = live_state(session);
    const std::vector<uint8_t> entry = session.pending_updates[i].bytes;
    auto trial = apply_remote_update(session, entry, std::span<const uint8_t>(*base));
    auto erase_entry = [&] { session.pending_updates.erase(session.pending_updates.begin() + static_cast<ptrdiff_t>(i)); };
    if (!trial) {
      erase_entry();
      if (!dropped) dropped = std::move(trial).error();
      continue;
    }
    if (!collab::replica_state_eq(trial->replica, expected)) {
      erase_entry();
      continue;
    }
    if (trial->pending && !trial->changed) {
      ++i;
      continue;
    }
    if (!trial->pending) erase_entry();
    auto integrated = integrate_remote_update(session, std::move(*trial), now_serial);
    if (!integrated) return unexpected(std::move(integrated).error());
    changed = changed || integrated->second;
    base.reset();
    live.reset();
    i = 0;
  }
  session.pending_retry_due = false;
  if (dropped) return unexpected(std::move(*dropped));
  return changed;
}

EditReport remote_update_report(const WorkbookSession& session, const std::vector<model::SheetModel>& before,
                                bool changed) {
  EditReport report;
  if (!changed) return report;
  report.changed = changed_cells_between(before, session.model.sheets);
  report.cycles = session.last_calculation.cycles;
  report.limited = session.last_calculation.limited;
  report.applied = true;
  return report;
}

Result<EditReport, EngineError> apply_update(WorkbookSession& session, std::span<const uint8_t> update,
                                             std::optional<double> now_serial) {
  if (!session.replica) return unexpected(EngineError::of(EngineErrorKind::NotCollaborative));
  const collab::ReplicaState expected = *session.replica;

  for (auto it = session.pending_updates.begin(); it != session.pending_updates.end(); ++it) {
    if (std::equal(it->bytes.begin(), it->bytes.end(), update.begin(), update.end())) {
      session.pending_updates.erase(it);
      break;
    }
  }
  const std::vector<model::SheetModel> before = session.model.sheets;

  if (in_bootstrap_state(session)) {
    auto adopted = adopt_remote_document(session, update, expected, before, now_serial);
    if (!adopted) return unexpected(std::move(adopted).error());
    if (*adopted) return std::move(**adopted);
  }

  UpdateSummary summary;
  CMX_ASSIGN_OR_RETURN(std::optional<bool> direct,
                       integrate_cells_directly(session, update, before, now_serial, summary));
  bool changed = direct.value_or(false);
  if (direct) {
    // Integrated: nothing of the trial's road is left to do.
  } else if (auto trial = run_trial(session, update, std::nullopt, &summary); !trial) {
    return unexpected(std::move(trial).error());
  } else if (!collab::replica_state_eq(trial->replica, expected)) {
    return unexpected(EngineError::of(EngineErrorKind::CollaborativeStructureChanged));
  } else if (trial->pending) {
    const size_t queued = session.pending_updates.size();
    if (queued >= kMaxPendingUpdates) {
      return unexpected(EngineError::with_numbers(EngineErrorKind::CollaborationPendingUpdatesTooMany, queued + 1,
                                                  kMaxPendingUpdates));
    }
    uint64_t total = update.size();
    for (const PendingUpdate& entry : session.pending_updates) {
      total = total > std::numeric_limits<uint64_t>::max() - entry.bytes.size() ? std::numeric_limits<uint64_t>::max()
                                                                                : total + entry.bytes.size();
    }
    if (total > collab::kMaxCollaborationBytes) {
      return unexpected(
          EngineError::with_numbers(EngineErrorKind::CollaborationDataTooLarge, total, collab::kMaxCollaborationBytes));
    }
    if (trial->changed) {
      auto integrated = integrate_remote_update(session, std::move(*trial), now_serial);
      if (!integrated) return unexpected(std::move(integrated).error());
      changed = integrated->second;
    }
    session.pending_updates.push_back(
        PendingUpdate{std::vector<uint8_t>(update.begin(), update.end()), std::move(summary.first_clocks), summary.deletes});
  } else {
    auto integrated = integrate_remote_update(session, std::move(*trial), now_serial);
    if (!integrated) return unexpected(std::move(integrated).error());
    changed = integrated->second;
  }
  // Every queued update was last tried against the live document as it
  // stands unless something was integrated since.
  bool retried_any = false;
  if (changed || session.pending_retry_due) {
    auto retried = retry_pending_updates(session, expected, now_serial);
    if (!retried) return unexpected(std::move(retried).error());
    retried_any = *retried;
    changed = changed || *retried;
  }
  if (direct && *direct && !retried_any) {
    // The one integration of the call already compared these same sheets.
    EditReport report;
    report.changed = session.last_calculation.changed;
    report.cycles = session.last_calculation.cycles;
    report.limited = session.last_calculation.limited;
    report.applied = true;
    return report;
  }
  return remote_update_report(session, before, changed);
}

}  // namespace cmx::session
