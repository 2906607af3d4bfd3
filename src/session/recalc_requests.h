// Recalculation requests: a full recalculation of the workbook with the
// session's bookkeeping, and the change detection that moves the revision.
#pragma once

#include <optional>

#include "formula/recalc.h"
#include "session/session.h"

namespace cmx::session {

// generation + 1, and the chart cache emptied.
void bump_generation(WorkbookSession& session);

// Recalculates every formula with `now_serial` for NOW and TODAY, keeps the
// new dependency graph and the result as the last calculation.
formula::RecalcResult recalculate_session(WorkbookSession& session, std::optional<double> now_serial);

// recalculate_session, then one revision step and a Recalculation event when
// a value changed, the set of cycle or limited cells differs from the last
// calculation's, or this is the first calculation of a workbook whose file
// left formula cells without cached values.
formula::RecalcResult recalculate_workbook(WorkbookSession& session, std::optional<double> now_serial);

}  // namespace cmx::session
