// Integrating remote updates: the YATA placement of items among concurrent
// inserts, blocks and deletions waiting for missing predecessors, and delete
// sets. Every walk here is a loop over explicit stacks or lists: updates
// come from outside and may nest shared types arbitrarily deep.
#include <algorithm>

#include "absl/container/flat_hash_set.h"
#include "crdt/doc.h"

namespace cmx::crdt {

namespace {

void merge_pending(PendingStructs& into, PendingStructs&& rest) {
  for (const auto& [client, clock] : rest.missing) {
    auto [it, inserted] = into.missing.try_emplace(client, clock);
    if (!inserted) it->second = std::min(it->second, clock);
  }
  for (auto& [client, blocks] : rest.clients) {
    auto& into_blocks = into.clients[client];
    const bool sorted = into_blocks.empty() || blocks.empty() ||
                        uint64_t{into_blocks.back().id.clock} + into_blocks.back().length <= blocks.front().id.clock;
    into_blocks.insert(into_blocks.end(), std::make_move_iterator(blocks.begin()),
                       std::make_move_iterator(blocks.end()));
    if (sorted) continue;
    std::stable_sort(into_blocks.begin(), into_blocks.end(),
                     [](const Block& a, const Block& b) { return a.id.clock < b.id.clock; });
    // A peer that sends the same blocks again must not grow what waits:
    // blocks wholly covered by earlier ones go.
    uint64_t covered = 0;
    std::erase_if(into_blocks, [&](const Block& block) {
      const uint64_t end = uint64_t{block.id.clock} + block.length;
      if (end <= covered) return true;
      covered = end;
      return false;
    });
  }
}

// The first item of a parent's list, or of a key's chain in a map.
Item* first_sibling(Branch* parent, const std::optional<std::string>& parent_sub) {
  if (!parent_sub) return parent->start;
  auto found = parent->map.find(*parent_sub);
  Item* item = found == parent->map.end() ? nullptr : found->second;
  while (item != nullptr && item->left != nullptr) item = item->left;
  return item;
}

}  // namespace

Item* Transaction::clean_end(ID id) {
  auto* structs = doc_->store_.client_structs(id.client);
  if (structs == nullptr) fail_invariant("split of an unknown client");
  const size_t idx = StructStore::find_index(*structs, id.clock);
  Item* item = (*structs)[idx].get();
  if (item->kind != StructKind::kItem || id.clock == item->last_id().clock) return item;
  auto right = split_item(item, id.clock - item->id.clock + 1);
  split_ids_.push_back(right->id);
  structs->insert(structs->begin() + static_cast<std::ptrdiff_t>(idx + 1), std::move(right));
  return item;
}

Result<void, CrdtError> Transaction::integrate_block(Block& block, uint32_t offset) {
  StructStore& store = doc_->store_;
  // Neighbours and parent. An item beside a GC struct, or whose parent was
  // collected, becomes GC itself: its place no longer exists.
  Item* left = block.origin ? clean_end(*block.origin) : nullptr;
  Item* right = block.right_origin ? clean_start(*block.right_origin) : nullptr;
  Branch* parent = nullptr;
  std::optional<std::string> parent_sub = std::move(block.parent_sub);
  const bool beside_gc = (left != nullptr && left->kind != StructKind::kItem) ||
                         (right != nullptr && right->kind != StructKind::kItem);
  if (!beside_gc) {
    if (block.parent_name) {
      parent = doc_->root(*block.parent_name);
    } else if (block.parent_id) {
      Item* holder = store.find(*block.parent_id);
      if (holder != nullptr && holder->kind == StructKind::kItem) {
        switch (holder->content.kind) {
          case ContentKind::kType:
            parent = holder->content.type;
            break;
          case ContentKind::kDeleted:
            break;
          case ContentKind::kAny:
            return unexpected(CrdtError{CrdtErrorKind::kInvalidParent, (*block.parent_id).client,
                                        (*block.parent_id).clock, static_cast<uint64_t>(holder->content.kind)});
        }
      }
    } else if (left != nullptr) {
      parent = left->parent;
      parent_sub = left->parent_sub;
    } else if (right != nullptr) {
      parent = right->parent;
      parent_sub = right->parent_sub;
    }
  }
  OptionalId origin = block.origin;
  if (offset > 0) {
    // Only the part beyond what the store holds is new; it follows its own
    // predecessor.
    block.id.clock += offset;
    block.length -= offset;
    left = clean_end(ID{block.id.client, block.id.clock - 1});
    origin = left->last_id();
    if (block.content == ContentKind::kAny) block.values.erase(block.values.begin(), block.values.begin() + offset);
    // A predecessor elsewhere (a GC struct, or another parent or key, which
    // only a client that reused its id can produce) leaves no place to link
    // the slice into.
    if (left->kind != StructKind::kItem || left->parent != parent || left->parent_sub != parent_sub) {
      parent = nullptr;
    }
  }
  if (parent == nullptr) {
    auto gc = std::make_unique<Item>();
    gc->id = block.id;
    gc->length = block.length;
    gc->kind = StructKind::kGc;
    gc->deleted = true;
    store.append(std::move(gc));
    return {};
  }

  auto owned = std::make_unique<Item>();
  Item* item = owned.get();
  item->id = block.id;
  item->length = block.length;
  item->origin = origin;
  item->right_origin = block.right_origin;
  item->parent = parent;
  item->parent_sub = std::move(parent_sub);
  item->content.kind = block.content;
  if (block.content == ContentKind::kAny) {
    item->content.values = std::move(block.values);
  } else if (block.content == ContentKind::kType) {
    item->content.type = doc_->new_branch(block.type_ref);
  }

  // Concurrent inserts between left and right: walk them and settle the
  // order. Items with the same origin are ordered by client id (lower first);
  // an item whose origin lies among the walked ones stays with its origin.
  if ((left == nullptr && (right == nullptr || right->left != nullptr)) ||
      (left != nullptr && left->right != right)) {
    Item* new_left = left;
    Item* other = left != nullptr ? left->right : first_sibling(parent, item->parent_sub);
    absl::flat_hash_set<const Item*> conflicting;
    absl::flat_hash_set<const Item*> before_origin;
    while (other != nullptr && other != right) {
      before_origin.insert(other);
      conflicting.insert(other);
      if (item->origin == other->origin) {
        if (other->id.client < item->id.client) {
          new_left = other;
          conflicting.clear();
        } else if (item->right_origin == other->right_origin) {
          break;
        }
      } else {
        const Item* other_origin = other->origin ? store.find(*other->origin) : nullptr;
        if (other_origin == nullptr || !before_origin.contains(other_origin)) break;
        if (!conflicting.contains(other_origin)) {
          new_left = other;
          conflicting.clear();
        }
      }
      other = other->right;
    }
    left = new_left;
  }
  item->left = left;
  item->right = right;
  place(std::move(owned));
  return {};
}

Result<void, CrdtError> Transaction::integrate_structs(std::map<uint64_t, std::vector<Block>>& clients,
                                                       PendingStructs& rest) {
  StructStore& store = doc_->store_;
  struct Queue {
    std::vector<Block>* blocks;
    size_t next = 0;
    bool open = true;
  };
  struct Ref {
    uint64_t client;
    size_t index;
  };
  std::map<uint64_t, Queue> queues;
  std::vector<uint64_t> order;  // clients, the next to take at the back
  for (auto& [client, blocks] : clients) {
    if (blocks.empty()) continue;
    queues.emplace(client, Queue{&blocks});
    order.push_back(client);
  }
  std::vector<Ref> stack;
  auto add_missing = [&](uint64_t client, uint32_t clock) {
    auto [it, inserted] = rest.missing.try_emplace(client, clock);
    if (!inserted) it->second = std::min(it->second, clock);
  };
  // The blocks on the stack cannot integrate yet: each of their clients'
  // queues goes to `rest` from its lowest stacked block on.
  auto stack_to_rest = [&] {
    std::map<uint64_t, size_t> first;
    for (const Ref& ref : stack) {
      auto [it, inserted] = first.try_emplace(ref.client, ref.index);
      if (!inserted) it->second = std::min(it->second, ref.index);
    }
    for (const auto& [client, index] : first) {
      Queue& queue = queues.at(client);
      auto& blocks = *queue.blocks;
      auto& into = rest.clients[client];
      into.insert(into.end(), std::make_move_iterator(blocks.begin() + static_cast<std::ptrdiff_t>(index)),
                  std::make_move_iterator(blocks.end()));
      queue.open = false;
    }
    stack.clear();
  };
  auto next_target = [&]() -> std::optional<Ref> {
    while (!order.empty()) {
      Queue& queue = queues.at(order.back());
      if (queue.open && queue.next < queue.blocks->size()) return Ref{order.back(), queue.next++};
      order.pop_back();
    }
    return std::nullopt;
  };
  auto absent = [&](const OptionalId& id) { return id && (*id).clock >= store.get_state((*id).client); };

  std::optional<Ref> head = next_target();
  while (head) {
    Block& block = (*queues.at(head->client).blocks)[head->index];
    if (block.kind != StructKind::kSkip) {
      const uint32_t local = store.get_state(block.id.client);
      if (local < block.id.clock) {
        // A gap in the block's own client.
        stack.push_back(*head);
        add_missing(block.id.client, block.id.clock - 1);
        stack_to_rest();
      } else if (const uint32_t offset = local - block.id.clock; offset < block.length) {
        std::optional<uint64_t> missing;
        if (block.kind == StructKind::kItem) {
          if (absent(block.origin)) missing = (*block.origin).client;
          else if (absent(block.right_origin)) missing = (*block.right_origin).client;
          else if (absent(block.parent_id)) missing = (*block.parent_id).client;
        }
        if (missing) {
          // Try the missing client's next block first, then come back.
          stack.push_back(*head);
          auto found = queues.find(*missing);
          if (found != queues.end() && found->second.open && found->second.next < found->second.blocks->size()) {
            head = Ref{*missing, found->second.next++};
            continue;
          }
          add_missing(*missing, store.get_state(*missing));
          stack_to_rest();
        } else if (block.kind == StructKind::kGc) {
          auto gc = std::make_unique<Item>();
          gc->id = ID{block.id.client, local};
          gc->length = block.length - offset;
          gc->kind = StructKind::kGc;
          gc->deleted = true;
          store.append(std::move(gc));
        } else {
          CMX_TRY(integrate_block(block, offset));
        }
      }
    }
    if (!stack.empty()) {
      head = stack.back();
      stack.pop_back();
    } else {
      head = next_target();
    }
  }
  return {};
}

DeleteSet Transaction::apply_delete_set(const DeleteSet& ds) {
  StructStore& store = doc_->store_;
  DeleteSet unapplied;
  for (const auto& [client, ranges] : ds.clients()) {
    const uint32_t state = store.get_state(client);
    auto* structs = store.client_structs(client);
    for (const DeleteRange& range : ranges) {
      const uint64_t end = uint64_t{range.clock} + range.len;
      if (range.clock >= state) {
        unapplied.add(client, range.clock, range.len);
        continue;
      }
      if (end > state) unapplied.add(client, state, static_cast<uint32_t>(end - state));
      size_t idx = StructStore::find_index(*structs, range.clock);
      if (!(*structs)[idx]->is_deleted() && (*structs)[idx]->id.clock < range.clock) {
        clean_start(ID{client, range.clock});
        ++idx;
      }
      while (idx < structs->size()) {
        Item* item = (*structs)[idx++].get();
        if (item->id.clock >= end) break;
        if (item->is_deleted()) continue;
        if (end < uint64_t{item->id.clock} + item->length) clean_start(ID{client, static_cast<uint32_t>(end)});
        delete_item(item);
      }
    }
  }
  unapplied.sort_and_merge();
  return unapplied;
}

Result<void, CrdtError> Transaction::apply_update(Update update) {
  Doc& doc = *doc_;
  StructStore& store = doc.store_;
  std::map<uint64_t, std::vector<Block>> clients = std::move(update.clients);
  DeleteSet deletes = std::move(update.delete_set);
  while (true) {
    PendingStructs rest;
    CMX_TRY(integrate_structs(clients, rest));
    // Blocks that waited before this round may integrate now that their
    // clients' states have moved past what they were waiting for.
    bool retry = false;
    for (const auto& [client, clock] : doc.pending_.missing) {
      if (clock < store.get_state(client)) {
        retry = true;
        break;
      }
    }
    merge_pending(doc.pending_, std::move(rest));
    DeleteSet unapplied = apply_delete_set(deletes);
    if (!doc.pending_ds_.empty()) {
      const DeleteSet waiting = std::move(doc.pending_ds_);
      doc.pending_ds_ = DeleteSet();
      unapplied.merge(apply_delete_set(waiting));
      unapplied.sort_and_merge();
    }
    doc.pending_ds_ = std::move(unapplied);
    if (!retry) return {};
    clients = std::move(doc.pending_.clients);
    doc.pending_ = PendingStructs();
    deletes = DeleteSet();
  }
}

Result<void, CrdtError> Doc::apply_update(std::span<const uint8_t> bytes, std::string origin) {
  CMX_ASSIGN_OR_RETURN(Update update, decode_update(bytes));
  Transaction txn(*this, std::move(origin));
  return txn.apply_update(std::move(update));
}

}  // namespace cmx::crdt
