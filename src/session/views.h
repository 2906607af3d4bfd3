// The derived state kept beside the model: the cached view of the active
// sheet, the model slot with its generation, and the source record kept in
// step with applied edits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "base/result.h"
#include "ops/workbook_op.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::session {

struct WorkbookView {
  std::vector<std::string> sheet_keys;
  std::vector<std::string> sheet_names;
  uint32_t active_sheet = 0;
  ViewExtent extent;
};

// The style each edited cell of the active sheet had before an edit.
struct CellRefHash {
  size_t operator()(const model::CellRef& ref) const {
    return (size_t{ref.row} << 16) ^ ref.col ^ (size_t{ref.abs_row} << 62) ^ (size_t{ref.abs_col} << 63);
  }
};
using CellStyleStates = absl::flat_hash_map<model::CellRef, std::optional<uint32_t>, CellRefHash>;

// The scrollable extent of a sheet from its used range (50 rows by 26
// columns without one), its pane and its metrics; at most the whole grid.
ViewExtent compute_view_extent(const std::optional<model::CellRange>& used_range,
                               const std::optional<model::FreezePane>& pane, const model::GridMetrics& metrics);

// A copy of the cached view, filled first when absent. SheetOutOfRange when
// the active sheet is not below the sheet count (nothing is cached then).
Result<WorkbookView, EngineError> refresh_view_cache(WorkbookSession& session);
void clear_view_cache(WorkbookSession& session);

// Before an edit is installed: the styles of the active sheet's existing
// cells that the SetCell steps will write. Empty while nothing is cached.
CellStyleStates collect_view_cell_states(WorkbookSession& session, const std::vector<ops::WorkbookOp>& ops);
// After the edited model is in place: keeps the view (widening its used
// range) or drops it when the edit may have changed the geometry.
void update_view_cache(WorkbookSession& session, const std::vector<ops::WorkbookOp>& ops,
                       const CellStyleStates& before);

// Replaces the model, counts a generation and empties the chart cache.
void install_model(WorkbookSession& session, model::WorkbookModel workbook);

// Keeps the source record in step with applied steps, given the sheet names
// before them: sheets inserted or removed in all four lists at once, cell
// origins and move maps moved with row and column edits, and
// `retained_refs_moved` set when such an edit moves cells a retained part of
// the source package references (or names a sheet past the list).
void rebuild_sheet_cell_maps(WorkbookSession& session, const std::vector<std::string>& names_before,
                             const std::vector<ops::WorkbookOp>& ops);

formula::RecalcResult clone_calculation_cells(const formula::RecalcResult& result);

}  // namespace cmx::session
