// Writing what a user types: one cell, or many cells of one sheet as one
// undo step. Each applies nothing when no cell would change; otherwise the
// edit goes through the document, the model, the views and the histories
// together, the written cells are re-registered and recalculated, and the
// report lists what else the recalculation changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/address.h"
#include "session/error.h"
#include "session/local_commit.h"
#include "session/session.h"

namespace cmx::session {

struct CellEdit {
  model::CellRef cell;
  std::string text;
};

// InvalidOperation "sheet {} is not an editable worksheet" when the sheet
// came from a package part whose relationship type is not a worksheet's.
Result<void, EngineError> check_editable_worksheet(const WorkbookSession& session, uint32_t sheet);

// Errors: SheetOutOfRange, the worksheet refusal, CellOutOfRange, the typed
// input's limits, and those of the document; none of these changes anything.
Result<EditReport, EngineError> set_cell(WorkbookSession& session, uint32_t sheet, model::CellRef cell,
                                         std::string_view text, std::optional<double> now_serial);

// All edits are checked on a staged copy before anything reaches the
// session; a failure anywhere applies none of them.
Result<EditReport, EngineError> set_many_cells(WorkbookSession& session, uint32_t sheet,
                                               const std::vector<CellEdit>& edits,
                                               std::optional<double> now_serial);

// After a committed edit: the edited cells registered again in order (the
// last text of a cell wins), recalculated, and reported.
EditReport reregister_and_recalculate(WorkbookSession& session, const std::vector<model::CellAddress>& edited,
                                      const std::vector<std::optional<std::string>>& formulas,
                                      std::optional<double> now_serial);

}  // namespace cmx::session
