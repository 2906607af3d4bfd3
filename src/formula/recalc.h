// Recalculation: bring the cached values of formula cells up to date, in
// dependency order, with cycle resolution, spilling and shared budgets.
#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "formula/engine_state.h"
#include "model/cell_address.h"
#include "model/workbook.h"

namespace cmx::formula {

// Cycle resolution runs passes only over at most this many pending cells.
inline constexpr size_t kMaxPendingCells = 4'096;
// The first wave included.
inline constexpr int kMaxRecalcWaves = 4;

struct RecalcResult {
  std::vector<model::CellAddress> changed;  // ascending, no duplicates
  std::vector<model::CellAddress> cycles;   // per wave ascending; may repeat across waves
  std::vector<model::CellAddress> limited;  // in handling order; may repeat across waves
};

// The evaluation order of a dirty set, and the cells it cannot place (cycles
// and what reads them), ascending.
struct Ordering {
  std::vector<CellKey> order;
  std::vector<FormulaEntry> entries;  // of `order`, where it holds formulas
  std::vector<CellKey> pending;
};
Ordering order_dirty(const EngineState& state, const absl::flat_hash_set<CellKey>& dirty);
// The same over keys already sorted, with their entries (empty: looked up).
Ordering order_sorted(const EngineState& state, const std::vector<CellKey>& keys,
                      std::vector<FormulaEntry> entries);

RecalcResult run_recalculation(model::WorkbookModel& model, const EngineState& state,
                               absl::flat_hash_set<CellKey> dirty, std::optional<double> now);

// The edited cells, the volatile cells and everything that reads them.
RecalcResult recalculate_after_edit(model::WorkbookModel& model, EngineState& state,
                                    const std::vector<model::CellAddress>& edited,
                                    std::optional<double> now);

std::pair<std::unique_ptr<EngineState>, RecalcResult> recalculate_all(model::WorkbookModel& model,
                                                                     std::optional<double> now);

}  // namespace cmx::formula
