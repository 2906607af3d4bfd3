// Hydration: replaying encoded state into a document, bringing a document of
// an older layout to the current one, and opening the replica of a workbook
// from its bootstrap. Every write here carries the origin "xlsx:hydrate",
// which no undo manager tracks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "collab/projection.h"
#include "crdt/crdt.h"

namespace cmx::collab {

// Decodes `update` (each decoding limit its own length) and applies it in one
// transaction. Errors: the decoder's message, or the library's refusal.
Result<void, std::string> hydrate_from_update(crdt::Doc& doc, std::span<const uint8_t> update);

// Drops repeated sheet keys, then migrates a document of schema version 3 to
// 5, or of another accepted fingerprint, to version 6 under the authored
// base. Returns whether anything beyond the sheet-order repair was written.
Result<bool, std::string> hydrate_document(Authority& authority);

// Compared by the callers with kMaxStateVectorEntries (state_vector_limit_message).
size_t state_vector_entry_count(const Authority& authority);

struct OpenedReplica {
  Authority authority;
  Projection projection;
  std::vector<uint8_t> bootstrap_update;
};

// The whole open of a workbook: authored base, bootstrap document, its one
// encoding, the replica (under `client_id`, or a random id other than the
// bootstrap id) hydrated from it, and the strict projection. Errors: a
// client-id conflict, or a collaborative-state error with the message.
Result<OpenedReplica, AuthorityError> open_replica(const model::WorkbookModel& workbook,
                                                   const std::vector<DeclaredDimensions>& declared,
                                                   const std::optional<model::StyleSheet>& declared_styles,
                                                   std::optional<uint64_t> client_id);

// The authority of open_replica under a given `client_id`, with the replica
// hydrated straight from the workbook (hydrate_bootstrap) where that can be
// done, without the bootstrap update and without the projection (the caller
// projects). Errors: a client-id conflict, or a collaborative-state error
// with the message.
Result<Authority, AuthorityError> open_replica_direct(const model::WorkbookModel& workbook,
                                                      const std::vector<DeclaredDimensions>& declared,
                                                      const std::optional<model::StyleSheet>& declared_styles,
                                                      uint64_t client_id);

// The document of a replica that is not collaborative, built after its
// model: the same authored base and replica as open_replica, hydrated as
// open_replica_direct does, under `replica_id` (drawn at open; drawn again
// while it equals the bootstrap client id), without the projection. Errors:
// a collaborative-state error with the message.
Result<Authority, AuthorityError> open_unprojected_replica(const model::WorkbookModel& workbook,
                                                           const std::vector<DeclaredDimensions>& declared,
                                                           const std::optional<model::StyleSheet>& declared_styles,
                                                           uint64_t replica_id);

}  // namespace cmx::collab
