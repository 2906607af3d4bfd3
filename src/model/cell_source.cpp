#include "model/cell_source.h"

#include <algorithm>

#include "base/saturate.h"

namespace cmx::model {
namespace {

const CellValue kEmptyValue{};

const SheetCell* find_cell(const WorkbookModel& model, uint32_t sheet, const CellRef& cell) {
  if (sheet >= model.sheets.size()) return nullptr;
  const CellMap& cells = model.sheets[sheet].cells;
  auto found = cells.find(CellKey{cell.row, cell.col});
  return found == cells.end() ? nullptr : &found->second;
}

}  // namespace

std::optional<CellRange> sheet_used_range(const SheetModel& sheet) {
  bool seen = false;
  uint32_t min_row = 0, min_col = 0, max_row = 0, max_col = 0;
  auto cover = [&](uint32_t row0, uint32_t col0, uint32_t row1, uint32_t col1) {
    if (!seen) {
      min_row = row0, min_col = col0, max_row = row1, max_col = col1;
      seen = true;
      return;
    }
    min_row = std::min(min_row, row0);
    min_col = std::min(min_col, col0);
    max_row = std::max(max_row, row1);
    max_col = std::max(max_col, col1);
  };
  if (!sheet.cells.empty()) {
    // Keys are row-major: the rows come from the ends, the columns need a walk.
    uint32_t first_row = sheet.cells.begin()->first.row;
    uint32_t last_row = sheet.cells.rbegin()->first.row;
    uint32_t low_col = UINT32_MAX, high_col = 0;
    for (const auto& [key, cell] : sheet.cells) {
      low_col = std::min(low_col, key.col);
      high_col = std::max(high_col, key.col);
    }
    cover(first_row, low_col, last_row, high_col);
  }
  for (const SheetHyperlink& link : sheet.hyperlinks) {
    cover(link.range.start.row, link.range.start.col, link.range.end.row, link.range.end.col);
  }
  if (!seen) return std::nullopt;
  return CellRange{CellRef{min_row, min_col, false, false}, CellRef{max_row, max_col, false, false}};
}

CellValue model_cell_value(const WorkbookModel& model, uint32_t sheet, const CellRef& cell) {
  const SheetCell* found = find_cell(model, sheet, cell);
  return found ? found->value : CellValue{};
}

const CellValue& model_peek_cell_value(const WorkbookModel& model, uint32_t sheet,
                                       const CellRef& cell) {
  const SheetCell* found = find_cell(model, sheet, cell);
  return found ? found->value : kEmptyValue;
}

std::optional<std::string_view> model_cell_formula(const WorkbookModel& model, uint32_t sheet,
                                                   const CellRef& cell) {
  const SheetCell* found = find_cell(model, sheet, cell);
  if (found == nullptr || !found->formula) return std::nullopt;
  return found->formula->view();
}

std::optional<uint32_t> model_sheet_index(const WorkbookModel& model, std::string_view name) {
  return find_sheet_index_ci(model.sheets, name);
}

const DefinedName* model_defined_name(const WorkbookModel& model, uint32_t sheet,
                                      std::string_view name) {
  return find_defined_name(model.defined_names, sheet, name);
}

const WorkbookTable* model_table(const WorkbookModel& model, std::string_view name) {
  return find_table(model.tables, name);
}

uint32_t model_used_rows(const WorkbookModel& model, uint32_t sheet) {
  if (sheet >= model.sheets.size()) return 0;
  // The last row comes from the end of the row-major key order, without the
  // column walk of sheet_used_range: whole-column reads ask for it per call.
  const SheetModel& s = model.sheets[sheet];
  bool seen = !s.cells.empty();
  uint32_t last_row = seen ? s.cells.rbegin()->first.row : 0;
  for (const SheetHyperlink& link : s.hyperlinks) {
    last_row = seen ? std::max(last_row, link.range.end.row) : link.range.end.row;
    seen = true;
  }
  return seen ? saturate_int<uint32_t>(uint64_t{last_row} + 1) : 0;
}

uint32_t model_used_cols(const WorkbookModel& model, uint32_t sheet) {
  if (sheet >= model.sheets.size()) return 0;
  auto range = sheet_used_range(model.sheets[sheet]);
  return range ? saturate_int<uint32_t>(uint64_t{range->end.col} + 1) : 0;
}

std::optional<CellRange> model_array_range(const WorkbookModel& model, uint32_t sheet,
                                           const CellRef& cell) {
  if (sheet >= model.sheets.size()) return std::nullopt;
  const auto& ranges = model.sheets[sheet].array_ranges;
  auto found = ranges.find(CellKey{cell.row, cell.col});
  if (found == ranges.end()) return std::nullopt;
  return found->second;
}

}  // namespace cmx::model
