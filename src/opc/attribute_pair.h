// One attribute of a start tag as written: the qualified name and the value
// with references replaced. Lists of them keep document order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cmx::opc {

struct AttributePair {
  std::string name;
  std::string value;
  friend bool operator==(const AttributePair&, const AttributePair&) = default;
};

using AttributeList = std::vector<AttributePair>;

// The text after the last ":" of a qualified name, or the whole name.
inline std::string_view attribute_local_name(std::string_view name) {
  const size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first attribute whose local name is `local`, or null.
inline const AttributePair* first_with_local_name(const AttributeList& attributes, std::string_view local) {
  for (const AttributePair& attr : attributes) {
    if (attribute_local_name(attr.name) == local) return &attr;
  }
  return nullptr;
}

}  // namespace cmx::opc
