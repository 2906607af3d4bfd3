// The bounded scan of incoming Yjs version 1 updates and peer state vectors:
// one pass over the bytes, allocating nothing, that checks every declared
// count, clock, client id and value against the structure read so far and
// against the caller's limits before the document library decodes any of
// it. An update that fails is refused whole with the scan's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "crdt/crdt.h"

namespace cmx::collab {

// Most client groups an update, and most entries a delete set or a state
// vector, may hold.
inline constexpr uint64_t kMaxUpdateClients = 65536;
inline constexpr uint64_t kMaxStateVectorEntries = 65536;
// Most bytes of an update or state vector that crosses the Python boundary.
inline constexpr uint64_t kMaxCollaborationBytes = 67108864;
// Each limit of an update that comes from a peer.
inline constexpr uint64_t kRemoteUpdateLimit = 1000000;
// Values a peer update may carry at most when its length allows more than
// kRemoteUpdateLimit: six per block of the block limit.
inline constexpr uint64_t kJoinValueLimit = 6 * kRemoteUpdateLimit;

// Totals an update may declare over all its parts.
struct ScanLimits {
  uint64_t blocks = kRemoteUpdateLimit;
  uint64_t values = kRemoteUpdateLimit;
  uint64_t delete_ranges = kRemoteUpdateLimit;
  // Raises the value total to the update's length in bytes where that is
  // more, up to kJoinValueLimit: the whole state of a large workbook (several
  // values per cell, within the block limit) must still reach a fresh
  // replica, while a decoded value costs tens of bytes of memory, so the
  // length alone would let a 64 MiB update claim gigabytes.
  bool values_follow_length = false;

  // For updates from peers.
  static ScanLimits remote() { return {kRemoteUpdateLimit, kRemoteUpdateLimit, kRemoteUpdateLimit, true}; }
  // For updates this system encoded itself (or that passed the remote scan):
  // the update's own length, so that only the structural rules bind.
  static ScanLimits own(std::span<const uint8_t> update) {
    return {update.size(), update.size(), update.size()};
  }
};

// Checks an update; the error is the message of the first rule it breaks.
Result<void, std::string> scan_update(std::span<const uint8_t> update, const ScanLimits& limits);

// Scans an update, then decodes it with the document library.
Result<crdt::Update, std::string> decode_update_bounded(std::span<const uint8_t> update,
                                                        const ScanLimits& limits);

// Refuses an update from a peer that holds blocks under the replica's own
// client id beyond the replica's own clock: no peer writes them, and taking
// them would use up the clocks the replica writes with.
Result<void, std::string> check_foreign_update(const crdt::Update& update, const crdt::Doc& doc);

// A failure of decode_peer_state_vector: too many bytes (`length` of them),
// or an invalid state vector with its message.
struct PeerStateVectorError {
  enum class Kind : uint8_t { kTooLarge, kInvalid };
  Kind kind;
  uint64_t length = 0;
  std::string text;
};

// "state vector contains {} entries, exceeds the {}-entry limit": a peer's
// state vector, or a document's own, past the limit.
std::string state_vector_limit_message(uint64_t entries);

// Checks and decodes a state vector handed in by a peer.
Result<crdt::StateVector, PeerStateVectorError> decode_peer_state_vector(std::span<const uint8_t> bytes);

// Decodes queued updates from a peer one at a time (limits for peers),
// stopping at the first that fails: next() then gives nothing and error()
// holds the message.
class PendingUpdateCursor {
 public:
  explicit PendingUpdateCursor(std::span<const std::vector<uint8_t>> updates) : updates_(updates) {}
  std::optional<crdt::Update> next();
  const std::optional<std::string>& error() const { return error_; }

 private:
  std::span<const std::vector<uint8_t>> updates_;
  size_t next_ = 0;
  std::optional<std::string> error_;
};

}  // namespace cmx::collab
