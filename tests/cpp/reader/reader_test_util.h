// Helpers of the reader tests: fixture loading and compact text forms of
// cells and errors, so that cases compare whole sheets in one line.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/number_text.h"
#include "model/workbook.h"
#include "xml/parse_error.h"

namespace cmx::reader::testing {

inline std::string fixture(const std::string& name) {
  const std::filesystem::path path =
      std::filesystem::path(CMX_SOURCE_DIR) / "tests/fixtures/reader" / (name + ".xml");
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// "n:1.5", "t:text", "b:1", "e:#N/A" or "empty", then "|f:formula", "|s:3".
inline std::string describe(const model::SheetCell& cell) {
  std::string out;
  switch (cell.value.kind()) {
    case model::CellValue::Kind::Empty: out = "empty"; break;
    case model::CellValue::Kind::Number: out = "n:" + format_shortest(cell.value.as_number()); break;
    case model::CellValue::Kind::Text: out = "t:" + std::string(cell.value.as_text()); break;
    case model::CellValue::Kind::Bool: out = cell.value.as_bool() ? "b:1" : "b:0"; break;
    case model::CellValue::Kind::Error:
      out = "e:" + std::string(model::error_code_text(cell.value.as_error()));
      break;
  }
  if (cell.formula) out += "|f:" + cell.formula->str();
  if (cell.style) out += "|s:" + format_u64(*cell.style);
  return out;
}

// "A1=n:1;B2=t:x" in map order.
inline std::string describe(const model::CellMap& cells) {
  std::string out;
  for (const auto& [key, cell] : cells) {
    if (!out.empty()) out += ";";
    out += model::format_cell_ref(model::CellRef{key.row, key.col}) + "=" + describe(cell);
  }
  return out;
}

}  // namespace cmx::reader::testing
