// XmlTree: a whole decoded part held in memory as elements, attributes with
// their namespaces and merged text, under an element budget, a text budget
// and a depth cap. Each element keeps the byte span of its content in the
// decoded text, which span rewrites patch. Queries: tree_queries.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "base/shared_string.h"
#include "xml/parse_error.h"

namespace cmx::xml {

// The most elements open at once; the root counts as one.
inline constexpr size_t MAX_XML_DEPTH = 64;
// The element budget of every caller but the structured export.
inline constexpr uint64_t STANDARD_ELEMENT_BUDGET = 1000000;

struct XmlNode;

// One attribute of a tree element. (The pull reader's XmlAttribute is the
// borrowed, unresolved form of the same thing.)
struct XmlTreeAttribute {
  std::string name;            // qualified, as written
  std::string value;           // references replaced, nothing else changed
  SharedString namespace_uri;  // empty: no namespace (unprefixed, unbound or bound to "")

  bool has_namespace() const { return !namespace_uri.empty(); }
  friend bool operator==(const XmlTreeAttribute&, const XmlTreeAttribute&) = default;
};

struct XmlElement {
  std::string name;  // qualified, as written
  std::vector<XmlTreeAttribute> attributes;  // declarations included, document order
  std::vector<XmlNode> children;
  // The URI the element's prefix (or the default) resolves to; empty when it
  // is in no namespace. A binding to "" counts as none, so a present URI is
  // never empty. One shared text per declaration.
  SharedString namespace_uri;
  uint64_t content_start = 0;  // the byte after the start tag
  uint64_t content_end = 0;    // the "<" of the end tag; content_start for <a/>
  bool default_namespace_undeclared = false;
  bool self_closing = false;

  bool has_namespace() const { return !namespace_uri.empty(); }
  friend bool operator==(const XmlElement&, const XmlElement&);
};

// An element or a run of text; two text nodes are never adjacent.
struct XmlNode {
  std::variant<XmlElement, std::string> value;

  bool is_element() const { return value.index() == 0; }
  const XmlElement* element() const { return std::get_if<0>(&value); }
  const std::string* text() const { return std::get_if<1>(&value); }
  friend bool operator==(const XmlNode&, const XmlNode&) = default;
};

inline bool operator==(const XmlElement& a, const XmlElement& b) {
  return a.name == b.name && a.attributes == b.attributes && a.children == b.children &&
         a.namespace_uri == b.namespace_uri && a.content_start == b.content_start &&
         a.content_end == b.content_end && a.default_namespace_undeclared == b.default_namespace_undeclared &&
         a.self_closing == b.self_closing;
}

struct XmlTree {
  XmlElement root;
  uint64_t elements_used = 0;  // elements plus attributes charged
};

// Builds the tree of a decoded part. Every element and every attribute
// (declarations included) costs one unit of `element_budget`; text inside
// the root counts against MAX_PART_BYTES; text outside it is dropped free.
// Errors: Xml (the reader's refusals: syntax, mismatched end tags, bad or
// repeated attributes), DepthExceeded (a 65th open element, checked before
// the element is charged), TreeTooLarge (either budget), Malformed
// "unclosed element", "unbalanced end tag", "doctype is not accepted",
// "no root element", "more than one root element", "unresolvable entity
// &name;" (any reference in text but the five entities and character
// references to a scalar other than U+0000).
Result<XmlTree, SpreadsheetParseError> parse_xml_tree(std::string_view text, uint64_t element_budget);

// decode_part, then parse_xml_tree with STANDARD_ELEMENT_BUDGET.
Result<XmlElement, SpreadsheetParseError> parse_part_tree(std::string_view bytes);

// The structured export's running account, shared by all parts of one export.
struct ExportParseBudget {
  uint64_t elements_remaining = 0;
  uint64_t bytes_remaining = 0;
};

enum class BudgetOutcome : uint8_t {
  Parsed,      // `root` holds the tree
  Skipped,     // a budget was exhausted; the part was not read
  Unreadable,  // the part cannot be decoded or parsed
};

struct BudgetedParse {
  BudgetOutcome outcome = BudgetOutcome::Unreadable;
  std::optional<XmlElement> root;
};

// A part larger than the bytes left is skipped without charge; otherwise its
// bytes are charged and it is parsed with the lesser of the elements left and
// STANDARD_ELEMENT_BUDGET. A parse over a size or depth limit is skipped and
// charges the whole allowance; any other failure is unreadable and charges
// the bytes only.
BudgetedParse parse_part_within_budget(ExportParseBudget& budget, std::string_view bytes);

}  // namespace cmx::xml
