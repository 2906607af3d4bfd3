// PartTemplate: a part split at its root's top-level children, so that a
// save can replace, drop or insert children and leave every other byte as it
// was. Joined in order, the pieces are the part's bytes. Renderers that put
// a template back together with changes: template_render.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "xml/namespaces.h"
#include "xml/parse_error.h"

namespace cmx::xml {

struct NamespaceDeclaration {
  std::optional<std::string> prefix;  // absent for "xmlns"; empty for a bare "xmlns:"
  std::string uri;                    // references replaced
  friend bool operator==(const NamespaceDeclaration&, const NamespaceDeclaration&) = default;
};

// Where a child's text sits in the part's bytes, for a template that left
// it there.
struct PartTextSpan {
  uint64_t offset = 0;
  uint64_t size = 0;
  friend bool operator==(const PartTextSpan&, const PartTextSpan&) = default;
};

struct PartTemplateChild {
  std::string leading;  // bytes since the previous child or the root's start tag
  // The local name: after the FIRST ":" (ill-formed UTF-8 as U+FFFD). The
  // root's prefix is cut at the last ":"; they agree for names with one ":".
  std::string name;
  std::string text;                      // the whole element as written
  std::optional<std::string> namespace_;  // namespace_text of the child's name
  // Set when `text` was left in the part (empty here): such a template only
  // answers questions about the other children and cannot be rendered.
  std::optional<PartTextSpan> left_in_part;
  friend bool operator==(const PartTemplateChild&, const PartTemplateChild&) = default;
};

struct PartTemplate {
  // Up to and including the root's start tag; an empty-element root is
  // rewritten here as a start tag ("<" content ">").
  std::string head;
  std::vector<PartTemplateChild> children;
  std::string trailing;  // after the last child, up to the root's end tag
  // The root's end tag and everything after it, unread; for an empty-element
  // root "</name>" and the bytes after the tag.
  std::string tail;
  std::string root_name;                 // qualified, as written
  std::optional<std::string> root_prefix;  // before the last ":" of root_name
  std::optional<std::string> root_namespace;
  std::vector<NamespaceDeclaration> declarations;  // on the root's start tag, in order
  friend bool operator==(const PartTemplate&, const PartTemplate&) = default;
};

// The text form of a resolved namespace that templates store and compare:
// none for no namespace, the URI when bound, U+0000 then the prefix for an
// unbound prefix (never equal to a real URI; equal for equal prefixes).
// Ill-formed UTF-8 becomes U+FFFD.
std::optional<std::string> namespace_text(const ResolvedNamespace& resolved);

// A child's text for rendering; a template that left it in its part has
// none to give, and rendering one is a fault of the caller.
inline const std::string& rendered_text(const PartTemplateChild& child) {
  if (child.left_in_part) fail_invariant("a template that left a child in its part was rendered");
  return child.text;
}

// The pieces joined in order.
std::string join_part_template(const PartTemplate& part_template);

// Splits a part (or one child's text) read as UTF-8, stopping at the root's
// end tag. Errors: Xml (the reader's refusals, bad namespace bindings),
// DepthExceeded (a start tag opening a 65th level; empty-element tags open
// none), Malformed "xml part has no root", "xml root is not closed",
// "overlapping xml child spans", "xml part has no root name".
// With `leave_in_part`, the children of that local name keep only where
// their text sits (a worksheet's cells, which only a save needs and which a
// save reads again). `read_content` is the content of one child that a
// stricter reader has read whole (well-formed, no deeper, no namespace
// declarations): its bytes are stepped over, and the result is the same.
Result<PartTemplate, SpreadsheetParseError> read_part_template(std::string_view bytes,
                                                               std::string_view leave_in_part = {},
                                                               std::optional<PartTextSpan> read_content = {});

// A part's bytes with one span cut out: `text` is the whole part without the
// `cut_size` bytes that stood at offset `cut_at`.
struct CutPart {
  std::string_view text;
  uint64_t cut_at = 0;
  uint64_t cut_size = 0;
};

// read_part_template of the whole part, whose cut is the content of the
// child `read_content` would name; none when the cut lies elsewhere or the
// whole part might answer differently, so that it must be read whole.
std::optional<Result<PartTemplate, SpreadsheetParseError>> read_cut_part_template(const CutPart& part,
                                                                                  std::string_view leave_in_part);

// The local name of a part's root when it is a start tag in a SpreadsheetML
// main namespace (or in none); none on any failure, for an empty-element
// root, non-blank text outside the root or a second root.
std::optional<std::string> part_root_local_name(std::string_view bytes);

}  // namespace cmx::xml
