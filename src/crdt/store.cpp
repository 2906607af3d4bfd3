// Struct store, item splitting and merging.
#include "crdt/store.h"

#include <algorithm>

#include "base/result.h"

namespace cmx::crdt {

uint32_t StructStore::get_state(uint64_t client) const {
  auto found = clients_.find(client);
  if (found == clients_.end() || found->second.empty()) return 0;
  const Item& last = *found->second.back();
  return last.id.clock + last.length;
}

StateVector StructStore::state_vector() const {
  StateVector sv;
  for (const auto& [client, structs] : clients_) {
    if (!structs.empty()) sv.set(client, structs.back()->id.clock + structs.back()->length);
  }
  return sv;
}

void StructStore::append(std::unique_ptr<Item> item) {
  auto& structs = clients_[item->id.client];
  if (item->id.clock != (structs.empty() ? 0 : structs.back()->id.clock + structs.back()->length)) {
    fail_invariant("struct appended out of clock order");
  }
  structs.push_back(std::move(item));
}

size_t StructStore::find_index(const ClientStructs& structs, uint32_t clock) {
  auto it = std::upper_bound(structs.begin(), structs.end(), clock,
                             [](uint32_t c, const std::unique_ptr<Item>& s) { return c < s->id.clock; });
  if (it == structs.begin()) fail_invariant("clock before the first struct");
  const size_t idx = static_cast<size_t>(it - structs.begin()) - 1;
  const Item& found = *structs[idx];
  if (uint64_t{clock} >= uint64_t{found.id.clock} + found.length) fail_invariant("clock beyond the store");
  return idx;
}

Item* StructStore::find(ID id) const {
  auto found = clients_.find(id.client);
  if (found == clients_.end() || found->second.empty()) return nullptr;
  const auto& structs = found->second;
  const Item& last = *structs.back();
  if (uint64_t{id.clock} >= uint64_t{last.id.clock} + last.length) return nullptr;
  return structs[find_index(structs, id.clock)].get();
}

std::vector<std::pair<std::string_view, Item*>> sorted_entries(const Branch& branch) {
  std::vector<std::pair<std::string_view, Item*>> entries(branch.map.begin(), branch.map.end());
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return entries;
}

StructStore::ClientStructs* StructStore::client_structs(uint64_t client) {
  auto found = clients_.find(client);
  return found == clients_.end() ? nullptr : &found->second;
}

void add_deleted_ranges(DeleteSet& ds, uint64_t client, const StructStore::ClientStructs& structs) {
  for (size_t idx = 0; idx < structs.size();) {
    const Item& first = *structs[idx];
    if (!first.is_deleted()) {
      ++idx;
      continue;
    }
    uint32_t len = first.length;
    for (++idx; idx < structs.size() && structs[idx]->is_deleted(); ++idx) len += structs[idx]->length;
    ds.add(client, first.id.clock, len);
  }
}

DeleteSet StructStore::delete_set() const {
  DeleteSet ds;
  for (const auto& [client, structs] : clients_) add_deleted_ranges(ds, client, structs);
  return ds;
}

std::unique_ptr<Item> split_item(Item* item, uint32_t diff) {
  auto right = std::make_unique<Item>();
  right->id = ID{item->id.client, item->id.clock + diff};
  right->length = item->length - diff;
  right->kind = item->kind;
  right->deleted = item->deleted;
  right->keep = item->keep;
  if (item->kind == StructKind::kItem) {
    right->left = item;
    right->origin = ID{item->id.client, item->id.clock + diff - 1};
    right->right = item->right;
    right->right_origin = item->right_origin;
    if (item->redone) right->redone = ID{(*item->redone).client, (*item->redone).clock + diff};
    right->parent = item->parent;
    right->parent_sub = item->parent_sub;
    right->content.kind = item->content.kind;
    if (item->content.kind == ContentKind::kAny) {
      auto& values = item->content.values;
      right->content.values.assign(std::make_move_iterator(values.begin() + diff),
                                   std::make_move_iterator(values.end()));
      values.erase(values.begin() + diff, values.end());
      // A left half keeps the whole item's storage: splits that walk along
      // a long item would otherwise hold it once per half.
      if (values.capacity() > 2 * values.size()) values.shrink_to_fit();
    } else if (item->content.kind == ContentKind::kType) {
      fail_invariant("a shared type item cannot be split");
    }
    item->right = right.get();
    if (right->right != nullptr) right->right->left = right.get();
    if (right->parent_sub && right->right == nullptr) {
      right->parent->map.insert_or_assign(*right->parent_sub, right.get());
    }
  }
  item->length = diff;
  return right;
}

namespace {

bool merge_items(Item* left, Item* right) {
  if (left->kind != right->kind) return false;
  if (left->kind != StructKind::kItem) {
    left->length += right->length;
    return true;
  }
  const bool mergeable =
      right->origin == OptionalId(left->last_id()) && left->right == right &&
      left->right_origin == right->right_origin && left->id.client == right->id.client &&
      left->id.clock + left->length == right->id.clock && left->deleted == right->deleted &&
      !left->redone && !right->redone && left->content.kind == right->content.kind &&
      left->content.kind != ContentKind::kType;
  if (!mergeable) return false;
  if (left->content.kind == ContentKind::kAny) {
    auto& values = right->content.values;
    left->content.values.insert(left->content.values.end(), std::make_move_iterator(values.begin()),
                                std::make_move_iterator(values.end()));
  }
  if (right->keep) left->keep = true;
  left->right = right->right;
  if (left->right != nullptr) left->right->left = left;
  left->length += right->length;
  return true;
}

}  // namespace

size_t try_merge_with_lefts(StructStore::ClientStructs& structs, size_t pos) {
  size_t idx = pos;
  Item* right = structs[pos].get();
  while (idx > 0) {
    Item* left = structs[idx - 1].get();
    if (left->is_deleted() != right->is_deleted() || !merge_items(left, right)) break;
    if (right->kind == StructKind::kItem && right->parent_sub) {
      auto found = right->parent->map.find(*right->parent_sub);
      if (found != right->parent->map.end() && found->second == right) found->second = left;
    }
    right = left;
    --idx;
  }
  const size_t merged = pos - idx;
  if (merged > 0) {
    structs.erase(structs.begin() + static_cast<std::ptrdiff_t>(pos + 1 - merged),
                  structs.begin() + static_cast<std::ptrdiff_t>(pos + 1));
  }
  return merged;
}

}  // namespace cmx::crdt
