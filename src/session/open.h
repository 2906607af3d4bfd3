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

// How a session gets its document. kDeferred: a workbook without a client id
// gets it when something first needs it (the model is then the bootstrap's
// projection computed from the workbook itself), a collaborative one at once,
// its replica hydrated straight from the workbook. kEager: at once, through
// the whole round trip of the encoded bootstrap, kept for the tests that
// compare the two. Both give the same session.
enum class DocumentTiming : uint8_t { kDeferred, kEager };
Result<std::unique_ptr<WorkbookSession>, EngineError> bootstrap_session(std::string_view data, bool keep_cached,
                                                                        std::optional<uint64_t> client_id,
                                                                        DocumentTiming timing);

// Builds the document of a session whose document was deferred, from the
// package bytes it keeps, exactly as opening would have; does nothing when
// the session has one. Every reader and writer of `session.authority` calls
// it first. Safe under shared access: one caller builds, the others wait.
void ensure_document(const WorkbookSession& session);

// The session keeps a lean record of its source package (reader::ReadOptions
// ::lean); a save reads the package bytes again for the complete one. The
// same bytes read the same record, so this cannot fail.
reader::SourcePackage complete_source_package(const WorkbookSession& session);

}  // namespace cmx::session
