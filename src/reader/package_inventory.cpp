#include "reader/package_inventory.h"

#include "charts/chart_inventory.h"
#include "reader/pivot_refs.h"
#include "xml/element_tree.h"
#include "xml/part_decoding.h"
#include "xml/tree_queries.h"

namespace cmx::reader {
namespace {

using xml::XmlElement;
using xml::XmlNode;

constexpr std::string_view kRetainedContentTypes[] = {
    kPivotTableContentType, kPivotCacheDefinitionContentType, kPivotCacheRecordsContentType,
    charts::kChartContentType, charts::kChartExContentType,
};

bool mentions_in(const XmlElement& element) {
  for (const xml::XmlTreeAttribute& attr : element.attributes) {
    for (std::string_view type : kRetainedContentTypes) {
      if (opc::ascii_iequal(attr.value, type)) return true;
    }
  }
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child != nullptr && mentions_in(*child)) return true;
  }
  return false;
}

bool shows_retained_content(const opc::PartIndex& parts) {
  for (const opc::PackagePart& part : parts.parts()) {
    const std::string key = opc::part_name_key(part.name);
    if (key.starts_with("xl/pivottables/") || key.starts_with("xl/pivotcache/") || key.starts_with("xl/charts/")) {
      return true;
    }
  }
  return mentions_retained_content_type(parts);
}

// The chart groups: one for each chart whose references a save cannot
// rewrite, with the cells it reads when they can be told.
Result<void, SpreadsheetParseError> append_chart_groups(const opc::PartIndex& parts,
                                                        const std::vector<opc::ContentTypeEntry>& entries,
                                                        std::span<const model::SheetModel> sheets,
                                                        const SheetNameCounts& names, PackageInventory& inventory) {
  charts::KeyedContentTypes overrides;
  for (const opc::ContentTypeEntry& entry : entries) {
    if (entry.kind != "Override") continue;
    const opc::AttributePair* name = nullptr;
    const opc::AttributePair* type = nullptr;
    for (const opc::AttributePair& attr : entry.attributes) {
      const std::string_view local = opc::attribute_local_name(attr.name);
      if (local == "PartName" && name == nullptr) name = &attr;
      if (local == "ContentType" && type == nullptr) type = &attr;
    }
    if (name != nullptr && type != nullptr) overrides.emplace_back(opc::part_name_key(name->value), type->value);
  }
  CMX_ASSIGN_OR_RETURN(std::vector<charts::ChartPartEntry> records,
                       charts::collect_chart_part_refs(parts.parts(), overrides, sheets));
  for (charts::ChartPartEntry& record : records) {
    if (!record.not_rewritable) continue;
    std::optional<std::vector<RetainedCellRef>> refs;
    if (const std::optional<std::string_view> bytes = parts.find(record.part)) {
      CMX_ASSIGN_OR_RETURN(charts::ChartCellRefs cells, charts::inventory_chart_parts(*bytes, record.sheet));
      if (cells) {
        refs.emplace();
        refs->reserve(cells->size());
        for (auto& [sheet, range] : *cells) {
          const model::CellRef corner{range.end.row, range.end.col, false, false};
          refs->push_back(RetainedCellRef{std::move(sheet), corner});
        }
      }
    }
    inventory.push_back(make_retained_group(std::move(record.part), std::move(refs), names));
  }
  return {};
}

}  // namespace

SheetNameCounts::SheetNameCounts(std::span<const model::SheetModel> sheets) {
  counts_.reserve(sheets.size());
  for (const model::SheetModel& sheet : sheets) ++counts_[opc::ascii_lowered(sheet.name)];
}

uint64_t SheetNameCounts::count(std::string_view name) const {
  const auto found = counts_.find(opc::ascii_lowered(name));
  return found == counts_.end() ? 0 : found->second;
}

RetainedCellRefs make_retained_group(std::string label, std::optional<std::vector<RetainedCellRef>> refs,
                                     const SheetNameCounts& sheets) {
  if (refs) {
    for (const RetainedCellRef& ref : *refs) {
      if (sheets.count(ref.sheet) != 1) {
        refs.reset();
        break;
      }
    }
  }
  return RetainedCellRefs{std::move(label), std::move(refs)};
}

RetainedCellRefs make_retained_group(std::string label, std::optional<std::vector<RetainedCellRef>> refs,
                                     std::span<const model::SheetModel> sheets) {
  return make_retained_group(std::move(label), std::move(refs), SheetNameCounts(sheets));
}

bool mentions_retained_content_type(const opc::PartIndex& parts) {
  const std::optional<std::string_view> bytes = parts.find(kContentTypesPart);
  if (!bytes) return false;
  auto decoded = xml::decode_part(*bytes);
  if (!decoded.has_value()) return false;
  auto tree = xml::parse_xml_tree(decoded->text, xml::STANDARD_ELEMENT_BUDGET);
  return tree.has_value() && mentions_in(tree->root);
}

Result<PackageInventory, SpreadsheetParseError> build_package_inventory(
    const opc::PartIndex& parts, const PartContentTypes& content_types,
    const std::vector<opc::ContentTypeEntry>& content_type_entries, std::span<const model::SheetModel> sheets,
    std::span<const std::string> sheet_part_names, std::span<const std::string> unreadable_drawings) {
  PackageInventory inventory;
  if (check_package_structure(parts, content_types, sheet_part_names)) {
    const SheetNameCounts names(sheets);
    inventory = pivot_reference_groups(parts, content_types, sheets, sheet_part_names, names);
    CMX_TRY(append_chart_groups(parts, content_type_entries, sheets, names, inventory));
  } else if (shows_retained_content(parts)) {
    inventory.reserve(parts.parts().size());
    for (const opc::PackagePart& part : parts.parts()) inventory.push_back(RetainedCellRefs{part.name, std::nullopt});
  }
  // A drawing named many times is looked up by label, not scanned for. The
  // views stay valid: the reserve keeps the labels where they are.
  inventory.reserve(inventory.size() + unreadable_drawings.size());
  absl::flat_hash_map<std::string_view, size_t> by_label;
  for (size_t group_idx = 0; group_idx < inventory.size(); ++group_idx) {
    by_label.emplace(inventory[group_idx].label, group_idx);
  }
  for (const std::string& name : unreadable_drawings) {
    const auto found = by_label.find(name);
    if (found != by_label.end()) {
      inventory[found->second].refs.reset();
      continue;
    }
    inventory.push_back(RetainedCellRefs{name, std::nullopt});
    by_label.emplace(inventory.back().label, inventory.size() - 1);
  }
  return inventory;
}

}  // namespace cmx::reader
