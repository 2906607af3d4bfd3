// Lists of edit steps applied to the session as one local commit: each step
// checked against the copy it is about to change, the copy checked as a
// whole, committed, recalculated and reported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "model/address.h"
#include "model/workbook.h"
#include "ops/batch.h"
#include "session/error.h"
#include "session/local_commit.h"
#include "session/session.h"

namespace cmx::session {

inline constexpr uint64_t kMaxRangeCells = 100000;

struct RangeSize {
  uint64_t rows = 0;
  uint64_t columns = 0;
};

// CellOutOfRange (start, then end), the corner order, SheetOutOfRange, the
// editable-worksheet refusal, then RangeTooLarge above 100,000 cells.
Result<RangeSize, EngineError> check_editable_range(const WorkbookSession& session, uint32_t sheet,
                                                    const model::CellRange& range);

// The per-step check; reads the model only.
Result<void, EngineError> validate_operation(const model::WorkbookModel& workbook, const ops::WorkbookOp& op);

// Steps that change the sheet list, rows, columns or whole-sheet records.
bool is_structural_op(const ops::WorkbookOp& op);

// Applies nothing and reports applied false when the steps change nothing.
Result<EditReport, EngineError> apply_range_operation(WorkbookSession& session, ops::Batch operations,
                                                      std::optional<double> now_serial);

// The sheet named `name` (Unicode case ignored), else the nearest index.
void reselect_active_sheet(WorkbookSession& session, const std::optional<std::string>& name);

}  // namespace cmx::session
