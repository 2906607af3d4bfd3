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

std::vector<std::pair<CellRef, SheetCell>> shift_cells_for_structural_op(SheetModel& sheet,
                                                                         const StructuralShift& shift) {
  shift_array_ranges(sheet.array_ranges, shift);
  std::vector<std::pair<CellRef, SheetCell>> removed;
  CellMap& cells = sheet.cells;

  // A row edit leaves every key above `at` where it is, so its walk starts
  // there; empty records are never stored, and those met are dropped.
  const bool rows = moves_rows(shift.kind);
  auto walk_start = [&] { return rows ? cells.lower_bound(CellKey{shift.at, 0}) : cells.begin(); };
  for (auto it = walk_start(); it != cells.end();) {
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
  for (auto it = walk_start(); it != cells.end(); ++it) {
    std::optional<CellKey> to = shifted_cell_key(shift, it->first);
    if (to == it->first) {
      if (split != cells.end()) unchanged_after_split = true;
      continue;
    }
    if (split == cells.end()) split = it;
    if (to && (!lowest_new || *to < *lowest_new)) lowest_new = to;
    plan.push_back(PlanEntry{it->first, to});
  }
  if (plan.empty()) return removed;

  // The tail can be cut off and appended again when it holds exactly the
  // planned cells and every new key sorts after every key left behind.
  const bool after_kept = split == cells.begin() || !lowest_new || std::prev(split)->first < *lowest_new;
  if (!unchanged_after_split && after_kept) {
    // The moved cells go straight into a map of their own, appended in
    // order, which then takes the tail's place.
    CellMap moved;
    size_t step = 0;
    for (auto it = split; it != cells.end(); ++it, ++step) {
      if (step >= plan.size()) fail_invariant("plan covers every split-off cell");
      const PlanEntry& entry = plan[step];
      if (entry.to) {
        moved.emplace_hint(moved.end(), *entry.to, std::move(it->second));
      } else {
        removed.emplace_back(CellRef{entry.from.row, entry.from.col, false, false}, std::move(it->second));
      }
    }
    if (split == cells.begin()) {
      cells = std::move(moved);
      return removed;
    }
    cells.erase(split, cells.end());
    for (auto& [key, cell] : moved) cells.emplace_hint(cells.end(), key, std::move(cell));
    return removed;
  }

  CellMap old = std::move(cells);
  cells.clear();
  for (auto& [key, cell] : old) {
    std::optional<CellKey> to = shifted_cell_key(shift, key);
    if (!to) {
      removed.emplace_back(CellRef{key.row, key.col, false, false}, std::move(cell));
    } else if (!is_empty_record(cell)) {
      // Kept keys keep their order, so each lands at the end.
      cells.emplace_hint(cells.end(), *to, std::move(cell));
    }
  }
  return removed;
}

}  // namespace cmx::model
