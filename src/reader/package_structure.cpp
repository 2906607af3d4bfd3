#include "reader/package_structure.h"

#include <optional>

#include "absl/container/flat_hash_set.h"
#include "charts/drawing.h"
#include "opc/part_names.h"
#include "opc/relationships.h"
#include "reader/text_rules.h"
#include "xml/element_tree.h"
#include "xml/tree_queries.h"

namespace cmx::reader {
namespace {

using xml::XmlElement;
using xml::XmlNode;
using xml::XmlTreeAttribute;

constexpr std::string_view kContentTypesList[] = {kContentTypesNs};
constexpr std::string_view kRelationshipsList[] = {xml::kPackageRelationshipsNs};
constexpr std::string_view kOfficeRelationshipsList[] = {xml::kRelationshipsNs};

constexpr std::string_view kTransitionalRelationshipPrefix =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kStrictRelationshipPrefix = "http://purl.oclc.org/ooxml/officeDocument/relationships/";

std::string_view local_part(std::string_view name) { return xml::tree_local_name(name); }

bool has_element_children(const XmlElement& element) {
  for (const XmlNode& node : element.children) {
    if (node.element() != nullptr) return true;
  }
  return false;
}

// At most one attribute has this local part, and that one is named so in
// the list.
bool attribute_unique_in_namespaces(const XmlElement& element, xml::NamespaceList namespaces,
                                    std::string_view local) {
  const XmlTreeAttribute* found = nullptr;
  for (const XmlTreeAttribute& attr : element.attributes) {
    if (local_part(attr.name) != local) continue;
    if (found != nullptr) return false;
    found = &attr;
  }
  return found == nullptr || xml::attribute_local_name_is(*found, namespaces, local);
}

const XmlTreeAttribute* first_attribute(const XmlElement& element, std::string_view local) {
  for (const XmlTreeAttribute& attr : element.attributes) {
    if (local_part(attr.name) == local) return &attr;
  }
  return nullptr;
}

std::optional<XmlElement> parse_named(const opc::PartIndex& parts, std::string_view name) {
  const std::optional<std::string_view> bytes = parts.find(name);
  if (!bytes) return std::nullopt;
  auto root = xml::parse_part_tree(*bytes);
  if (!root.has_value()) return std::nullopt;
  return std::move(*root);
}

bool content_types_ok(const opc::PartIndex& parts) {
  const std::optional<XmlElement> root = parse_named(parts, kContentTypesPart);
  if (!root || !xml::element_local_name_is(*root, kContentTypesList, "Types")) return false;
  absl::flat_hash_set<std::string> override_keys;
  absl::flat_hash_set<std::string> extensions;
  for (const XmlNode& node : root->children) {
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    if (has_element_children(*child)) return false;
    for (std::string_view local : {"PartName", "ContentType", "Extension"}) {
      if (!attribute_unique_in_namespaces(*child, kContentTypesList, local)) return false;
    }
    const XmlTreeAttribute* type = first_attribute(*child, "ContentType");
    if (type == nullptr || trim_white_space(type->value).empty()) return false;
    if (xml::element_local_name_is(*child, kContentTypesList, "Override")) {
      const XmlTreeAttribute* part_name = first_attribute(*child, "PartName");
      if (part_name == nullptr || part_name->value.size() < 2 || part_name->value.front() != '/') return false;
      if (!override_keys.insert(opc::part_name_key(part_name->value)).second) return false;
    } else if (xml::element_local_name_is(*child, kContentTypesList, "Default")) {
      const XmlTreeAttribute* extension = first_attribute(*child, "Extension");
      if (extension == nullptr || extension->value.empty() || extension->value.find('/') != std::string::npos) {
        return false;
      }
      if (!extensions.insert(opc::ascii_lowered(extension->value)).second) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool relationship_ok(const XmlElement& rel, absl::flat_hash_set<std::string_view>& ids) {
  if (rel.namespace_uri.view() != xml::kPackageRelationshipsNs || local_part(rel.name) != "Relationship" ||
      has_element_children(rel)) {
    return false;
  }
  for (std::string_view local : {"Id", "Type", "Target", "TargetMode"}) {
    if (!attribute_unique_in_namespaces(rel, kRelationshipsList, local)) return false;
  }
  const XmlTreeAttribute* type = first_attribute(rel, "Type");
  if (type == nullptr || type->value.empty()) return false;
  const std::string_view word = opc::last_type_segment(type->value);
  if ((word == "drawing" || word == "chart" || word == "pivotTable" || word == "pivotCacheRecords") &&
      !is_office_relationship_type(type->value, word)) {
    return false;
  }
  const XmlTreeAttribute* target = first_attribute(rel, "Target");
  if (target == nullptr || target->value.empty()) return false;
  const XmlTreeAttribute* mode = first_attribute(rel, "TargetMode");
  if (mode != nullptr && mode->value != "Internal" && mode->value != "External") return false;
  const XmlTreeAttribute* id = first_attribute(rel, "Id");
  return id != nullptr && !id->value.empty() && ids.insert(id->value).second;
}

bool relationship_part_ok(const opc::PartIndex& parts, std::string_view source) {
  const std::string rels_name = opc::rels_part_name(source);
  if (!parts.find(rels_name)) return true;
  const std::optional<XmlElement> root = parse_named(parts, rels_name);
  if (!root || root->namespace_uri.view() != xml::kPackageRelationshipsNs ||
      local_part(root->name) != "Relationships") {
    return false;
  }
  absl::flat_hash_set<std::string_view> ids;
  for (const XmlNode& node : root->children) {
    const XmlElement* child = node.element();
    if (child != nullptr && !relationship_ok(*child, ids)) return false;
  }
  return true;
}

bool drawing_ok(const opc::PartIndex& parts, std::string_view key) {
  if (!parts.find(key)) return true;
  const std::optional<XmlElement> root = parse_named(parts, key);
  if (!root || !xml::tree_names_wellformed(*root)) return false;
  if (local_part(root->name) != "wsDr" || root->namespace_uri.view() != xml::kSpreadsheetDrawingNs) return true;
  for (const XmlNode& node : root->children) {
    const XmlElement* child = node.element();
    if (child != nullptr && charts::is_drawing_anchor_element(*child) &&
        charts::count_chart_relationship_ids(*child, 0) > 1) {
      return false;
    }
  }
  return true;
}

uint64_t count_named_sheet(const XmlElement& element) {
  uint64_t count = local_part(element.name) == "sheet" ? 1 : 0;
  for (const XmlNode& node : element.children) {
    if (const XmlElement* child = node.element()) count += count_named_sheet(*child);
  }
  return count;
}

bool workbook_ok(const opc::PartIndex& parts) {
  const std::optional<XmlElement> root = parse_named(parts, "xl/workbook.xml");
  if (!root) return false;
  const XmlElement* sheets = nullptr;
  for (const XmlNode& node : root->children) {
    const XmlElement* child = node.element();
    if (child == nullptr || !xml::element_local_name_is(*child, xml::kSpreadsheetMainNamespaces, "sheets")) continue;
    if (sheets != nullptr) return false;
    sheets = child;
  }
  if (sheets == nullptr) return false;
  uint64_t entries = 0;
  for (const XmlNode& node : sheets->children) {
    const XmlElement* sheet = node.element();
    if (sheet == nullptr || local_part(sheet->name) != "sheet") continue;
    ++entries;
    if (!xml::element_local_name_is(*sheet, xml::kSpreadsheetMainNamespaces, "sheet")) return false;
    const XmlTreeAttribute* id = nullptr;
    for (const XmlTreeAttribute& attr : sheet->attributes) {
      if (local_part(attr.name) != "id") continue;
      if (id != nullptr) return false;
      id = &attr;
    }
    if (id == nullptr || !xml::attribute_local_name_is(*id, kOfficeRelationshipsList, "id")) return false;
    if (!attribute_unique_in_namespaces(*sheet, xml::kSpreadsheetMainNamespaces, "name") ||
        !attribute_unique_in_namespaces(*sheet, xml::kSpreadsheetMainNamespaces, "sheetId")) {
      return false;
    }
  }
  return count_named_sheet(*root) == entries;
}

}  // namespace

bool is_office_relationship_type(std::string_view type, std::string_view name) {
  for (std::string_view prefix : {kTransitionalRelationshipPrefix, kStrictRelationshipPrefix}) {
    if (type.size() == prefix.size() + name.size() && type.starts_with(prefix) && type.ends_with(name)) return true;
  }
  return false;
}

PivotPartTest::PivotPartTest(const PartContentTypes& content_types) {
  for (const auto& [key, type] : content_types) {
    if (opc::ascii_iequal(type, kPivotTableContentType) || opc::ascii_iequal(type, kPivotCacheDefinitionContentType) ||
        opc::ascii_iequal(type, kPivotCacheRecordsContentType)) {
      typed_keys_.insert(key);
    }
  }
}

bool PivotPartTest::operator()(std::string_view name) const {
  const std::string key = opc::part_name_key(name);
  if (key.find("/_rels/") == std::string::npos &&
      (key.starts_with("xl/pivottables/") || key.starts_with("xl/pivotcache/"))) {
    return true;
  }
  return typed_keys_.contains(key);
}

bool is_pivot_part(std::string_view name, const PartContentTypes& content_types) {
  return PivotPartTest(content_types)(name);
}

std::vector<std::string> sheet_drawing_parts(const opc::PartIndex& parts,
                                             std::span<const std::string> sheet_part_names) {
  std::vector<std::string> keys;
  for (const std::string& sheet : sheet_part_names) {
    for (xml::Relationship& rel : xml::part_relationships(parts, sheet)) {
      if (is_office_relationship_type(rel.type, "drawing")) keys.push_back(std::move(rel.target));
    }
  }
  return keys;
}

bool check_package_structure(const opc::PartIndex& parts, const PartContentTypes& content_types,
                             std::span<const std::string> sheet_part_names) {
  if (!content_types_ok(parts)) return false;
  const std::vector<std::string> drawings = sheet_drawing_parts(parts, sheet_part_names);
  std::vector<std::string_view> scan{"xl/workbook.xml"};
  for (const std::string& name : sheet_part_names) scan.push_back(name);
  for (const std::string& key : drawings) scan.push_back(key);
  const PivotPartTest is_pivot(content_types);
  for (const opc::PackagePart& part : parts.parts()) {
    if (is_pivot(part.name)) scan.push_back(part.name);
  }
  // A part named many times gives the same answer each time: check it once.
  absl::flat_hash_set<std::string_view> checked;
  for (std::string_view name : scan) {
    if (checked.insert(name).second && !relationship_part_ok(parts, name)) return false;
  }
  checked.clear();
  for (const std::string& key : drawings) {
    if (checked.insert(key).second && !drawing_ok(parts, key)) return false;
  }
  return workbook_ok(parts);
}

}  // namespace cmx::reader
