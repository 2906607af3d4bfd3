// Identifiers of the Yjs encoding: (client, clock) IDs, state vectors and
// delete sets with merged ranges. Read next: store.h.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "base/result.h"
#include "crdt/error.h"
#include "crdt/lib0.h"

namespace cmx::crdt {

// Client ids are below 2^53 (the integers a Yjs peer in JavaScript can hold).
inline constexpr uint64_t kMaxClientId = (uint64_t{1} << 53) - 1;
// The largest clock a replica gives its own items; peers refuse clocks above it.
inline constexpr uint32_t kMaxClock = 2147483647;

struct ID {
  uint64_t client = 0;
  uint32_t clock = 0;

  friend bool operator==(const ID&, const ID&) = default;
};

// An ID that may be absent, in 16 bytes where std::optional<ID> takes 24:
// every item carries three of them.
class OptionalId {
 public:
  OptionalId() = default;
  OptionalId(ID id) : client_(id.client), clock_(id.clock), present_(true) {}
  explicit operator bool() const { return present_; }
  bool has_value() const { return present_; }
  ID operator*() const { return ID{client_, clock_}; }
  void reset() { *this = OptionalId(); }

  friend bool operator==(const OptionalId&, const OptionalId&) = default;

 private:
  uint64_t client_ = 0;
  uint32_t clock_ = 0;
  bool present_ = false;
};

// Next expected clock per client. Ordered by client so that encoding and
// iteration never depend on hashing.
class StateVector {
 public:
  uint32_t get(uint64_t client) const;
  void set(uint64_t client, uint32_t clock);
  const std::map<uint64_t, uint32_t>& entries() const { return clocks_; }
  size_t size() const { return clocks_.size(); }
  bool empty() const { return clocks_.empty(); }

  friend bool operator==(const StateVector&, const StateVector&) = default;

 private:
  std::map<uint64_t, uint32_t> clocks_;
};

// Writes the entry count, then client and clock of each entry, highest client
// first.
void write_state_vector(Encoder& encoder, const StateVector& sv);
std::vector<uint8_t> encode_state_vector(const StateVector& sv);
// Reads a whole state vector: the count is checked against the bytes left
// (two per entry) before any entry is read; duplicate clients, client ids of
// 2^53 or more, clocks beyond kMaxClock and trailing bytes are refused.
Result<StateVector, CrdtError> decode_state_vector(std::span<const uint8_t> bytes);

struct DeleteRange {
  uint32_t clock;
  uint32_t len;

  friend bool operator==(const DeleteRange&, const DeleteRange&) = default;
};

// Deleted clock ranges per client. `add` appends; `sort_and_merge` orders each
// client's ranges and joins overlapping or touching ones.
class DeleteSet {
 public:
  void add(uint64_t client, uint32_t clock, uint32_t len);
  // Adds every range of `other`; call sort_and_merge afterwards.
  void merge(const DeleteSet& other);
  void sort_and_merge();
  bool contains(ID id) const;  // requires sorted, merged ranges
  bool empty() const { return clients_.empty(); }
  const std::map<uint64_t, std::vector<DeleteRange>>& clients() const { return clients_; }

  friend bool operator==(const DeleteSet&, const DeleteSet&) = default;

 private:
  std::map<uint64_t, std::vector<DeleteRange>> clients_;
};

// Client count, then per client (highest first) its id, range count, and
// clock and length of each range.
void write_delete_set(Encoder& encoder, const DeleteSet& ds);
// Reads a delete set written as above. Counts are checked against the bytes
// left before anything is reserved; client ids of 2^53 or more, empty ranges
// and ranges that end past kMaxClock are refused. The result is sorted and merged.
Result<DeleteSet, CrdtError> read_delete_set(Decoder& decoder);

// The walk under read_delete_set, with the same checks, for readers that keep
// the ranges elsewhere: `on_client(client, range_count)` once per client, then
// `on_range(client, clock, len)` per range; both return Result<void, CrdtError>.
template <typename OnClient, typename OnRange>
Result<void, CrdtError> walk_delete_set(Decoder& decoder, OnClient&& on_client, OnRange&& on_range) {
  CMX_ASSIGN_OR_RETURN(uint64_t clients, decoder.read_var_uint());
  // Each client needs at least two bytes (its id and its range count).
  if (clients > decoder.remaining() / 2) {
    return unexpected(CrdtError{CrdtErrorKind::kLengthExceedsPayload, clients, decoder.remaining()});
  }
  for (uint64_t client_idx = 0; client_idx < clients; ++client_idx) {
    CMX_ASSIGN_OR_RETURN(uint64_t client, decoder.read_var_uint());
    if (client > kMaxClientId) return unexpected(CrdtError{CrdtErrorKind::kClientIdTooLarge, client});
    CMX_ASSIGN_OR_RETURN(uint64_t ranges, decoder.read_var_uint());
    if (ranges > decoder.remaining() / 2) {
      return unexpected(CrdtError{CrdtErrorKind::kLengthExceedsPayload, ranges, decoder.remaining()});
    }
    CMX_TRY(on_client(client, ranges));
    for (uint64_t range_idx = 0; range_idx < ranges; ++range_idx) {
      CMX_ASSIGN_OR_RETURN(uint64_t clock, decoder.read_var_uint());
      CMX_ASSIGN_OR_RETURN(uint64_t len, decoder.read_var_uint());
      if (len == 0) return unexpected(CrdtError{CrdtErrorKind::kEmptyDeleteRange});
      // A range ends, like a client's state, at kMaxClock at the latest.
      if (clock > kMaxClock || len > kMaxClock - clock) {
        return unexpected(CrdtError{CrdtErrorKind::kClockTooLarge, clock});
      }
      CMX_TRY(on_range(client, static_cast<uint32_t>(clock), static_cast<uint32_t>(len)));
    }
  }
  return {};
}

}  // namespace cmx::crdt
