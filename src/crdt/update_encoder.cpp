// Update encoding.
#include "crdt/update_encoder.h"

#include <algorithm>
#include <map>

namespace cmx::crdt {

namespace {

void write_id(Encoder& encoder, ID id) {
  encoder.write_var_uint(id.client);
  encoder.write_var_uint(id.clock);
}

}  // namespace

void write_struct(Encoder& encoder, const Item& item, uint32_t offset) {
  if (item.kind != StructKind::kItem) {
    encoder.write_u8(item.kind == StructKind::kGc ? kInfoGc : kInfoSkip);
    encoder.write_var_uint(item.length - offset);
    return;
  }
  const OptionalId origin = offset > 0 ? OptionalId(ID{item.id.client, item.id.clock + offset - 1}) : item.origin;
  const uint8_t info = static_cast<uint8_t>(static_cast<uint8_t>(item.content.kind) |
                                            (origin ? kHasOrigin : 0) |
                                            (item.right_origin ? kHasRightOrigin : 0) |
                                            (item.parent_sub ? kHasParentSub : 0));
  encoder.write_u8(info);
  if (origin) write_id(encoder, *origin);
  if (item.right_origin) write_id(encoder, *item.right_origin);
  if (!origin && !item.right_origin) {
    const Branch& parent = *item.parent;
    if (parent.is_root()) {
      encoder.write_var_uint(1);
      encoder.write_string(parent.root_name);
    } else {
      encoder.write_var_uint(0);
      write_id(encoder, *parent.item_id);
    }
    if (item.parent_sub) encoder.write_string(*item.parent_sub);
  }
  switch (item.content.kind) {
    case ContentKind::kDeleted:
      encoder.write_var_uint(item.length - offset);
      break;
    case ContentKind::kType:
      encoder.write_var_uint(static_cast<uint8_t>(item.content.type->type_ref));
      break;
    case ContentKind::kAny: {
      const auto& values = item.content.values;
      encoder.write_var_uint(values.size() - offset);
      for (size_t idx = offset; idx < values.size(); ++idx) write_any(encoder, values[idx]);
      break;
    }
  }
}

namespace {

// A waiting block from `offset` clocks into it (a slice starts with its own
// predecessor as origin, as write_struct does).
void write_block(Encoder& encoder, const Block& block, uint32_t offset) {
  if (block.kind != StructKind::kItem) {
    encoder.write_u8(block.kind == StructKind::kGc ? kInfoGc : kInfoSkip);
    encoder.write_var_uint(block.length - offset);
    return;
  }
  const OptionalId origin = offset > 0 ? OptionalId(ID{block.id.client, block.id.clock + offset - 1}) : block.origin;
  const bool names_parent = !origin && !block.right_origin;
  const uint8_t info = static_cast<uint8_t>(static_cast<uint8_t>(block.content) | (origin ? kHasOrigin : 0) |
                                            (block.right_origin ? kHasRightOrigin : 0) |
                                            (names_parent && block.parent_sub ? kHasParentSub : 0));
  encoder.write_u8(info);
  if (origin) write_id(encoder, *origin);
  if (block.right_origin) write_id(encoder, *block.right_origin);
  if (names_parent) {
    if (block.parent_name) {
      encoder.write_var_uint(1);
      encoder.write_string(*block.parent_name);
    } else {
      encoder.write_var_uint(0);
      write_id(encoder, *block.parent_id);
    }
    if (block.parent_sub) encoder.write_string(*block.parent_sub);
  }
  switch (block.content) {
    case ContentKind::kDeleted:
      encoder.write_var_uint(block.length - offset);
      break;
    case ContentKind::kType:
      encoder.write_var_uint(static_cast<uint8_t>(block.type_ref));
      break;
    case ContentKind::kAny:
      encoder.write_var_uint(block.values.size() - offset);
      for (size_t idx = offset; idx < block.values.size(); ++idx) write_any(encoder, block.values[idx]);
      break;
  }
}

// Writes every struct beyond `since`, clients highest first. With `ds`, the
// deleted ranges of the clients written from their first struct are
// collected into it in the same pass and returned in `collected`.
void write_structs(Encoder& encoder, const StructStore& store, const StateVector& since, DeleteSet* ds,
                   std::vector<uint64_t>* collected, const PendingStructs* pending = nullptr) {
  // Clients the target lacks entirely start at 0; known ones at their clock.
  std::vector<std::pair<uint64_t, uint32_t>> groups;
  for (const auto& [client, structs] : store.clients()) {
    if (structs.empty()) continue;
    const uint32_t state = store.get_state(client);
    const uint32_t known = since.get(client);
    if (state > known) groups.emplace_back(client, known);
  }
  // Waiting blocks: per client, the index of the first one that ends beyond
  // both the target's clock and the store's state.
  std::map<uint64_t, size_t> waiting;
  if (pending != nullptr) {
    for (const auto& [client, queue] : pending->clients) {
      const uint32_t from = std::max(since.get(client), store.get_state(client));
      const auto blocks = queue.waiting();
      for (size_t idx = 0; idx < blocks.size(); ++idx) {
        if (blocks[idx].kind != StructKind::kSkip && uint64_t{blocks[idx].id.clock} + blocks[idx].length > from) {
          waiting.emplace(client, idx);
          if (store.get_state(client) <= since.get(client)) groups.emplace_back(client, since.get(client));
          break;
        }
      }
    }
  }
  std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  encoder.write_var_uint(groups.size());
  for (const auto& [client, known] : groups) {
    auto held = store.clients().find(client);
    const bool stored = held != store.clients().end() && !held->second.empty() && store.get_state(client) > known;
    auto wait = waiting.find(client);
    // The waiting blocks after the stored structs, with a skip before each
    // gap: counted first, since the count leads the group.
    std::vector<std::pair<const Block*, uint32_t>> tail;  // block and offset; null for a skip of `offset` clocks
    if (wait != waiting.end()) {
      uint32_t cursor = std::max(known, store.get_state(client));
      for (const Block& block : pending->clients.at(client).waiting().subspan(wait->second)) {
        if (block.kind == StructKind::kSkip || uint64_t{block.id.clock} + block.length <= cursor) continue;
        if (block.id.clock > cursor) tail.emplace_back(nullptr, block.id.clock - cursor);
        const uint32_t offset = block.id.clock < cursor ? cursor - block.id.clock : 0;
        tail.emplace_back(&block, offset);
        cursor = block.id.clock + block.length;
      }
    }
    auto write_tail = [&] {
      for (const auto& [block, offset] : tail) {
        if (block != nullptr) {
          write_block(encoder, *block, offset);
        } else {
          encoder.write_u8(kInfoSkip);
          encoder.write_var_uint(offset);
        }
      }
    };
    if (!stored) {
      encoder.write_var_uint(tail.size());
      encoder.write_var_uint(client);
      encoder.write_var_uint(known);
      write_tail();
      continue;
    }
    const auto& structs = held->second;
    const uint32_t clock = std::max(known, structs.front()->id.clock);
    const size_t first = StructStore::find_index(structs, clock);
    encoder.write_var_uint(structs.size() - first + tail.size());
    encoder.write_var_uint(client);
    encoder.write_var_uint(clock);
    write_struct(encoder, *structs[first], clock - structs[first]->id.clock);
    const bool whole = first == 0 && ds != nullptr;
    if (whole) collected->push_back(client);
    uint32_t run_clock = 0;
    uint32_t run_len = 0;
    for (size_t idx = first; idx < structs.size(); ++idx) {
      const Item& item = *structs[idx];
      if (idx > first) write_struct(encoder, item, 0);
      if (!whole) continue;
      if (item.is_deleted()) {
        if (run_len == 0) run_clock = item.id.clock;
        run_len += item.length;
      } else if (run_len > 0) {
        ds->add(client, run_clock, run_len);
        run_len = 0;
      }
    }
    if (run_len > 0) ds->add(client, run_clock, run_len);
    write_tail();
  }
}

}  // namespace

void write_update(Encoder& encoder, const StructStore& store, const StateVector& since) {
  // The delete set covers the whole store; clients written from their first
  // struct have theirs collected in the same pass.
  DeleteSet ds;
  std::vector<uint64_t> collected;
  write_structs(encoder, store, since, &ds, &collected);
  std::sort(collected.begin(), collected.end());
  for (const auto& [client, structs] : store.clients()) {
    if (!std::binary_search(collected.begin(), collected.end(), client)) add_deleted_ranges(ds, client, structs);
  }
  write_delete_set(encoder, ds);
}

void write_update(Encoder& encoder, const StructStore& store, const StateVector& since,
                  const PendingStructs& pending, const DeleteSet& pending_ds) {
  DeleteSet ds;
  std::vector<uint64_t> collected;
  write_structs(encoder, store, since, &ds, &collected, &pending);
  std::sort(collected.begin(), collected.end());
  for (const auto& [client, structs] : store.clients()) {
    if (!std::binary_search(collected.begin(), collected.end(), client)) add_deleted_ranges(ds, client, structs);
  }
  ds.merge(pending_ds);
  ds.sort_and_merge();
  write_delete_set(encoder, ds);
}

void write_update(Encoder& encoder, const StructStore& store, const StateVector& since, const DeleteSet& ds) {
  write_structs(encoder, store, since, nullptr, nullptr);
  write_delete_set(encoder, ds);
}

}  // namespace cmx::crdt
