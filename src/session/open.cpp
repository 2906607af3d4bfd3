#include "session/open.h"

#include <string>

#include "absl/container/flat_hash_set.h"
#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "session/model_copies.h"
#include "session/validation.h"

namespace cmx::session {

Result<std::unique_ptr<WorkbookSession>, EngineError> bootstrap_session(std::string_view data, bool keep_cached,
                                                                        std::optional<uint64_t> client_id) {
  auto parts = opc::read_package_archive(data);
  if (!parts) return unexpected(EngineError::from_package(parts.error()));
  {
    absl::flat_hash_set<std::string_view> names;
    for (const opc::PackagePart& part : parts.value()) {
      if (!names.insert(part.name).second) {
        return unexpected(EngineError::with_text(EngineErrorKind::DuplicatePart, part.name));
      }
    }
  }
  auto opened = reader::open_source_package(std::move(parts.value()));
  if (!opened) return unexpected(EngineError::from_spreadsheet(std::move(opened.error())));
  reader::OpenedPackage& package = opened.value();
  if (auto valid = validate_workbook_for_sharing(package.model); !valid) return unexpected(std::move(valid.error()));
  // The reader records a source package for everything it opens, so the rule
  // that charts need one cannot fail here; saving applies it.
  const uint32_t sheet_count = static_cast<uint32_t>(package.model.sheets.size());
  const uint32_t active_sheet = package.active_tab < sheet_count ? package.active_tab : 0;
  if (client_id && *client_id > kMaxClientId) {
    return unexpected(EngineError::with_numbers(EngineErrorKind::InvalidClientId, *client_id, kMaxClientId));
  }

  auto document = open_document(package.model, package.source_dimensions, package.style_copy, client_id);
  if (!document) return unexpected(std::move(document.error()));
  OpenedDocument& built = document.value();
  copy_sheets_for_staging(package.model.sheets, built.projected.sheets);
  if (auto valid = validate_workbook_for_sharing(built.projected); !valid) return unexpected(std::move(valid.error()));

  auto session = std::make_unique<WorkbookSession>();
  session->pinned_charts = collect_pinned_chart_anchors(built.projected);
  if (keep_cached) session->engine = formula::rebuild_graph(built.projected);
  session->replica = std::move(built.replica);
  session->authority = std::move(built.authority);
  session->sheet_sources = build_sheet_sources(&package.source, built.projected.sheets.size());
  session->version_id = new_version_id();
  session->model = std::move(built.projected);
  session->source_package = std::move(package.source);
  session->source_bytes = std::make_shared<const std::string>(data);
  session->active_sheet = active_sheet;
  return session;
}

}  // namespace cmx::session
