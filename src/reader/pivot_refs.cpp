#include "reader/pivot_refs.h"

#include <algorithm>

#include "charts/chart_refs.h"
#include "opc/part_names.h"
#include "reader/text_rules.h"
#include "xml/part_template.h"
#include "xml/streaming.h"
#include "xml/tree_queries.h"

namespace cmx::reader {
namespace {

using xml::XmlElement;
using xml::XmlNode;
using xml::XmlTreeAttribute;

using RefList = std::optional<std::vector<RetainedCellRef>>;

bool named(const XmlElement& element, std::string_view local) {
  return xml::element_local_name_is(element, xml::kSpreadsheetMainNamespaces, local);
}

// The first element child so named, when no later sibling is so named too.
const XmlElement* single_child(const XmlElement& parent, std::string_view local, bool& repeated) {
  const XmlElement* found = nullptr;
  repeated = false;
  for (const XmlNode& node : parent.children) {
    const XmlElement* child = node.element();
    if (child == nullptr || !named(*child, local)) continue;
    if (found != nullptr) {
      repeated = true;
      return nullptr;
    }
    found = child;
  }
  return found;
}

// The first SpreadsheetML attribute of this name; `repeated` when a later
// one is so named too.
const XmlTreeAttribute* single_attribute(const XmlElement& element, std::string_view local, bool& repeated) {
  const XmlTreeAttribute* found = nullptr;
  repeated = false;
  for (const XmlTreeAttribute& attr : element.attributes) {
    if (!xml::attribute_local_name_is(attr, xml::kSpreadsheetMainNamespaces, local)) continue;
    if (found != nullptr) {
      repeated = true;
      return nullptr;
    }
    found = &attr;
  }
  return found;
}

std::vector<const XmlElement*> element_children(const XmlElement& parent) {
  std::vector<const XmlElement*> out;
  for (const XmlNode& node : parent.children) {
    if (const XmlElement* child = node.element()) out.push_back(child);
  }
  return out;
}

RetainedCellRef corner_ref(std::pair<std::string, model::CellRef> source) {
  return RetainedCellRef{std::move(source.first), source.second};
}

RefList cache_source(const XmlElement& root) {
  bool repeated = false;
  const XmlElement* source = single_child(root, "cacheSource", repeated);
  if (source == nullptr) return std::nullopt;
  const std::vector<const XmlElement*> children = element_children(*source);
  if (children.size() != 1) return std::nullopt;
  const XmlElement& inner = *children.front();
  const XmlTreeAttribute* type_attr = single_attribute(*source, "type", repeated);
  if (repeated) return std::nullopt;
  const std::string_view type =
      type_attr == nullptr ? std::string_view("worksheet") : std::string_view(type_attr->value);
  if (type == "worksheet") {
    if (!named(inner, "worksheetSource")) return std::nullopt;
    auto range = xml::worksheet_source_range(inner.attributes);
    if (!range) return std::nullopt;
    return std::vector<RetainedCellRef>{corner_ref(std::move(*range))};
  }
  if (type != "consolidation" || !named(inner, "consolidation")) return std::nullopt;
  const std::vector<const XmlElement*> parts = element_children(inner);
  if (parts.empty()) return std::nullopt;
  const XmlElement* range_sets = nullptr;
  for (const XmlElement* child : parts) {
    if (named(*child, "pages")) continue;
    if (!named(*child, "rangeSets") || range_sets != nullptr) return std::nullopt;
    range_sets = child;
  }
  if (range_sets == nullptr) return std::nullopt;
  std::vector<RetainedCellRef> refs;
  for (const XmlElement* set : element_children(*range_sets)) {
    if (!named(*set, "rangeSet")) return std::nullopt;
    auto range = xml::worksheet_source_range(set->attributes);
    if (!range) return std::nullopt;
    refs.push_back(corner_ref(std::move(*range)));
  }
  if (refs.empty()) return std::nullopt;
  return refs;
}

RefList pivot_table_refs(std::string_view bytes, const std::vector<std::string>* hosts) {
  auto root = xml::parse_part_tree(bytes);
  if (!root.has_value() || contains_alternate_content(*root)) return std::nullopt;
  if (hosts == nullptr || hosts->empty()) return std::nullopt;
  bool repeated = false;
  const XmlElement* location = single_child(*root, "location", repeated);
  if (location == nullptr) return std::nullopt;
  const XmlTreeAttribute* ref = single_attribute(*location, "ref", repeated);
  if (ref == nullptr) return std::nullopt;
  const std::optional<model::CellRange> range = charts::parse_range_unanchored(ref->value);
  if (!range) return std::nullopt;
  const std::optional<uint32_t> row_pages = optional_u32_attribute(location->attributes, "rowPageCount");
  const std::optional<uint32_t> col_pages = optional_u32_attribute(location->attributes, "colPageCount");
  if (!row_pages || !col_pages) return std::nullopt;
  const uint64_t row = std::min<uint64_t>(uint64_t{range->end.row} + *row_pages, model::MAX_ROWS - 1);
  const uint64_t col = std::min<uint64_t>(uint64_t{range->end.col} + *col_pages, model::MAX_COLS - 1);
  const model::CellRef corner{static_cast<uint32_t>(row), static_cast<uint32_t>(col), false, false};
  std::vector<RetainedCellRef> refs;
  refs.reserve(hosts->size());
  for (const std::string& host : *hosts) refs.push_back(RetainedCellRef{host, corner});
  return refs;
}

}  // namespace

bool contains_alternate_content(const XmlElement& element) {
  if (xml::tree_local_name(element.name) == "AlternateContent") return true;
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child != nullptr && contains_alternate_content(*child)) return true;
  }
  return false;
}

std::optional<uint32_t> optional_u32_attribute(std::span<const XmlTreeAttribute> attributes, std::string_view name) {
  const XmlTreeAttribute* found = nullptr;
  for (const XmlTreeAttribute& attr : attributes) {
    if (!xml::attribute_local_name_is(attr, xml::kSpreadsheetMainNamespaces, name)) continue;
    if (found != nullptr) return std::nullopt;
    found = &attr;
  }
  if (found == nullptr) return 0;
  return xml::parse_u32_attribute(trim_white_space(found->value));
}

std::vector<RetainedCellRefs> pivot_reference_groups(const opc::PartIndex& parts, const PartContentTypes& content_types,
                                                     std::span<const model::SheetModel> sheets,
                                                     std::span<const std::string> sheet_part_names) {
  return pivot_reference_groups(parts, content_types, sheets, sheet_part_names, SheetNameCounts(sheets));
}

std::vector<RetainedCellRefs> pivot_reference_groups(const opc::PartIndex& parts, const PartContentTypes& content_types,
                                                     std::span<const model::SheetModel> sheets,
                                                     std::span<const std::string> sheet_part_names,
                                                     const SheetNameCounts& names) {
  struct PivotPart {
    const opc::PackagePart* part;
    std::optional<std::string> kind;
  };
  std::vector<PivotPart> pivots;
  const PivotPartTest is_pivot(content_types);
  for (const opc::PackagePart& part : parts.parts()) {
    if (is_pivot(part.name)) pivots.push_back(PivotPart{&part, xml::part_root_local_name(opc::part_bytes(part))});
  }
  if (pivots.empty()) return {};

  absl::flat_hash_map<std::string, std::vector<std::string>> hosts;
  const size_t host_count = std::min(sheet_part_names.size(), sheets.size());
  for (size_t sheet_idx = 0; sheet_idx < host_count; ++sheet_idx) {
    for (xml::Relationship& rel : xml::part_relationships(parts, sheet_part_names[sheet_idx])) {
      if (!is_office_relationship_type(rel.type, "pivotTable")) continue;
      hosts[std::move(rel.target)].push_back(sheets[sheet_idx].name);
    }
  }

  absl::flat_hash_map<std::string, RefList> definitions;
  // A records part claimed by two definitions belongs to neither.
  absl::flat_hash_map<std::string, std::optional<std::string>> records;
  for (const PivotPart& pivot : pivots) {
    if (pivot.kind != "pivotCacheDefinition") continue;
    const std::string key = opc::part_name_key(pivot.part->name);
    auto root = xml::parse_part_tree(opc::part_bytes(*pivot.part));
    const bool readable = root.has_value() && !contains_alternate_content(*root);
    definitions[key] = readable ? cache_source(*root) : std::nullopt;
    if (!readable) continue;
    const std::optional<std::string_view> id = xml::relationship_attribute(root->attributes, "id");
    if (!id) continue;
    for (xml::Relationship& rel : xml::part_relationships(parts, pivot.part->name)) {
      if (rel.id != *id || !is_office_relationship_type(rel.type, "pivotCacheRecords")) continue;
      auto [at, inserted] = records.try_emplace(std::move(rel.target), key);
      if (!inserted) at->second.reset();
      break;
    }
  }

  std::vector<RetainedCellRefs> groups;
  groups.reserve(pivots.size());
  for (const PivotPart& pivot : pivots) {
    const std::string key = opc::part_name_key(pivot.part->name);
    RefList refs;
    if (pivot.kind == "pivotCacheDefinition") {
      if (auto found = definitions.find(key); found != definitions.end()) refs = found->second;
    } else if (pivot.kind == "pivotCacheRecords") {
      if (auto owner = records.find(key); owner != records.end() && owner->second) {
        if (auto found = definitions.find(*owner->second); found != definitions.end()) refs = found->second;
      }
    } else if (pivot.kind == "pivotTableDefinition") {
      const auto found = hosts.find(key);
      refs = pivot_table_refs(opc::part_bytes(*pivot.part), found == hosts.end() ? nullptr : &found->second);
    }
    groups.push_back(make_retained_group(pivot.part->name, std::move(refs), names));
  }
  return groups;
}

}  // namespace cmx::reader
