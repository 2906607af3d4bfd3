#include "xml/tree_queries.h"

#include <algorithm>

#include "opc/part_names.h"
#include "opc/relationships.h"

namespace cmx::xml {

namespace {

// The well-formed split: (prefix, local) with both non-empty around a single
// ":", or ("", name) for a non-empty name without ":".
std::optional<std::pair<std::string_view, std::string_view>> wellformed_split(std::string_view name) {
  const size_t colon = name.find(':');
  if (colon == std::string_view::npos) {
    if (name.empty()) return std::nullopt;
    return std::make_pair(std::string_view(), name);
  }
  const std::string_view prefix = name.substr(0, colon);
  const std::string_view local = name.substr(colon + 1);
  if (prefix.empty() || local.empty() || local.find(':') != std::string_view::npos) return std::nullopt;
  return std::make_pair(prefix, local);
}

const XmlElement* find_below(std::span<const XmlNode> nodes, std::string_view local, int level) {
  if (level > static_cast<int>(MAX_XML_DEPTH)) return nullptr;
  for (const XmlNode& node : nodes) {
    const XmlElement* element = node.element();
    if (element == nullptr) continue;
    if (tree_local_name(element->name) == local) return element;
    if (const XmlElement* found = find_below(element->children, local, level + 1)) return found;
  }
  return nullptr;
}

std::optional<model::CellRange> parse_range_unanchored(std::string_view text) {
  const size_t colon = text.find(':');
  const std::string_view first = colon == std::string_view::npos ? text : text.substr(0, colon);
  const std::string_view second = colon == std::string_view::npos ? text : text.substr(colon + 1);
  auto a = model::parse_cell_ref(first);
  auto b = model::parse_cell_ref(second);
  if (!a.has_value() || !b.has_value()) return std::nullopt;
  model::CellRange range;
  range.start.row = std::min(a->row, b->row);
  range.start.col = std::min(a->col, b->col);
  range.end.row = std::max(a->row, b->row);
  range.end.col = std::max(a->col, b->col);
  return range;
}

bool ascii_iequal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; };
           return lower(x) == lower(y);
         });
}

}  // namespace

NamespaceState element_namespace_state(const XmlElement& element) {
  if (element.has_namespace()) return {NamespaceStateKind::Bound, element.namespace_uri.view()};
  if (element.default_namespace_undeclared) return {NamespaceStateKind::DefaultUndeclared, {}};
  return {NamespaceStateKind::Unbound, {}};
}

NamespaceState attribute_namespace_state(const XmlTreeAttribute& attribute) {
  if (attribute.has_namespace()) return {NamespaceStateKind::Bound, attribute.namespace_uri.view()};
  return {NamespaceStateKind::Unbound, {}};
}

std::optional<std::string_view> local_name_in_namespaces(std::string_view name, NamespaceState state,
                                                         NamespaceList namespaces, bool require_namespace) {
  const auto split = wellformed_split(name);
  if (!split.has_value()) return std::nullopt;
  switch (state.kind) {
    case NamespaceStateKind::Bound:
      if (std::find(namespaces.begin(), namespaces.end(), state.uri) != namespaces.end()) return split->second;
      return std::nullopt;
    case NamespaceStateKind::Unbound:
      if (split->first.empty() && !require_namespace) return split->second;
      return std::nullopt;
    case NamespaceStateKind::DefaultUndeclared:
      return std::nullopt;
  }
  return std::nullopt;
}

bool element_local_name_is(const XmlElement& element, NamespaceList namespaces, std::string_view local) {
  return local_name_in_namespaces(element.name, element_namespace_state(element), namespaces, false) == local;
}

bool attribute_local_name_is(const XmlTreeAttribute& attribute, NamespaceList namespaces, std::string_view local) {
  return local_name_in_namespaces(attribute.name, attribute_namespace_state(attribute), namespaces, false) == local;
}

bool element_is(const XmlElement& element, std::string_view namespace_uri, std::string_view local) {
  return tree_local_name(element.name) == local && element.has_namespace() && element.namespace_uri == namespace_uri;
}

const XmlElement* find_child_element(std::span<const XmlNode> children, std::string_view local) {
  for (const XmlNode& node : children) {
    const XmlElement* element = node.element();
    if (element != nullptr && tree_local_name(element->name) == local) return element;
  }
  return nullptr;
}

const XmlElement* find_descendant_element(std::span<const XmlNode> children, std::string_view local) {
  return find_below(children, local, 0);
}

const XmlElement* alternate_content_first_branch(std::span<const XmlNode> children) {
  for (const XmlNode& node : children) {
    const XmlElement* branch = node.element();
    if (branch == nullptr) continue;
    const std::string_view local = tree_local_name(branch->name);
    if (local != "Choice" && local != "Fallback") continue;
    for (const XmlNode& inner : branch->children) {
      if (const XmlElement* first = inner.element()) return first;
    }
  }
  return nullptr;
}

std::optional<std::string_view> attribute_by_local_name(std::span<const XmlTreeAttribute> attributes,
                                                        std::string_view local) {
  for (const XmlTreeAttribute& attribute : attributes) {
    if (tree_local_name(attribute.name) == local) return attribute.value;
  }
  return std::nullopt;
}

size_t count_attributes_by_local_name(std::span<const XmlTreeAttribute> attributes, std::string_view local) {
  return static_cast<size_t>(std::count_if(attributes.begin(), attributes.end(), [&](const XmlTreeAttribute& a) {
    return tree_local_name(a.name) == local;
  }));
}

std::optional<std::string_view> tree_attribute_value(std::span<const XmlTreeAttribute> attributes,
                                                     std::optional<std::string_view> prefix, std::string_view name) {
  if (prefix.has_value()) {
    for (const XmlTreeAttribute& attribute : attributes) {
      const std::string_view written = attribute.name;
      if (written.size() == prefix->size() + 1 + name.size() && written.starts_with(*prefix) &&
          written[prefix->size()] == ':' && written.ends_with(name)) {
        return attribute.value;
      }
    }
  }
  for (const XmlTreeAttribute& attribute : attributes) {
    if (attribute.name == name) return attribute.value;
  }
  return std::nullopt;
}

std::optional<std::string_view> relationship_attribute(std::span<const XmlTreeAttribute> attributes,
                                                       std::string_view local) {
  static constexpr std::string_view kRelationships[] = {kRelationshipsNs};
  for (const XmlTreeAttribute& attribute : attributes) {
    if (local_name_in_namespaces(attribute.name, attribute_namespace_state(attribute), kRelationships, true) ==
        local) {
      return attribute.value;
    }
  }
  return std::nullopt;
}

void collect_tree_text(const XmlElement& element, std::string& out) {
  for (const XmlNode& node : element.children) {
    if (const std::string* text = node.text()) {
      out.append(*text);
    } else {
      collect_tree_text(*node.element(), out);
    }
  }
}

bool tree_names_wellformed(const XmlElement& element) {
  if (!wellformed_split(element.name).has_value()) return false;
  for (const XmlTreeAttribute& attribute : element.attributes) {
    if (!wellformed_split(attribute.name).has_value()) return false;
  }
  for (const XmlNode& node : element.children) {
    const XmlElement* child = node.element();
    if (child != nullptr && !tree_names_wellformed(*child)) return false;
  }
  return true;
}

DrawingObjectKind classify_drawing_object(const XmlElement& element) {
  if (!element.has_namespace() || element.namespace_uri != kSpreadsheetDrawingNs) return DrawingObjectKind::NotDrawing;
  const std::string_view local = tree_local_name(element.name);
  if (local == "sp") return DrawingObjectKind::Shape;
  if (local == "pic") return DrawingObjectKind::Picture;
  if (local == "grpSp") return DrawingObjectKind::Group;
  if (local == "cxnSp") return DrawingObjectKind::Connector;
  if (local == "contentPart") return DrawingObjectKind::ContentPart;
  if (local != "graphicFrame") return DrawingObjectKind::NotDrawing;
  const XmlElement* data = find_descendant_element(element.children, "graphicData");
  if (data == nullptr) return DrawingObjectKind::GraphicFrame;
  const std::optional<std::string_view> uri = attribute_by_local_name(data->attributes, "uri");
  if (uri == kChartNs || uri == kChartExNs) return DrawingObjectKind::Chart;
  if (uri == kDiagramNs) return DrawingObjectKind::Diagram;
  return DrawingObjectKind::GraphicFrame;
}

std::optional<std::pair<std::string, model::CellRef>> worksheet_source_range(
    std::span<const XmlTreeAttribute> attributes) {
  for (const XmlTreeAttribute& attribute : attributes) {
    const std::string_view local = tree_local_name(attribute.name);
    if (local == "name" || local == "id") return std::nullopt;
  }
  // The one attribute that answers to `local`; none when absent or repeated.
  auto unique = [&](std::string_view local) -> const XmlTreeAttribute* {
    const XmlTreeAttribute* found = nullptr;
    for (const XmlTreeAttribute& attribute : attributes) {
      if (!attribute_local_name_is(attribute, kSpreadsheetMainNamespaces, local)) continue;
      if (found != nullptr) return nullptr;
      found = &attribute;
    }
    return found;
  };
  const XmlTreeAttribute* sheet = unique("sheet");
  if (sheet == nullptr) return std::nullopt;
  const XmlTreeAttribute* ref = unique("ref");
  if (ref == nullptr) return std::nullopt;
  const std::optional<model::CellRange> range = parse_range_unanchored(ref->value);
  if (!range.has_value()) return std::nullopt;
  return std::make_pair(sheet->value, model::CellRef{range->end.row, range->end.col, false, false});
}

std::vector<Relationship> collect_internal_relationships(std::span<const XmlNode> children) {
  std::vector<Relationship> out;
  for (const XmlNode& node : children) {
    const XmlElement* element = node.element();
    if (element == nullptr || tree_local_name(element->name) != "Relationship") continue;
    if (element->has_namespace() && element->namespace_uri != kPackageRelationshipsNs) continue;
    const std::optional<std::string_view> mode = attribute_by_local_name(element->attributes, "TargetMode");
    if (mode.has_value() && ascii_iequal(*mode, "External")) continue;
    const std::optional<std::string_view> id = attribute_by_local_name(element->attributes, "Id");
    if (!id.has_value()) continue;
    const std::optional<std::string_view> type = attribute_by_local_name(element->attributes, "Type");
    const std::optional<std::string_view> target = attribute_by_local_name(element->attributes, "Target");
    if (!target.has_value()) continue;
    out.push_back(Relationship{std::string(*id), std::string(type.value_or("")), std::string(*target)});
  }
  return out;
}

namespace {

std::vector<Relationship> resolved_relationships(std::optional<std::string_view> bytes, std::string_view part_name) {
  const size_t slash = part_name.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : part_name.substr(0, slash);
  if (!bytes.has_value()) return {};
  auto root = parse_part_tree(*bytes);
  if (!root.has_value()) return {};
  std::vector<Relationship> relationships = collect_internal_relationships(root->children);
  for (Relationship& relationship : relationships) {
    std::string resolved = opc::resolve_relationship_target(folder, relationship.target);
    const size_t first_kept = resolved.find_first_not_of('/');
    resolved.erase(0, first_kept == std::string::npos ? resolved.size() : first_kept);
    for (char& ch : resolved) {
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    relationship.target = std::move(resolved);
  }
  return relationships;
}

}  // namespace

std::vector<Relationship> part_relationships(std::span<const opc::PackagePart> parts, std::string_view part_name) {
  return resolved_relationships(opc::find_package_part(parts, opc::rels_part_name(part_name)), part_name);
}

std::vector<Relationship> part_relationships(const opc::PartIndex& parts, std::string_view part_name) {
  return resolved_relationships(parts.find(opc::rels_part_name(part_name)), part_name);
}

}  // namespace cmx::xml
