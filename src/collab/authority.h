// The document-keeping state of an open workbook: its CRDT document and the
// authored base every replica rebuilds from the same package, and the error
// the collaborative-document operations report. Read next: layout.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "collab/bootstrap.h"
#include "crdt/crdt.h"

namespace cmx::collab {

struct AuthorityError {
  enum class Kind : uint8_t {
    kClientIdConflict,    // `client_id` equals the bootstrap client id
    kInvalidStateVector,  // `text`
    kInvalidUpdate,       // `text`
    kCollaborativeState,  // `text`
  };
  Kind kind = Kind::kCollaborativeState;
  uint64_t client_id = 0;
  std::string text;
  friend bool operator==(const AuthorityError&, const AuthorityError&) = default;
};

// One change of the sheet order: the keys before it and after it. Every local
// write records one, changed or not, so this history runs beside the local
// operation history.
struct StructureStep {
  std::vector<std::string> before;
  std::vector<std::string> after;
  friend bool operator==(const StructureStep&, const StructureStep&) = default;
};

enum class StructureStepKind : uint8_t { kNewStep, kUndo, kRedo };

// The catalog as last decoded, kept by cell_writes.cpp (which reads it
// again only once its entries have changed).
struct CatalogMemo;

struct Authority {
  std::shared_ptr<crdt::Doc> doc;
  std::shared_ptr<const AuthoredBase> base;
  uint64_t replica_sheet_counter = 0;
  std::vector<StructureStep> structure_undo;
  std::vector<StructureStep> structure_redo;
  // The undo manager's stacks between operations, oldest first.
  std::vector<crdt::StackItem> saved_undo;
  std::vector<crdt::StackItem> saved_redo;
  // An upper bound of the encoded state's length, valid while the document
  // has committed `bound_transactions` transactions (state_size_bound).
  std::weak_ptr<const crdt::Doc> bound_doc;
  uint64_t bound_transactions = 0;
  uint64_t bound_bytes = 0;
  mutable std::shared_ptr<CatalogMemo> catalog_memo;
};

// A new step drops the redo list; undo and redo move the last step across.
inline void record_structure_step(Authority& authority, StructureStep step, StructureStepKind kind) {
  switch (kind) {
    case StructureStepKind::kNewStep:
      authority.structure_undo.push_back(std::move(step));
      authority.structure_redo.clear();
      break;
    case StructureStepKind::kUndo:
      if (!authority.structure_undo.empty()) authority.structure_undo.pop_back();
      authority.structure_redo.push_back(std::move(step));
      break;
    case StructureStepKind::kRedo:
      if (!authority.structure_redo.empty()) authority.structure_redo.pop_back();
      authority.structure_undo.push_back(std::move(step));
      break;
  }
}

inline void clear_structure_history(Authority& authority) {
  authority.structure_undo.clear();
  authority.structure_redo.clear();
}

}  // namespace cmx::collab
