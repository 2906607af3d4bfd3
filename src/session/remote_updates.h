// Merging updates from peers into a collaborative replica. An update is
// tried on a scratch replica built from the live document, checked there
// (frozen structure, size limits, pinned charts), and only then applied to
// the live document, recalculated and installed. Updates that wait for
// predecessors are queued and retried after later integrations; a replica
// still in its bootstrap state adopts a peer's whole document instead.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "collab/projection.h"
#include "formula/recalc.h"
#include "model/workbook.h"
#include "session/local_commit.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::session {

// Most updates the pending queue holds.
inline constexpr uint64_t kMaxPendingUpdates = 4096;

// A trial that passed every check: what the live document still has to
// apply, and the workbook it would then project into.
struct RemoteTrial {
  std::vector<uint8_t> update;  // against the live state vector before the trial
  model::WorkbookModel model;
  collab::ReplicaState replica;
  uint64_t state_size = 0;
  uint64_t state_vector_entries = 0;
  bool changed = false;
  bool pending = false;  // something still waits for missing predecessors
};

// The session operation behind Workbook.apply_update. Errors:
// NotCollaborative, InvalidUpdate, CollaborativeState,
// CollaborativeStructureChanged, CollaborationDataTooLarge,
// CollaborationPendingUpdatesTooMany. An error after an integration leaves
// that integration in place.
Result<EditReport, EngineError> apply_update(WorkbookSession& session, std::span<const uint8_t> update,
                                             std::optional<double> now_serial);

// Tries `update` on a scratch replica hydrated from `base_state` (the live
// document's whole state; encoded here when not given).
Result<RemoteTrial, EngineError> apply_remote_update(const WorkbookSession& session,
                                                     std::span<const uint8_t> update,
                                                     std::optional<std::span<const uint8_t>> base_state);

// Applies a changed trial to the live document and installs its model.
// Returns the recalculation and whether anything was integrated.
Result<std::pair<formula::RecalcResult, bool>, EngineError> integrate_remote_update(
    WorkbookSession& session, RemoteTrial trial, std::optional<double> now_serial);

// Tries the queued updates again until none integrates any more. An entry
// whose trial fails is dropped, and the first such error is returned once
// the queue is settled; integrations stay in place.
Result<bool, EngineError> retry_pending_updates(WorkbookSession& session, const collab::ReplicaState& expected,
                                                std::optional<double> now_serial);

// The report of one apply_update call against the sheets before it.
EditReport remote_update_report(const WorkbookSession& session, const std::vector<model::SheetModel>& before,
                                bool changed);

// The whole state's size, then the state vector's entry count.
Result<void, EngineError> check_update_limits(uint64_t state_size, uint64_t state_vector_entries);

// The sharing rules, and every chart not at its pinned anchor moved to a
// valid one.
Result<void, EngineError> check_remote_repins(const WorkbookSession& session, const model::WorkbookModel& candidate);
// Its chart part alone: charts need a source package, and every chart whose
// anchor is not the pinned one must have valid anchor values.
Result<void, EngineError> check_chart_repins(const WorkbookSession& session, const model::WorkbookModel& candidate);

// Each list of the table brought to `sheet_count` entries (new ones empty).
void resize_sheet_sources(SheetSourceTable& table, size_t sheet_count);

}  // namespace cmx::session
