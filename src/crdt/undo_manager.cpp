// The undo manager. Undoing deletes what a step inserted and re-creates what
// it deleted as new items of the local client (`redone` links the original
// to its copy); remote changes made since are left as they are: a map entry
// that a peer overwrote is not brought back, and array items go back between
// the neighbours they had where those still exist.
#include "crdt/undo_manager.h"

#include <chrono>

namespace cmx::crdt {

namespace {

Item* parent_item_of(const Item& item) { return item.parent == nullptr ? nullptr : item.parent->item; }

bool is_parent_of(const Branch* parent, const Item* child) {
  while (child != nullptr) {
    if (child->parent == parent) return true;
    child = parent_item_of(*child);
  }
  return false;
}

// Marks an item and the items holding its ancestors as kept (not collected
// while deleted), or releases them.
void keep_item(Item* item, bool keep) {
  while (item != nullptr && item->keep != keep) {
    item->keep = keep;
    item = parent_item_of(*item);
  }
}

// The structs holding the clocks of `ds` that the store has, unsplit.
template <typename F>
void for_each_struct(StructStore& store, const DeleteSet& ds, F&& fn) {
  for (const auto& [client, ranges] : ds.clients()) {
    auto* structs = store.client_structs(client);
    if (structs == nullptr || structs->empty()) continue;
    const uint32_t state = store.get_state(client);
    for (const DeleteRange& range : ranges) {
      if (range.clock >= state) break;
      const uint64_t end = uint64_t{range.clock} + range.len;
      for (size_t idx = StructStore::find_index(*structs, range.clock);
           idx < structs->size() && (*structs)[idx]->id.clock < end; ++idx) {
        fn((*structs)[idx].get());
      }
    }
  }
}

// The structs that cover the clocks of `ds`, split so that each lies wholly
// inside a range. Collected before any is visited: visitors may add structs.
std::vector<Item*> split_structs(Transaction& txn, const DeleteSet& ds) {
  StructStore& store = txn.doc().store();
  std::vector<Item*> out;
  for (const auto& [client, ranges] : ds.clients()) {
    if (store.client_structs(client) == nullptr) continue;
    for (const DeleteRange& range : ranges) {
      const uint32_t state = store.get_state(client);
      if (range.clock >= state) break;
      const uint64_t end = std::min<uint64_t>(uint64_t{range.clock} + range.len, state);
      txn.clean_start(ID{client, range.clock});
      if (end < state) txn.clean_start(ID{client, static_cast<uint32_t>(end)});
      auto& structs = *store.client_structs(client);
      for (size_t idx = StructStore::find_index(structs, range.clock);
           idx < structs.size() && structs[idx]->id.clock < end; ++idx) {
        out.push_back(structs[idx].get());
      }
    }
  }
  return out;
}

// The item that `id` was last re-created as, and the offset of `id` in it.
std::pair<Item*, uint32_t> follow_redone(const StructStore& store, ID id) {
  Item* item = nullptr;
  OptionalId next = id;
  uint32_t diff = 0;
  do {
    ID at = *next;
    at.clock += diff;
    Item* found = store.find(at);
    if (found == nullptr) break;
    item = found;
    diff = at.clock - item->id.clock;
    next = item->redone;
  } while (next && item->kind == StructKind::kItem);
  return {item, diff};
}

bool deleted_by(const std::vector<StackItem>& stack, ID id) {
  for (const StackItem& item : stack) {
    if (item.deletions.contains(id)) return true;
  }
  return false;
}

}  // namespace

UndoManager::UndoManager(Doc& doc, std::vector<Branch*> scope, UndoOptions options)
    : doc_(&doc),
      scope_(std::move(scope)),
      tracked_(options.tracked_origins.begin(), options.tracked_origins.end()),
      capture_timeout_ms_(options.capture_timeout_ms),
      clock_(std::move(options.clock)),
      origin_(std::move(options.origin)),
      undo_stack_(std::move(options.undo_stack)),
      redo_stack_(std::move(options.redo_stack)) {
  subscription_ = doc.observe_after_transaction(
      [this](Doc& changed, const TransactionEvent& event) { capture(changed, event); });
}

UndoManager::~UndoManager() { doc_->unobserve(subscription_); }

uint64_t UndoManager::now() const {
  if (clock_) return clock_();
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
  return ms < 0 ? 0 : static_cast<uint64_t>(ms);
}

bool UndoManager::in_scope(const Item& item) const {
  for (const Branch* type : scope_) {
    if (is_parent_of(type, &item)) return true;
  }
  return false;
}

uint64_t UndoManager::observe(std::function<void(const UndoEvent&)> listener) {
  const uint64_t id = next_listener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void UndoManager::unobserve(uint64_t subscription) {
  std::erase_if(listeners_, [&](const auto& entry) { return entry.first == subscription; });
}

void UndoManager::emit(const UndoEvent& event) {
  auto listeners = listeners_;
  for (auto& [id, listener] : listeners) listener(event);
}

void UndoManager::clear(bool undo, bool redo) {
  if (!((undo && can_undo()) || (redo && can_redo()))) return;
  auto release = [&](std::vector<StackItem>& stack) {
    for (const StackItem& item : stack) {
      for_each_struct(doc_->store(), item.deletions, [&](Item* s) {
        if (s->kind == StructKind::kItem && in_scope(*s)) keep_item(s, false);
      });
    }
    stack.clear();
  };
  if (undo) release(undo_stack_);
  if (redo) release(redo_stack_);
  UndoEvent event{UndoEventKind::kCleared};
  event.undo_cleared = undo;
  event.redo_cleared = redo;
  emit(event);
}

void UndoManager::capture(Doc& doc, const TransactionEvent& event) {
  if (event.owner != this && !tracked_.contains(event.origin)) return;
  bool touched = false;
  for (const ChangedType& changed : event.changed) {
    for (const Branch* type = changed.type; type != nullptr && !touched;
         type = type->item == nullptr ? nullptr : type->item->parent) {
      touched = std::find(scope_.begin(), scope_.end(), type) != scope_.end();
    }
    if (touched) break;
  }
  if (!touched) return;
  const bool undoing = undoing_;
  const bool redoing = redoing_;
  std::vector<StackItem>& stack = undoing ? redo_stack_ : undo_stack_;
  if (undoing) {
    stop_capturing();  // the next undo must not join this step
  } else if (!redoing) {
    clear(false, true);
  }
  DeleteSet insertions;
  for (const auto& [client, end] : event.after_state.entries()) {
    const uint32_t start = event.before_state.get(client);
    if (end > start) insertions.add(client, start, end - start);
  }
  const uint64_t time = now();
  bool added = false;
  if (last_change_ > 0 && time >= last_change_ && time - last_change_ < capture_timeout_ms_ && !stack.empty() &&
      !undoing && !redoing) {
    StackItem& last = stack.back();
    last.deletions.merge(event.delete_set);
    last.deletions.sort_and_merge();
    last.insertions.merge(insertions);
    last.insertions.sort_and_merge();
  } else {
    stack.push_back(StackItem{std::move(insertions), event.delete_set, {}});
    added = true;
  }
  if (!undoing && !redoing) last_change_ = time;
  // What the step deleted must survive collection to be brought back.
  for_each_struct(doc.store(), event.delete_set, [&](Item* item) {
    if (item->kind == StructKind::kItem && in_scope(*item)) keep_item(item, true);
  });
  UndoEvent out{added ? UndoEventKind::kAdded : UndoEventKind::kUpdated, &stack.back(), undoing, event.origin};
  emit(out);
}

Result<const StackItem*, CrdtError> UndoManager::undo() { return pop(false); }
Result<const StackItem*, CrdtError> UndoManager::redo() { return pop(true); }

namespace {

// Re-creates a deleted item as a new item of the local client, next to
// where it was. Null when it cannot come back: its parent is gone for good,
// or (for a map entry) a peer has written the key since.
class Redoer {
 public:
  Redoer(Transaction& txn, const absl::flat_hash_set<Item*>& redo_items, const DeleteSet& step_insertions,
         const std::vector<StackItem>& undo_stack, const std::vector<StackItem>& redo_stack)
      : txn_(txn),
        store_(txn.doc().store()),
        redo_items_(redo_items),
        insertions_(step_insertions),
        undo_stack_(undo_stack),
        redo_stack_(redo_stack) {}

  Result<Item*, CrdtError> redo(Item* item) {
    if (item->redone) return txn_.clean_start(*item->redone);
    if (item->parent == nullptr || item->parent->collected) return nullptr;
    Item* parent_item = item->parent->item;
    if (parent_item != nullptr && parent_item->deleted) {
      if (!parent_item->redone) {
        if (!redo_items_.contains(parent_item)) return nullptr;
        CMX_ASSIGN_OR_RETURN(Item * parent_again, redo(parent_item));
        if (parent_again == nullptr) return nullptr;
      }
      while (parent_item->redone) parent_item = txn_.clean_start(*parent_item->redone);
      if (parent_item->kind != StructKind::kItem || parent_item->content.kind != ContentKind::kType) return nullptr;
    }
    Branch* parent_type = parent_item == nullptr ? item->parent : parent_item->content.type;
    auto same_parent = [&](const Item* other) {
      return other->parent != nullptr && other->parent->item == parent_item;
    };
    Item* left = nullptr;
    Item* right = nullptr;
    if (!item->parent_sub) {
      // Between the nearest neighbours (or their copies) still in the parent.
      left = item->left;
      right = item;
      for (; left != nullptr; left = left->left) {
        Item* trace = follow_to(left, same_parent);
        if (trace != nullptr) {
          left = trace;
          break;
        }
      }
      for (; right != nullptr; right = right->right) {
        Item* trace = follow_to(right, same_parent);
        if (trace != nullptr) {
          right = trace;
          break;
        }
      }
    } else {
      if (item->right != nullptr) {
        // Later writes of the key must all be undone ones, else a peer's
        // write stands.
        left = item;
        while (left != nullptr && left->right != nullptr &&
               (left->right->redone || insertions_.contains(left->right->id) ||
                deleted_by(undo_stack_, left->right->id) || deleted_by(redo_stack_, left->right->id))) {
          left = left->right;
          while (left->redone) left = txn_.clean_start(*left->redone);
        }
        if (left != nullptr && left->right != nullptr) return nullptr;
      } else {
        left = latest(parent_type, *item->parent_sub);
      }
      if (left != nullptr && !same_parent(left)) left = latest(parent_type, *item->parent_sub);
    }
    CMX_ASSIGN_OR_RETURN(ID id, txn_.next_id(item->length));
    Block block;
    block.id = id;
    block.length = item->length;
    if (left != nullptr) block.origin = left->last_id();
    if (right != nullptr) block.right_origin = right->id;
    if (left == nullptr && right == nullptr) {
      if (parent_type->is_root()) block.parent_name = parent_type->root_name;
      else block.parent_id = *parent_type->item_id;
    }
    block.parent_sub = item->parent_sub;
    block.content = item->content.kind;
    if (item->content.kind == ContentKind::kType) block.type_ref = item->content.type->type_ref;
    else if (item->content.kind == ContentKind::kAny) block.values = item->content.values;
    item->redone = id;
    CMX_TRY(txn_.integrate_block(block, 0));
    Item* made = store_.find(id);
    keep_item(made, true);
    return made;
  }

 private:
  // `item`, or the copy it was re-created as, that lies in the parent.
  template <typename Same>
  Item* follow_to(Item* item, Same&& same_parent) {
    Item* trace = item;
    while (trace != nullptr && !same_parent(trace)) {
      trace = trace->redone ? txn_.clean_start(*trace->redone) : nullptr;
    }
    return trace;
  }

  static Item* latest(Branch* type, const std::string& key) {
    auto found = type->map.find(key);
    return found == type->map.end() ? nullptr : found->second;
  }

  Transaction& txn_;
  StructStore& store_;
  const absl::flat_hash_set<Item*>& redo_items_;
  const DeleteSet& insertions_;
  const std::vector<StackItem>& undo_stack_;
  const std::vector<StackItem>& redo_stack_;
};

}  // namespace

Result<const StackItem*, CrdtError> UndoManager::pop(bool redo) {
  std::vector<StackItem>& stack = redo ? redo_stack_ : undo_stack_;
  bool& flag = redo ? redoing_ : undoing_;
  flag = true;
  popped_.reset();
  Result<void, CrdtError> outcome;
  {
    Transaction txn(*doc_, origin_, this);
    StructStore& store = doc_->store();
    while (!stack.empty() && !popped_) {
      StackItem step = std::move(stack.back());
      stack.pop_back();
      std::vector<Item*> to_delete;
      for (Item* found : split_structs(txn, step.insertions)) {
        Item* item = found;
        if (item->kind != StructKind::kItem) continue;
        if (item->redone) {
          auto [copy, diff] = follow_redone(store, item->id);
          if (copy == nullptr) continue;
          if (diff > 0) copy = txn.clean_start(ID{copy->id.client, copy->id.clock + diff});
          item = copy;
        }
        if (item->kind == StructKind::kItem && !item->deleted && in_scope(*item)) to_delete.push_back(item);
      }
      std::vector<Item*> to_redo;
      absl::flat_hash_set<Item*> redo_set;
      for (Item* item : split_structs(txn, step.deletions)) {
        // Items made and deleted within one step are not brought back.
        if (item->kind == StructKind::kItem && in_scope(*item) && !step.insertions.contains(item->id) &&
            redo_set.insert(item).second) {
          to_redo.push_back(item);
        }
      }
      bool performed = false;
      Redoer redoer(txn, redo_set, step.insertions, undo_stack_, redo_stack_);
      for (Item* item : to_redo) {
        auto made = redoer.redo(item);
        if (!made) {
          outcome = unexpected(made.error());
          break;
        }
        performed = *made != nullptr || performed;
      }
      if (!outcome) break;
      // Children before their parents.
      for (auto it = to_delete.rbegin(); it != to_delete.rend(); ++it) {
        txn.delete_item(*it);
        performed = true;
      }
      if (performed) popped_ = std::move(step);
    }
    txn.commit();
  }
  flag = false;
  if (!outcome) return unexpected(outcome.error());
  if (!popped_) return nullptr;
  UndoEvent event{UndoEventKind::kPopped, &*popped_, redo};
  emit(event);
  return &*popped_;
}

}  // namespace cmx::crdt
