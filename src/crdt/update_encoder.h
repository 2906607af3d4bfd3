// Writing the Yjs version 1 update encoding: client struct groups, then the
// delete set.
#pragma once

#include "crdt/id.h"
#include "crdt/lib0.h"
#include "crdt/store.h"
#include "crdt/update_decoder.h"

namespace cmx::crdt {

// Writes one struct from `offset` clocks into it (a slice starts with its own
// predecessor as origin).
void write_struct(Encoder& encoder, const Item& item, uint32_t offset);

// Writes every struct beyond `since`, clients highest first, then the delete
// set of the whole store. An empty document gives the two bytes 00 00.
void write_update(Encoder& encoder, const StructStore& store, const StateVector& since);
// The same followed, per client, by the blocks that wait for predecessors
// beyond `since` (skip structs over the gaps), with the waiting deletions
// added to the delete set: a state encoded while updates wait keeps them.
void write_update(Encoder& encoder, const StructStore& store, const StateVector& since,
                  const PendingStructs& pending, const DeleteSet& pending_ds);
// Writes every struct beyond `since`, then the given delete set: a
// transaction's own update from its before-state and delete set, as a peer
// sends it after each edit.
void write_update(Encoder& encoder, const StructStore& store, const StateVector& since, const DeleteSet& ds);

}  // namespace cmx::crdt
