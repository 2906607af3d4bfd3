// The running state of one structured export and the services every step of
// its walk shares: the budgets, the commit rule, diagnostics and stops.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "export/export.h"
#include "json/export_records.h"
#include "model/address.h"
#include "xml/element_tree.h"

namespace cmx::exports {

inline constexpr uint64_t kMaxMetadataRecords = 100000;
inline constexpr uint64_t kMaxDiagnostics = 10000;
inline constexpr uint64_t kMaxVisited = 20000000;
inline constexpr uint64_t kParseBudgetElements = 20000000;
inline constexpr uint64_t kParseBudgetBytes = 268435456;

enum class StopReason : uint8_t { MaxCells, MaxBytes, MetadataRecord, Diagnostic, VisitedCell, SourceInspection };
inline constexpr int kStopReasonCount = 6;

struct ExportStop {
  std::optional<json::XlsxAnchor> anchor;  // the sheet being exported
  std::optional<model::CellRef> place;     // the last cell written on it
  StopReason reason = StopReason::MaxBytes;
};
// None: go on.
using Step = std::optional<ExportStop>;

using CellTriple = std::tuple<uint32_t, uint32_t, uint32_t>;  // sheet, row, column

struct ExportContext {
  json::XlsxStructuredContent content;
  const ExportSource* source = nullptr;
  absl::flat_hash_set<CellTriple> cycle_cells;
  absl::flat_hash_set<CellTriple> limited_cells;
  uint64_t bytes_used = 0;
  uint64_t byte_limit = 0;
  uint64_t metadata_records = 0;
  uint64_t visited = 0;
  xml::ExportParseBudget parse_budget;
  uint32_t cells_exported = 0;
  uint32_t max_cells = 0;
};

// A merged range the sheet walk listed, for the cell walk.
struct KeptMerge {
  model::CellRange range;
  std::string text;
};

json::XlsxSheetIdentity export_sheet_identity(const ExportSource& source, uint32_t index);
json::XlsxAnchor sheet_anchor(const ExportSource& source, uint32_t index);
json::XlsxAnchor range_anchor(const json::XlsxSheetIdentity& sheet, const model::CellRange& range);
json::XlsxSheetVisibility sheet_visibility(const ExportSource& source, uint32_t index);
// The sheet's source record when it was read from the package.
const reader::SourceSheet* source_sheet_of(const ExportSource& source, uint32_t index);

Step stop_with(const std::optional<json::XlsxAnchor>& anchor, StopReason reason,
               std::optional<model::CellRef> place = std::nullopt);
Step push_export_diagnostic(ExportContext& context, json::XlsxDiagnosticCode code, json::XlsxSeverity severity,
                            std::optional<json::XlsxAnchor> anchor, std::string message,
                            const std::optional<json::XlsxAnchor>& stop_anchor);
Step push_export_warning(ExportContext& context, json::XlsxDiagnosticCode code,
                         std::optional<json::XlsxAnchor> anchor, std::string message);
Step push_export_info(ExportContext& context, json::XlsxDiagnosticCode code, std::optional<json::XlsxAnchor> anchor,
                      std::string message);
Step stop_at_oversized_part(ExportContext& context, const json::XlsxAnchor& anchor, std::string_view part);
// One metadata record of `size` compact bytes, or the stop.
Step charge_metadata(ExportContext& context, uint64_t size, const std::optional<json::XlsxAnchor>& stop_anchor);
// One more examined item, or the visited-cell stop.
Step count_visit(ExportContext& context, const std::optional<json::XlsxAnchor>& stop_anchor);

std::optional<json::XlsxSourcePart> source_part_record(const ExportContext& context, std::string_view part_name,
                                                       std::vector<uint32_t> path);
// "{folder}/_rels/{file}.rels", or "_rels/{name}.rels" without a folder.
std::string relationships_part_name(std::string_view part_name);
std::string_view part_folder(std::string_view part_name);

bool sheet_identity_eq(const json::XlsxSheetIdentity& a, const json::XlsxSheetIdentity& b);
bool rects_meet(const model::CellRange& a, const model::CellRange& b);

Step walk_sheet(ExportContext& context, uint32_t index, const std::optional<model::CellRange>& scope);
Step walk_cells(ExportContext& context, uint32_t index, const model::CellRange& selection,
                const std::vector<KeptMerge>& merges, const json::XlsxAnchor& anchor);
Step walk_drawing_objects(ExportContext& context, uint32_t index, const std::optional<model::CellRange>& selection);

}  // namespace cmx::exports
