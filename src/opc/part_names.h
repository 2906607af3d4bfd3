// Part names, content types and the attribute lists of relationship and
// content-type start tags: the matching rules the reader and writer share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "opc/attribute_pair.h"

namespace cmx::opc {

// One element of "[Content_Types].xml": kind is its local name ("Default" or
// "Override"), attributes as written.
struct ContentTypeEntry {
  std::string kind;
  AttributeList attributes;
  friend bool operator==(const ContentTypeEntry&, const ContentTypeEntry&) = default;
};

// Same length and the same bytes, ASCII letters compared without case.
bool ascii_iequal(std::string_view a, std::string_view b);

// ASCII capitals lowered; other bytes kept.
std::string ascii_lowered(std::string_view text);

// Leading "/" dropped, ASCII capitals lowered; nothing else changes.
std::string part_name_key(std::string_view name);
// "dir/_rels/file.rels" beside the part, "_rels/name.rels" at the top.
std::string rels_part_name(std::string_view name);

// Overrides by part key first (first match wins), then Defaults by the
// extension after the last "." of the name as passed (ASCII case ignored).
std::optional<std::string_view> content_type_for_part(const std::vector<ContentTypeEntry>& entries,
                                                      std::string_view name);
// (part key, content type) when a type is found.
std::optional<std::pair<std::string, std::string>> keyed_content_type(
    const std::vector<ContentTypeEntry>& entries, std::string_view name);

// The same two lookups through hash maps built once, for a package of many
// parts. The entries must outlive the index.
class ContentTypeIndex {
 public:
  explicit ContentTypeIndex(const std::vector<ContentTypeEntry>& entries);
  std::optional<std::string_view> content_type(std::string_view name) const;
  std::optional<std::pair<std::string, std::string>> keyed(std::string_view name) const;

 private:
  absl::flat_hash_map<std::string, std::string_view> overrides_;  // by part key
  absl::flat_hash_map<std::string, std::string_view> defaults_;   // by lowered extension
};

// The first attribute with local name "Type" decides: its last "/"-segment
// equals the word byte for byte.
bool relationship_type_is(const AttributeList& attributes, std::string_view word);
// True without a type, else when its last "/"-segment is "worksheet".
bool sheet_type_is_worksheet(std::optional<std::string_view> rel_type);

// The first "Target" resolved against "xl", and the first "Id" if any; absent
// without a "Target".
std::optional<std::pair<std::string, std::optional<std::string>>> relationship_target_and_id(
    const AttributeList& attributes);

// Replaces the value of the first attribute with this local name in place, or
// appends (qualified_name, value) at the end.
void set_attribute_value(AttributeList& attributes, std::string_view local_name,
                         std::string_view qualified_name, std::string value);
// Removes every attribute with this local name.
void remove_attribute(AttributeList& attributes, std::string_view local_name);

}  // namespace cmx::opc
