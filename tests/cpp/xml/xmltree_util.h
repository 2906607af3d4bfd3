// Helpers of the element-tree, template and rewrite tests: UTF-16 spelling
// of test texts, the well-formedness check through our own tree parser, and
// the dump of rendered outputs that tests/python/test_xmltree_wellformed.py
// feeds to Python's XML parser.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "xml/element_tree.h"
#include "xml/part_decoding.h"

namespace cmx::xml::testing {

// The folders of fixture parts, beside this file's tests.
inline std::filesystem::path fixtures_root() {
  return std::filesystem::path(CMX_SOURCE_DIR) / "tests/fixtures";
}

// The corpus of real workbooks, when this machine has it.
inline std::filesystem::path corpus_root() {
  if (const char* dir = std::getenv("CMX_CORPUS_DIR")) return dir;
  return fixtures_root().parent_path().parent_path().parent_path() / "shared" / "corpus";
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Succeeds when the bytes decode and build a tree under the standard budget.
inline ::testing::AssertionResult well_formed(std::string_view bytes) {
  auto decoded = decode_part(bytes);
  if (!decoded.has_value()) return ::testing::AssertionFailure() << parse_error_message(decoded.error());
  auto tree = parse_xml_tree(decoded->text, STANDARD_ELEMENT_BUDGET);
  if (!tree.has_value()) {
    return ::testing::AssertionFailure() << parse_error_message(tree.error()) << " in: " << decoded->text;
  }
  return ::testing::AssertionSuccess();
}

// Checks a rendered output with our tree parser and, when XMLTREE_DUMP_DIR is
// set, writes it there under `name` for the Python parser.
inline void expect_rendered_well_formed(std::string_view name, std::string_view bytes) {
  EXPECT_TRUE(well_formed(bytes)) << name;
  if (const char* dir = std::getenv("XMLTREE_DUMP_DIR")) {
    std::string file(name);
    for (char& ch : file) {
      const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                         ch == '-' || ch == '_' || ch == '.';
      if (!plain) ch = '_';
    }
    std::ofstream out(std::filesystem::path(dir) / (file + ".xml"), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

}  // namespace cmx::xml::testing
