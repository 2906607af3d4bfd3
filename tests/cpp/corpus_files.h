// The shared corpus of real workbooks for the C++ tests that walk it: the
// .xlsx files below ../shared/corpus in name order (none when it is absent),
// every file with CMX_FULL_CORPUS=1, else every `every`-th, and their bytes.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace cmx::testing {

inline std::vector<std::filesystem::path> corpus_sample(size_t every) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(CMX_SOURCE_DIR).parent_path() / "shared" / "corpus";
  std::vector<fs::path> files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xlsx") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  const char* full = std::getenv("CMX_FULL_CORPUS");
  if (full != nullptr && std::string_view(full) == "1") return files;
  std::vector<fs::path> sample;
  for (size_t index = 0; index < files.size(); index += every) sample.push_back(files[index]);
  return sample;
}

inline std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace cmx::testing
