#include "session/save.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "session/validation.h"
#include "writer/new_package.h"

namespace cmx::session {
namespace {

using Parts = std::vector<opc::PackagePart>;

Result<Parts, EngineError> new_package_parts(const WorkbookSession& session) {
  const bool has_charts = std::any_of(session.model.sheets.begin(), session.model.sheets.end(),
                                      [](const model::SheetModel& sheet) { return !sheet.charts.empty(); });
  if (has_charts) {
    return unexpected(EngineError::invalid_operation(
        "charts can only be preserved from a source package, and this workbook has none"));
  }
  auto parts = writer::write_new_package(session.model, session.active_sheet);
  if (!parts) return unexpected(EngineError::from_spreadsheet(std::move(parts).error()));
  return std::move(parts).value();
}

// Writing back into the source package keeps every part the model does not
// describe; until that writer is in place such a save is refused rather than
// written as a new package, which would drop those parts.
Result<Parts, EngineError> source_package_parts(const WorkbookSession&) {
  return unexpected(EngineError::from_spreadsheet(
      xml::SpreadsheetParseError::unsupported_edit("saving into the source package is not available")));
}

}  // namespace

Result<std::string, EngineError> save_workbook(const WorkbookSession& session) {
  CMX_TRY(validate_workbook_for_sharing(session.model));
  CMX_ASSIGN_OR_RETURN(const Parts parts,
                       session.source_package ? source_package_parts(session) : new_package_parts(session));
  std::optional<std::string_view> source;
  if (session.source_bytes) source = std::string_view(*session.source_bytes);
  auto archive = writer::write_package_archive(parts, source);
  if (!archive) return unexpected(EngineError::package(std::move(archive).error()));
  return std::move(archive).value();
}

}  // namespace cmx::session
