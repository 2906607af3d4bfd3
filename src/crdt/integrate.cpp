// Integrating remote updates: the YATA placement of items among concurrent
// inserts, blocks and deletions waiting for missing predecessors, and delete
// sets. Every walk here is a loop over explicit stacks or lists: updates
// come from outside and may nest shared types arbitrarily deep.
#include <algorithm>

#include "absl/container/flat_hash_set.h"
#include "crdt/doc.h"

namespace cmx::crdt {

namespace {

// Appends `more` (one client's blocks in clock order) to a waiting queue,
// dropping what it already integrated and blocks that earlier ones cover: a
// peer that sends the same blocks again must not grow what waits.
void add_to_queue(PendingQueue& queue, std::span<Block> more) {
  auto& blocks = queue.blocks;
  blocks.erase(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(queue.head));
  queue.head = 0;
  const bool sorted = blocks.empty() || more.empty() ||
                      uint64_t{blocks.back().id.clock} + blocks.back().length <= more.front().id.clock;
  blocks.insert(blocks.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  if (sorted) return;
  std::stable_sort(blocks.begin(), blocks.end(), [](const Block& x, const Block& y) { return x.id.clock < y.id.clock; });
  uint64_t covered = 0;
  std::erase_if(blocks, [&](const Block& block) {
    const uint64_t end = uint64_t{block.id.clock} + block.length;
    if (end <= covered) return true;
    covered = end;
    return false;
  });
}

// The id whose arrival a block waits for: the clock before it in its own
// client, or an origin, right origin or parent the store lacks. None when it
// can integrate (or is wholly known already).
std::optional<ID> awaited_by(const StructStore& store, const Block& block) {
  const uint32_t state = store.get_state(block.id.client);
  if (state < block.id.clock) return ID{block.id.client, block.id.clock - 1};
  if (uint64_t{state} >= uint64_t{block.id.clock} + block.length || block.kind != StructKind::kItem) {
    return std::nullopt;
  }
  for (const OptionalId& id : {block.origin, block.right_origin, block.parent_id}) {
    if (id && (*id).clock >= store.get_state((*id).client)) return *id;
  }
  return std::nullopt;
}

}  // namespace

std::vector<uint64_t> Transaction::settle_pending(std::map<uint64_t, PendingQueue*>& queues,
                                                  const std::vector<uint64_t>& advanced) {
  StructStore& store = doc_->store_;
  PendingStructs& pending = doc_->pending_;
  std::vector<uint64_t> woken;
  auto unindex = [&](ID id, uint64_t client) {
    auto waiting = pending.waiters.find(id.client);
    if (waiting == pending.waiters.end()) return;
    waiting->second.erase({id.clock, client});
    if (waiting->second.empty()) pending.waiters.erase(waiting);
  };
  auto forget = [&](uint64_t client) {
    auto found = pending.awaits.find(client);
    if (found == pending.awaits.end()) return;
    unindex(found->second, client);
    pending.awaits.erase(found);
    auto held = pending.held_at.find(client);
    if (held == pending.held_at.end()) return;
    unindex(ID{client, held->second}, client);
    pending.held_at.erase(held);
  };
  for (auto& [client, queue] : queues) {
    auto held = pending.clients.find(client);
    const bool own = held != pending.clients.end() && &held->second == queue;
    if (queue->head >= queue->blocks.size()) {
      if (own) pending.clients.erase(held);
      continue;
    }
    forget(client);
    PendingQueue& into = pending.clients[client];
    if (!own) {
      add_to_queue(into, std::span<Block>(queue->blocks).subspan(queue->head));
    } else if (into.head > into.blocks.size() / 2) {
      into.blocks.erase(into.blocks.begin(), into.blocks.begin() + static_cast<std::ptrdiff_t>(into.head));
      into.head = 0;
    }
    const Block& first = into.blocks[into.head];
    std::optional<ID> awaited = awaited_by(store, first);
    if (!awaited) {
      woken.push_back(client);
      continue;
    }
    pending.awaits.emplace(client, *awaited);
    pending.waiters[awaited->client].emplace(awaited->clock, client);
    if (!(*awaited == ID{client, first.id.clock - 1})) {
      pending.held_at.emplace(client, first.id.clock);
      pending.waiters[client].emplace(first.id.clock, client);
    }
  }
  std::vector<uint64_t> due;
  for (uint64_t client : advanced) {
    auto waiting = pending.waiters.find(client);
    if (waiting == pending.waiters.end()) continue;
    const uint32_t state = store.get_state(client);
    for (auto it = waiting->second.begin(); it != waiting->second.end() && it->first < state; ++it) {
      due.push_back(it->second);
    }
  }
  for (uint64_t waiter : due) {
    if (!pending.awaits.contains(waiter)) continue;  // due twice
    forget(waiter);
    woken.push_back(waiter);
  }
  std::sort(woken.begin(), woken.end());
  woken.erase(std::unique(woken.begin(), woken.end()), woken.end());
  return woken;
}

namespace {

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
      Item* holder = parent_holder_ != nullptr && parent_holder_->id == *block.parent_id ? parent_holder_
                                                                                         : store.find(*block.parent_id);
      if (holder != nullptr && holder->kind == StructKind::kItem) {
        switch (holder->content.kind) {
          case ContentKind::kType:
            parent = holder->content.type;
            parent_holder_ = holder;
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

Result<void, CrdtError> Transaction::integrate_structs(std::map<uint64_t, PendingQueue*>& queues,
                                                       std::vector<uint64_t>& advanced) {
  StructStore& store = doc_->store_;
  struct Ref {
    uint64_t client;
    size_t index;
  };
  absl::flat_hash_set<uint64_t> closed;
  std::vector<uint64_t> order;  // clients, the next to take at the back
  for (auto& [client, queue] : queues) {
    if (queue->head < queue->blocks.size()) order.push_back(client);
  }
  std::vector<Ref> stack;
  auto open = [&](uint64_t client, PendingQueue* queue) {
    return !closed.contains(client) && queue->head < queue->blocks.size();
  };
  // The blocks on the stack cannot integrate yet: each of their clients'
  // queues stops at its lowest stacked block.
  auto stop_stacked = [&] {
    for (const Ref& ref : stack) {
      PendingQueue* queue = queues.at(ref.client);
      if (!closed.contains(ref.client) || ref.index < queue->head) queue->head = ref.index;
      closed.insert(ref.client);
    }
    stack.clear();
  };
  auto next_target = [&]() -> std::optional<Ref> {
    while (!order.empty()) {
      PendingQueue* queue = queues.at(order.back());
      if (open(order.back(), queue)) return Ref{order.back(), queue->head++};
      order.pop_back();
    }
    return std::nullopt;
  };
  auto absent = [&](const OptionalId& id) { return id && (*id).clock >= store.get_state((*id).client); };
  auto moved = [&](uint64_t client) {
    if (advanced.empty() || advanced.back() != client) advanced.push_back(client);
  };

  std::optional<Ref> head = next_target();
  while (head) {
    Block& block = queues.at(head->client)->blocks[head->index];
    if (block.kind != StructKind::kSkip) {
      const uint32_t local = store.get_state(block.id.client);
      if (local < block.id.clock) {
        // A gap in the block's own client.
        stack.push_back(*head);
        stop_stacked();
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
          if (found != queues.end() && open(*missing, found->second)) {
            head = Ref{*missing, found->second->head++};
            continue;
          }
          stop_stacked();
        } else if (block.kind == StructKind::kGc) {
          auto gc = std::make_unique<Item>();
          gc->id = ID{block.id.client, local};
          gc->length = block.length - offset;
          gc->kind = StructKind::kGc;
          gc->deleted = true;
          store.append(std::move(gc));
          moved(block.id.client);
        } else {
          CMX_TRY(integrate_block(block, offset));
          moved(block.id.client);
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
  // The update's blocks form queues of their own; the document's waiting
  // queues join a round only when the round before unblocked them.
  std::map<uint64_t, PendingQueue> incoming;
  for (auto& [client, blocks] : update.clients) {
    if (!blocks.empty()) incoming[client].blocks = std::move(blocks);
  }
  std::map<uint64_t, PendingQueue*> queues;
  for (auto& [client, queue] : incoming) queues.emplace(client, &queue);
  DeleteSet deletes = std::move(update.delete_set);
  while (true) {
    std::vector<uint64_t> advanced;
    auto integrated = integrate_structs(queues, advanced);
    if (!integrated) {
      // The rest of the failed update is dropped; queues that waited before
      // keep waiting.
      std::erase_if(queues, [&](const auto& entry) { return !doc.pending_.clients.contains(entry.first) ||
                                                            &doc.pending_.clients.at(entry.first) != entry.second; });
      settle_pending(queues, advanced);
      return integrated;
    }
    const std::vector<uint64_t> woken = settle_pending(queues, advanced);
    DeleteSet unapplied = apply_delete_set(deletes);
    if (!doc.pending_ds_.empty()) {
      const DeleteSet waiting = std::move(doc.pending_ds_);
      doc.pending_ds_ = DeleteSet();
      unapplied.merge(apply_delete_set(waiting));
      unapplied.sort_and_merge();
    }
    doc.pending_ds_ = std::move(unapplied);
    if (woken.empty()) return {};
    queues.clear();
    for (uint64_t client : woken) queues.emplace(client, &doc.pending_.clients.at(client));
    deletes = DeleteSet();
  }
}

Result<void, CrdtError> Doc::apply_update(std::span<const uint8_t> bytes, std::string origin) {
  CMX_ASSIGN_OR_RETURN(Update update, decode_update(bytes));
  Transaction txn(*this, std::move(origin));
  return txn.apply_update(std::move(update));
}

}  // namespace cmx::crdt
