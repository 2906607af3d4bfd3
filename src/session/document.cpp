#include "session/document.h"

#include <string>

#include "collab/bootstrap.h"
#include "collab/bootstrap_projection.h"
#include "collab/hydration.h"
#include "collab/update_scan.h"
#include "session/model_copies.h"

namespace cmx::session {

std::vector<std::string> sheet_key_list(size_t count) {
  std::vector<std::string> keys;
  keys.reserve(count);
  for (size_t idx = 0; idx < count; ++idx) keys.push_back("sheet:" + std::to_string(idx));
  return keys;
}

EngineError from_authority_error(const collab::AuthorityError& error) {
  switch (error.kind) {
    case collab::AuthorityError::Kind::kClientIdConflict:
      return EngineError::with_numbers(EngineErrorKind::ClientIdConflict, error.client_id);
    case collab::AuthorityError::Kind::kInvalidStateVector:
      return EngineError::with_text(EngineErrorKind::InvalidStateVector, error.text);
    case collab::AuthorityError::Kind::kInvalidUpdate:
      return EngineError::with_text(EngineErrorKind::InvalidUpdate, error.text);
    case collab::AuthorityError::Kind::kCollaborativeState:
      return EngineError::collaborative_state(error.text);
  }
  return EngineError::collaborative_state(error.text);
}

std::vector<collab::DeclaredDimensions> declared_dimensions(const std::vector<reader::SourceDimensions>& declared) {
  std::vector<collab::DeclaredDimensions> dimensions;
  dimensions.reserve(declared.size());
  for (const reader::SourceDimensions& sheet : declared) {
    dimensions.push_back({collab::DimensionMap(sheet.column_widths.begin(), sheet.column_widths.end()),
                          collab::DimensionMap(sheet.row_heights.begin(), sheet.row_heights.end())});
  }
  return dimensions;
}

namespace {

// The limits a collaborative replica's state must keep.
Result<void, EngineError> check_collaborative_state(const collab::Authority& authority) {
  const uint64_t state_bytes = collab::encode_document_state(*authority.doc).size();
  if (state_bytes > kMaxCollaborationBytes) {
    return unexpected(
        EngineError::with_numbers(EngineErrorKind::CollaborationDataTooLarge, state_bytes, kMaxCollaborationBytes));
  }
  const size_t entries = collab::state_vector_entry_count(authority);
  if (entries > collab::kMaxStateVectorEntries) {
    return unexpected(EngineError::collaborative_state(collab::state_vector_limit_message(entries)));
  }
  return {};
}

}  // namespace

Result<OpenedDocument, EngineError> open_document(const model::WorkbookModel& workbook,
                                                  const std::vector<reader::SourceDimensions>& declared,
                                                  const std::optional<model::StyleSheet>& declared_styles,
                                                  std::optional<uint64_t> client_id) {
  auto opened = collab::open_replica(workbook, declared_dimensions(declared), declared_styles, client_id);
  if (!opened) return unexpected(from_authority_error(opened.error()));
  collab::OpenedReplica& replica = opened.value();
  if (client_id) CMX_TRY(check_collaborative_state(replica.authority));
  OpenedDocument out;
  out.authority = std::move(replica.authority);
  out.projected = std::move(replica.projection.model);
  if (client_id) out.replica = std::move(replica.projection.replica);
  return out;
}

Result<OpenedDocument, EngineError> open_collaborative_document(model::WorkbookModel& workbook,
                                                                const std::vector<reader::SourceDimensions>& declared,
                                                                const std::optional<model::StyleSheet>& declared_styles,
                                                                uint64_t client_id) {
  auto opened = collab::open_replica_direct(workbook, declared_dimensions(declared), declared_styles, client_id);
  if (!opened) return unexpected(from_authority_error(opened.error()));
  OpenedDocument out;
  out.authority = std::move(opened.value());
  // A workbook the computed projection cannot vouch for is decoded, which
  // gives the decoder's error.
  if (collab::project_bootstrap_in_place(workbook)) {
    CMX_TRY(check_collaborative_state(out.authority));
    auto replica = collab::bootstrap_replica_state(*out.authority.doc, workbook);
    if (!replica) return unexpected(EngineError::collaborative_state(std::move(replica).error()));
    out.projected = std::move(workbook);
    out.replica = std::move(*replica);
    return out;
  }
  auto projection = collab::decode_document(out.authority, /*strict=*/true);
  if (!projection) return unexpected(EngineError::collaborative_state(std::move(projection).error()));
  CMX_TRY(check_collaborative_state(out.authority));
  out.projected = std::move(projection->model);
  out.replica = std::move(projection->replica);
  copy_sheets_for_staging(workbook.sheets, out.projected.sheets);
  return out;
}

}  // namespace cmx::session
