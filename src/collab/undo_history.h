// The collaborative undo history: an undo manager over the sheets, built
// fresh from the authority's saved stacks for each operation and saved back
// after it, so that every integrated commit is its own undo step; and the
// integration of updates as such a step, or untracked on a scratch copy.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "collab/projection.h"
#include "crdt/crdt.h"

namespace cmx::collab {

inline constexpr std::string_view kUntrackedOrigin = "xlsx:untracked";

// The replica's client id, low 53 bits, as 8 bytes big-endian: the one origin
// the undo manager records.
std::string tracked_origin(const crdt::Doc& doc);

// Scope "xlsx:sheets", the saved stacks moved in. Errors: "missing sheet map".
Result<std::unique_ptr<crdt::UndoManager>, AuthorityError> build_undo_manager(crdt::Doc& doc,
                                                                              std::vector<crdt::StackItem> undo,
                                                                              std::vector<crdt::StackItem> redo);

std::vector<crdt::StackItem> save_undo_stack(const std::vector<crdt::StackItem>& stack);

struct UndoneStep {
  Projection projection;
  std::vector<uint8_t> update;
};

// Undoes (or redoes) the last step that still changes the document. None when
// no step applied. The saved stacks follow the manager's even when the strict
// projection afterwards fails.
Result<std::optional<UndoneStep>, AuthorityError> pop_undo_and_reproject(Authority& authority, bool redo);

Result<ReplicaState, AuthorityError> project_replica_state(const Authority& authority);

// Applies an update under the tracked origin so that it becomes one new undo
// step. A refusal leaves the saved stacks as they were.
Result<void, AuthorityError> integrate_update_as_undo_step(Authority& authority, std::span<const uint8_t> update);

// Applies `update` to a scratch document built from `base_update` under
// "xlsx:untracked"; true when nothing of it waits for missing predecessors.
Result<bool, AuthorityError> stage_update_untracked(const crdt::Doc& live, std::span<const uint8_t> base_update,
                                                    std::span<const uint8_t> update);

}  // namespace cmx::collab
