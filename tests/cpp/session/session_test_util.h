// Small hand-made packages for the session tests: the reader tests' package
// builder, zipped.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "opc/zip_writer.h"
#include "reader/package_builder.h"
#include "session/open.h"
#include "writer/new_package.h"

namespace cmx::session::testing {

using reader::testing::Package;

// A workbook part whose sheets are named as given, each with the basic sheet.
inline Package named_sheets(const std::vector<std::string>& names) {
  Package pkg = Package::basic();
  std::string sheets;
  std::vector<reader::testing::Rel> rels;
  for (size_t idx = 0; idx < names.size(); ++idx) {
    const std::string n = std::to_string(idx + 1);
    sheets += "<sheet name=\"" + names[idx] + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels.push_back({"rId" + n, "worksheet", "worksheets/sheet" + n + ".xml", ""});
    pkg.set("xl/worksheets/sheet" + n + ".xml", reader::testing::sheet_part(n));
  }
  pkg.set("xl/workbook.xml", reader::testing::workbook_part(sheets));
  pkg.set("xl/_rels/workbook.xml.rels", reader::testing::rels_part(rels));
  return pkg;
}

inline std::string zip(const Package& pkg) { return writer::write_package_zip(pkg.parts).value(); }

// Opened with results recalculated; collaborative under `client` when given.
inline std::unique_ptr<WorkbookSession> open_session(const std::string& bytes,
                                                     std::optional<uint64_t> client = std::nullopt) {
  auto opened = bootstrap_session(bytes, true, client);
  EXPECT_TRUE(opened) << engine_error_display(opened.error());
  return std::move(opened).value();
}

}  // namespace cmx::session::testing
