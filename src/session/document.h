// The session's side of the collaborative document that every workbook
// keeps: opening builds it from the workbook read from a package, and a
// collaborative session also keeps the frozen structure of its replica.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "collab/bootstrap.h"
#include "collab/projection.h"
#include "model/workbook.h"
#include "reader/worksheet.h"
#include "session/error.h"

namespace cmx::session {

inline constexpr uint64_t kMaxClientId = (uint64_t{1} << 53) - 1;
inline constexpr uint64_t kMaxCollaborationBytes = 67108864;

using SessionDocument = collab::Authority;
using ReplicaSnapshot = collab::ReplicaState;

struct OpenedDocument {
  SessionDocument authority;
  model::WorkbookModel projected;
  std::optional<ReplicaSnapshot> replica;  // exactly when a client id is given
};

// The four kinds become ClientIdConflict, InvalidStateVector, InvalidUpdate
// and CollaborativeState, each with the same payload.
EngineError from_authority_error(const collab::AuthorityError& error);

// Writes the workbook into a bootstrap document under the workbook's own
// bootstrap identity, replays it into the session's replica (under
// `client_id`, else a random identifier) and projects the replica back.
// Errors: ClientIdConflict, CollaborativeState, and for a collaborative
// replica CollaborationDataTooLarge above 67,108,864 bytes of state and
// CollaborativeState above 65,536 state-vector entries.
Result<OpenedDocument, EngineError> open_document(const model::WorkbookModel& workbook,
                                                  const std::vector<reader::SourceDimensions>& declared,
                                                  const std::optional<model::StyleSheet>& declared_styles,
                                                  std::optional<uint64_t> client_id);

// open_document for a given client id, with the replica hydrated straight
// from the workbook and the projection computed from `workbook`, which it
// then holds no longer; array ranges carried over as opening carries them.
// The same document, projection, replica state and errors.
Result<OpenedDocument, EngineError> open_collaborative_document(model::WorkbookModel& workbook,
                                                                const std::vector<reader::SourceDimensions>& declared,
                                                                const std::optional<model::StyleSheet>& declared_styles,
                                                                uint64_t client_id);

// The column widths and row heights each sheet declares, as the authored base takes them.
std::vector<collab::DeclaredDimensions> declared_dimensions(const std::vector<reader::SourceDimensions>& declared);

// "sheet:0", "sheet:1", … for `count` sheets.
std::vector<std::string> sheet_key_list(size_t count);

}  // namespace cmx::session
