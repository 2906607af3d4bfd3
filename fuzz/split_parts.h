// Fuzz inputs that are not an archive are read as the bytes of a fixed list of
// parts, separated by NUL bytes, so the fuzzer reaches the part readers
// without having to learn the ZIP format first.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "opc/package_archive.h"

namespace cmx::fuzz {

// One part per name while input lasts; a missing tail leaves later names out.
inline std::vector<opc::PackagePart> split_parts(std::string_view input, std::span<const std::string_view> names) {
  std::vector<opc::PackagePart> parts;
  size_t start = 0;
  for (size_t i = 0; i < names.size() && start <= input.size(); ++i) {
    size_t end = input.find('\0', start);
    if (end == std::string_view::npos) end = input.size();
    parts.push_back(opc::PackagePart{std::string(names[i]), std::string(input.substr(start, end - start))});
    start = end + 1;
  }
  return parts;
}

}  // namespace cmx::fuzz
