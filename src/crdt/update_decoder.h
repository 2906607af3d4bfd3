// Reading the Yjs version 1 update encoding. The decoding walk hands every
// client group, block and delete range to a visitor as soon as it is read, so
// that a caller can check an update while it is decoded (and refuse it before
// anything reaches a document) with no second pass over the bytes.
// Read next: doc.h (Transaction::apply_update).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "absl/container/inlined_vector.h"
#include "base/result.h"
#include "crdt/any.h"
#include "crdt/error.h"
#include "crdt/id.h"
#include "crdt/lib0.h"
#include "crdt/store.h"

namespace cmx::crdt {

// One decoded struct of an update, not yet tied to a document: its parent is
// a root name or the id of the item holding a shared type, and only items
// without origins carry one.
struct Block {
  ID id;
  uint32_t length = 0;
  StructKind kind = StructKind::kItem;
  OptionalId origin;
  OptionalId right_origin;
  std::optional<std::string> parent_name;
  OptionalId parent_id;
  std::optional<std::string> parent_sub;
  ContentKind content = ContentKind::kDeleted;
  TypeRef type_ref = TypeRef::kUnknown;  // kType
  absl::InlinedVector<Any, 1> values;    // kAny
};

// Blocks by client, each client's in clock order, and the delete set.
struct Update {
  std::map<uint64_t, std::vector<Block>> clients;
  DeleteSet delete_set;
};

// Blocks of remote updates that wait for predecessors the document lacks,
// per client in clock order from `head`. Each client's queue waits for one
// (client, clock): it is retried only once that client's state passes the
// clock, so that a long queue is not walked again for every update that
// does not concern it.
struct PendingQueue {
  std::vector<Block> blocks;
  size_t head = 0;  // blocks before it have integrated
  std::span<const Block> waiting() const { return std::span<const Block>(blocks).subspan(head); }
};
struct PendingStructs {
  std::map<uint64_t, PendingQueue> clients;
  // The id each queue's first block waits for, by waiting client.
  std::map<uint64_t, ID> awaits;
  // The clock of the first block of each queue that waits for another
  // client's id: the queue is retried as well once its own client passes
  // that clock (a client that reused its id may bring it by another road).
  std::map<uint64_t, uint32_t> held_at;
  // The same turned around: per awaited client, (clock, waiting client).
  std::map<uint64_t, std::set<std::pair<uint32_t, uint64_t>>> waiters;
  bool empty() const { return clients.empty(); }
};

// Receives the parts of an update in the order of its bytes. Counts arrive
// before anything is read or reserved for them; any failure ends the walk
// with that error.
class UpdateVisitor {
 public:
  virtual ~UpdateVisitor() = default;
  virtual Result<void, CrdtError> client_count(uint64_t count) {
    (void)count;
    return {};
  }
  virtual Result<void, CrdtError> client_group(uint64_t client, uint32_t clock, uint64_t block_count) {
    (void)client, (void)clock, (void)block_count;
    return {};
  }
  // The length of an Any or Deleted content, or of a GC or skip block, as
  // soon as it is read (for Any before any of its values).
  virtual Result<void, CrdtError> content_length(StructKind kind, ContentKind content, uint64_t length) {
    (void)kind, (void)content, (void)length;
    return {};
  }
  virtual Result<void, CrdtError> block(Block&& block) = 0;
  virtual Result<void, CrdtError> delete_client(uint64_t client, uint64_t range_count) {
    (void)client, (void)range_count;
    return {};
  }
  virtual Result<void, CrdtError> delete_range(uint64_t client, uint32_t clock, uint32_t len) = 0;
};

// Walks one update from the decoder's position to the end of its delete set.
// Refused: counts beyond what the bytes left can hold, client ids of 2^53 or
// more, clocks past kMaxClock, blocks of length 0, content other than GC,
// skip, deleted, Any and array or map types, parent flags other than 0 and 1,
// and the delete set's faults (see read_delete_set).
Result<void, CrdtError> decode_update(Decoder& decoder, UpdateVisitor& visitor);

// Decodes a whole update into blocks and a delete set; trailing bytes are
// refused.
Result<Update, CrdtError> decode_update(std::span<const uint8_t> bytes);

}  // namespace cmx::crdt
