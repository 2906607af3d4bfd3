// State vectors and delete sets.
#include "crdt/id.h"

#include <algorithm>

namespace cmx::crdt {

uint32_t StateVector::get(uint64_t client) const {
  auto found = clocks_.find(client);
  return found == clocks_.end() ? 0 : found->second;
}

void StateVector::set(uint64_t client, uint32_t clock) { clocks_[client] = clock; }

void write_state_vector(Encoder& encoder, const StateVector& sv) {
  encoder.write_var_uint(sv.size());
  for (auto it = sv.entries().rbegin(); it != sv.entries().rend(); ++it) {
    encoder.write_var_uint(it->first);
    encoder.write_var_uint(it->second);
  }
}

std::vector<uint8_t> encode_state_vector(const StateVector& sv) {
  Encoder encoder;
  write_state_vector(encoder, sv);
  return encoder.take();
}

Result<StateVector, CrdtError> decode_state_vector(std::span<const uint8_t> bytes) {
  Decoder decoder(bytes);
  CMX_ASSIGN_OR_RETURN(uint64_t count, decoder.read_var_uint());
  if (count > decoder.remaining() / 2) {
    return unexpected(CrdtError{CrdtErrorKind::kLengthExceedsPayload, count, decoder.remaining()});
  }
  StateVector sv;
  for (uint64_t idx = 0; idx < count; ++idx) {
    CMX_ASSIGN_OR_RETURN(uint64_t client, decoder.read_var_uint());
    if (client > kMaxClientId) return unexpected(CrdtError{CrdtErrorKind::kClientIdTooLarge, client});
    CMX_ASSIGN_OR_RETURN(uint64_t clock, decoder.read_var_uint());
    if (clock > kMaxClock) return unexpected(CrdtError{CrdtErrorKind::kClockTooLarge, clock});
    if (sv.entries().contains(client)) {
      return unexpected(CrdtError{CrdtErrorKind::kStateVectorDuplicateClient, client});
    }
    sv.set(client, static_cast<uint32_t>(clock));
  }
  if (!decoder.at_end()) return unexpected(CrdtError{CrdtErrorKind::kStateVectorTrailingBytes});
  return sv;
}

void DeleteSet::add(uint64_t client, uint32_t clock, uint32_t len) {
  if (len == 0) return;
  clients_[client].push_back({clock, len});
}

void DeleteSet::merge(const DeleteSet& other) {
  for (const auto& [client, ranges] : other.clients_) {
    auto& mine = clients_[client];
    mine.insert(mine.end(), ranges.begin(), ranges.end());
  }
}

void DeleteSet::sort_and_merge() {
  for (auto& [client, ranges] : clients_) {
    std::sort(ranges.begin(), ranges.end(),
              [](const DeleteRange& a, const DeleteRange& b) { return a.clock < b.clock; });
    size_t kept = 0;
    for (size_t idx = 1; idx < ranges.size(); ++idx) {
      DeleteRange& last = ranges[kept];
      const uint64_t last_end = uint64_t{last.clock} + last.len;
      if (ranges[idx].clock <= last_end) {
        const uint64_t end = std::max<uint64_t>(last_end, uint64_t{ranges[idx].clock} + ranges[idx].len);
        last.len = static_cast<uint32_t>(end - last.clock);
      } else {
        ranges[++kept] = ranges[idx];
      }
    }
    if (!ranges.empty()) ranges.resize(kept + 1);
  }
}

bool DeleteSet::contains(ID id) const {
  auto found = clients_.find(id.client);
  if (found == clients_.end()) return false;
  const auto& ranges = found->second;
  auto it = std::upper_bound(ranges.begin(), ranges.end(), id.clock,
                             [](uint32_t clock, const DeleteRange& r) { return clock < r.clock; });
  if (it == ranges.begin()) return false;
  --it;
  return id.clock < uint64_t{it->clock} + it->len;
}

void write_delete_set(Encoder& encoder, const DeleteSet& ds) {
  encoder.write_var_uint(ds.clients().size());
  for (auto it = ds.clients().rbegin(); it != ds.clients().rend(); ++it) {
    encoder.write_var_uint(it->first);
    encoder.write_var_uint(it->second.size());
    for (const DeleteRange& range : it->second) {
      encoder.write_var_uint(range.clock);
      encoder.write_var_uint(range.len);
    }
  }
}

Result<DeleteSet, CrdtError> read_delete_set(Decoder& decoder) {
  DeleteSet ds;
  CMX_TRY(walk_delete_set(
      decoder, [](uint64_t, uint64_t) -> Result<void, CrdtError> { return {}; },
      [&ds](uint64_t client, uint32_t clock, uint32_t len) -> Result<void, CrdtError> {
        ds.add(client, clock, len);
        return {};
      }));
  ds.sort_and_merge();
  return ds;
}

}  // namespace cmx::crdt
