// Update encoding.
#include "crdt/update_encoder.h"

#include <algorithm>

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

// Writes every struct beyond `since`, clients highest first. With `ds`, the
// deleted ranges of the clients written from their first struct are
// collected into it in the same pass and returned in `collected`.
void write_structs(Encoder& encoder, const StructStore& store, const StateVector& since, DeleteSet* ds,
                   std::vector<uint64_t>* collected) {
  // Clients the target lacks entirely start at 0; known ones at their clock.
  std::vector<std::pair<uint64_t, uint32_t>> groups;
  for (const auto& [client, structs] : store.clients()) {
    if (structs.empty()) continue;
    const uint32_t state = store.get_state(client);
    const uint32_t known = since.get(client);
    if (state > known) groups.emplace_back(client, known);
  }
  std::sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  encoder.write_var_uint(groups.size());
  for (const auto& [client, known] : groups) {
    const auto& structs = store.clients().at(client);
    const uint32_t clock = std::max(known, structs.front()->id.clock);
    const size_t first = StructStore::find_index(structs, clock);
    encoder.write_var_uint(structs.size() - first);
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

void write_update(Encoder& encoder, const StructStore& store, const StateVector& since, const DeleteSet& ds) {
  write_structs(encoder, store, since, nullptr, nullptr);
  write_delete_set(encoder, ds);
}

}  // namespace cmx::crdt
