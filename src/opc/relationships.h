// Relationship records of one part and the resolution of their targets to
// part names. Reading a relationships part is the XML layer's job
// (xml/streaming.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace cmx::opc {

struct RelationshipTarget {
  std::string target;                   // as written, references resolved
  std::optional<std::string> rel_type;  // the Type attribute
  bool external = false;                // TargetMode is "External", ASCII case ignored
  friend bool operator==(const RelationshipTarget&, const RelationshipTarget&) = default;
};

// Keyed by Id; std::string orders by unsigned bytes, so "rId10" precedes "rId2".
using RelationshipMap = std::map<std::string, RelationshipTarget>;

// A target starting with "/" is taken from the root minus that slash, as is;
// otherwise its segments are applied to the base folder's ("." and empty
// dropped, ".." pops, never above the top). Never fails.
std::string resolve_relationship_target(std::string_view base_dir, std::string_view target);

// True when the type is present and its last "/"-segment is not "worksheet".
bool is_non_worksheet_relationship(const RelationshipTarget& rel);

// The text after the last "/" (empty when it ends in "/"), or the whole text.
std::string_view last_type_segment(std::string_view type);

}  // namespace cmx::opc
