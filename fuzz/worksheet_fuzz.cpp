// Fuzzes the shared-strings, worksheet and table readers over one input: no
// crash or hang, and what reads keeps the model's invariants (positions inside
// the grid, finite numbers, merges that do not overlap, table row counts
// within the table).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "reader/shared_strings.h"
#include "reader/tables.h"
#include "reader/worksheet.h"

using namespace cmx;

namespace {

void check_sheet(const model::SheetModel& sheet) {
  for (const auto& [key, cell] : sheet.cells) {
    if (key.row >= model::MAX_ROWS || key.col >= model::MAX_COLS) std::abort();
    if (cell.value.is_number() && !std::isfinite(cell.value.as_number())) std::abort();
  }
  for (size_t idx = 0; idx < sheet.merges.size(); ++idx) {
    for (size_t other = 0; other < idx; ++other) {
      const model::CellRange& a = sheet.merges[idx];
      const model::CellRange& b = sheet.merges[other];
      if (a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
          b.start.col <= a.end.col)
        std::abort();
    }
  }
  for (const auto& [col, width] : sheet.col_widths)
    if (col >= model::MAX_COLS || !(width >= 0.0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<SharedString> strings{SharedString("a"), SharedString("b")};
  auto string_table = reader::read_shared_strings(bytes);
  if (string_table.has_value() && !string_table->items.empty()) strings = string_table->items;

  opc::RelationshipMap rels;
  rels["rId1"] = {"https://example.com/",
                  "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink", true};
  reader::SharedStringCells string_cells;
  reader::SourceDimensions dimensions;
  reader::CellTextNotes notes;
  auto sheet = reader::read_worksheet("S", bytes, strings, rels, string_cells, dimensions, notes);
  if (sheet.has_value()) {
    check_sheet(*sheet);
    for (const auto& [key, index] : string_cells)
      if (index >= strings.size()) std::abort();
  }
  auto table = reader::read_table_part(bytes, 0);
  if (table.has_value() && table->has_value()) {
    const model::CellRange& range = (*table)->range;
    if (range.start.row > range.end.row || range.start.col > range.end.col) std::abort();
    const uint64_t rows = uint64_t{range.end.row} - range.start.row + 1;
    if (uint64_t{(*table)->header_rows} + (*table)->totals_rows > rows) std::abort();
    if ((*table)->columns.size() > reader::MAX_TABLE_COLUMNS) std::abort();
  }
  return 0;
}
