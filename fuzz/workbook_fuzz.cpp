// Fuzzes the styles, theme, workbook and drawing readers. An input that
// starts like a ZIP archive is opened as a package; any other input is cut
// at NUL bytes into the parts of a small package (workbook, its
// relationships, styles, theme, one sheet with a drawing and a chart), and
// its first piece is also handed to each reader alone. Readers may refuse,
// never crash, and what they accept keeps their stated bounds.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart_refs.h"
#include "charts/drawing.h"
#include "opc/package_archive.h"
#include "split_parts.h"
#include "reader/sheet_entries.h"
#include "reader/styles_reader.h"
#include "reader/workbook_reader.h"

using namespace cmx;

namespace {

constexpr std::array<std::string_view, 9> kPartNames = {
    "xl/workbook.xml",          "xl/_rels/workbook.xml.rels",        "xl/styles.xml",
    "xl/theme/theme1.xml",      "xl/worksheets/sheet1.xml",          "xl/worksheets/_rels/sheet1.xml.rels",
    "xl/drawings/drawing1.xml", "xl/drawings/_rels/drawing1.xml.rels", "xl/charts/chart1.xml",
};

void check_workbook(const std::vector<opc::PackagePart>& parts) {
  auto read = reader::read_workbook(parts);
  if (!read.has_value()) return;
  const size_t sheets = read->model.sheets.size();
  if (read->shared_string_cells.size() != sheets || read->cell_notes.size() != sheets ||
      read->source_dimensions.size() != sheets)
    std::abort();
  if (read->model.defined_names.size() > reader::MAX_DEFINED_NAMES) std::abort();
  for (const model::SheetModel& sheet : read->model.sheets) {
    if (sheet.charts.size() > charts::MAX_SHEET_CHARTS) std::abort();
  }
  for (const model::Font& font : read->model.styles.fonts) {
    // Sizes are finite or absent, so formats stay equal to themselves.
    if (font.size_pt && !(*font.size_pt == *font.size_pt)) std::abort();
  }
}

void check_alone(std::string_view text) {
  (void)reader::read_styles_part(text, std::nullopt);
  (void)reader::read_styles_part(std::nullopt, text);
  (void)reader::read_sheet_entries(text);
  if (auto area = charts::split_chart_reference(text)) {
    if (auto range = charts::parse_chart_area(area->area)) {
      if (range->start.row > range->end.row || range->start.col > range->end.col) std::abort();
    }
  }
  auto tree = xml::parse_xml_tree(text, xml::STANDARD_ELEMENT_BUDGET);
  if (!tree.has_value()) return;
  (void)charts::read_drawing_part(tree->root);
  (void)charts::find_chart_formula_refs(tree->root);
  (void)charts::count_chart_relationship_ids(tree->root, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) {
    auto parts = opc::read_package_archive(input);
    if (parts.has_value()) check_workbook(*parts);
    return 0;
  }
  std::vector<opc::PackagePart> parts = fuzz::split_parts(input, kPartNames);
  check_alone(parts.front().bytes);
  check_workbook(parts);
  return 0;
}
