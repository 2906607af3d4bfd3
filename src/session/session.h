// WorkbookSession: everything the engine keeps about one open workbook, built
// only by opening (open.h) and changed only by the session operations. Also
// the version text, the change listeners and their broadcast.
// Read next: open.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "model/grid_metrics.h"
#include "model/workbook.h"
#include "ops/batch.h"
#include "reader/source_package.h"
#include "session/document.h"
#include "session/guarded.h"
#include "session/source_table.h"

namespace cmx::session {

enum class ChangeSource : uint8_t {
  Local = 0,          // a commit made by this session
  Remote = 1,         // an update from a peer, integrated
  Recalculation = 2,  // a recalculation request that changed results
};

struct ChangeEvent {
  std::vector<uint8_t> update;  // empty for a recalculation
  ChangeSource source = ChangeSource::Local;
};

using ChangeCallback = std::function<void(ChangeEvent)>;

// Listener id -> callback, walked in ascending id order.
class ChangeListeners {
 public:
  uint64_t add(ChangeCallback callback);
  void remove(uint64_t id);
  // Each callback gets its own copy of the event; none runs under the lock,
  // so a callback may add or remove listeners.
  void notify(ChangeEvent event);

 private:
  struct Registry {
    uint64_t next_id = 1;
    std::map<uint64_t, std::shared_ptr<const ChangeCallback>> callbacks;
  };
  Guarded<Registry> registry_;
};

// Broadcasts `event` to every registered listener.
void notify_change_listeners(ChangeListeners& listeners, ChangeEvent event);

// 32 lowercase hexadecimal digits of a random version-4 UUID: the 13th digit
// is "4", the 17th one of "8", "9", "a", "b".
std::string new_version_id();

// Parsed chart parts of the renderer; the session only empties and drops it.
struct ParsedChart;
using ParsedChartCache = absl::flat_hash_map<std::string, std::shared_ptr<const ParsedChart>>;
// Package part name -> SHA-256 (lowercase hex) of each part the structured
// export named.
using ExportTextCache = std::map<std::string, std::string>;

// "{drawing}#{anchor index}" -> the chart's anchor, over every sheet.
using PinnedChartAnchors = std::map<std::string, model::ChartAnchor>;
PinnedChartAnchors collect_pinned_chart_anchors(const model::WorkbookModel& workbook);

struct ViewExtent {
  float content_width = 0.0f;
  float content_height = 0.0f;
  uint32_t frozen_rows = 0;
  uint32_t frozen_cols = 0;
  float scroll_x = 0.0f;
  float scroll_y = 0.0f;
  friend bool operator==(const ViewExtent&, const ViewExtent&) = default;
};

struct ViewCache {
  std::vector<std::string> sheet_keys;
  std::vector<std::string> sheet_names;
  uint32_t active_sheet = 0;
  ViewExtent extent;
  model::GridMetrics metrics;
  std::optional<model::CellRange> used_range;
};

// A snapshot of the source record before and after one local edit.
using SourceSnapshot = std::pair<SheetSourceTable, SheetSourceTable>;

// A peer's update that waits for predecessors, with what its scan showed:
// each client's first clock, and whether it deletes anything. A retry tries
// it only when one of those clocks has been reached or it deletes.
struct PendingUpdate {
  std::vector<uint8_t> bytes;
  std::vector<std::pair<uint64_t, uint32_t>> first_clocks;
  bool deletes = false;
};

// Opaque to this library: staged proposals.
struct ProposalRecord;

// A workbook opened without a client id gets its document when something
// first needs it (ensure_document, open.h): until then `authority` is empty
// and the replica id drawn at open waits here.
struct DeferredDocument {
  std::mutex mutex;
  // The package the document is built from (shared with source_bytes).
  std::shared_ptr<const std::string> package;
  uint64_t replica_client_id = 0;
  bool built = false;
};

struct WorkbookSession {
  // Read only after ensure_document (open.h).
  SessionDocument authority;
  std::unique_ptr<DeferredDocument> deferred;
  std::vector<PendingUpdate> pending_updates;
  // Set when a retry ended early, so that the queue is not yet settled
  // against the live document.
  bool pending_retry_due = false;
  model::WorkbookModel model;
  SheetSourceTable sheet_sources;
  std::vector<SourceSnapshot> source_undo;
  std::vector<SourceSnapshot> source_redo;
  ops::LocalHistory local_history;
  std::vector<std::shared_ptr<ProposalRecord>> proposals;
  uint64_t proposal_counter = 0;
  formula::RecalcResult last_calculation;
  std::string version_id;
  std::optional<ReplicaSnapshot> replica;  // present exactly when collaborative
  std::optional<reader::SourcePackage> source_package;
  std::unique_ptr<formula::EngineState> engine;
  std::shared_ptr<ChangeListeners> listeners = std::make_shared<ChangeListeners>();
  std::shared_ptr<const std::string> source_bytes;
  PinnedChartAnchors pinned_charts;
  Guarded<std::optional<ViewCache>> view_cache;
  uint64_t generation = 0;
  uint64_t revision = 0;
  Guarded<ParsedChartCache> chart_cache;
  Guarded<ExportTextCache> export_text_cache;
  uint32_t active_sheet = 0;
  bool calculated = false;
  bool retained_refs_moved = false;

  bool collaborative() const { return replica.has_value(); }
};

// "{version_id}-{revision}".
std::string session_version(const WorkbookSession& session);

// The sheet at `index`, or SheetOutOfRange with it.
Result<const model::SheetModel*, EngineError> sheet_at_or_error(const WorkbookSession& session, uint32_t index);

}  // namespace cmx::session
