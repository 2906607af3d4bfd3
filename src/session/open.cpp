#include "session/open.h"

#include <string>

#include "absl/container/flat_hash_set.h"
#include "collab/bootstrap_projection.h"
#include "collab/hydration.h"
#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "session/document.h"
#include "session/model_copies.h"
#include "session/validation.h"

namespace cmx::session {
namespace {

// Steps shared by opening and by a deferred document: the archive, its part
// names and the workbook.
Result<reader::OpenedPackage, EngineError> read_workbook(std::string_view data, const reader::ReadOptions& options) {
  // A lean record keeps no worksheet bytes, so big ones need never be held.
  const opc::ArchiveOptions archive{.seal_worksheets_from = options.lean ? opc::kSealWorksheetsFrom : 0};
  auto parts = opc::read_package_archive(data, archive);
  if (!parts) return unexpected(EngineError::from_package(parts.error()));
  std::vector<std::shared_ptr<opc::SealedPart>> sealed;
  for (const opc::PackagePart& part : parts.value()) {
    if (part.sealed) sealed.push_back(part.sealed);
  }
  // A broken sealed entry is the error reading the archive whole reports,
  // before anything the parts' contents lead to.
  auto broken = [&]() -> std::optional<EngineError> {
    if (std::optional<opc::PackageError> error = opc::first_sealed_failure(sealed)) {
      return EngineError::from_package(*error);
    }
    return std::nullopt;
  };
  {
    absl::flat_hash_set<std::string_view> names;
    for (const opc::PackagePart& part : parts.value()) {
      if (!names.insert(part.name).second) {
        if (std::optional<EngineError> error = broken()) return unexpected(std::move(*error));
        return unexpected(EngineError::with_text(EngineErrorKind::DuplicatePart, part.name));
      }
    }
  }
  auto opened = reader::open_source_package(std::move(parts.value()), options);
  if (std::optional<EngineError> error = broken()) return unexpected(std::move(*error));
  if (!opened) return unexpected(EngineError::from_spreadsheet(std::move(opened.error())));
  return std::move(opened.value());
}

constexpr reader::ReadOptions kLeanRecord{.threads = 0, .lean = true};

}  // namespace

Result<std::unique_ptr<WorkbookSession>, EngineError> bootstrap_session(std::string_view data, bool keep_cached,
                                                                        std::optional<uint64_t> client_id) {
  return bootstrap_session(data, keep_cached, client_id, DocumentTiming::kDeferred);
}

Result<std::unique_ptr<WorkbookSession>, EngineError> bootstrap_session(std::string_view data, bool keep_cached,
                                                                        std::optional<uint64_t> client_id,
                                                                        DocumentTiming timing) {
  CMX_ASSIGN_OR_RETURN(reader::OpenedPackage package, read_workbook(data, kLeanRecord));
  if (auto valid = validate_workbook_for_sharing(package.model); !valid) return unexpected(std::move(valid.error()));
  // The reader records a source package for everything it opens, so the rule
  // that charts need one cannot fail here; saving applies it.
  const uint32_t sheet_count = static_cast<uint32_t>(package.model.sheets.size());
  const uint32_t active_sheet = package.active_tab < sheet_count ? package.active_tab : 0;
  if (client_id && *client_id > kMaxClientId) {
    return unexpected(EngineError::with_numbers(EngineErrorKind::InvalidClientId, *client_id, kMaxClientId));
  }

  auto session = std::make_unique<WorkbookSession>();
  // Without a client id nothing but the model is needed yet. A workbook that
  // the projection computed in place cannot vouch for takes the round trip,
  // which gives the error the document would raise.
  if (!client_id && timing == DocumentTiming::kDeferred && collab::project_bootstrap_in_place(package.model)) {
    session->deferred = std::make_unique<DeferredDocument>();
    session->deferred->replica_client_id = crdt::Doc::random_client_id();
    session->model = std::move(package.model);
  } else if (client_id && timing == DocumentTiming::kDeferred) {
    auto document =
        open_collaborative_document(package.model, package.source_dimensions, package.style_copy, *client_id);
    if (!document) return unexpected(std::move(document.error()));
    session->replica = std::move(document->replica);
    session->authority = std::move(document->authority);
    session->model = std::move(document->projected);
  } else {
    auto document = open_document(package.model, package.source_dimensions, package.style_copy, client_id);
    if (!document) return unexpected(std::move(document.error()));
    OpenedDocument& built = document.value();
    copy_sheets_for_staging(package.model.sheets, built.projected.sheets);
    session->replica = std::move(built.replica);
    session->authority = std::move(built.authority);
    session->model = std::move(built.projected);
  }
  if (auto valid = validate_workbook_for_sharing(session->model); !valid) return unexpected(std::move(valid.error()));

  session->pinned_charts = collect_pinned_chart_anchors(session->model);
  if (keep_cached) session->engine = formula::rebuild_graph(session->model);
  session->sheet_sources = build_sheet_sources(&package.source, session->model.sheets.size());
  session->version_id = new_version_id();
  session->source_package = std::move(package.source);
  session->source_bytes = std::make_shared<const std::string>(data);
  if (session->deferred) session->deferred->package = session->source_bytes;
  session->active_sheet = active_sheet;
  return session;
}

void ensure_document(const WorkbookSession& session) {
  DeferredDocument* deferred = session.deferred.get();
  if (deferred == nullptr) return;
  std::lock_guard lock(deferred->mutex);
  if (deferred->built) return;
  // The same bytes read the same workbook, which opening already saw through
  // every check: none of this can fail.
  auto package = read_workbook(*deferred->package, kLeanRecord);
  if (!package) fail_invariant("a deferred document's package no longer reads");
  auto authority = collab::open_unprojected_replica(package->model, declared_dimensions(package->source_dimensions),
                                                    package->style_copy, deferred->replica_client_id);
  if (!authority) fail_invariant("a deferred document no longer bootstraps");
  // Sessions are made only by opening, never const: the document is the one
  // field a shared reader may fill in, under the mutex.
  const_cast<WorkbookSession&>(session).authority = std::move(*authority);
  deferred->built = true;
}

reader::SourcePackage complete_source_package(const WorkbookSession& session) {
  if (!session.source_bytes) fail_invariant("a session with a source package keeps its bytes");
  auto package = read_workbook(*session.source_bytes, reader::ReadOptions{});
  if (!package) fail_invariant("a session's package no longer reads");
  return std::move(package->source);
}

}  // namespace cmx::session
