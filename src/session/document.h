// The session's side of the collaborative document: what opening builds and
// the session keeps. Every workbook keeps one document; a collaborative one
// also keeps the frozen structure of its replica.
//
// SEAM: the document layer (bootstrap, hydration, projection) is not on this
// branch yet. Until it is, open_document() only checks the client identifier
// and hands back a copy of the model as its projection; SessionDocument and
// ReplicaSnapshot hold what is known without a document.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/result.h"
#include "model/workbook.h"
#include "reader/worksheet.h"
#include "session/error.h"

namespace cmx::session {

inline constexpr uint64_t kMaxClientId = (uint64_t{1} << 53) - 1;
inline constexpr uint64_t kMaxCollaborationBytes = 67108864;
inline constexpr uint64_t kMaxStateVectorEntries = 65536;

struct SessionDocument {
  std::optional<uint64_t> client_id;  // the replica's identifier when given
};

struct ReplicaSnapshot {
  std::vector<std::string> sheet_keys;
  std::vector<std::string> sheet_names;
};

struct OpenedDocument {
  SessionDocument authority;
  model::WorkbookModel projected;
  std::optional<ReplicaSnapshot> replica;  // exactly when a client id is given
};

// Builds the document of a workbook read from a package and projects it back.
// Errors: ClientIdConflict, CollaborativeState, CollaborationDataTooLarge.
Result<OpenedDocument, EngineError> open_document(const model::WorkbookModel& workbook,
                                                  const std::vector<reader::SourceDimensions>& declared,
                                                  const std::optional<model::StyleSheet>& declared_styles,
                                                  std::optional<uint64_t> client_id);

// "sheet:0", "sheet:1", … for `count` sheets.
std::vector<std::string> sheet_key_list(size_t count);

}  // namespace cmx::session
