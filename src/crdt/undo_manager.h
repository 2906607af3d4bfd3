// The undo manager: records the local transactions of chosen origins that
// change a scope of shared types as stack items (the ids they inserted and
// deleted), and undoes or redoes them as new transactions that revert only
// those changes: what other clients did in between stays. Read next:
// update_encoder.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "crdt/doc.h"
#include "crdt/id.h"

namespace cmx::crdt {

// One undo or redo step: the ids its transactions inserted and deleted, and
// metadata that listeners may attach (for example a selection to restore).
struct StackItem {
  DeleteSet insertions;
  DeleteSet deletions;
  std::map<std::string, std::string> meta;

  friend bool operator==(const StackItem&, const StackItem&) = default;
};

enum class UndoEventKind : uint8_t {
  // A captured transaction became a new stack item.
  kAdded,
  // A captured transaction was merged into the last stack item (within the
  // capture window).
  kUpdated,
  // An undo or redo applied a stack item (moved to the other stack).
  kPopped,
  // The undo stack, the redo stack or both were emptied.
  kCleared,
};

struct UndoEvent {
  UndoEventKind kind;
  // The item added, updated or popped; null for kCleared.
  StackItem* item = nullptr;
  // kAdded, kUpdated: the stack the item is on (redo when an undo made it);
  // kPopped: whether a redo applied it.
  bool redo = false;
  // The origin of the transaction (kAdded, kUpdated).
  std::string origin;
  // kCleared: which stacks were emptied.
  bool undo_cleared = false;
  bool redo_cleared = false;
};

struct UndoOptions {
  // Transactions whose origin is one of these are captured ("" is a
  // transaction opened without an origin); the manager's own undo and redo
  // transactions are captured whatever their origin.
  std::vector<std::string> tracked_origins{std::string()};
  // Transactions within this many milliseconds of the last captured one
  // join its stack item (0: every transaction is its own item).
  uint64_t capture_timeout_ms = 500;
  // Milliseconds since the Unix epoch; the system clock when empty.
  std::function<uint64_t()> clock;
  // The origin text of the manager's own undo and redo transactions.
  std::string origin;
  // Stacks to start with, oldest first (saved from an earlier manager of the
  // same document).
  std::vector<StackItem> undo_stack;
  std::vector<StackItem> redo_stack;
};

class UndoManager {
 public:
  // `scope`: the shared types whose changes (their own or inside them) are
  // captured, undone and redone. Registers with the document until
  // destroyed; the document must outlive the manager.
  UndoManager(Doc& doc, std::vector<Branch*> scope, UndoOptions options = {});
  ~UndoManager();
  UndoManager(const UndoManager&) = delete;
  UndoManager& operator=(const UndoManager&) = delete;

  // Reverts the last undo step that still changes something (steps that no
  // longer do are dropped) in one transaction; the step moves to the redo
  // stack. Returns the applied step, or null when none applied.
  Result<const StackItem*, CrdtError> undo();
  Result<const StackItem*, CrdtError> redo();
  bool can_undo() const { return !undo_stack_.empty(); }
  bool can_redo() const { return !redo_stack_.empty(); }
  const std::vector<StackItem>& undo_stack() const { return undo_stack_; }
  const std::vector<StackItem>& redo_stack() const { return redo_stack_; }
  // Empties the chosen stacks; the deleted items they kept may be collected.
  void clear(bool undo = true, bool redo = true);
  // The next captured transaction starts a new stack item.
  void stop_capturing() { last_change_ = 0; }
  void add_tracked_origin(std::string origin) { tracked_.insert(std::move(origin)); }
  void remove_tracked_origin(const std::string& origin) { tracked_.erase(origin); }

  // Listeners for the stack events; called after the change, outside any
  // transaction for kPopped and kCleared, inside the captured transaction's
  // commit (under the store's lock) for kAdded and kUpdated.
  uint64_t observe(std::function<void(const UndoEvent&)> listener);
  void unobserve(uint64_t subscription);

 private:
  void capture(Doc& doc, const TransactionEvent& event);
  Result<const StackItem*, CrdtError> pop(bool redo);
  bool in_scope(const Item& item) const;
  void emit(const UndoEvent& event);
  uint64_t now() const;

  Doc* doc_;
  std::vector<Branch*> scope_;
  absl::flat_hash_set<std::string> tracked_;
  uint64_t capture_timeout_ms_;
  std::function<uint64_t()> clock_;
  std::string origin_;
  std::vector<StackItem> undo_stack_;
  std::vector<StackItem> redo_stack_;
  std::optional<StackItem> popped_;
  bool undoing_ = false;
  bool redoing_ = false;
  uint64_t last_change_ = 0;
  uint64_t subscription_ = 0;
  uint64_t next_listener_ = 1;
  std::vector<std::pair<uint64_t, std::function<void(const UndoEvent&)>>> listeners_;
};

}  // namespace cmx::crdt
