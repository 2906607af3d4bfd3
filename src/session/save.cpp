#include "session/save.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "session/open.h"
#include "session/validation.h"
#include "writer/new_package.h"
#include "writer/save_into_source.h"

namespace cmx::session {
namespace {

std::optional<std::string_view> source_archive(const WorkbookSession& session) {
  if (!session.source_bytes) return std::nullopt;
  return std::string_view(*session.source_bytes);
}

template <typename Parts>
Result<std::string, EngineError> zip_parts(const WorkbookSession& session, const Parts& parts) {
  auto archive = writer::write_package_archive(std::span(parts), source_archive(session));
  if (!archive) return unexpected(EngineError::package(std::move(archive).error()));
  return std::move(archive).value();
}

Result<std::string, EngineError> save_new_package(const WorkbookSession& session) {
  const bool has_charts = std::any_of(session.model.sheets.begin(), session.model.sheets.end(),
                                      [](const model::SheetModel& sheet) { return !sheet.charts.empty(); });
  if (has_charts) {
    return unexpected(EngineError::invalid_operation(
        "charts can only be preserved from a source package, and this workbook has none"));
  }
  auto parts = writer::write_new_package(session.model, session.active_sheet);
  if (!parts) return unexpected(EngineError::from_spreadsheet(std::move(parts).error()));
  return zip_parts(session, parts.value());
}

Result<std::string, EngineError> save_into_source_package(const WorkbookSession& session) {
  const SheetSourceTable& sources = session.sheet_sources;
  const writer::SourceSaveInputs inputs{sources.origins,    sources.source_maps,         sources.move_maps,
                                        session.calculated, session.retained_refs_moved, session.active_sheet};
  const reader::SourcePackage& kept = *session.source_package;
  // The parts of the complete record are views the saved parts borrow, so it
  // lives until the archive is written.
  std::optional<reader::SourcePackage> complete;
  if (kept.lean) complete = complete_source_package(session);
  auto parts = writer::save_into_source(session.model, complete ? *complete : kept, inputs);
  if (!parts) return unexpected(EngineError::from_spreadsheet(std::move(parts).error()));
  return zip_parts(session, parts.value());
}

}  // namespace

Result<std::string, EngineError> save_workbook(const WorkbookSession& session) {
  CMX_TRY(validate_workbook_for_sharing(session.model));
  return session.source_package ? save_into_source_package(session) : save_new_package(session);
}

}  // namespace cmx::session
