#include "ops/structural.h"

#include <algorithm>
#include <limits>

#include "ops/apply.h"
#include "ops/formula_rewrite.h"
#include "ops/names_links_charts.h"
#include "ops/ref_shift.h"

namespace cmx::ops {

namespace {

using model::StructuralKind;

WorkbookOp inverse_step(SheetId sheet, const StructuralShift& shift) {
  switch (shift.kind) {
    case StructuralKind::InsertRows: return DeleteRows{sheet, shift.at, shift.count};
    case StructuralKind::DeleteRows: return InsertRows{sheet, shift.at, shift.count};
    case StructuralKind::InsertColumns: return DeleteColumns{sheet, shift.at, shift.count};
    case StructuralKind::DeleteColumns: return InsertColumns{sheet, shift.at, shift.count};
  }
  return InsertRows{sheet, shift.at, shift.count};
}

// Moves the keys of a row-height or column-width map. Entries deleted, or
// pushed past the grid by an insert, are handed back in key order.
std::vector<std::pair<uint32_t, double>> shift_sizes(std::map<uint32_t, double>& sizes, const StructuralShift& shift,
                                                     uint32_t grid) {
  std::vector<std::pair<uint32_t, double>> removed;
  if (sizes.empty() || shift.count == 0) return removed;
  std::map<uint32_t, double> moved;
  const uint32_t end = band_end(shift);
  for (const auto& [key, value] : sizes) {
    if (key < shift.at) {
      moved.emplace_hint(moved.end(), key, value);
    } else if (is_insert(shift.kind)) {
      const uint64_t to = uint64_t{key} + shift.count;
      // Nothing past the grid may be saved; the entry returns on undo.
      if (to >= grid) {
        removed.emplace_back(key, value);
      } else {
        moved.emplace_hint(moved.end(), static_cast<uint32_t>(to), value);
      }
    } else if (key < end) {
      removed.emplace_back(key, value);
    } else {
      moved.emplace_hint(moved.end(), key - shift.count, value);
    }
  }
  sizes = std::move(moved);
  return removed;
}

void shift_column_styles(std::vector<model::ColumnStyle>& runs, const StructuralShift& shift) {
  constexpr uint32_t kLastCol = model::MAX_COLS - 1;
  auto held = [](uint64_t value) { return static_cast<uint32_t>(std::min<uint64_t>(value, kLastCol)); };
  if (is_insert(shift.kind)) {
    for (model::ColumnStyle& run : runs) {
      if (run.last < shift.at) continue;
      run.last = held(uint64_t{run.last} + shift.count);
      if (run.first >= shift.at) run.first = held(uint64_t{run.first} + shift.count);
    }
    return;
  }
  const uint32_t end = band_end(shift);
  std::erase_if(runs, [&](const model::ColumnStyle& run) { return run.first >= shift.at && run.last < end; });
  for (model::ColumnStyle& run : runs) {
    if (run.first >= end) {
      run.first -= shift.count;
    } else if (run.first >= shift.at) {
      run.first = shift.at;
    }
    if (run.last >= end) {
      run.last -= shift.count;
    } else if (run.last >= shift.at) {
      run.last = shift.at - 1;
    }
  }
}

// Merges that survive grow or shrink with the edit; those a delete cuts
// into are handed back as they were.
std::vector<model::CellRange> shift_merges(std::vector<model::CellRange>& merges, const StructuralShift& shift) {
  std::vector<model::CellRange> removed;
  std::vector<model::CellRange> kept;
  kept.reserve(merges.size());
  const bool rows = shifts_rows(shift.kind);
  const uint64_t grid = rows ? model::MAX_ROWS : model::MAX_COLS;
  const uint32_t end = band_end(shift);
  for (const model::CellRange& merge : merges) {
    auto bound = [&](uint32_t value) -> std::optional<uint32_t> {
      if (value < shift.at) return value;
      if (is_insert(shift.kind)) {
        const uint64_t to = uint64_t{value} + shift.count;
        if (to >= grid) return std::nullopt;
        return static_cast<uint32_t>(to);
      }
      if (value < end) return std::nullopt;
      return value - shift.count;
    };
    model::CellRef start = merge.start;
    model::CellRef stop = merge.end;
    auto a = bound(rows ? start.row : start.col);
    auto b = bound(rows ? stop.row : stop.col);
    if (!a || !b) {
      if (!is_insert(shift.kind)) removed.push_back(merge);
      continue;
    }
    (rows ? start.row : start.col) = *a;
    (rows ? stop.row : stop.col) = *b;
    model::CellRange out;
    out.start = {std::min(start.row, stop.row), std::min(start.col, stop.col), merge.start.abs_row,
                 merge.start.abs_col};
    out.end = {std::max(start.row, stop.row), std::max(start.col, stop.col), merge.end.abs_row, merge.end.abs_col};
    kept.push_back(out);
  }
  merges = std::move(kept);
  return removed;
}

// Undoes restore steps already taken when a later pass refuses.
void roll_back(model::WorkbookModel& model, const InverseList& restores) {
  for (const WorkbookOp& step : restores) (void)apply_op(model, step);
}

}  // namespace

Result<InverseList, OpsError> apply_structural(model::WorkbookModel& model, SheetId sheet,
                                               const StructuralShift& shift) {
  if (sheet >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(sheet));
  // A saved table part is copied as it was read, so its range cannot move.
  for (const model::WorkbookTable& table : model.tables) {
    if (table.sheet != sheet) continue;
    if (shift_range(table.range, shift).verdict != ShiftVerdict::Unchanged) {
      return unexpected(OpsError::with_text(OpsErrorKind::TableNotMovable, table.name));
    }
  }

  CMX_ASSIGN_OR_RETURN(std::vector<SetCell> formula_restores,
                       remap_cell_formulas_for_structural_op(model, sheet, shift));
  InverseList done(formula_restores.begin(), formula_restores.end());
  auto names = remap_defined_names_for_structural_op(model, sheet, shift);
  if (!names) {
    roll_back(model, done);
    return unexpected(names.error());
  }
  if (*names) done.push_back(**names);
  auto charts = remap_charts_for_structural_op(model, sheet, shift);
  if (!charts) {
    roll_back(model, done);
    return unexpected(charts.error());
  }
  std::vector<SetHyperlinks> location_restores = remap_hyperlinks_for_structural_op(model, sheet, shift);

  model::SheetModel& edited = model.sheets[sheet];
  const bool rows = shifts_rows(shift.kind);
  std::vector<model::SheetHyperlink> kept_links = edited.hyperlinks;
  std::vector<model::ColumnStyle> kept_runs;
  if (!rows) kept_runs = edited.column_styles;

  auto removed_cells = model::shift_cells_for_structural_op(edited, shift);
  auto removed_sizes =
      rows ? shift_sizes(edited.row_heights, shift, model::MAX_ROWS) : shift_sizes(edited.col_widths, shift, model::MAX_COLS);
  if (!rows) shift_column_styles(edited.column_styles, shift);
  std::vector<model::CellRange> removed_merges = shift_merges(edited.merges, shift);
  std::vector<model::SheetHyperlink> links;
  links.reserve(edited.hyperlinks.size());
  for (model::SheetHyperlink& link : edited.hyperlinks) {
    auto moved = shift_range(link.range, shift);
    if (moved.verdict == ShiftVerdict::Invalid) continue;
    link.range = moved.value;
    links.push_back(std::move(link));
  }
  edited.hyperlinks = std::move(links);

  InverseList inverse;
  inverse.push_back(inverse_step(sheet, shift));
  if (!rows && !kept_runs.empty()) inverse.push_back(SetColumnStyles{sheet, std::move(kept_runs)});
  for (auto& [ref, cell] : removed_cells) {
    inverse.push_back(SetCell{std::move(cell), CellAddress{sheet, model::CellRef{ref.row, ref.col, false, false}}});
  }
  for (const auto& [key, value] : removed_sizes) {
    if (rows) {
      inverse.push_back(SetRowHeight{sheet, key, value});
    } else {
      inverse.push_back(SetColumnWidth{sheet, key, value});
    }
  }
  for (const model::CellRange& merge : removed_merges) inverse.push_back(MergeCells{sheet, merge});
  inverse.push_back(SetHyperlinks{sheet, std::move(kept_links)});
  for (WorkbookOp& step : done) inverse.push_back(std::move(step));
  for (SetCharts& step : *charts) inverse.push_back(std::move(step));
  for (SetHyperlinks& step : location_restores) inverse.push_back(std::move(step));
  return inverse;
}

}  // namespace cmx::ops
