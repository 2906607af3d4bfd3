// The bootstrap replayed into a replica without the bootstrap document: the
// blocks that decoding the bootstrap update would give, built straight from
// the workbook and integrated as they are made. Read next: hydration.h.
#pragma once

#include "collab/bootstrap.h"
#include "crdt/crdt.h"
#include "model/workbook.h"

namespace cmx::collab {

// Hydrates `replica`, a new empty document, with what replaying the update of
// build_bootstrap_document(workbook, base) gives, in one transaction with
// origin "xlsx:hydrate". Returns false when the bootstrap or the decoding of
// its update would refuse the workbook (a cell format table or style index
// out of range, clocks used up, text that is not UTF-8): the replica is then
// left half written, and the caller takes the encoded route on a new one,
// which reports the error.
bool hydrate_bootstrap(crdt::Doc& replica, const model::WorkbookModel& workbook, const AuthoredBase& base);

}  // namespace cmx::collab
