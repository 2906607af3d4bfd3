#include <algorithm>
#include <map>
#include <utility>

#include "base/sha256.h"
#include "export/walk.h"
#include "json/writer.h"
#include "opc/package_archive.h"
#include "reader/source_queries.h"

namespace cmx::exports {

namespace {

using json::XlsxAnchor;
using json::XlsxDiagnosticCode;
using json::XlsxSeverity;

constexpr std::string_view kLimitNames[kStopReasonCount] = {
    "maxCells", "maxBytes", "metadata record", "diagnostic", "visited-cell", "source-inspection"};

json::XlsxExportDiagnostic make_truncation_diagnostic(const std::optional<XlsxAnchor>& anchor, StopReason reason,
                                                      const std::optional<model::CellRef>& place) {
  std::string where;
  if (!anchor) {
    where = "before the first sheet";
  } else if (!place) {
    where = "at this sheet";
  } else {
    where = "after cell " + model::format_cell_ref(model::CellRef{place->row, place->col, false, false});
  }
  return json::XlsxExportDiagnostic{
      XlsxDiagnosticCode::Truncated, XlsxSeverity::Warning, anchor,
      "Export stopped at the " + std::string(kLimitNames[static_cast<int>(reason)]) + " limit " + where +
          "; nothing after that point, including later sheets, is covered."};
}

// The room a truncation diagnostic with this anchor may need, comma included.
uint64_t largest_truncation_size(const std::optional<XlsxAnchor>& anchor) {
  uint64_t largest = 0;
  const model::CellRef last{model::MAX_ROWS - 1, model::MAX_COLS - 1, false, false};
  for (int reason = 0; reason < kStopReasonCount; ++reason) {
    uint64_t size = 0;
    json::count_export_diagnostic_bytes(make_truncation_diagnostic(anchor, static_cast<StopReason>(reason), last),
                                        size);
    largest = std::max(largest, size + 1);
  }
  return largest;
}

std::optional<json::XlsxSheetIdentity> anchor_sheet(const XlsxAnchor& anchor) {
  if (const auto* sheet = std::get_if<json::XlsxAnchorSheet>(&anchor)) return sheet->sheet;
  if (const auto* cell = std::get_if<json::XlsxAnchorCell>(&anchor)) return cell->sheet;
  if (const auto* range = std::get_if<json::XlsxAnchorRange>(&anchor)) return range->sheet;
  return std::nullopt;
}

bool anchors_equal(const XlsxAnchor& a, const XlsxAnchor& b) {
  const auto* sa = std::get_if<json::XlsxAnchorSheet>(&a);
  const auto* sb = std::get_if<json::XlsxAnchorSheet>(&b);
  if (sa != nullptr && sb != nullptr) return sheet_identity_eq(sa->sheet, sb->sheet);
  return a == b;
}

Step export_defined_names(ExportContext& context) {
  const ExportSource& source = *context.source;
  const model::WorkbookModel& model = *source.model;
  const json::XlsxExportIncluded& included = context.content.included;
  if (!included.defined_names) {
    if (model.defined_names.empty()) return std::nullopt;
    return push_export_info(context, XlsxDiagnosticCode::HiddenContentExcluded, std::nullopt,
                            "Defined names are excluded (" + std::to_string(model.defined_names.size()) +
                                "); set includeDefinedNames to list them.");
  }
  uint64_t hidden = 0;
  uint64_t on_hidden_sheets = 0;
  const std::optional<XlsxAnchor> no_anchor;
  for (size_t k = 0; k < model.defined_names.size(); ++k) {
    const model::DefinedName& name = model.defined_names[k];
    if (name.hidden && !included.hidden_names) {
      ++hidden;
      continue;
    }
    std::optional<json::XlsxSheetIdentity> local;
    if (name.local_sheet && *name.local_sheet < model.sheets.size()) {
      if (!included.hidden_sheets &&
          sheet_visibility(source, *name.local_sheet) != json::XlsxSheetVisibility::Visible) {
        ++on_hidden_sheets;
        continue;
      }
      local = export_sheet_identity(source, *name.local_sheet);
    }
    json::XlsxExportDefinedName record{"n" + std::to_string(k),
                                       json::XlsxAnchorDefinedName{name.name, local, static_cast<uint32_t>(k)},
                                       name.name,
                                       name.formula,
                                       name.hidden,
                                       local};
    uint64_t size = 0;
    json::count_export_defined_name_bytes(record, size);
    if (Step stop = charge_metadata(context, size, no_anchor)) return stop;
    context.content.defined_names.push_back(std::move(record));
  }
  if (hidden > 0) {
    if (Step stop = push_export_info(context, XlsxDiagnosticCode::HiddenContentExcluded, std::nullopt,
                                     "Hidden defined names are excluded (" + std::to_string(hidden) +
                                         "); set includeHiddenNames to list them.")) {
      return stop;
    }
  }
  if (on_hidden_sheets > 0) {
    return push_export_info(context, XlsxDiagnosticCode::HiddenContentExcluded, std::nullopt,
                            "Defined names scoped to excluded hidden sheets are excluded (" +
                                std::to_string(on_hidden_sheets) + ").");
  }
  return std::nullopt;
}

}  // namespace

json::XlsxSheetIdentity export_sheet_identity(const ExportSource& source, uint32_t index) {
  std::string key = index < source.sheet_keys.size() ? source.sheet_keys[index] : "sheet:" + std::to_string(index);
  return json::XlsxSheetIdentity{std::move(key), index, source.model->sheets[index].name};
}

XlsxAnchor sheet_anchor(const ExportSource& source, uint32_t index) {
  return json::XlsxAnchorSheet{export_sheet_identity(source, index)};
}

XlsxAnchor range_anchor(const json::XlsxSheetIdentity& sheet, const model::CellRange& range) {
  const model::CellRange plain{{range.start.row, range.start.col, false, false},
                               {range.end.row, range.end.col, false, false}};
  return json::XlsxAnchorRange{sheet, model::format_range(plain)};
}

const reader::SourceSheet* source_sheet_of(const ExportSource& source, uint32_t index) {
  if (source.package == nullptr || source.sources == nullptr || index >= source.sources->origins.size()) {
    return nullptr;
  }
  const session::SheetOrigin& origin = source.sources->origins[index];
  if (origin.tag != 1 || origin.source_index >= source.package->sheets.size()) return nullptr;
  return &source.package->sheets[origin.source_index];
}

json::XlsxSheetVisibility sheet_visibility(const ExportSource& source, uint32_t index) {
  const bool from_source = source.package != nullptr && source.sources != nullptr &&
                           index < source.sources->origins.size() && source.sources->origins[index].tag == 1;
  if (from_source) {
    switch (reader::sheet_state_at(source.package->sheets, source.sources->origins[index].source_index)) {
      case reader::SheetState::Visible:
        return json::XlsxSheetVisibility::Visible;
      case reader::SheetState::Hidden:
        return json::XlsxSheetVisibility::Hidden;
      case reader::SheetState::VeryHidden:
        return json::XlsxSheetVisibility::VeryHidden;
      default:
        return json::XlsxSheetVisibility::Unknown;
    }
  }
  // A sheet made in the session is marked visible when it was added.
  const bool marked = source.sources != nullptr && index < source.sources->added.size() &&
                      source.sources->added[index] != 0;
  return marked ? json::XlsxSheetVisibility::Visible : json::XlsxSheetVisibility::Unknown;
}

bool sheet_identity_eq(const json::XlsxSheetIdentity& a, const json::XlsxSheetIdentity& b) {
  return a.index == b.index && a.sheet_id == b.sheet_id && a.name == b.name;
}

bool rects_meet(const model::CellRange& a, const model::CellRange& b) {
  return a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
         b.start.col <= a.end.col;
}

Step stop_with(const std::optional<XlsxAnchor>& anchor, StopReason reason, std::optional<model::CellRef> place) {
  return ExportStop{anchor, place, reason};
}

Step push_export_diagnostic(ExportContext& context, XlsxDiagnosticCode code, XlsxSeverity severity,
                            std::optional<XlsxAnchor> anchor, std::string message,
                            const std::optional<XlsxAnchor>& stop_anchor) {
  if (context.content.diagnostics.size() >= kMaxDiagnostics) return stop_with(stop_anchor, StopReason::Diagnostic);
  json::XlsxExportDiagnostic diagnostic{code, severity, std::move(anchor), std::move(message)};
  uint64_t size = 0;
  json::count_export_diagnostic_bytes(diagnostic, size);
  if (context.bytes_used + size + 1 > context.byte_limit) return stop_with(stop_anchor, StopReason::MaxBytes);
  context.bytes_used += size + 1;
  context.content.diagnostics.push_back(std::move(diagnostic));
  return std::nullopt;
}

namespace {
std::optional<XlsxAnchor> stop_anchor_for(const std::optional<XlsxAnchor>& anchor) {
  if (!anchor) return std::nullopt;
  std::optional<json::XlsxSheetIdentity> sheet = anchor_sheet(*anchor);
  if (!sheet) return std::nullopt;
  return XlsxAnchor(json::XlsxAnchorSheet{std::move(*sheet)});
}
}  // namespace

Step push_export_warning(ExportContext& context, XlsxDiagnosticCode code, std::optional<XlsxAnchor> anchor,
                         std::string message) {
  std::optional<XlsxAnchor> stop = stop_anchor_for(anchor);
  return push_export_diagnostic(context, code, XlsxSeverity::Warning, std::move(anchor), std::move(message), stop);
}

Step push_export_info(ExportContext& context, XlsxDiagnosticCode code, std::optional<XlsxAnchor> anchor,
                      std::string message) {
  std::optional<XlsxAnchor> stop = stop_anchor_for(anchor);
  return push_export_diagnostic(context, code, XlsxSeverity::Info, std::move(anchor), std::move(message), stop);
}

Step stop_at_oversized_part(ExportContext& context, const XlsxAnchor& anchor, std::string_view part) {
  if (Step stop = push_export_warning(context, XlsxDiagnosticCode::UnreadableObject, anchor,
                                      "The part " + std::string(part) +
                                          " exceeds what the export may read; it and everything after it are not "
                                          "exported.")) {
    return stop;
  }
  return stop_with(anchor, StopReason::SourceInspection);
}

Step charge_metadata(ExportContext& context, uint64_t size, const std::optional<XlsxAnchor>& stop_anchor) {
  if (context.metadata_records >= kMaxMetadataRecords) return stop_with(stop_anchor, StopReason::MetadataRecord);
  if (context.bytes_used + size + 1 > context.byte_limit) return stop_with(stop_anchor, StopReason::MaxBytes);
  context.bytes_used += size + 1;
  context.metadata_records += 1;
  return std::nullopt;
}

Step count_visit(ExportContext& context, const std::optional<XlsxAnchor>& stop_anchor) {
  context.visited += 1;
  if (context.visited > kMaxVisited) return stop_with(stop_anchor, StopReason::VisitedCell);
  return std::nullopt;
}

namespace {

// The digests of every part a lean record left in the archive, from one more
// read of the package bytes it came from.
void cache_archived_digests(const reader::SourcePackage& package, std::string_view archive,
                            session::ExportTextCache& cache) {
  auto parts = opc::read_package_archive(archive);
  if (!parts || parts->size() != package.parts.size()) fail_invariant("a session's package no longer reads");
  for (size_t at = 0; at < parts->size(); ++at) {
    const std::string& name = package.parts[at].name;
    if (!reader::left_in_archive(package, name)) continue;
    cache.try_emplace(name, lower_hex(sha256((*parts)[at].bytes)));
  }
}

}  // namespace

std::optional<json::XlsxSourcePart> source_part_record(const ExportContext& context, std::string_view part_name,
                                                       std::vector<uint32_t> path) {
  const ExportSource& source = *context.source;
  if (source.package == nullptr) return std::nullopt;
  const std::optional<std::string_view> bytes = opc::find_package_part(source.package->parts, part_name);
  if (!bytes) return std::nullopt;
  std::string digest;
  auto fill = [&](session::ExportTextCache& cache) {
    auto found = cache.find(std::string(part_name));
    if (found == cache.end() && reader::left_in_archive(*source.package, part_name)) {
      cache_archived_digests(*source.package, source.archive, cache);
      found = cache.find(std::string(part_name));
    }
    if (found == cache.end()) {
      const Sha256Digest sum = sha256(*bytes);
      found = cache.emplace(std::string(part_name), lower_hex(sum)).first;
    }
    digest = found->second;
  };
  if (source.text_cache != nullptr) {
    source.text_cache->with(fill);
  } else {
    session::ExportTextCache local;
    fill(local);
  }
  return json::XlsxSourcePart{std::string(part_name), std::move(digest), std::move(path)};
}

std::string_view part_folder(std::string_view part_name) {
  const size_t slash = part_name.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : part_name.substr(0, slash);
}

std::string relationships_part_name(std::string_view part_name) {
  const size_t slash = part_name.rfind('/');
  if (slash == std::string_view::npos) return "_rels/" + std::string(part_name) + ".rels";
  return std::string(part_name.substr(0, slash)) + "/_rels/" + std::string(part_name.substr(slash + 1)) + ".rels";
}

Result<json::XlsxStructuredContent, json::ExportRefusal> build_structured_content(
    const ExportSource& source, const json::XlsxExportOptions& options, json::XlsxAnchorScope scope) {
  const model::WorkbookModel& model = *source.model;
  const uint32_t sheet_count = static_cast<uint32_t>(model.sheets.size());
  std::vector<json::XlsxSheetIdentity> identities;
  identities.reserve(sheet_count);
  for (uint32_t i = 0; i < sheet_count; ++i) identities.push_back(export_sheet_identity(source, i));
  const json::ScopeRangeCheck check = [](std::string_view range) -> std::optional<std::string> {
    Result<model::CellRange, std::string> parsed = model::parse_cell_or_range_target(range);
    if (parsed) return std::nullopt;
    return parsed.error();
  };
  CMX_ASSIGN_OR_RETURN(json::ResolvedExportOptions resolved, json::resolve_export_options(options, identities, check));

  ExportContext context;
  context.source = &source;
  context.content.anchor_scope = scope;
  context.content.date_system =
      model.date_system == model::DateSystem::V1904 ? json::XlsxDateSystem::V1904 : json::XlsxDateSystem::V1900;
  context.content.included = resolved.included;
  const uint64_t empty_size = json::count_structured_content_bytes(context.content);

  uint64_t reserve = largest_truncation_size(std::nullopt);
  for (uint32_t i = 0; i < sheet_count; ++i) {
    reserve = std::max(reserve, largest_truncation_size(XlsxAnchor(json::XlsxAnchorSheet{identities[i]})));
  }
  if (resolved.max_bytes < empty_size + reserve) {
    return unexpected(json::ExportRefusal{json::ExportRefusalCode::LimitExceeded, std::nullopt,
                                          "maxBytes must be at least " + std::to_string(empty_size + reserve) +
                                              " for this workbook"});
  }
  context.bytes_used = empty_size;
  context.byte_limit = resolved.max_bytes - reserve;
  context.parse_budget = xml::ExportParseBudget{kParseBudgetElements, kParseBudgetBytes};
  context.max_cells = resolved.max_cells;
  if (source.last_calculation != nullptr) {
    for (const model::CellAddress& at : source.last_calculation->cycles) {
      context.cycle_cells.insert({at.sheet, at.cell.row, at.cell.col});
    }
    for (const model::CellAddress& at : source.last_calculation->limited) {
      context.limited_cells.insert({at.sheet, at.cell.row, at.cell.col});
    }
  }

  Step stop = export_defined_names(context);
  for (size_t i = 0; !stop && i < resolved.scope.size(); ++i) {
    const json::XlsxExportScope& entry = resolved.scope[i];
    std::optional<model::CellRange> rect;
    if (entry.range) {
      Result<model::CellRange, std::string> parsed = model::parse_cell_or_range_target(*entry.range);
      if (parsed) rect = parsed.value();
    }
    stop = walk_sheet(context, entry.sheet, rect);
  }
  json::XlsxStructuredContent content = std::move(context.content);
  if (stop) {
    content.truncated = true;
    if (!content.sheets.empty() && stop->anchor && anchors_equal(*stop->anchor, content.sheets.back().anchor)) {
      content.sheets.back().truncated = true;
    }
    content.diagnostics.push_back(make_truncation_diagnostic(stop->anchor, stop->reason, stop->place));
  }
  return content;
}

}  // namespace cmx::exports
