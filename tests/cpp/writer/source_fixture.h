// Source packages for the tests of saves into them: a one-sheet package
// whose worksheet body, workbook body and extra parts a test chooses, read by
// the package reader as a save would find it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "model/source_moves.h"
#include "reader/package_builder.h"
#include "reader/source_package.h"
#include "xml/parse_error.h"

namespace cmx::writer::testing {

using reader::testing::kMainNs;
using reader::testing::kOfficeRels;
using reader::testing::Package;

inline std::string worksheet(const std::string& body, const std::string& root_extra = "") {
  return "<worksheet xmlns=\"" + std::string(kMainNs) + "\"" + root_extra + ">" + body + "</worksheet>";
}

// Opens the package as a save would hold it; fails the test when it does not.
inline reader::OpenedPackage open_package(const Package& pkg) {
  auto opened = reader::open_source_package(pkg.parts);
  EXPECT_TRUE(opened.has_value()) << (opened ? "" : xml::parse_error_message(opened.error()));
  return opened ? std::move(*opened) : reader::OpenedPackage{};
}

inline reader::OpenedPackage open_sheet(const std::string& body, const std::string& root_extra = "") {
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml", worksheet(body, root_extra));
  return open_package(pkg);
}

inline model::SheetMoveMap identity_moves() { return model::identity_move_map(); }

// `count` lines inserted before zero-based line `at` of one axis.
inline std::vector<model::IndexRun> inserted(uint32_t bound, uint32_t at, uint32_t count) {
  std::vector<model::IndexRun> runs;
  if (at > 0) runs.push_back({0, at, 0});
  runs.push_back({at, bound - at - count, at + count});
  return runs;
}

// `count` lines deleted from zero-based line `at` of one axis.
inline std::vector<model::IndexRun> deleted(uint32_t bound, uint32_t at, uint32_t count) {
  std::vector<model::IndexRun> runs;
  if (at > 0) runs.push_back({0, at, 0});
  runs.push_back({at + count, bound - at - count, at});
  return runs;
}

inline std::string error_text(const xml::SpreadsheetParseError& error) { return xml::parse_error_message(error); }

}  // namespace cmx::writer::testing
