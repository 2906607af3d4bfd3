// The bounded scan. Counts are checked when they are read, before anything
// is read or kept for them; value nesting is walked with a fixed stack of
// 64 frames, so the scan allocates nothing whatever the input declares.
#include "collab/update_scan.h"

#include <algorithm>
#include <cstring>

#include "base/number_text.h"
#include "base/unicode.h"

namespace cmx::collab {

namespace {

constexpr uint64_t kMaxClock = crdt::kMaxClock;
constexpr uint64_t kU32 = uint64_t{1} << 32;
constexpr size_t kMaxDepth = 64;

std::string library_text(crdt::CrdtErrorKind kind, uint64_t a = 0) {
  return crdt::crdt_error_message(crdt::CrdtError{kind, a});
}

// Every step returns whether it passed; the first failure keeps its message
// in the scanner (the message is built only then).
#define CMX_SCAN(expr) \
  do {                 \
    if (!(expr)) return false; \
  } while (0)

class Scanner {
 public:
  Scanner(std::span<const uint8_t> input, const ScanLimits& limits) : in_(input), limits_(limits) {
    if (limits_.values_follow_length) {
      limits_.values = std::max<uint64_t>(limits_.values, std::min<uint64_t>(input.size(), kJoinValueLimit));
    }
  }

  const std::string& error() const { return error_; }

  bool update() {
    uint64_t groups;
    CMX_SCAN(varint32(groups));
    if (groups > kMaxUpdateClients) return fail("update contains too many clients");
    for (uint64_t group = 0; group < groups; ++group) CMX_SCAN(client_group());
    CMX_SCAN(delete_set());
    if (pos_ < in_.size()) return fail("update contains trailing bytes");
    return true;
  }

  bool state_vector(crdt::StateVector& sv) {
    uint64_t count;
    CMX_SCAN(varint(count));
    for (uint64_t idx = 0; idx < count; ++idx) {
      uint64_t client, clock;
      CMX_SCAN(client_id(client));
      if (sv.entries().contains(client)) return fail("state vector contains a duplicate client");
      CMX_SCAN(clock_value(clock));
      sv.set(client, static_cast<uint32_t>(clock));
    }
    if (pos_ < in_.size()) return fail("state vector contains trailing bytes");
    return true;
  }

 private:
  bool fail(std::string text) {
    error_ = std::move(text);
    return false;
  }
  bool fail_library(crdt::CrdtErrorKind kind, uint64_t a = 0) { return fail(library_text(kind, a)); }
  size_t left() const { return in_.size() - pos_; }

  bool byte(uint8_t& out) {
    if (pos_ >= in_.size()) return fail_library(crdt::CrdtErrorKind::kUnexpectedEnd, 1);
    out = in_[pos_++];
    return true;
  }

  bool skip(uint64_t count) {
    if (count > left()) return fail_library(crdt::CrdtErrorKind::kUnexpectedEnd, count);
    pos_ += static_cast<size_t>(count);
    return true;
  }

  // A canonical unsigned varint of at most 64 bits.
  bool varint(uint64_t& out) {
    if (pos_ < in_.size() && in_[pos_] < 0x80) {
      out = in_[pos_++];
      return true;
    }
    uint64_t value = 0;
    for (unsigned idx = 0;; ++idx) {
      uint8_t b;
      CMX_SCAN(byte(b));
      if (idx == 9 && b > 1) return fail_library(crdt::CrdtErrorKind::kVarint);
      value |= uint64_t{b & 0x7fu} << (7 * idx);
      if ((b & 0x80) == 0) {
        if (idx > 0 && b == 0) return fail_library(crdt::CrdtErrorKind::kVarint);
        out = value;
        return true;
      }
    }
  }

  bool varint32(uint64_t& out) {
    CMX_SCAN(varint(out));
    if (out >= kU32) return fail_library(crdt::CrdtErrorKind::kVarint);
    return true;
  }

  // A signed varint: sign and six bits in the first byte, at most ten
  // bytes, no negative zero.
  bool signed_varint() {
    uint8_t first;
    CMX_SCAN(byte(first));
    bool zero = (first & 0x3f) == 0;
    const bool negative = (first & 0x40) != 0;
    uint8_t b = first;
    for (unsigned idx = 1; (b & 0x80) != 0; ++idx) {
      CMX_SCAN(byte(b));
      if (idx == 9 && b > 1) return fail_library(crdt::CrdtErrorKind::kVarint);
      if ((b & 0x80) == 0 && b == 0) return fail_library(crdt::CrdtErrorKind::kVarint);
      zero = zero && (b & 0x7f) == 0;
    }
    if (negative && zero) return fail_library(crdt::CrdtErrorKind::kVarint);
    return true;
  }

  bool string() {
    uint64_t length;
    CMX_SCAN(varint32(length));
    const size_t start = pos_;
    CMX_SCAN(skip(length));
    const uint8_t* bytes = in_.data() + start;
    // Keys and names are mostly ASCII: eight bytes at a time first.
    size_t idx = 0;
    for (; idx + 8 <= length; idx += 8) {
      uint64_t word;
      std::memcpy(&word, bytes + idx, 8);
      if ((word & 0x8080808080808080ull) != 0) break;
    }
    for (; idx < length && bytes[idx] < 0x80; ++idx) {
    }
    if (idx == length) return true;
    std::string_view text(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    if (!unicode::is_valid_utf8(text)) return fail(crdt::crdt_error_message(crdt::utf8_error(text)));
    return true;
  }

  bool client_id(uint64_t& client) {
    CMX_SCAN(varint(client));
    if (client > crdt::kMaxClientId) return fail("client ID exceeds the 53-bit Yjs limit");
    return true;
  }

  bool clock_value(uint64_t& clock) {
    CMX_SCAN(varint32(clock));
    if (clock > kMaxClock) return fail("clock exceeds the supported i32 range");
    return true;
  }

  bool id() {
    uint64_t client, clock;
    CMX_SCAN(client_id(client));
    return clock_value(clock);
  }

  bool advance(uint64_t length) {
    const uint64_t end = uint64_t{clock_} + length;
    if (end >= kU32) return fail("update block clock overflows u32");
    if (end > kMaxClock) return fail("clock exceeds the supported i32 range");
    clock_ = static_cast<uint32_t>(end);
    return true;
  }

  bool client_group() {
    uint64_t count, client, clock;
    CMX_SCAN(varint32(count));
    if (count == 0) return fail("update contains an empty client block set");
    if (count > UINT64_MAX - blocks_declared_) return fail("update block count overflow");
    blocks_declared_ += count;
    if (count > left() || blocks_declared_ > limits_.blocks) return fail("update contains too many blocks");
    CMX_SCAN(client_id(client));
    CMX_SCAN(clock_value(clock));
    clock_ = static_cast<uint32_t>(clock);
    for (uint64_t idx = 0; idx < count; ++idx) CMX_SCAN(block());
    return true;
  }

  bool block() {
    uint8_t info;
    CMX_SCAN(byte(info));
    if (info == crdt::kInfoGc || info == crdt::kInfoSkip) {
      uint64_t length;
      CMX_SCAN(varint32(length));
      if (length == 0) {
        return fail(info == crdt::kInfoGc ? "update contains an empty GC block" : "update contains an empty skip block");
      }
      return advance(length);
    }
    // Content refs of 16 and more name no content this system stores either.
    const uint8_t ref = info & 0x0f;
    if ((info & 0x10) != 0 || (ref != 1 && ref != 7 && ref != 8)) return fail("update contains an unsupported block type");
    if ((info & crdt::kHasOrigin) != 0) CMX_SCAN(id());
    if ((info & crdt::kHasRightOrigin) != 0) CMX_SCAN(id());
    if ((info & (crdt::kHasOrigin | crdt::kHasRightOrigin)) == 0) {
      uint64_t flag;
      CMX_SCAN(varint32(flag));
      if (flag > 1) return fail("update contains invalid parent info");
      CMX_SCAN(flag == 1 ? string() : id());
      if ((info & crdt::kHasParentSub) != 0) CMX_SCAN(string());
    }
    uint64_t length;
    switch (ref) {
      case 1:
        CMX_SCAN(varint32(length));
        return advance(length);
      case 7: {
        uint8_t type_ref;
        CMX_SCAN(byte(type_ref));
        if (type_ref > 1) return fail("update contains an unsupported shared type");
        return advance(1);
      }
      default:
        CMX_SCAN(varint32(length));
        if (length > UINT64_MAX - values_declared_) return fail("update value count overflow");
        values_declared_ += length;
        if (values_declared_ > limits_.values || length > left()) return fail("update contains too many values");
        for (uint64_t idx = 0; idx < length; ++idx) CMX_SCAN(value());
        return advance(length);
    }
  }

  // One value of an Any item, nested values included.
  bool value() {
    struct Frame {
      uint64_t left;
      bool map;
    };
    Frame stack[kMaxDepth];
    size_t depth = 0;
    for (;;) {
      if (depth > 0 && stack[depth - 1].map) CMX_SCAN(string());
      if (depth >= kMaxDepth) return fail("update value nesting exceeds 64 levels");
      if (values_decoded_ == UINT64_MAX) return fail("update value count overflow");
      if (values_decoded_++ >= limits_.values) return fail("update contains too many values");
      uint8_t tag;
      CMX_SCAN(byte(tag));
      switch (tag) {
        case crdt::kTagBuffer: {
          uint64_t length;
          CMX_SCAN(varint32(length));
          CMX_SCAN(skip(length));
          break;
        }
        case crdt::kTagArray:
        case crdt::kTagObject: {
          uint64_t length;
          CMX_SCAN(varint(length));
          const uint64_t allowance = values_decoded_ >= limits_.values ? 0 : limits_.values - values_decoded_;
          if (length > left() || length > allowance) {
            return fail(tag == crdt::kTagArray ? "update array length exceeds its payload"
                                         : "update map length exceeds its payload");
          }
          if (length > 0) {
            stack[depth++] = Frame{length, tag == crdt::kTagObject};
            continue;
          }
          break;
        }
        case crdt::kTagString:
          CMX_SCAN(string());
          break;
        case crdt::kTagBigInt:
        case crdt::kTagFloat64:
          CMX_SCAN(skip(8));
          break;
        case crdt::kTagFloat32:
          CMX_SCAN(skip(4));
          break;
        case crdt::kTagInteger:
          CMX_SCAN(signed_varint());
          break;
        case crdt::kTagTrue:
        case crdt::kTagFalse:
        case crdt::kTagNull:
        case crdt::kTagUndefined:
          break;
        default:
          return fail_library(crdt::CrdtErrorKind::kUnexpectedValue);
      }
      while (depth > 0 && --stack[depth - 1].left == 0) --depth;
      if (depth == 0) return true;
    }
  }

  bool delete_set() {
    uint64_t entries;
    CMX_SCAN(varint32(entries));
    if (entries > kMaxUpdateClients) return fail("update delete set contains too many clients");
    for (uint64_t entry = 0; entry < entries; ++entry) {
      uint64_t client, ranges;
      CMX_SCAN(client_id(client));
      CMX_SCAN(varint32(ranges));
      if (ranges > UINT64_MAX - ranges_declared_) return fail("update delete range count overflow");
      ranges_declared_ += ranges;
      if (ranges > left() || ranges_declared_ > limits_.delete_ranges) {
        return fail("update contains too many delete ranges");
      }
      for (uint64_t range = 0; range < ranges; ++range) {
        uint64_t clock, length;
        CMX_SCAN(clock_value(clock));
        CMX_SCAN(varint32(length));
        if (length == 0) return fail("update contains an empty delete range");
        if (clock + length >= kU32) return fail("delete range clock overflows u32");
        if (clock + length > kMaxClock) return fail("clock exceeds the supported i32 range");
      }
    }
    return true;
  }

  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  ScanLimits limits_;
  uint64_t blocks_declared_ = 0;
  uint64_t values_declared_ = 0;
  uint64_t values_decoded_ = 0;
  uint64_t ranges_declared_ = 0;
  uint32_t clock_ = 0;
  std::string error_;
};

#undef CMX_SCAN

}  // namespace

Result<void, std::string> scan_update(std::span<const uint8_t> update, const ScanLimits& limits) {
  Scanner scanner(update, limits);
  if (!scanner.update()) return unexpected(scanner.error());
  return {};
}

Result<crdt::Update, std::string> decode_update_bounded(std::span<const uint8_t> update, const ScanLimits& limits) {
  CMX_TRY(scan_update(update, limits));
  auto decoded = crdt::decode_update(update);
  if (!decoded) return unexpected(crdt::crdt_error_message(decoded.error()));
  return std::move(decoded).value();
}

Result<void, std::string> check_foreign_update(const crdt::Update& update, const crdt::Doc& doc) {
  auto found = update.clients.find(doc.client_id());
  if (found == update.clients.end() || found->second.empty()) return {};
  const uint32_t own = doc.store().get_state(doc.client_id());
  const crdt::Block& last = found->second.back();
  if (uint64_t{last.id.clock} + last.length <= own) return {};
  return unexpected("update holds items of this replica's client " + format_u64(doc.client_id()) +
                    " beyond its clock " + format_u64(own));
}

std::string state_vector_limit_message(uint64_t entries) {
  return "state vector contains " + format_u64(entries) + " entries, exceeds the " +
         format_u64(kMaxStateVectorEntries) + "-entry limit";
}

Result<crdt::StateVector, PeerStateVectorError> decode_peer_state_vector(std::span<const uint8_t> bytes) {
  using Kind = PeerStateVectorError::Kind;
  auto invalid = [](std::string text) { return unexpected(PeerStateVectorError{Kind::kInvalid, 0, std::move(text)}); };
  if (bytes.size() > kMaxCollaborationBytes) {
    return unexpected(PeerStateVectorError{Kind::kTooLarge, bytes.size(), {}});
  }
  if (bytes.empty()) return invalid("state vector is empty");
  // The count, read leniently here (its form is checked with the entries).
  uint64_t count = 0;
  size_t count_bytes = 0;
  for (;; ++count_bytes) {
    if (count_bytes == 5 || count_bytes >= bytes.size()) return invalid("invalid state vector entry count");
    const uint8_t b = bytes[count_bytes];
    if (count_bytes == 4 && b > 15) return invalid("invalid state vector entry count");
    count |= uint64_t{b & 0x7fu} << (7 * count_bytes);
    if ((b & 0x80) == 0) {
      ++count_bytes;
      break;
    }
  }
  if (count > kMaxStateVectorEntries) {
    return invalid(state_vector_limit_message(count));
  }
  if (count > (bytes.size() - count_bytes) / 2) return invalid("state vector entry count exceeds its payload");
  Scanner scanner(bytes, ScanLimits::remote());
  crdt::StateVector sv;
  if (!scanner.state_vector(sv)) return invalid(scanner.error());
  return sv;
}

std::optional<crdt::Update> PendingUpdateCursor::next() {
  if (error_ || next_ >= updates_.size()) return std::nullopt;
  auto decoded = decode_update_bounded(updates_[next_++], ScanLimits::remote());
  if (!decoded) {
    error_ = std::move(decoded).error();
    return std::nullopt;
  }
  return std::move(decoded).value();
}

}  // namespace cmx::collab
