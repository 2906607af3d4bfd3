#include "session/model_copies.h"

#include <algorithm>

#include "model/style_equality.h"

namespace cmx::session {
namespace {

bool same_formula(const model::SheetCell& a, const model::SheetCell& b) {
  return a.formula.has_value() == b.formula.has_value() && (!a.formula || a.formula->view() == b.formula->view());
}

bool sheets_equal_for_cells(const model::SheetModel& a, const model::SheetModel& b) {
  // CellValue and the widths compare with ==: numbers numerically.
  return a.name == b.name && a.merges == b.merges && a.col_widths == b.col_widths &&
         a.row_heights == b.row_heights && a.cells == b.cells;
}

}  // namespace

model::WorkbookModel clone_workbook_model(const model::WorkbookModel& workbook) {
  // The lookup caches' copy constructor leaves them empty.
  return workbook;
}

bool workbook_models_equal(const model::WorkbookModel& a, const model::WorkbookModel& b) {
  if (a.date_system != b.date_system || a.shared_strings != b.shared_strings) return false;
  if (!model::stylesheet_eq(a.styles, b.styles) || a.sheets.size() != b.sheets.size()) return false;
  for (size_t idx = 0; idx < a.sheets.size(); ++idx) {
    if (!sheets_equal_for_cells(a.sheets[idx], b.sheets[idx])) return false;
  }
  return true;
}

bool workbook_model_eq(const model::WorkbookModel& a, const model::WorkbookModel& b) {
  return model::workbook_eq(a, b);
}

void refresh_formula_cache_targets(const std::vector<model::SheetModel>& live,
                                   std::vector<model::SheetModel>& target) {
  const size_t count = std::min(live.size(), target.size());
  for (size_t sheet_idx = 0; sheet_idx < count; ++sheet_idx) {
    const model::CellMap& live_cells = live[sheet_idx].cells;
    for (auto& [key, cell] : target[sheet_idx].cells) {
      if (!cell.formula) continue;
      const auto found = live_cells.find(key);
      if (found != live_cells.end() && same_formula(found->second, cell)) cell.value = found->second.value;
    }
  }
}

void copy_sheets_for_staging(const std::vector<model::SheetModel>& live, std::vector<model::SheetModel>& target) {
  const size_t count = std::min(live.size(), target.size());
  for (size_t sheet_idx = 0; sheet_idx < count; ++sheet_idx) {
    const model::SheetModel& from = live[sheet_idx];
    model::SheetModel& to = target[sheet_idx];
    for (const auto& [anchor, range] : from.array_ranges) {
      const auto target_cell = to.cells.find(anchor);
      const auto live_cell = from.cells.find(anchor);
      if (target_cell == to.cells.end() || live_cell == from.cells.end()) continue;
      if (!target_cell->second.formula || !same_formula(target_cell->second, live_cell->second)) continue;
      to.array_ranges[anchor] = range;
    }
  }
}

std::vector<model::CellAddress> changed_cells_between(const std::vector<model::SheetModel>& before,
                                                      const std::vector<model::SheetModel>& after) {
  std::vector<model::CellAddress> changed;
  static const model::CellMap kNone;
  const size_t sheets = std::max(before.size(), after.size());
  for (size_t sheet = 0; sheet < sheets; ++sheet) {
    const model::CellMap& a = sheet < before.size() ? before[sheet].cells : kNone;
    const model::CellMap& b = sheet < after.size() ? after[sheet].cells : kNone;
    auto push = [&](const model::CellKey& key) {
      changed.push_back(model::CellAddress{static_cast<uint32_t>(sheet), model::CellRef{key.row, key.col}});
    };
    // One merge walk over both maps in key order.
    auto left = a.begin();
    auto right = b.begin();
    while (left != a.end() || right != b.end()) {
      if (right == b.end() || (left != a.end() && left->first < right->first)) {
        push(left->first);
        ++left;
      } else if (left == a.end() || right->first < left->first) {
        push(right->first);
        ++right;
      } else {
        // CellValue compares numbers as doubles, texts by their bytes.
        const model::SheetCell& x = left->second;
        const model::SheetCell& y = right->second;
        if (!(x.value == y.value && same_formula(x, y) && x.style == y.style)) push(left->first);
        ++left;
        ++right;
      }
    }
  }
  return changed;
}

}  // namespace cmx::session
