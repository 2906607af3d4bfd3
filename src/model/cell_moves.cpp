#include "model/cell_moves.h"

#include <algorithm>

#include "base/result.h"

namespace cmx::model {

namespace {

bool moves_rows(StructuralKind kind) {
  return kind == StructuralKind::InsertRows || kind == StructuralKind::DeleteRows;
}

// The new index of one row or column, or absent when it leaves the grid.
std::optional<uint32_t> shifted_index(const StructuralShift& shift, uint32_t index, uint32_t limit) {
  if (index < shift.at) return index;
  const uint64_t count = shift.count;
  switch (shift.kind) {
    case StructuralKind::InsertRows:
    case StructuralKind::InsertColumns:
      if (index + count >= limit) return std::nullopt;
      return static_cast<uint32_t>(index + count);
    case StructuralKind::DeleteRows:
    case StructuralKind::DeleteColumns:
      // In 64 bits the band's end cannot wrap.
      if (index < shift.at + count) return std::nullopt;
      return static_cast<uint32_t>(index - count);
  }
  return index;
}

void shift_array_ranges(std::map<CellKey, CellRange>& ranges, const StructuralShift& shift) {
  if (ranges.empty()) return;
  std::map<CellKey, CellRange> moved;
  for (const auto& [key, range] : ranges) {
    std::optional<CellKey> anchor = shifted_cell_key(shift, key);
    if (!anchor) continue;
    const uint32_t height = range.end.row >= range.start.row ? range.end.row - range.start.row : 0;
    const uint32_t width = range.end.col >= range.start.col ? range.end.col - range.start.col : 0;
    CellRange out;
    out.start = CellRef{anchor->row, anchor->col, false, false};
    out.end.row = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{anchor->row} + height, MAX_ROWS - 1));
    out.end.col = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{anchor->col} + width, MAX_COLS - 1));
    moved.emplace_hint(moved.end(), *anchor, out);
  }
  ranges = std::move(moved);
}

}  // namespace

std::optional<CellKey> shifted_cell_key(const StructuralShift& shift, CellKey key) {
  if (moves_rows(shift.kind)) {
    std::optional<uint32_t> row = shifted_index(shift, key.row, MAX_ROWS);
    if (!row) return std::nullopt;
    return CellKey{*row, key.col};
  }
  std::optional<uint32_t> col = shifted_index(shift, key.col, MAX_COLS);
  if (!col) return std::nullopt;
  return CellKey{key.row, *col};
}

namespace {

using RemovedCells = std::vector<std::pair<CellRef, SheetCell>>;

void take_out(RemovedCells& removed, CellKey key, SheetCell& cell) {
  removed.emplace_back(CellRef{key.row, key.col, false, false}, std::move(cell));
}

// Moves the cells from `first` on by `to`: they keep their order and land
// after every key before `first`, so the tail is rebuilt in one pass and
// appended again. Empty records met are dropped.
template <typename NewKey>
void replace_tail(CellMap& cells, CellMap::iterator first, NewKey to, RemovedCells& removed) {
  CellMap moved;
  for (auto it = first; it != cells.end(); ++it) {
    if (is_empty_record(it->second)) continue;
    std::optional<CellKey> key = to(it);
    if (key) {
      moved.emplace_hint(moved.end(), *key, std::move(it->second));
    } else {
      take_out(removed, it->first, it->second);
    }
  }
  if (first == cells.begin()) {
    // Everything moves: the new map takes the old one's place whole.
    cells = std::move(moved);
    return;
  }
  cells.erase(first, cells.end());
  for (auto& [key, cell] : moved) cells.emplace_hint(cells.end(), key, std::move(cell));
}

// Column edits move cells of many rows, interleaved with cells that stay.
// A plan finds whether the changed cells still form the map's tail (then the
// tail is replaced); otherwise the whole map is rebuilt in key order.
void shift_columns(CellMap& cells, const StructuralShift& shift, RemovedCells& removed) {
  for (auto it = cells.begin(); it != cells.end();) {
    it = is_empty_record(it->second) ? cells.erase(it) : std::next(it);
  }
  struct PlanEntry {
    CellKey from;
    std::optional<CellKey> to;
  };
  std::vector<PlanEntry> plan;
  auto split = cells.end();
  bool unchanged_after_split = false;
  std::optional<CellKey> lowest_new;
  for (auto it = cells.begin(); it != cells.end(); ++it) {
    std::optional<CellKey> to = shifted_cell_key(shift, it->first);
    if (to == it->first) {
      if (split != cells.end()) unchanged_after_split = true;
      continue;
    }
    if (split == cells.end()) split = it;
    if (to && (!lowest_new || *to < *lowest_new)) lowest_new = to;
    plan.push_back(PlanEntry{it->first, to});
  }
  if (plan.empty()) return;

  const bool after_kept = split == cells.begin() || !lowest_new || std::prev(split)->first < *lowest_new;
  if (!unchanged_after_split && after_kept) {
    size_t step = 0;
    replace_tail(cells, split, [&](CellMap::iterator) {
      if (step >= plan.size()) fail_invariant("plan covers every split-off cell");
      return plan[step++].to;
    }, removed);
    return;
  }
  CellMap old = std::move(cells);
  cells.clear();
  for (auto& [key, cell] : old) {
    std::optional<CellKey> to = shifted_cell_key(shift, key);
    if (!to) {
      take_out(removed, key, cell);
    } else {
      // Kept keys keep their order, so each lands at the end.
      cells.emplace_hint(cells.end(), *to, std::move(cell));
    }
  }
}

}  // namespace

std::vector<std::pair<CellRef, SheetCell>> shift_cells_for_structural_op(SheetModel& sheet,
                                                                         const StructuralShift& shift) {
  shift_array_ranges(sheet.array_ranges, shift);
  RemovedCells removed;
  CellMap& cells = sheet.cells;
  if (shift.kind == StructuralKind::InsertColumns || shift.kind == StructuralKind::DeleteColumns) {
    shift_columns(cells, shift, removed);
    return removed;
  }
  // A row edit leaves every key above `at` where it is and moves or removes
  // every key from `at` on; empty records are never stored, and those met
  // are dropped.
  auto first = cells.lower_bound(CellKey{shift.at, 0});
  if (shift.count == 0) {
    for (auto it = first; it != cells.end();) it = is_empty_record(it->second) ? cells.erase(it) : std::next(it);
    return removed;
  }
  replace_tail(cells, first, [&](CellMap::iterator it) { return shifted_cell_key(shift, it->first); }, removed);
  return removed;
}

}  // namespace cmx::model
