// Fuzzes the source package record and the package inventory. An input that
// starts like a ZIP archive is opened as a package; any other input is cut
// at NUL bytes into the parts of a small package with pivot tables, a
// drawing and a chart, and its first piece is also handed to the record's
// own part readers. Opening may refuse, never crash; what opens keeps one
// record sheet per model sheet, and every group that keeps a list names
// exactly one sheet of the workbook in each reference.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "opc/package_archive.h"
#include "split_parts.h"
#include "reader/package_structure.h"
#include "reader/source_package.h"
#include "reader/source_queries.h"

using namespace cmx;

namespace {

constexpr std::array<std::string_view, 14> kPartNames = {
    "[Content_Types].xml",
    "xl/workbook.xml",
    "xl/_rels/workbook.xml.rels",
    "xl/worksheets/sheet1.xml",
    "xl/worksheets/_rels/sheet1.xml.rels",
    "xl/pivotTables/pivotTable1.xml",
    "xl/pivotTables/_rels/pivotTable1.xml.rels",
    "xl/pivotCache/pivotCacheDefinition1.xml",
    "xl/pivotCache/_rels/pivotCacheDefinition1.xml.rels",
    "xl/pivotCache/pivotCacheRecords1.xml",
    "xl/drawings/drawing1.xml",
    "xl/drawings/_rels/drawing1.xml.rels",
    "xl/charts/chart1.xml",
    "_rels/.rels",
};

void check_opened(std::vector<opc::PackagePart> parts) {
  auto opened = reader::open_source_package(std::move(parts));
  if (!opened.has_value()) return;
  const reader::SourcePackage& source = opened->source;
  if (source.sheets.size() != opened->model.sheets.size()) std::abort();
  const reader::SheetNameCounts names(opened->model.sheets);
  for (const reader::RetainedCellRefs& group : source.inventory) {
    if (!group.refs) continue;
    for (const reader::RetainedCellRef& ref : *group.refs) {
      if (names.count(ref.sheet) != 1) std::abort();
      if (ref.cell.row >= model::MAX_ROWS || ref.cell.col >= model::MAX_COLS) std::abort();
      (void)reader::retained_ref_blocking_row_edit(source.inventory, ref.sheet, ref.cell.row);
    }
  }
  for (size_t i = 0; i <= source.sheets.size(); ++i) {
    (void)reader::sheet_state_at(source.sheets, i);
    (void)reader::sheet_at_is_worksheet(source.sheets, i);
  }
}

void check_alone(std::string_view text) {
  (void)reader::parse_fragment_start_tag(text);
  (void)reader::read_rels_attribute_lists(text);
  if (auto entries = reader::read_content_type_entries(text)) {
    for (const opc::ContentTypeEntry& entry : *entries) {
      if (entry.kind != "Default" && entry.kind != "Override") std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) {
    auto parts = opc::read_package_archive(input);
    if (parts.has_value()) check_opened(std::move(*parts));
    return 0;
  }
  std::vector<opc::PackagePart> parts = fuzz::split_parts(input, kPartNames);
  check_alone(parts.front().bytes);
  check_opened(std::move(parts));
  return 0;
}
