#include "collab/undo_history.h"

#include "collab/hydration.h"
#include "collab/layout.h"
#include "collab/update_scan.h"

namespace cmx::collab {

namespace {

AuthorityError error_of(AuthorityError::Kind kind, std::string text) {
  return AuthorityError{kind, 0, std::move(text)};
}
AuthorityError state_error(std::string text) {
  return error_of(AuthorityError::Kind::kCollaborativeState, std::move(text));
}

void save_stacks(Authority& authority, const crdt::UndoManager& manager) {
  authority.saved_undo = save_undo_stack(manager.undo_stack());
  authority.saved_redo = save_undo_stack(manager.redo_stack());
}

}  // namespace

std::string tracked_origin(const crdt::Doc& doc) {
  const uint64_t id = doc.client_id() & crdt::kMaxClientId;
  std::string origin(8, '\0');
  for (int i = 0; i < 8; ++i) origin[static_cast<size_t>(i)] = static_cast<char>((id >> (56 - 8 * i)) & 0xff);
  return origin;
}

Result<std::unique_ptr<crdt::UndoManager>, AuthorityError> build_undo_manager(crdt::Doc& doc,
                                                                              std::vector<crdt::StackItem> undo,
                                                                              std::vector<crdt::StackItem> redo) {
  std::optional<crdt::MapRef> sheets;
  {
    auto lock = doc.read_lock();
    sheets = doc.find_map(kSheetsRoot);
  }
  if (!sheets) return unexpected(state_error("missing sheet map"));
  crdt::UndoOptions options;
  options.tracked_origins = {tracked_origin(doc)};
  options.capture_timeout_ms = 500;
  options.undo_stack = std::move(undo);
  options.redo_stack = std::move(redo);
  return std::make_unique<crdt::UndoManager>(doc, std::vector<crdt::Branch*>{sheets->branch()}, std::move(options));
}

std::vector<crdt::StackItem> save_undo_stack(const std::vector<crdt::StackItem>& stack) { return stack; }

Result<std::optional<UndoneStep>, AuthorityError> pop_undo_and_reproject(Authority& authority, bool redo) {
  crdt::Doc& doc = *authority.doc;
  CMX_ASSIGN_OR_RETURN(std::unique_ptr<crdt::UndoManager> manager,
                       build_undo_manager(doc, authority.saved_undo, authority.saved_redo));
  // The step's own changes: an encoding against the state vector before it
  // would also carry every earlier deletion.
  std::vector<uint8_t> update;
  const uint64_t subscription = doc.observe_after_transaction(
      [&update](crdt::Doc& changed, const crdt::TransactionEvent& event) {
        update = changed.encode_transaction_update(event);
      });
  auto applied = redo ? manager->redo() : manager->undo();
  doc.unobserve(subscription);
  save_stacks(authority, *manager);
  manager.reset();
  if (!applied) return unexpected(state_error(crdt::crdt_error_message(applied.error())));
  if (*applied == nullptr) return std::optional<UndoneStep>();
  auto projected = decode_document(authority, true);
  if (!projected) return unexpected(state_error(std::move(projected).error()));
  return std::optional<UndoneStep>(UndoneStep{std::move(*projected), std::move(update)});
}

Result<ReplicaState, AuthorityError> project_replica_state(const Authority& authority) {
  auto projected = decode_document(authority, false);
  if (!projected) return unexpected(state_error(std::move(projected).error()));
  return std::move(projected->replica);
}

Result<void, AuthorityError> integrate_update_as_undo_step(Authority& authority, std::span<const uint8_t> update) {
  auto decoded = decode_update_bounded(update, ScanLimits::own(update));
  if (!decoded) return unexpected(error_of(AuthorityError::Kind::kInvalidUpdate, std::move(decoded).error()));
  crdt::Doc& doc = *authority.doc;
  CMX_ASSIGN_OR_RETURN(std::unique_ptr<crdt::UndoManager> manager,
                       build_undo_manager(doc, authority.saved_undo, authority.saved_redo));
  manager->stop_capturing();
  Result<void, crdt::CrdtError> applied;
  {
    crdt::Transaction txn(doc, tracked_origin(doc));
    applied = txn.apply_update(std::move(*decoded));
    txn.commit();
  }
  if (!applied) return unexpected(error_of(AuthorityError::Kind::kInvalidUpdate, crdt::crdt_error_message(applied.error())));
  save_stacks(authority, *manager);
  return {};
}

Result<bool, AuthorityError> stage_update_untracked(const crdt::Doc& live, std::span<const uint8_t> base_update,
                                                    std::span<const uint8_t> update) {
  auto created = crdt::Doc::create(live.client_id() & crdt::kMaxClientId);
  if (!created) return unexpected(state_error(write_failure(created.error())));
  crdt::Doc& scratch = **created;
  if (auto hydrated = hydrate_from_update(scratch, base_update); !hydrated) {
    return unexpected(state_error(std::move(hydrated).error()));
  }
  auto decoded = decode_update_bounded(update, ScanLimits::own(update));
  if (!decoded) return unexpected(error_of(AuthorityError::Kind::kInvalidUpdate, std::move(decoded).error()));
  Result<void, crdt::CrdtError> applied;
  {
    crdt::Transaction txn(scratch, std::string(kUntrackedOrigin));
    applied = txn.apply_update(std::move(*decoded));
    txn.commit();
  }
  if (!applied) return unexpected(error_of(AuthorityError::Kind::kInvalidUpdate, crdt::crdt_error_message(applied.error())));
  auto lock = scratch.read_lock();
  return !scratch.has_pending();
}

}  // namespace cmx::collab
