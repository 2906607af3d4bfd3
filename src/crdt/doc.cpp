// Documents and transactions.
#include "crdt/doc.h"

#include <algorithm>
#include <random>

#include "crdt/types.h"
#include "crdt/update_encoder.h"

namespace cmx::crdt {

// ---- Doc ----------------------------------------------------------------

Result<std::unique_ptr<Doc>, CrdtError> Doc::create(uint64_t client_id, bool gc) {
  if (client_id > kMaxClientId) return unexpected(CrdtError{CrdtErrorKind::kClientIdTooLarge, client_id});
  return std::unique_ptr<Doc>(new Doc(client_id, gc));
}

std::unique_ptr<Doc> Doc::create_random(bool gc) { return std::unique_ptr<Doc>(new Doc(random_client_id(), gc)); }

uint64_t Doc::random_client_id() {
  std::random_device source;
  const uint64_t high = source();
  const uint64_t low = source();
  return ((high << 32) | low) & kMaxClientId;
}

Branch* Doc::new_branch(TypeRef type_ref) {
  branches_.push_back(std::make_unique<Branch>());
  branches_.back()->type_ref = type_ref;
  return branches_.back().get();
}

Branch* Doc::find_root(std::string_view name) const {
  auto found = roots_.find(name);
  return found == roots_.end() ? nullptr : found->second;
}

std::optional<MapRef> Doc::find_map(std::string_view name) const {
  Branch* root = find_root(name);
  if (root == nullptr || root->type_ref == TypeRef::kArray) return std::nullopt;
  return MapRef(root);
}

std::optional<ArrayRef> Doc::find_array(std::string_view name) const {
  Branch* root = find_root(name);
  if (root == nullptr || root->type_ref == TypeRef::kMap) return std::nullopt;
  return ArrayRef(root);
}

Branch* Doc::root(std::string_view name) {
  Branch* found = find_root(name);
  if (found != nullptr) return found;
  Branch* made = new_branch(TypeRef::kUnknown);
  made->root_name = std::string(name);
  roots_.emplace(std::string(name), made);
  return made;
}

Result<Branch*, CrdtError> Doc::root_of_kind(std::string_view name, TypeRef type_ref) {
  Branch* root = this->root(name);
  if (root->type_ref == TypeRef::kUnknown) {
    root->type_ref = type_ref;
  } else if (root->type_ref != type_ref) {
    return unexpected(CrdtError{CrdtErrorKind::kRootKindMismatch});
  }
  return root;
}

Result<MapRef, CrdtError> Doc::get_or_create_map(std::string_view name) {
  CMX_ASSIGN_OR_RETURN(Branch * root, root_of_kind(name, TypeRef::kMap));
  return MapRef(root);
}

Result<ArrayRef, CrdtError> Doc::get_or_create_array(std::string_view name) {
  CMX_ASSIGN_OR_RETURN(Branch * root, root_of_kind(name, TypeRef::kArray));
  return ArrayRef(root);
}

std::vector<uint8_t> Doc::encode_state_vector() const { return crdt::encode_state_vector(state_vector()); }

std::vector<uint8_t> Doc::encode_state_as_update(const StateVector& since) const {
  Encoder encoder;
  if (has_pending()) write_update(encoder, store_, since, pending_, pending_ds_);
  else write_update(encoder, store_, since);
  return encoder.take();
}

std::vector<uint8_t> Doc::encode_transaction_update(const TransactionEvent& event) const {
  Encoder encoder;
  write_update(encoder, store_, event.before_state, event.delete_set);
  return encoder.take();
}

Result<std::vector<uint8_t>, CrdtError> Doc::encode_diff(std::span<const uint8_t> state_vector) const {
  CMX_ASSIGN_OR_RETURN(StateVector since, decode_state_vector(state_vector));
  return encode_state_as_update(since);
}

uint64_t Doc::observe_after_transaction(TransactionObserver observer) {
  const uint64_t id = next_subscription_++;
  observers_.emplace_back(id, std::move(observer));
  return id;
}

void Doc::unobserve(uint64_t subscription) {
  std::erase_if(observers_, [&](const auto& entry) { return entry.first == subscription; });
}

// ---- Transaction --------------------------------------------------------

Transaction::Transaction(Doc& doc, std::string origin, const void* owner)
    : doc_(&doc), origin_(std::move(origin)), owner_(owner) {
  if (doc.active_ != nullptr) fail_invariant("a document has one open transaction at a time");
  lock_ = std::unique_lock(doc.store_mutex_);
  doc.active_ = this;
  before_state_ = doc.store_.state_vector();
}

Transaction::~Transaction() { commit(); }

Result<ID, CrdtError> Transaction::next_id(uint32_t length) const {
  const uint32_t clock = doc_->store_.get_state(doc_->client_id_);
  // A state, like any clock a peer accepts, ends at kMaxClock.
  if (length == 0 || uint64_t{clock} + length > kMaxClock) {
    return unexpected(CrdtError{CrdtErrorKind::kClockExhausted, kMaxClock});
  }
  return ID{doc_->client_id_, clock};
}

void Transaction::add_changed(Branch* type, const std::optional<std::string>& key) {
  // Types made in this transaction are reported through their parents only.
  const Item* holder = type->item;
  if (type->collected) return;
  if (holder != nullptr &&
      (holder->deleted || holder->id.clock >= before_state_.get(holder->id.client))) {
    return;
  }
  auto [it, inserted] = changed_index_.try_emplace(type, changed_.size());
  if (inserted) {
    changed_.push_back(ChangedType{type, {}, false});
    changed_keys_.emplace_back();
  }
  // Keys are deduplicated once, at commit.
  if (!key) changed_[it->second].list_changed = true;
  else changed_keys_[it->second].push_back(&*key);
}

Item* Transaction::integrate_local(std::unique_ptr<Item> owned) { return place(std::move(owned)); }

Item* Transaction::place(std::unique_ptr<Item> owned) {
  Item* item = owned.get();
  Branch* parent = item->parent;
  if (item->left != nullptr) {
    item->right = item->left->right;
    item->left->right = item;
  } else {
    Item* right = nullptr;
    if (item->parent_sub) {
      // A new key gets its entry here, in the one lookup.
      auto [found, inserted] = parent->map.try_emplace(*item->parent_sub, item);
      right = inserted ? nullptr : found->second;
      while (right != nullptr && right->left != nullptr) right = right->left;
    } else {
      right = parent->start;
      parent->start = item;
    }
    item->right = right;
  }
  if (item->right != nullptr) {
    item->right->left = item;
  } else if (item->parent_sub) {
    if (item->left != nullptr) {
      parent->map.insert_or_assign(*item->parent_sub, item);
      delete_item(item->left);
    }
  }
  if (!item->parent_sub && item->countable() && !item->deleted) parent->length += item->length;
  doc_->store_.append(std::move(owned));
  if (item->content.kind == ContentKind::kDeleted && !item->deleted) {
    item->deleted = true;
    delete_set_.add(item->id.client, item->id.clock, item->length);
  }
  if (item->content.kind == ContentKind::kType) {
    item->content.type->item = item;
    item->content.type->item_id = item->id;
  }
  add_changed(parent, item->parent_sub);
  if (parent->is_deleted() || (item->parent_sub && item->right != nullptr)) delete_item(item);
  return item;
}

void Transaction::delete_item(Item* first) {
  std::vector<Item*> pending{first};
  while (!pending.empty()) {
    Item* item = pending.back();
    pending.pop_back();
    if (item->deleted) continue;
    Branch* parent = item->parent;
    if (item->countable() && !item->parent_sub) parent->length -= item->length;
    item->deleted = true;
    delete_set_.add(item->id.client, item->id.clock, item->length);
    add_changed(parent, item->parent_sub);
    if (item->content.kind != ContentKind::kType) continue;
    // Deleting a type deletes what it holds; already deleted children that
    // predate the transaction are offered for merging instead.
    Branch* type = item->content.type;
    auto visit = [&](Item* child) {
      if (!child->deleted) {
        pending.push_back(child);
      } else if (child->id.clock < before_state_.get(child->id.client)) {
        split_ids_.push_back(child->id);
      }
    };
    for (Item* child = type->start; child != nullptr; child = child->right) visit(child);
    for (const auto& [key, child] : sorted_entries(*type)) visit(child);
    auto found = changed_index_.find(type);
    if (found != changed_index_.end()) {
      const size_t removed = found->second;
      changed_.erase(changed_.begin() + static_cast<std::ptrdiff_t>(removed));
      changed_keys_.erase(changed_keys_.begin() + static_cast<std::ptrdiff_t>(removed));
      changed_index_.erase(found);
      for (auto& [branch, index] : changed_index_) {
        if (index > removed) --index;
      }
    }
  }
}

Item* Transaction::clean_start(ID id) {
  auto* structs = doc_->store_.client_structs(id.client);
  if (structs == nullptr) fail_invariant("split of an unknown client");
  const size_t idx = StructStore::find_index(*structs, id.clock);
  Item* item = (*structs)[idx].get();
  if (item->id.clock == id.clock) return item;
  auto right = split_item(item, id.clock - item->id.clock);
  Item* out = right.get();
  structs->insert(structs->begin() + static_cast<std::ptrdiff_t>(idx + 1), std::move(right));
  split_ids_.push_back(out->id);
  return out;
}

void Transaction::collect_garbage() {
  // Deleted content becomes ContentDeleted; what a deleted type held becomes
  // GC structs. Kept items stay as they are.
  struct Task {
    Item* item;
    bool parent_collected;
  };
  std::vector<Task> pending;
  StructStore& store = doc_->store_;
  for (const auto& [client, ranges] : delete_set_.clients()) {
    auto* structs = store.client_structs(client);
    if (structs == nullptr) continue;
    for (const DeleteRange& range : ranges) {
      const uint64_t end = uint64_t{range.clock} + range.len;
      for (size_t idx = StructStore::find_index(*structs, range.clock);
           idx < structs->size() && (*structs)[idx]->id.clock < end; ++idx) {
        Item* item = (*structs)[idx].get();
        if (item->kind == StructKind::kItem && item->deleted && !item->keep) pending.push_back({item, false});
      }
    }
  }
  while (!pending.empty()) {
    Task task = pending.back();
    pending.pop_back();
    Item* item = task.item;
    if (item->kind != StructKind::kItem) continue;
    if (item->content.kind == ContentKind::kType) {
      Branch* type = item->content.type;
      for (Item* child = type->start; child != nullptr; child = child->right) pending.push_back({child, true});
      // Each entry is collected on its own: the order of the walk shows nowhere.
      for (const auto& [key, head] : type->map) {
        for (Item* child = head; child != nullptr; child = child->left) pending.push_back({child, true});
      }
      type->start = nullptr;
      type->map.clear();
      type->length = 0;
      type->item = nullptr;
      type->collected = true;
    }
    item->content = Content{ContentKind::kDeleted, {}, nullptr};
    if (task.parent_collected) {
      item->kind = StructKind::kGc;
      item->deleted = true;
      item->left = item->right = nullptr;
      item->origin.reset();
      item->right_origin.reset();
      item->redone.reset();
      item->parent = nullptr;
      item->parent_sub.reset();
    }
  }
}

void Transaction::merge_structs() {
  StructStore& store = doc_->store_;
  // Deleted ranges, right to left, each from its right neighbour down to its
  // start.
  for (const auto& [client, ranges] : delete_set_.clients()) {
    auto* structs = store.client_structs(client);
    if (structs == nullptr) continue;
    for (auto range = ranges.rbegin(); range != ranges.rend(); ++range) {
      const uint32_t last_clock = range->clock + range->len - 1;
      auto idx = static_cast<std::ptrdiff_t>(
          std::min(structs->size() - 1, 1 + StructStore::find_index(*structs, last_clock)));
      while (idx > 0 && (*structs)[static_cast<size_t>(idx)]->id.clock >= range->clock) {
        idx -= 1 + static_cast<std::ptrdiff_t>(try_merge_with_lefts(*structs, static_cast<size_t>(idx)));
      }
    }
  }
  // Structs added in this transaction.
  for (const auto& [client, unused] : store.clients()) {
    const uint32_t before = before_state_.get(client);
    if (store.get_state(client) == before) continue;
    auto& structs = *store.client_structs(client);
    const auto first =
        static_cast<std::ptrdiff_t>(std::max<size_t>(StructStore::find_index(structs, before), 1));
    for (auto idx = static_cast<std::ptrdiff_t>(structs.size()) - 1; idx >= first;) {
      idx -= 1 + static_cast<std::ptrdiff_t>(try_merge_with_lefts(structs, static_cast<size_t>(idx)));
    }
  }
  // Halves of splits.
  for (const ID& id : split_ids_) {
    auto* structs = store.client_structs(id.client);
    if (structs == nullptr || store.get_state(id.client) <= id.clock) continue;
    const size_t pos = StructStore::find_index(*structs, id.clock);
    // Merging the right half into two or more of its left neighbours has
    // merged the struct at `pos` as well, and the list is shorter: `pos` may
    // now be past its end.
    if (pos + 1 < structs->size() && try_merge_with_lefts(*structs, pos + 1) > 1) continue;
    if (pos > 0) try_merge_with_lefts(*structs, pos);
  }
}

void Transaction::commit() {
  if (committed_) return;
  committed_ = true;
  delete_set_.sort_and_merge();
  // Observers may unsubscribe while being called: call a copy of the list.
  auto observers = doc_->observers_;
  if (!observers.empty()) {
    for (size_t idx = 0; idx < changed_.size(); ++idx) {
      auto& keys = changed_keys_[idx];
      std::sort(keys.begin(), keys.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
      auto& out = changed_[idx].keys;
      for (const std::string* key : keys) {
        if (out.empty() || out.back() != *key) out.push_back(*key);
      }
    }
  }
  const StateVector after_state = doc_->store_.state_vector();
  TransactionEvent event{origin_, before_state_, after_state, delete_set_, changed_, owner_};
  for (auto& [id, observer] : observers) observer(*doc_, event);
  if (doc_->gc_) collect_garbage();
  merge_structs();
  ++doc_->committed_transactions_;
  doc_->active_ = nullptr;
  lock_.unlock();
}

}  // namespace cmx::crdt
