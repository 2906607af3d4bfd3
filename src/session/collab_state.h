// What a replica tells its peers: its state vector, its whole state, the
// difference against a peer's state vector, its client id and its version.
// All of these only read the session.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::session {

// Entries sorted by client id, so equal documents give equal bytes.
std::vector<uint8_t> state_vector(const WorkbookSession& session);
std::vector<uint8_t> state_as_update(const WorkbookSession& session);
// Errors: CollaborationDataTooLarge for a state vector or a result over
// 67,108,864 bytes, InvalidStateVector for one that does not decode.
Result<std::vector<uint8_t>, EngineError> diff(const WorkbookSession& session, std::span<const uint8_t> peer_vector);
// The live document's client id, below 2^53.
uint64_t client_id(const WorkbookSession& session);
bool is_collaborative(const WorkbookSession& session);
// "{version_id}-{revision}".
std::string version(const WorkbookSession& session);

}  // namespace cmx::session
