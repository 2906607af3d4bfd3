#include "opc/relationships.h"

#include <vector>

namespace cmx::opc {

std::string_view last_type_segment(std::string_view type) {
  const size_t slash = type.rfind('/');
  return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

std::string resolve_relationship_target(std::string_view base_dir, std::string_view target) {
  if (!target.empty() && target[0] == '/') return std::string(target.substr(1));
  std::vector<std::string_view> segments;
  size_t pos = 0;
  while (true) {
    const size_t end = base_dir.find('/', pos);
    segments.push_back(base_dir.substr(pos, end == std::string_view::npos ? end : end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  pos = 0;
  while (pos <= target.size()) {
    size_t end = target.find('/', pos);
    if (end == std::string_view::npos) end = target.size();
    const std::string_view segment = target.substr(pos, end - pos);
    pos = end + 1;
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      continue;
    }
    segments.push_back(segment);
  }
  std::string out;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) out.push_back('/');
    out.append(segments[i]);
  }
  return out;
}

bool is_non_worksheet_relationship(const RelationshipTarget& rel) {
  if (!rel.rel_type.has_value()) return false;
  return last_type_segment(*rel.rel_type) != "worksheet";
}

}  // namespace cmx::opc
