// Saving: the workbook as .xlsx bytes. A workbook opened from a package is
// patched back into it; one without a package gets a fresh package. Reads
// the session only.
#pragma once

#include <string>

#include "base/result.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::session {

// Validates the model, builds the part list and zips it, copying unchanged
// entries raw from the source archive when the session holds one. Errors:
// the validation's, InvalidOperation for charts without a source package,
// Spreadsheet for the writer's refusals, Package for the archive's.
Result<std::string, EngineError> save_workbook(const WorkbookSession& session);

}  // namespace cmx::session
