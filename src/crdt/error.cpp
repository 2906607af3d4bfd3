// Messages of the document library's failures.
#include "crdt/error.h"

#include "base/number_text.h"

namespace cmx::crdt {

std::string crdt_error_message(const CrdtError& error) {
  const std::string a = format_u64(error.a);
  const std::string b = format_u64(error.b);
  switch (error.kind) {
    case CrdtErrorKind::kUnexpectedEnd:
      return "while trying to read more data (expected: " + a +
             " bytes), an unexpected end of buffer was reached";
    case CrdtErrorKind::kVarint:
      return "failed to decode variable length integer";
    case CrdtErrorKind::kUnexpectedValue:
      return "while reading, an unexpected value was found";
    case CrdtErrorKind::kInvalidUtf8:
      if (error.b == 0) return "incomplete utf-8 byte sequence from index " + a;
      return "invalid utf-8 sequence of " + b + " bytes from index " + a;
    case CrdtErrorKind::kNestingTooDeep:
      return "value nesting exceeds " + a + " levels";
    case CrdtErrorKind::kLengthExceedsPayload:
      return "declared length " + a + " exceeds the remaining " + b + " bytes";
    case CrdtErrorKind::kStateVectorTrailingBytes:
      return "state vector contains trailing bytes";
    case CrdtErrorKind::kStateVectorDuplicateClient:
      return "state vector contains a duplicate client";
    case CrdtErrorKind::kClientIdTooLarge:
      return "client ID exceeds the 53-bit Yjs limit";
    case CrdtErrorKind::kClockTooLarge:
      return "clock exceeds the supported i32 range";
    case CrdtErrorKind::kEmptyDeleteRange:
      return "delete set contains an empty range";
    case CrdtErrorKind::kClockExhausted:
      return "the replica's clock would exceed " + a;
    case CrdtErrorKind::kIndexOutOfRange:
      return "index " + a + " is beyond the array length " + b;
    case CrdtErrorKind::kRootKindMismatch:
      return "a root of another kind exists under this name";
    case CrdtErrorKind::kEmptyBlock:
      return "update contains a block of length 0";
    case CrdtErrorKind::kUnsupportedContent:
      return "update contains unsupported content " + a;
    case CrdtErrorKind::kUnsupportedType:
      return "update contains unsupported shared type " + a;
    case CrdtErrorKind::kUpdateTrailingBytes:
      return "update contains trailing bytes";
    case CrdtErrorKind::kInvalidParent:
      return "block parent <" + a + "#" + b + "> must be deleted or shared ref type. Type: " +
             format_u64(error.c);
    case CrdtErrorKind::kAllocationFailed:
      return "failed to allocate memory: decoding " + a + " bytes";
  }
  return {};
}

}  // namespace cmx::crdt
