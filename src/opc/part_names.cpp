#include "opc/part_names.h"

#include <algorithm>

#include "opc/relationships.h"

namespace cmx::opc {

namespace {

char ascii_lower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; }

bool equals_ascii_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool ascii_iequal(std::string_view a, std::string_view b) { return equals_ascii_ci(a, b); }

std::string ascii_lowered(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = ascii_lower(ch);
  return out;
}

std::string part_name_key(std::string_view name) {
  const size_t first = name.find_first_not_of('/');
  std::string key(first == std::string_view::npos ? std::string_view() : name.substr(first));
  for (char& ch : key) ch = ascii_lower(ch);
  return key;
}

std::string rels_part_name(std::string_view name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string_view::npos) return "_rels/" + std::string(name) + ".rels";
  std::string out(name.substr(0, slash));
  out += "/_rels/";
  out += name.substr(slash + 1);
  out += ".rels";
  return out;
}

std::optional<std::string_view> content_type_for_part(const std::vector<ContentTypeEntry>& entries,
                                                      std::string_view name) {
  const std::string key = part_name_key(name);
  for (const ContentTypeEntry& entry : entries) {
    if (entry.kind != "Override") continue;
    const AttributePair* part_name = first_with_local_name(entry.attributes, "PartName");
    if (part_name == nullptr || part_name_key(part_name->value) != key) continue;
    const AttributePair* type = first_with_local_name(entry.attributes, "ContentType");
    if (type != nullptr) return std::string_view(type->value);
  }
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view extension = name.substr(dot + 1);
  for (const ContentTypeEntry& entry : entries) {
    if (entry.kind != "Default") continue;
    const AttributePair* ext = first_with_local_name(entry.attributes, "Extension");
    if (ext == nullptr || !equals_ascii_ci(ext->value, extension)) continue;
    const AttributePair* type = first_with_local_name(entry.attributes, "ContentType");
    if (type != nullptr) return std::string_view(type->value);
  }
  return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> keyed_content_type(
    const std::vector<ContentTypeEntry>& entries, std::string_view name) {
  std::optional<std::string_view> type = content_type_for_part(entries, name);
  if (!type.has_value()) return std::nullopt;
  return std::make_pair(part_name_key(name), std::string(*type));
}

ContentTypeIndex::ContentTypeIndex(const std::vector<ContentTypeEntry>& entries) {
  for (const ContentTypeEntry& entry : entries) {
    const AttributePair* type = first_with_local_name(entry.attributes, "ContentType");
    if (type == nullptr) continue;
    if (entry.kind == "Override") {
      if (const AttributePair* part_name = first_with_local_name(entry.attributes, "PartName")) {
        overrides_.try_emplace(part_name_key(part_name->value), type->value);
      }
    } else if (entry.kind == "Default") {
      if (const AttributePair* ext = first_with_local_name(entry.attributes, "Extension")) {
        defaults_.try_emplace(ascii_lowered(ext->value), type->value);
      }
    }
  }
}

std::optional<std::string_view> ContentTypeIndex::content_type(std::string_view name) const {
  if (const auto found = overrides_.find(part_name_key(name)); found != overrides_.end()) return found->second;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  if (const auto found = defaults_.find(ascii_lowered(name.substr(dot + 1))); found != defaults_.end()) {
    return found->second;
  }
  return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> ContentTypeIndex::keyed(std::string_view name) const {
  const std::optional<std::string_view> type = content_type(name);
  if (!type.has_value()) return std::nullopt;
  return std::make_pair(part_name_key(name), std::string(*type));
}

bool relationship_type_is(const AttributeList& attributes, std::string_view word) {
  const AttributePair* type = first_with_local_name(attributes, "Type");
  return type != nullptr && last_type_segment(type->value) == word;
}

bool sheet_type_is_worksheet(std::optional<std::string_view> rel_type) {
  return !rel_type.has_value() || last_type_segment(*rel_type) == "worksheet";
}

std::optional<std::pair<std::string, std::optional<std::string>>> relationship_target_and_id(
    const AttributeList& attributes) {
  const AttributePair* target = first_with_local_name(attributes, "Target");
  if (target == nullptr) return std::nullopt;
  std::optional<std::string> id;
  if (const AttributePair* id_attr = first_with_local_name(attributes, "Id")) id = id_attr->value;
  return std::make_pair(resolve_relationship_target("xl", target->value), std::move(id));
}

void set_attribute_value(AttributeList& attributes, std::string_view local_name,
                         std::string_view qualified_name, std::string value) {
  for (AttributePair& attr : attributes) {
    if (attribute_local_name(attr.name) == local_name) {
      attr.value = std::move(value);
      return;
    }
  }
  attributes.push_back(AttributePair{std::string(qualified_name), std::move(value)});
}

void remove_attribute(AttributeList& attributes, std::string_view local_name) {
  std::erase_if(attributes, [&](const AttributePair& attr) {
    return attribute_local_name(attr.name) == local_name;
  });
}

}  // namespace cmx::opc
