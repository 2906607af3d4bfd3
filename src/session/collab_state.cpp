#include "session/collab_state.h"

#include <algorithm>
#include <utility>

#include "collab/bootstrap.h"
#include "collab/update_scan.h"
#include "crdt/crdt.h"
#include "session/open.h"

namespace cmx::session {
namespace {

void put_varint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

EngineError too_large(uint64_t bytes) {
  return EngineError::with_numbers(EngineErrorKind::CollaborationDataTooLarge, bytes, collab::kMaxCollaborationBytes);
}

}  // namespace

std::vector<uint8_t> state_vector(const WorkbookSession& session) {
  ensure_document(session);
  std::vector<std::pair<uint64_t, uint64_t>> entries;
  {
    auto lock = session.authority.doc->read_lock();
    const crdt::StateVector live = session.authority.doc->state_vector();
    for (const auto& [client, clock] : live.entries()) {
      entries.emplace_back(client & crdt::kMaxClientId, clock);
    }
  }
  std::sort(entries.begin(), entries.end());
  std::vector<uint8_t> out;
  out.reserve(1024);
  put_varint(out, entries.size());
  for (const auto& [client, clock] : entries) {
    put_varint(out, client);
    put_varint(out, clock);
  }
  return out;
}

std::vector<uint8_t> state_as_update(const WorkbookSession& session) {
  ensure_document(session);
  auto lock = session.authority.doc->read_lock();
  return collab::encode_document_state(*session.authority.doc);
}

Result<std::vector<uint8_t>, EngineError> diff(const WorkbookSession& session, std::span<const uint8_t> peer_vector) {
  auto decoded = collab::decode_peer_state_vector(peer_vector);
  if (!decoded) {
    const collab::PeerStateVectorError& error = decoded.error();
    if (error.kind == collab::PeerStateVectorError::Kind::kTooLarge) return unexpected(too_large(error.length));
    return unexpected(EngineError::with_text(EngineErrorKind::InvalidStateVector, error.text));
  }
  ensure_document(session);
  std::vector<uint8_t> update;
  {
    auto lock = session.authority.doc->read_lock();
    update = session.authority.doc->encode_state_as_update(*decoded);
  }
  if (update.size() > collab::kMaxCollaborationBytes) return unexpected(too_large(update.size()));
  return update;
}

uint64_t client_id(const WorkbookSession& session) {
  // The id drawn at open is checked against the bootstrap's only with the document.
  ensure_document(session);
  return session.authority.doc->client_id() & crdt::kMaxClientId;
}

bool is_collaborative(const WorkbookSession& session) { return session.replica.has_value(); }

std::string version(const WorkbookSession& session) { return session_version(session); }

}  // namespace cmx::session
