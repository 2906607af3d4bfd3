// Queries over element trees (element_tree.h). Three readings of a
// qualified name meet here, and each query states which it uses: the local
// part (after the LAST ":"), the well-formed split (prefix and local name
// around a single ":"), and the exact name. Streamed reads use yet another,
// the text after the FIRST ":" (pull_reader.h's local_name).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/address.h"
#include "opc/attribute_pair.h"
#include "opc/package_archive.h"
#include "xml/element_tree.h"

namespace cmx::xml {

inline constexpr std::string_view kSpreadsheetMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kSpreadsheetMainStrictNs = "http://purl.oclc.org/ooxml/spreadsheetml/main";
// The SpreadsheetML main namespace, transitional then strict: the list every
// SpreadsheetML name lookup passes.
inline constexpr std::string_view kSpreadsheetMainNamespaces[] = {kSpreadsheetMainNs, kSpreadsheetMainStrictNs};
inline constexpr std::string_view kRelationshipsNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRelationshipsNs =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kContentTypesNs = "http://schemas.openxmlformats.org/package/2006/content-types";
inline constexpr std::string_view kSpreadsheetDrawingNs =
    "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
inline constexpr std::string_view kChartNs = "http://schemas.openxmlformats.org/drawingml/2006/chart";
inline constexpr std::string_view kChartExNs = "http://schemas.microsoft.com/office/drawing/2014/chartex";
inline constexpr std::string_view kDiagramNs = "http://schemas.openxmlformats.org/drawingml/2006/diagram";

using NamespaceList = std::span<const std::string_view>;

// How a name stands towards namespaces; derived, never stored.
enum class NamespaceStateKind : uint8_t {
  Bound,              // `uri` holds the namespace
  Unbound,            // no namespace (and, for an element, no empty default declaration)
  DefaultUndeclared,  // an element without namespace under xmlns=""
};
struct NamespaceState {
  NamespaceStateKind kind = NamespaceStateKind::Unbound;
  std::string_view uri;
};
NamespaceState element_namespace_state(const XmlElement& element);
NamespaceState attribute_namespace_state(const XmlTreeAttribute& attribute);

enum class DrawingObjectKind : uint8_t {
  Chart = 0,
  Picture = 1,
  Shape = 2,
  Group = 3,
  Connector = 4,
  Diagram = 5,
  GraphicFrame = 6,
  ContentPart = 7,
  NotDrawing = 8,
};

// The local part: after the last ":", the whole name without one, empty
// when the name ends with ":". ("local_name" in pull_reader.h cuts at the
// first ":" instead.)
inline std::string_view tree_local_name(std::string_view name) { return opc::attribute_local_name(name); }

// The well-formed split of the name, then: a Bound name's local name when
// its URI is in the list; an Unbound one's when it has no prefix and a
// namespace is not required; none otherwise.
std::optional<std::string_view> local_name_in_namespaces(std::string_view name, NamespaceState state,
                                                         NamespaceList namespaces, bool require_namespace);
bool element_local_name_is(const XmlElement& element, NamespaceList namespaces, std::string_view local);
bool attribute_local_name_is(const XmlTreeAttribute& attribute, NamespaceList namespaces, std::string_view local);
// Local part equal and namespace exactly the URI.
bool element_is(const XmlElement& element, std::string_view namespace_uri, std::string_view local);

// The first element child whose local part is the name; namespaces ignored.
const XmlElement* find_child_element(std::span<const XmlNode> children, std::string_view local);
// Pre-order search down to level 64 (the given nodes are level 0).
const XmlElement* find_descendant_element(std::span<const XmlNode> children, std::string_view local);
// The first element inside the first Choice or Fallback branch that holds one.
const XmlElement* alternate_content_first_branch(std::span<const XmlNode> children);

// By local part, whatever the prefix or namespace.
std::optional<std::string_view> attribute_by_local_name(std::span<const XmlTreeAttribute> attributes,
                                                        std::string_view local);
size_t count_attributes_by_local_name(std::span<const XmlTreeAttribute> attributes, std::string_view local);
// By exact name: "prefix:name" first when a prefix is given, then the bare name.
std::optional<std::string_view> tree_attribute_value(std::span<const XmlTreeAttribute> attributes,
                                                     std::optional<std::string_view> prefix, std::string_view name);
// An attribute in the transitional officeDocument relationships namespace
// with this local name ("r:id" for "id"); unprefixed names never match.
std::optional<std::string_view> relationship_attribute(std::span<const XmlTreeAttribute> attributes,
                                                       std::string_view local);

// Appends every text node below the element in document order.
void collect_tree_text(const XmlElement& element, std::string& out);
// Every element and attribute name below (and of) the element has the
// well-formed split.
bool tree_names_wellformed(const XmlElement& element);

DrawingObjectKind classify_drawing_object(const XmlElement& element);

// A pivot cache's worksheet source: the sheet name and the bottom-right
// corner of its range (absolute flags false); none for a named or external
// source, a missing or repeated sheet or ref, or a range that does not parse.
std::optional<std::pair<std::string, model::CellRef>> worksheet_source_range(
    std::span<const XmlTreeAttribute> attributes);

// One internal relationship of a part, as written.
struct Relationship {
  std::string id;
  std::string type;    // empty when the attribute is absent
  std::string target;  // as written, or resolved by part_relationships
  friend bool operator==(const Relationship&, const Relationship&) = default;
};

// The Relationship children of a relationship part's root (local part
// "Relationship", in the package-relationships namespace or none), skipping
// external ones and those without Id or Target.
std::vector<Relationship> collect_internal_relationships(std::span<const XmlNode> children);

// The internal relationships of a part, targets resolved against the part's
// folder, leading "/" dropped and ASCII lower-cased; empty when the
// relationship part is missing or unreadable.
std::vector<Relationship> part_relationships(std::span<const opc::PackagePart> parts, std::string_view part_name);
std::vector<Relationship> part_relationships(const opc::PartIndex& parts, std::string_view part_name);

}  // namespace cmx::xml
