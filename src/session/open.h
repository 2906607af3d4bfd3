// Opening: the only constructor of a WorkbookSession. Package bytes become a
// complete session or one EngineError, never anything half-built.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::session {

// Reads the archive (Package), refuses a repeated part name (DuplicatePart),
// reads the workbook (Spreadsheet), validates it, checks the client
// identifier (InvalidClientId above 2^53 - 1), builds and projects the
// collaborative document, validates the projection and assembles the
// session. `keep_cached` builds the dependency graph now and keeps the cached
// formula values; otherwise the caller recalculates. A given `client_id`
// makes the session collaborative.
Result<std::unique_ptr<WorkbookSession>, EngineError> bootstrap_session(std::string_view data, bool keep_cached,
                                                                        std::optional<uint64_t> client_id);

}  // namespace cmx::session
