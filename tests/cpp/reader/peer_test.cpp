// The worksheet reader against peers: a sheet written by xlsxwriter, read here
// and by openpyxl (fixtures/reader/peer/make_peer.py records what openpyxl
// reads); every value, formula, merge, link, pane and dimension must agree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "reader/shared_strings.h"
#include "reader/worksheet.h"
#include "reader_test_util.h"
#include "xml/streaming.h"

namespace cmx::reader {
namespace {

using model::CellKey;

std::string peer_file(const std::string& name) {
  const std::filesystem::path path =
      std::filesystem::path(CMX_SOURCE_DIR) / "tests/fixtures/reader/peer" / name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  while (true) {
    const size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

uint32_t as_u32(const std::string& text) { return static_cast<uint32_t>(*parse_u64(text)); }
double as_double(const std::string& text) { return parse_float(text)->value; }
CellKey key_of(const std::string& a1) {
  const model::CellRef ref = cant_fail(model::parse_cell_ref(a1));
  return CellKey{ref.row, ref.col};
}

TEST(PeerWorkbook, AgreesWithOpenpyxl) {
  auto strings = read_shared_strings(peer_file("sharedStrings.xml"));
  ASSERT_TRUE(strings.has_value());
  auto rels = xml::read_relationship_map(peer_file("sheet1.xml.rels"));
  ASSERT_TRUE(rels.has_value());
  SharedStringCells string_cells;
  SourceDimensions dimensions;
  CellTextNotes notes;
  auto sheet = read_worksheet("Data", peer_file("sheet1.xml"), strings->items, *rels, string_cells,
                              dimensions, notes);
  ASSERT_TRUE(sheet.has_value()) << xml::parse_error_message(sheet.error());

  std::istringstream expected(peer_file("expected.txt"));
  std::string line;
  size_t compared_cells = 0;
  std::vector<model::CellRange> merges;
  std::vector<model::SheetHyperlink> links;
  while (std::getline(expected, line)) {
    SCOPED_TRACE(line);
    const std::vector<std::string> f = split_tabs(line);
    if (f[0] == "cell") {
      ++compared_cells;
      auto found = sheet->cells.find(key_of(f[1]));
      ASSERT_NE(found, sheet->cells.end());
      const model::SheetCell& cell = found->second;
      if (f[2] == "t") {
        EXPECT_EQ(cell.value, model::CellValue::text(f[3]));
      }
      if (f[2] == "n") {
        EXPECT_EQ(cell.value, model::CellValue::number(as_double(f[3])));
      }
      if (f[2] == "b") {
        EXPECT_EQ(cell.value, model::CellValue::boolean(f[3] == "1"));
      }
      if (f[2] == "f") {
        ASSERT_TRUE(cell.formula.has_value());
        EXPECT_EQ(cell.formula->view(), f[3]);
      }
    } else if (f[0] == "merge") {
      merges.push_back(cant_fail(model::parse_range(f[1])));
    } else if (f[0] == "link") {
      model::SheetHyperlink link;
      link.range = cant_fail(model::parse_range(f[1]));
      if (!f[2].empty()) link.external_target = f[2];
      if (!f[3].empty()) link.location = f[3];
      links.push_back(link);
      if (!f[4].empty()) links.back().tooltip = f[4];
    } else if (f[0] == "freeze") {
      ASSERT_TRUE(sheet->freeze_pane.has_value());
      EXPECT_EQ(model::format_cell_ref(sheet->freeze_pane->top_left), f[1]);
      EXPECT_EQ(sheet->freeze_pane->top_left.row, sheet->freeze_pane->rows);
      EXPECT_EQ(sheet->freeze_pane->top_left.col, sheet->freeze_pane->cols);
    } else if (f[0] == "colwidth" || f[0] == "colhidden") {
      for (uint32_t col = as_u32(f[1]); col <= as_u32(f[2]); ++col) {
        ASSERT_TRUE(sheet->col_widths.contains(col - 1));
        EXPECT_EQ(sheet->col_widths.at(col - 1), f[0] == "colhidden" ? 0.0 : as_double(f[3]));
      }
    } else if (f[0] == "rowheight" || f[0] == "rowhidden") {
      const uint32_t row = as_u32(f[1]) - 1;
      ASSERT_TRUE(sheet->row_heights.contains(row));
      EXPECT_EQ(sheet->row_heights.at(row), f[0] == "rowhidden" ? 0.0 : as_double(f[2]));
    }
  }
  EXPECT_GT(compared_cells, 150u);
  EXPECT_EQ(sheet->merges, merges);
  ASSERT_EQ(sheet->hyperlinks.size(), links.size());
  for (size_t idx = 0; idx < links.size(); ++idx) {
    EXPECT_EQ(sheet->hyperlinks[idx].range, links[idx].range);
    EXPECT_EQ(sheet->hyperlinks[idx].external_target, links[idx].external_target);
    EXPECT_EQ(sheet->hyperlinks[idx].location, links[idx].location);
    EXPECT_EQ(sheet->hyperlinks[idx].tooltip, links[idx].tooltip);
  }
  // Every cell with a value or formula here is one openpyxl reads too.
  size_t valued = 0;
  for (const auto& [key, cell] : sheet->cells)
    if (!cell.value.is_empty() || cell.formula) ++valued;
  EXPECT_EQ(valued, compared_cells);
}

}  // namespace
}  // namespace cmx::reader
