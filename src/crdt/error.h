// Failures of the Yjs document library: decoding lib0 values, state vectors
// and updates, and refused local edits. Read next: lib0.h.
#pragma once

#include <cstdint>
#include <string>

namespace cmx::crdt {

enum class CrdtErrorKind : uint8_t {
  // Input ended inside a value; `a` is the number of bytes asked for.
  kUnexpectedEnd,
  // A variable-length integer is overlong, non-canonical or out of range.
  kVarint,
  // An Any value carries an unknown tag.
  kUnexpectedValue,
  // A string is not UTF-8; `a` is the index of the bad sequence, `b` its
  // length in bytes (0 when the input ends inside it).
  kInvalidUtf8,
  // An Any value nests deeper than kMaxAnyDepth.
  kNestingTooDeep,
  // A container length exceeds what the remaining input can hold.
  kLengthExceedsPayload,
  // Bytes remain after a complete state vector.
  kStateVectorTrailingBytes,
  // A state vector names one client twice.
  kStateVectorDuplicateClient,
  // A client id is 2^53 or more; `a` is the id.
  kClientIdTooLarge,
  // A clock does not fit in 32 bits.
  kClockTooLarge,
  // A delete set holds a range of length 0.
  kEmptyDeleteRange,
  // A local edit would take the replica's clock past kMaxClock.
  kClockExhausted,
  // An array index or range lies beyond the array's length; `a` the index
  // or range end, `b` the length.
  kIndexOutOfRange,
  // A root exists under this name with another kind of shared type.
  kRootKindMismatch,
  // An update block of length 0 (GC, skip, deleted or Any content).
  kEmptyBlock,
  // An update block's content ref is not one this library stores; `a` the ref.
  kUnsupportedContent,
  // A shared type other than an array or a map; `a` the type ref.
  kUnsupportedType,
  // Bytes remain after a complete update.
  kUpdateTrailingBytes,
  // An update block names as parent an item that holds neither a shared type
  // nor deleted content: `a` and `b` the parent's client and clock, `c` the
  // content ref of that item.
  kInvalidParent,
  // Memory for a decoded value could not be had; `a` is the length of the
  // input being decoded.
  kAllocationFailed,
};

struct CrdtError {
  CrdtErrorKind kind;
  uint64_t a = 0;
  uint64_t b = 0;
  uint64_t c = 0;

  friend bool operator==(const CrdtError&, const CrdtError&) = default;
};

std::string crdt_error_message(const CrdtError& error);

}  // namespace cmx::crdt
