// The bounded scan. Counts are checked when they are read, before anything
// is read or kept for them; value nesting is walked with a fixed stack of
// 64 frames, so the scan allocates nothing whatever the input declares.
#include "collab/update_scan.h"


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

enum AnyTag : uint8_t {
  kTagBuffer = 116,
  kTagArray = 117,
  kTagMap = 118,
  kTagString = 119,
  kTagTrue = 120,
  kTagFalse = 121,
  kTagInt64 = 122,
  kTagFloat64 = 123,
  kTagFloat32 = 124,
  kTagInteger = 125,
  kTagNull = 126,
  kTagUndefined = 127,
};

using Status = Result<void, std::string>;

class Scanner {
 public:
  Scanner(std::span<const uint8_t> input, const ScanLimits& limits) : in_(input), limits_(limits) {}

  Status update() {
    CMX_ASSIGN_OR_RETURN(uint64_t groups, varint32());
    if (groups > kMaxUpdateClients) return fail("update contains too many clients");
    for (uint64_t group = 0; group < groups; ++group) CMX_TRY(client_group());
    CMX_TRY(delete_set());
    if (pos_ < in_.size()) return fail("update contains trailing bytes");
    return {};
  }

  Result<crdt::StateVector, std::string> state_vector() {
    CMX_ASSIGN_OR_RETURN(uint64_t count, varint());
    crdt::StateVector sv;
    for (uint64_t idx = 0; idx < count; ++idx) {
      CMX_ASSIGN_OR_RETURN(uint64_t client, client_id());
      if (sv.entries().contains(client)) return fail("state vector contains a duplicate client");
      CMX_ASSIGN_OR_RETURN(uint64_t clock, clock_value());
      sv.set(client, static_cast<uint32_t>(clock));
    }
    if (pos_ < in_.size()) return fail("state vector contains trailing bytes");
    return sv;
  }

 private:
  static Unexpected<std::string> fail(std::string text) { return unexpected(std::move(text)); }
  size_t left() const { return in_.size() - pos_; }

  Result<uint8_t, std::string> byte() {
    if (pos_ >= in_.size()) return fail(library_text(crdt::CrdtErrorKind::kUnexpectedEnd, 1));
    return in_[pos_++];
  }

  Status skip(uint64_t count) {
    if (count > left()) return fail(library_text(crdt::CrdtErrorKind::kUnexpectedEnd, count));
    pos_ += static_cast<size_t>(count);
    return {};
  }

  // A canonical unsigned varint of at most 64 bits.
  Result<uint64_t, std::string> varint() {
    uint64_t value = 0;
    for (unsigned idx = 0;; ++idx) {
      CMX_ASSIGN_OR_RETURN(uint8_t b, byte());
      if (idx == 9 && b > 1) return fail(library_text(crdt::CrdtErrorKind::kVarint));
      value |= uint64_t{b & 0x7fu} << (7 * idx);
      if ((b & 0x80) == 0) {
        if (idx > 0 && b == 0) return fail(library_text(crdt::CrdtErrorKind::kVarint));
        return value;
      }
    }
  }

  Result<uint64_t, std::string> varint32() {
    CMX_ASSIGN_OR_RETURN(uint64_t value, varint());
    if (value >= kU32) return fail(library_text(crdt::CrdtErrorKind::kVarint));
    return value;
  }

  // A signed varint: sign and six bits in the first byte, at most ten
  // bytes, no negative zero.
  Status signed_varint() {
    CMX_ASSIGN_OR_RETURN(uint8_t first, byte());
    bool zero = (first & 0x3f) == 0;
    const bool negative = (first & 0x40) != 0;
    uint8_t b = first;
    for (unsigned idx = 1; (b & 0x80) != 0; ++idx) {
      CMX_ASSIGN_OR_RETURN(b, byte());
      if (idx == 9 && b > 1) return fail(library_text(crdt::CrdtErrorKind::kVarint));
      if ((b & 0x80) == 0 && b == 0) return fail(library_text(crdt::CrdtErrorKind::kVarint));
      zero = zero && (b & 0x7f) == 0;
    }
    if (negative && zero) return fail(library_text(crdt::CrdtErrorKind::kVarint));
    return {};
  }

  Status string() {
    CMX_ASSIGN_OR_RETURN(uint64_t length, varint32());
    const size_t start = pos_;
    CMX_TRY(skip(length));
    std::string_view text(reinterpret_cast<const char*>(in_.data() + start), static_cast<size_t>(length));
    if (!unicode::is_valid_utf8(text)) return fail(crdt::crdt_error_message(crdt::utf8_error(text)));
    return {};
  }

  Result<uint64_t, std::string> client_id() {
    CMX_ASSIGN_OR_RETURN(uint64_t client, varint());
    if (client > crdt::kMaxClientId) return fail("client ID exceeds the 53-bit Yjs limit");
    return client;
  }

  Result<uint64_t, std::string> clock_value() {
    CMX_ASSIGN_OR_RETURN(uint64_t clock, varint32());
    if (clock > kMaxClock) return fail("clock exceeds the supported i32 range");
    return clock;
  }

  Status id() {
    CMX_TRY(client_id());
    CMX_TRY(clock_value());
    return {};
  }

  Status advance(uint64_t length) {
    const uint64_t end = uint64_t{clock_} + length;
    if (end >= kU32) return fail("update block clock overflows u32");
    if (end > kMaxClock) return fail("clock exceeds the supported i32 range");
    clock_ = static_cast<uint32_t>(end);
    return {};
  }

  Status client_group() {
    CMX_ASSIGN_OR_RETURN(uint64_t count, varint32());
    if (count == 0) return fail("update contains an empty client block set");
    if (count > UINT64_MAX - blocks_declared_) return fail("update block count overflow");
    blocks_declared_ += count;
    if (count > left() || blocks_declared_ > limits_.blocks) return fail("update contains too many blocks");
    CMX_TRY(client_id());
    CMX_ASSIGN_OR_RETURN(uint64_t clock, clock_value());
    clock_ = static_cast<uint32_t>(clock);
    for (uint64_t idx = 0; idx < count; ++idx) CMX_TRY(block());
    return {};
  }

  Status block() {
    CMX_ASSIGN_OR_RETURN(uint8_t info, byte());
    if (info == crdt::kInfoGc || info == crdt::kInfoSkip) {
      CMX_ASSIGN_OR_RETURN(uint64_t length, varint32());
      if (length == 0) {
        return fail(info == crdt::kInfoGc ? "update contains an empty GC block" : "update contains an empty skip block");
      }
      return advance(length);
    }
    // Content refs of 16 and more name no content this system stores either.
    const uint8_t ref = info & 0x0f;
    if ((info & 0x10) != 0 || (ref != 1 && ref != 7 && ref != 8)) return fail("update contains an unsupported block type");
    if ((info & crdt::kHasOrigin) != 0) CMX_TRY(id());
    if ((info & crdt::kHasRightOrigin) != 0) CMX_TRY(id());
    if ((info & (crdt::kHasOrigin | crdt::kHasRightOrigin)) == 0) {
      CMX_ASSIGN_OR_RETURN(uint64_t flag, varint32());
      if (flag > 1) return fail("update contains invalid parent info");
      if (flag == 1) CMX_TRY(string());
      else CMX_TRY(id());
      if ((info & crdt::kHasParentSub) != 0) CMX_TRY(string());
    }
    switch (ref) {
      case 1: {
        CMX_ASSIGN_OR_RETURN(uint64_t length, varint32());
        return advance(length);
      }
      case 7: {
        CMX_ASSIGN_OR_RETURN(uint8_t type_ref, byte());
        if (type_ref > 1) return fail("update contains an unsupported shared type");
        return advance(1);
      }
      default: {
        CMX_ASSIGN_OR_RETURN(uint64_t length, varint32());
        if (length > UINT64_MAX - values_declared_) return fail("update value count overflow");
        values_declared_ += length;
        if (values_declared_ > limits_.values || length > left()) return fail("update contains too many values");
        for (uint64_t idx = 0; idx < length; ++idx) CMX_TRY(value());
        return advance(length);
      }
    }
  }

  // One value of an Any item, nested values included.
  Status value() {
    struct Frame {
      uint64_t left;
      bool map;
    };
    Frame stack[kMaxDepth];
    size_t depth = 0;
    for (;;) {
      if (depth > 0 && stack[depth - 1].map) CMX_TRY(string());
      if (depth >= kMaxDepth) return fail("update value nesting exceeds 64 levels");
      if (values_decoded_ == UINT64_MAX) return fail("update value count overflow");
      if (values_decoded_++ >= limits_.values) return fail("update contains too many values");
      CMX_ASSIGN_OR_RETURN(uint8_t tag, byte());
      switch (tag) {
        case kTagBuffer: {
          CMX_ASSIGN_OR_RETURN(uint64_t length, varint32());
          CMX_TRY(skip(length));
          break;
        }
        case kTagArray:
        case kTagMap: {
          CMX_ASSIGN_OR_RETURN(uint64_t length, varint());
          const uint64_t allowance = values_decoded_ >= limits_.values ? 0 : limits_.values - values_decoded_;
          if (length > left() || length > allowance) {
            return fail(tag == kTagArray ? "update array length exceeds its payload"
                                         : "update map length exceeds its payload");
          }
          if (length > 0) {
            stack[depth++] = Frame{length, tag == kTagMap};
            continue;
          }
          break;
        }
        case kTagString:
          CMX_TRY(string());
          break;
        case kTagInt64:
        case kTagFloat64:
          CMX_TRY(skip(8));
          break;
        case kTagFloat32:
          CMX_TRY(skip(4));
          break;
        case kTagInteger:
          CMX_TRY(signed_varint());
          break;
        case kTagTrue:
        case kTagFalse:
        case kTagNull:
        case kTagUndefined:
          break;
        default:
          return fail(library_text(crdt::CrdtErrorKind::kUnexpectedValue));
      }
      while (depth > 0 && --stack[depth - 1].left == 0) --depth;
      if (depth == 0) return {};
    }
  }

  Status delete_set() {
    CMX_ASSIGN_OR_RETURN(uint64_t entries, varint32());
    if (entries > kMaxUpdateClients) return fail("update delete set contains too many clients");
    for (uint64_t entry = 0; entry < entries; ++entry) {
      CMX_TRY(client_id());
      CMX_ASSIGN_OR_RETURN(uint64_t ranges, varint32());
      if (ranges > UINT64_MAX - ranges_declared_) return fail("update delete range count overflow");
      ranges_declared_ += ranges;
      if (ranges > left() || ranges_declared_ > limits_.delete_ranges) {
        return fail("update contains too many delete ranges");
      }
      for (uint64_t range = 0; range < ranges; ++range) {
        CMX_ASSIGN_OR_RETURN(uint64_t clock, clock_value());
        CMX_ASSIGN_OR_RETURN(uint64_t length, varint32());
        if (length == 0) return fail("update contains an empty delete range");
        if (clock + length >= kU32) return fail("delete range clock overflows u32");
        if (clock + length > kMaxClock) return fail("clock exceeds the supported i32 range");
      }
    }
    return {};
  }

  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  ScanLimits limits_;
  uint64_t blocks_declared_ = 0;
  uint64_t values_declared_ = 0;
  uint64_t values_decoded_ = 0;
  uint64_t ranges_declared_ = 0;
  uint32_t clock_ = 0;
};

}  // namespace

Result<void, std::string> scan_update(std::span<const uint8_t> update, const ScanLimits& limits) {
  return Scanner(update, limits).update();
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
    return invalid("state vector contains " + format_u64(count) + " entries, exceeds the " +
                   format_u64(kMaxStateVectorEntries) + "-entry limit");
  }
  if (count > (bytes.size() - count_bytes) / 2) return invalid("state vector entry count exceeds its payload");
  auto sv = Scanner(bytes, ScanLimits::remote()).state_vector();
  if (!sv) return invalid(std::move(sv).error());
  return std::move(sv).value();
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
