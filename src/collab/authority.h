// The document-keeping state of an open workbook: its CRDT document and the
// authored base every replica rebuilds from the same package, and the error
// the collaborative-document operations report. Read next: layout.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

struct Authority {
  std::shared_ptr<crdt::Doc> doc;
  std::shared_ptr<const AuthoredBase> base;
  uint64_t replica_sheet_counter = 0;
};

}  // namespace cmx::collab
