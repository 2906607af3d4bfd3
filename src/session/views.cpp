#include "session/views.h"

#include <algorithm>

#include "model/cell_source.h"
#include "model/grid_metrics.h"
#include "reader/source_queries.h"

namespace cmx::session {
namespace {

uint32_t sat_add(uint32_t a, uint32_t b) {
  const uint64_t sum = uint64_t{a} + b;
  return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

bool changes_sheet_list(const ops::WorkbookOp& op) {
  return std::holds_alternative<ops::InsertSheet>(op) || std::holds_alternative<ops::RemoveSheet>(op) ||
         std::holds_alternative<ops::RenameSheet>(op) || std::holds_alternative<ops::RenameSheetWithCells>(op);
}

// The working sheet names brought in step with one op.
void update_sheet_name_list(std::vector<std::string>& names, const ops::WorkbookOp& op) {
  if (const auto* insert = std::get_if<ops::InsertSheet>(&op)) {
    names.insert(names.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(insert->index, names.size())),
                 insert->name);
  } else if (const auto* remove = std::get_if<ops::RemoveSheet>(&op)) {
    if (remove->index < names.size()) names.erase(names.begin() + static_cast<ptrdiff_t>(remove->index));
  } else if (const auto* rename = std::get_if<ops::RenameSheet>(&op)) {
    if (rename->sheet < names.size()) names[rename->sheet] = rename->name;
  } else if (const auto* with_cells = std::get_if<ops::RenameSheetWithCells>(&op)) {
    if (with_cells->sheet < names.size()) names[with_cells->sheet] = with_cells->name;
  }
}

// A row or column insert or delete as (sheet, axis, insert, at, count).
struct LineEdit {
  uint32_t sheet;
  LineAxis axis;
  bool insert;
  uint32_t at;
  uint32_t count;
};

std::optional<LineEdit> line_edit_of(const ops::WorkbookOp& op) {
  if (const auto* s = std::get_if<ops::InsertRows>(&op)) {
    return LineEdit{s->sheet, LineAxis::Rows, true, s->at, s->count};
  }
  if (const auto* s = std::get_if<ops::DeleteRows>(&op)) {
    return LineEdit{s->sheet, LineAxis::Rows, false, s->at, s->count};
  }
  if (const auto* s = std::get_if<ops::InsertColumns>(&op)) {
    return LineEdit{s->sheet, LineAxis::Columns, true, s->at, s->count};
  }
  if (const auto* s = std::get_if<ops::DeleteColumns>(&op)) {
    return LineEdit{s->sheet, LineAxis::Columns, false, s->at, s->count};
  }
  return std::nullopt;
}

bool on_border(const model::CellRange& range, const model::CellRef& cell) {
  return cell.row == range.start.row || cell.row == range.end.row || cell.col == range.start.col ||
         cell.col == range.end.col;
}

bool inside(const model::CellRange& range, const model::CellRef& cell) {
  return cell.row >= range.start.row && cell.row <= range.end.row && cell.col >= range.start.col &&
         cell.col <= range.end.col;
}

// Whether a SetCell on the active sheet may keep the view; widens the used
// range when it does.
bool keep_after_set_cell(ViewCache& cache, const model::WorkbookModel& workbook, const ops::SetCell& step,
                         const CellStyleStates& before) {
  const model::SheetModel& sheet = workbook.sheets[cache.active_sheet];
  const model::CellRef cell{step.address.cell.row, step.address.cell.col};
  const auto found = before.find(step.address.cell);
  const std::optional<std::optional<uint32_t>> old =
      found == before.end() ? std::nullopt : std::optional(found->second);
  if (!model::is_empty_record(step.cell)) {
    if (old && *old != step.cell.style) return false;
    if (!old && model::cell_font_needs_taller_row(sheet, workbook.styles, cell, step.cell.style)) return false;
  } else if (old) {
    if (cache.used_range && inside(*cache.used_range, cell) && on_border(*cache.used_range, cell)) return false;
    if (model::cell_font_needs_taller_row(sheet, workbook.styles, cell, *old)) return false;
  }
  if (!cache.used_range) {
    cache.used_range = model::CellRange{cell, cell};
  } else {
    model::CellRange& used = *cache.used_range;
    used.start = {std::min(used.start.row, cell.row), std::min(used.start.col, cell.col)};
    used.end = {std::max(used.end.row, cell.row), std::max(used.end.col, cell.col)};
  }
  cache.extent = compute_view_extent(cache.used_range, sheet.freeze_pane, cache.metrics);
  return true;
}

}  // namespace

ViewExtent compute_view_extent(const std::optional<model::CellRange>& used_range,
                               const std::optional<model::FreezePane>& pane, const model::GridMetrics& metrics) {
  uint32_t rows = used_range ? sat_add(used_range->end.row, 2) : 50;
  uint32_t cols = used_range ? sat_add(used_range->end.col, 2) : 26;
  ViewExtent extent;
  if (pane) {
    rows = std::max({rows, sat_add(pane->rows, 1), sat_add(pane->top_left.row, 2)});
    cols = std::max({cols, sat_add(pane->cols, 1), sat_add(pane->top_left.col, 2)});
    extent.frozen_rows = pane->rows;
    extent.frozen_cols = pane->cols;
    extent.scroll_x = static_cast<float>(
        std::max(0.0, model::col_left_px(metrics, pane->top_left.col) - model::col_left_px(metrics, pane->cols)));
    extent.scroll_y = static_cast<float>(
        std::max(0.0, model::row_top_px(metrics, pane->top_left.row) - model::row_top_px(metrics, pane->rows)));
  }
  rows = std::min(rows, model::MAX_ROWS);
  cols = std::min(cols, model::MAX_COLS);
  extent.content_width = static_cast<float>(model::col_left_px(metrics, cols));
  extent.content_height = static_cast<float>(model::row_top_px(metrics, rows));
  return extent;
}

Result<WorkbookView, EngineError> refresh_view_cache(WorkbookSession& session) {
  return session.view_cache.with([&](std::optional<ViewCache>& slot) -> Result<WorkbookView, EngineError> {
    if (!slot) {
      const uint32_t active = session.active_sheet;
      if (active >= session.model.sheets.size()) return unexpected(EngineError::sheet_out_of_range(active));
      const model::SheetModel& sheet = session.model.sheets[active];
      ViewCache cache;
      cache.active_sheet = active;
      cache.metrics = model::compute_grid_metrics(sheet, session.model.styles);
      cache.used_range = model::sheet_used_range(sheet);
      cache.extent = compute_view_extent(cache.used_range, sheet.freeze_pane, cache.metrics);
      cache.sheet_keys =
          session.replica ? session.replica->sheet_keys : sheet_key_list(session.model.sheets.size());
      for (const model::SheetModel& each : session.model.sheets) cache.sheet_names.push_back(each.name);
      slot = std::move(cache);
    }
    return WorkbookView{slot->sheet_keys, slot->sheet_names, slot->active_sheet, slot->extent};
  });
}

void clear_view_cache(WorkbookSession& session) {
  session.view_cache.with([](std::optional<ViewCache>& slot) { slot.reset(); });
}

CellStyleStates collect_view_cell_states(WorkbookSession& session, const std::vector<ops::WorkbookOp>& ops) {
  CellStyleStates states;
  const bool cached = session.view_cache.with([](std::optional<ViewCache>& slot) { return slot.has_value(); });
  if (!cached || session.active_sheet >= session.model.sheets.size()) return states;
  const model::SheetModel& sheet = session.model.sheets[session.active_sheet];
  for (const ops::WorkbookOp& op : ops) {
    const auto* step = std::get_if<ops::SetCell>(&op);
    if (step == nullptr || step->address.sheet != session.active_sheet) continue;
    const auto found = sheet.cells.find(model::CellKey{step->address.cell.row, step->address.cell.col});
    if (found != sheet.cells.end()) states[step->address.cell] = found->second.style;
  }
  return states;
}

void update_view_cache(WorkbookSession& session, const std::vector<ops::WorkbookOp>& ops,
                       const CellStyleStates& before) {
  session.view_cache.with([&](std::optional<ViewCache>& slot) {
    if (!slot || ops.empty()) return;
    const uint32_t active = slot->active_sheet;
    if (active >= session.model.sheets.size()) {
      slot.reset();
      return;
    }
    for (const ops::WorkbookOp& op : ops) {
      bool keep = true;
      if (const auto* step = std::get_if<ops::SetCell>(&op)) {
        if (step->address.sheet == active) keep = keep_after_set_cell(*slot, session.model, *step, before);
      } else if (std::holds_alternative<ops::SetCharts>(op) || std::holds_alternative<ops::SetChartAnchor>(op) ||
                 std::holds_alternative<ops::SetDefinedNames>(op)) {
        keep = true;
      } else if (changes_sheet_list(op)) {
        keep = false;
      } else {
        keep = ops::op_sheet(op) != active;
      }
      if (!keep) {
        slot.reset();
        return;
      }
    }
  });
}

void install_model(WorkbookSession& session, model::WorkbookModel workbook) {
  session.model = std::move(workbook);
  ++session.generation;
  session.chart_cache.with([](ParsedChartCache& cache) { cache.clear(); });
}

void rebuild_sheet_cell_maps(WorkbookSession& session, const std::vector<std::string>& names_before,
                             const std::vector<ops::WorkbookOp>& ops) {
  std::vector<std::string> names = names_before;
  for (const ops::WorkbookOp& op : ops) {
    const std::optional<LineEdit> edit = line_edit_of(op);
    if (session.source_package && edit) {
      const auto& groups = session.source_package->inventory;
      const bool hit =
          edit->sheet >= names.size() ||
          (edit->axis == LineAxis::Rows ? reader::retained_ref_blocking_row_edit(groups, names[edit->sheet], edit->at)
                                        : reader::retained_ref_blocking_column_edit(groups, names[edit->sheet],
                                                                                    edit->at))
              .has_value();
      if (hit) session.retained_refs_moved = true;
    }
    update_sheet_name_list(names, op);
  }
  SheetSourceTable& table = session.sheet_sources;
  for (const ops::WorkbookOp& op : ops) {
    if (const auto* insert = std::get_if<ops::InsertSheet>(&op)) {
      insert_source_sheet(table, insert->index);
    } else if (const auto* remove = std::get_if<ops::RemoveSheet>(&op)) {
      remove_source_sheet(table, remove->index);
    } else if (const std::optional<LineEdit> edit = line_edit_of(op)) {
      move_source_lines(table, edit->sheet, edit->axis, edit->insert, edit->at, edit->count);
    }
  }
}

formula::RecalcResult clone_calculation_cells(const formula::RecalcResult& result) {
  return formula::RecalcResult{result.changed, result.cycles, result.limited};
}

}  // namespace cmx::session
