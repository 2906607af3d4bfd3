// A Yjs document: client id, root shared types, transactions with an origin,
// observation after each transaction, and encoding of state vectors and
// updates (Yjs update encoding, version 1). Read next: types.h.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "base/result.h"
#include "crdt/error.h"
#include "crdt/id.h"
#include "crdt/store.h"
#include "crdt/update_decoder.h"

namespace cmx::crdt {

class Doc;
class MapRef;
class ArrayRef;

// A shared type touched by a transaction (in the order the transaction first
// touched them), with the map keys it changed in byte order.
struct ChangedType {
  Branch* type;
  std::vector<std::string> keys;
  bool list_changed = false;
};

// What an observer learns after a transaction. Deleted items are still in the
// store (not yet collected): an observer may set their `keep` flag. Observers
// run under the store's write lock and must not open a transaction.
struct TransactionEvent {
  const std::string& origin;
  const StateVector& before_state;
  const StateVector& after_state;
  const DeleteSet& delete_set;
  const std::vector<ChangedType>& changed;
  // Who opened the transaction, when it was opened on someone's behalf (an
  // undo manager marks its own undo and redo transactions so).
  const void* owner = nullptr;
};

using TransactionObserver = std::function<void(Doc&, const TransactionEvent&)>;

// The one write transaction of a document. Every edit goes through one; the
// destructor commits. A document has at most one open transaction, which
// holds the store's lock exclusively until it has committed.
class Transaction {
 public:
  explicit Transaction(Doc& doc, std::string origin = {}, const void* owner = nullptr);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Merges the delete set, tells the observers, collects deleted content and
  // merges neighbouring structs. Later calls do nothing.
  void commit();

  Doc& doc() const { return *doc_; }
  const std::string& origin() const { return origin_; }
  const void* owner() const { return owner_; }
  const StateVector& before_state() const { return before_state_; }
  const DeleteSet& delete_set() const { return delete_set_; }

  // Building blocks of the shared types' edits.
  // The id of the next `length` clocks of the local client.
  Result<ID, CrdtError> next_id(uint32_t length) const;
  // Links a new item into its parent (after its left neighbour) and the store.
  Item* integrate_local(std::unique_ptr<Item> item);
  // Deletes an item and, for a shared type, everything inside it.
  void delete_item(Item* item);
  // Splits the struct holding `id` so that a struct starts at `id`; returns it.
  Item* clean_start(ID id);
  // Splits the item holding `id` so that it ends at `id`; returns it. GC
  // structs are not split.
  Item* clean_end(ID id);

  // Integrates a remote update. Blocks whose predecessors (an earlier clock
  // of their client, an origin or a parent) are missing, and delete ranges
  // beyond what the store holds, wait in the document and are retried with
  // later updates. Fails with kInvalidParent when a block's parent is an
  // item holding neither a shared type nor deleted content; what was
  // integrated before stays, the rest of the update is dropped.
  Result<void, CrdtError> apply_update(Update update);
  // Integrates a block among the items of its parent (settling concurrent
  // inserts between its origins); the block's predecessors must be known.
  Result<void, CrdtError> integrate_block(Block& block, uint32_t offset);

 private:
  // Integrates the queues' blocks from their heads on; a queue whose block
  // cannot integrate stops there (its head is left at that block). Clients
  // whose state moved are added to `advanced`.
  Result<void, CrdtError> integrate_structs(std::map<uint64_t, PendingQueue*>& queues,
                                            std::vector<uint64_t>& advanced);
  // Files what stopped in `queues` under the document's pending blocks and
  // returns the waiting clients that the clients in `advanced` unblocked.
  std::vector<uint64_t> settle_pending(std::map<uint64_t, PendingQueue*>& queues,
                                       const std::vector<uint64_t>& advanced);
  // Links an item (left neighbour, parent and key set) into its parent's
  // list or key chain and the store.
  Item* place(std::unique_ptr<Item> owned);
  // Deletes what the store holds of `ds`; returns the ranges it lacks.
  DeleteSet apply_delete_set(const DeleteSet& ds);
  void add_changed(Branch* type, const std::optional<std::string>& key);
  void collect_garbage();
  void merge_structs();

  Doc* doc_;
  std::string origin_;
  const void* owner_;
  StateVector before_state_;
  DeleteSet delete_set_;
  std::vector<ChangedType> changed_;
  // The changed keys of each entry of changed_, as the items' own key strings
  // (items stay in place until commit); turned into sorted keys at commit,
  // and only when someone observes.
  std::vector<std::vector<const std::string*>> changed_keys_;
  absl::flat_hash_map<Branch*, size_t> changed_index_;
  // Ids of the right halves of splits, to merge back if they still can.
  std::vector<ID> split_ids_;
  // The item holding the shared type that the last block named as its
  // parent: blocks of one map come in runs. Such an item is never split or
  // merged, and stays in place until the commit.
  Item* parent_holder_ = nullptr;
  bool committed_ = false;
  std::unique_lock<std::shared_mutex> lock_;
};

class Doc {
 public:
  // `client_id` must be at most kMaxClientId (fails with kClientIdTooLarge).
  static Result<std::unique_ptr<Doc>, CrdtError> create(uint64_t client_id, bool gc = true);
  // A document with a random 53-bit client id from the system's secure source.
  static std::unique_ptr<Doc> create_random(bool gc = true);
  // The id create_random would give, for a document made later.
  static uint64_t random_client_id();
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;

  uint64_t client_id() const { return client_id_; }
  bool gc_enabled() const { return gc_; }

  // Root lookup without creation: the root of that name when it is of the
  // asked kind (or of a kind no one has asked for yet).
  Branch* find_root(std::string_view name) const;
  std::optional<MapRef> find_map(std::string_view name) const;
  std::optional<ArrayRef> find_array(std::string_view name) const;
  // Get-or-create; fails with kRootKindMismatch when the root has another kind.
  Result<MapRef, CrdtError> get_or_create_map(std::string_view name);
  Result<ArrayRef, CrdtError> get_or_create_array(std::string_view name);
  // Get-or-create leaving the kind open, for roots that a peer's update names
  // before any local lookup; the first typed lookup fixes the kind.
  Branch* root(std::string_view name);
  const std::map<std::string, Branch*, std::less<>>& roots() const { return roots_; }

  StateVector state_vector() const { return store_.state_vector(); }
  std::vector<uint8_t> encode_state_vector() const;

  // Decodes an update and integrates it in one transaction with `origin`.
  // A decoding failure leaves the document untouched.
  Result<void, CrdtError> apply_update(std::span<const uint8_t> update, std::string origin = {});
  // Whether blocks or deletions of remote updates wait for predecessors.
  bool has_pending() const { return !pending_.empty() || !pending_ds_.empty(); }
  const PendingStructs& pending_structs() const { return pending_; }
  const DeleteSet& pending_delete_set() const { return pending_ds_; }
  // Everything the document holds beyond `since` (the first struct of each
  // client sliced at the given clock), then the whole delete set. Blocks and
  // deletions that wait for predecessors are written too (behind skip
  // structs over the gaps), so a document built from this state waits for
  // the same predecessors.
  std::vector<uint8_t> encode_state_as_update(const StateVector& since = {}) const;
  // What one transaction changed (its new structs and its delete set), for an
  // observer to send to peers.
  std::vector<uint8_t> encode_transaction_update(const TransactionEvent& event) const;
  // The same against an encoded state vector.
  Result<std::vector<uint8_t>, CrdtError> encode_diff(std::span<const uint8_t> state_vector) const;

  // The store's lock, shared, for readers on other threads than the writer's.
  // Never taken by the document itself; never held while opening a
  // transaction on the same thread.
  std::shared_lock<std::shared_mutex> read_lock() const { return std::shared_lock(store_mutex_); }

  // How many transactions have committed; a cheap token for "nothing
  // changed since".
  uint64_t committed_transactions() const { return committed_transactions_; }

  uint64_t observe_after_transaction(TransactionObserver observer);
  void unobserve(uint64_t subscription);

  StructStore& store() { return store_; }
  const StructStore& store() const { return store_; }
  Transaction* active_transaction() const { return active_; }
  // A new nested shared type, owned by the document for its whole life so
  // that handles to deleted types stay valid.
  Branch* new_branch(TypeRef type_ref);

 private:
  friend class Transaction;
  Doc(uint64_t client_id, bool gc) : client_id_(client_id), gc_(gc) {}
  Result<Branch*, CrdtError> root_of_kind(std::string_view name, TypeRef type_ref);

  uint64_t client_id_;
  bool gc_;
  StructStore store_;
  std::deque<std::unique_ptr<Branch>> branches_;
  std::map<std::string, Branch*, std::less<>> roots_;
  PendingStructs pending_;
  DeleteSet pending_ds_;
  Transaction* active_ = nullptr;
  mutable std::shared_mutex store_mutex_;
  uint64_t next_subscription_ = 1;
  uint64_t committed_transactions_ = 0;
  std::vector<std::pair<uint64_t, TransactionObserver>> observers_;
};

}  // namespace cmx::crdt
