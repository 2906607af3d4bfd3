// Putting a PartTemplate (part_template.h) back together with changes: the
// root's attributes set and the children of one name replaced, or edits by
// local name applied in the part's schema order. Only the root start tag,
// the new texts and top-level mc:AlternateContent children are parsed; every
// other byte is copied.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "xml/parse_error.h"
#include "xml/part_template.h"

namespace cmx::xml {

// One change by local name: the complete new element, or none to delete.
struct TemplateEdit {
  std::string name;
  std::optional<std::string> replacement;
};

// An element's place in the part's schema order; kNoPosition for a name the
// part's order does not know, which sorts after every known one.
using ElementOrder = std::function<uint64_t(std::string_view local_name)>;
inline constexpr uint64_t kNoPosition = std::numeric_limits<uint64_t>::max();

// (qualified name, plain value) pairs set on the root start tag.
using RootAttributes = std::span<const std::pair<std::string, std::string>>;

// Sets the root attributes (a plain name replaces the first attribute with
// that local name, a prefixed one the attribute with exactly that name, else
// it is appended) and puts `new_children` in the places of the top-level
// children named `local_name` in the root namespace: surplus ones after the
// last of them, missing ones dropped; with no such child, before the first
// child (or before the end tag when there are none). Errors: Malformed "xml
// template root start is missing", Xml when the head does not read.
Result<std::string, SpreadsheetParseError> replace_template_children(const PartTemplate& part_template,
                                                                     std::string_view local_name,
                                                                     std::span<const std::string> new_children,
                                                                     RootAttributes root_attributes);

// Applies the edits (the last one per name wins): a top-level element of the
// root namespace is replaced or dropped in place (later duplicates dropped),
// a missing one is inserted before the first child with a larger position,
// or after the last positioned child. Errors: UnsupportedEdit "{name} lives
// inside an mc:AlternateContent branch" (checked for every child before
// anything is written), DepthExceeded, Xml; and those of
// adapt_fragment_namespace for the replacement texts.
Result<std::string, SpreadsheetParseError> apply_template_edits(const PartTemplate& part_template,
                                                                std::span<const TemplateEdit> edits,
                                                                const ElementOrder& order);

// Fits an element text written without prefixes to the part: unchanged when
// the root has no prefix; with a prefix bound to a URI, every top-level
// element gets xmlns="URI" (unless it declares a default itself); with an
// unbound prefix, every unprefixed tag name gets the root's prefix. Xml when
// the text does not read or leaves an element open.
Result<std::string, SpreadsheetParseError> adapt_fragment_namespace(const PartTemplate& part_template,
                                                                    std::string_view element_text);

}  // namespace cmx::xml
