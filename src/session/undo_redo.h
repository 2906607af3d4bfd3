// Taking back the last step and applying it again: a workbook that is not
// collaborative replays its own inverse steps; a collaborative replica pops
// its document's undo manager. Either ends with a full recalculation.
#pragma once

#include <cstdint>
#include <optional>

#include "base/result.h"
#include "session/error.h"
#include "session/local_commit.h"
#include "session/session.h"

namespace cmx::session {

enum class UndoDirection : uint8_t { Undo, Redo };

// Applied false, and nothing changes, when there is nothing to take back.
Result<EditReport, EngineError> undo_redo(WorkbookSession& session, UndoDirection direction,
                                          std::optional<double> now_serial);

struct HistoryDepths {
  uint64_t undo = 0;
  uint64_t redo = 0;
};
HistoryDepths history_depths(const WorkbookSession& session);

}  // namespace cmx::session
