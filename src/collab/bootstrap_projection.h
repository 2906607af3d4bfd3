// The projection of a freshly bootstrapped document, computed from the
// workbook itself: what writing the workbook into a document, replaying that
// into a replica and reading the replica back gives, without building any
// of it. Read next: projection.h.
#pragma once

#include <string>

#include "base/result.h"
#include "collab/projection.h"
#include "crdt/crdt.h"
#include "model/workbook.h"

namespace cmx::collab {

// Turns `workbook` into the model that the strict projection of its
// bootstrap document gives, keeping the array-formula ranges whose anchor
// still holds its formula (as copy_sheets_for_staging carries them over).
// Returns false and leaves the workbook unchanged when it holds anything the
// round trip could refuse: a cell, width or height key out of bounds, a
// non-finite number, text that is not UTF-8, a style index out of range, a
// freeze pane out of bounds, a cell format, hyperlink or chart list that does
// not read back, or more items than a client's clocks hold. The caller then
// takes the round trip, which reports the error.
bool project_bootstrap_in_place(model::WorkbookModel& workbook);

// The replica state that the strict projection of a bootstrapped `replica`
// gives, from the model project_bootstrap_in_place made of the workbook it
// was bootstrapped from. Errors: read_sheet_map_ids's.
Result<ReplicaState, std::string> bootstrap_replica_state(const crdt::Doc& replica,
                                                          const model::WorkbookModel& projected);

}  // namespace cmx::collab
