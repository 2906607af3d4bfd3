#include "agent/targets.h"

#include <string_view>

#include "opc/attribute_pair.h"
#include "reader/source_package.h"

namespace cmx::agent {
namespace {

std::string outside_sheet(const json::CellPosition& at) {
  return "row " + std::to_string(at.row) + " column " + std::to_string(at.col) + " is outside the sheet";
}

bool inside_sheet(const json::CellPosition& at) { return at.row < model::MAX_ROWS && at.col < model::MAX_COLS; }

// The sheet part's protection: a top-level sheetProtection whose "sheet"
// attribute is exactly "true" or "1"; an unreadable tag counts as protected.
bool sheet_part_protected(const xml::PartTemplate& part) {
  for (const xml::PartTemplateChild& child : part.children) {
    if (child.name != "sheetProtection") continue;
    auto tag = reader::parse_fragment_start_tag(child.text);
    if (!tag) return true;
    for (const opc::AttributePair& attribute : *tag) {
      if (opc::attribute_local_name(attribute.name) != "sheet") continue;
      if (attribute.value == "true" || attribute.value == "1") return true;
    }
    return false;
  }
  return false;
}

}  // namespace

std::string a1_text(uint32_t row, uint32_t col) { return model::format_cell_ref(model::CellRef{row, col}); }

SheetKeys agent_sheet_keys(const WorkbookSession& session) {
  if (session.replica) return session.replica->sheet_keys;
  return session::sheet_key_list(session.model.sheets.size());
}

Result<model::CellRange, std::string> parse_cell_or_range_target(const json::RangeAddress& address) {
  const auto* positions = std::get_if<json::RangeAddressRowCol>(&address);
  if (positions == nullptr) return model::parse_cell_or_range_target(std::get<json::RangeAddressA1>(address).a1);
  if (!inside_sheet(positions->start)) return unexpected(outside_sheet(positions->start));
  if (!inside_sheet(positions->end)) return unexpected(outside_sheet(positions->end));
  const model::CellRange range{model::CellRef{positions->start.row, positions->start.col},
                               model::CellRef{positions->end.row, positions->end.col}};
  if (range.start.row > range.end.row || range.start.col > range.end.col) {
    return unexpected(std::string("a range must run from its top-left to its bottom-right corner"));
  }
  return range;
}

std::optional<uint32_t> sheet_of_key(const WorkbookSession& session, const SheetKeys& keys, std::string_view id) {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] != id) continue;
    if (i >= session.model.sheets.size()) return std::nullopt;
    return static_cast<uint32_t>(i);
  }
  return std::nullopt;
}

Result<ResolvedTarget, AgentRefusal> resolve_range_target(const WorkbookSession& session, const SheetKeys& keys,
                                                         const json::RangeTarget& target) {
  const std::optional<uint32_t> sheet = sheet_of_key(session, keys, target.sheet_id);
  if (!sheet) {
    AgentRefusal out = refusal(RefusalCode::MissingTarget, "no sheet has the id " + target.sheet_id);
    out.target = target;
    return unexpected(std::move(out));
  }
  auto range = parse_cell_or_range_target(target.range);
  if (!range) {
    AgentRefusal out = refusal(RefusalCode::InvalidStep, std::move(range).error());
    out.target = target;
    return unexpected(std::move(out));
  }
  return ResolvedTarget{*sheet, *range};
}

Result<void, AgentRefusal> check_sheet_editable(const WorkbookSession& session, uint32_t sheet) {
  if (!session.source_package || sheet >= session.sheet_sources.origins.size()) return {};
  const session::SheetOrigin& origin = session.sheet_sources.origins[sheet];
  if (origin.tag != 1 || origin.source_index >= session.source_package->sheets.size()) return {};
  const reader::SourceSheet& source = session.source_package->sheets[origin.source_index];
  const std::string& name = session.model.sheets[sheet].name;
  if (source.rel_type) {
    const std::string_view type(*source.rel_type);
    const size_t slash = type.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? type : type.substr(slash + 1);
    if (last != "worksheet") return unexpected(refusal(RefusalCode::Unsupported, "sheet " + name + " is not a worksheet"));
  }
  if (sheet_part_protected(source.template_)) {
    return unexpected(refusal(RefusalCode::LockedTarget, "sheet " + name + " is protected"));
  }
  return {};
}

json::RangeTarget canonical_range_target(const SheetKeys& keys, const ResolvedTarget& target) {
  model::CellRange plain{model::CellRef{target.range.start.row, target.range.start.col},
                         model::CellRef{target.range.end.row, target.range.end.col}};
  return json::RangeTarget{keys[target.sheet], json::RangeAddressA1{model::format_range(plain)}};
}

json::CellLocation cell_location_of(const SheetKeys& keys, uint32_t sheet, uint32_t row, uint32_t col) {
  return json::CellLocation{keys[sheet], row, col, a1_text(row, col)};
}

std::pair<std::vector<json::CellLocation>, bool> cell_locations_capped(const SheetKeys& keys,
                                                                       std::span<const model::CellAddress> cells) {
  std::vector<json::CellLocation> out;
  for (const model::CellAddress& cell : cells) {
    if (out.size() == kMaxListedCells) break;
    if (cell.sheet >= keys.size()) continue;
    out.push_back(cell_location_of(keys, cell.sheet, cell.cell.row, cell.cell.col));
  }
  return {std::move(out), cells.size() > kMaxListedCells};
}

}  // namespace cmx::agent
