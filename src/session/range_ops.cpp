#include "session/range_ops.h"

#include <cmath>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "collab/local_operations.h"
#include "model/anchor_rect.h"
#include "model/grid_metrics.h"
#include "model/workbook.h"
#include "ops/apply.h"
#include "ops/ref_shift.h"
#include "reader/source_queries.h"
#include "session/model_copies.h"
#include "session/proposals.h"
#include "session/recalc_requests.h"
#include "session/set_cells.h"
#include "session/validation.h"

namespace cmx::session {
namespace {

EngineError invalid(std::string text) { return EngineError::invalid_operation(std::move(text)); }

Result<void, EngineError> check_cell(uint32_t row, uint32_t col) {
  if (row >= model::MAX_ROWS || col >= model::MAX_COLS) {
    return unexpected(EngineError::cell_out_of_range(model::CellRef{row, col}));
  }
  return {};
}

Result<void, EngineError> check_range(const model::CellRange& range) {
  CMX_TRY(check_cell(range.start.row, range.start.col));
  CMX_TRY(check_cell(range.end.row, range.end.col));
  if (range.end.row < range.start.row || range.end.col < range.start.col) {
    return unexpected(invalid("range start must be above and left of range end"));
  }
  return {};
}

Result<void, EngineError> check_sheet(const model::WorkbookModel& workbook, uint32_t sheet) {
  if (sheet >= workbook.sheets.size()) return unexpected(EngineError::sheet_out_of_range(sheet));
  return {};
}

Result<void, EngineError> check_cell_cap(const model::CellRange& range) {
  const uint64_t rows = uint64_t{range.end.row} - range.start.row + 1;
  const uint64_t columns = uint64_t{range.end.col} - range.start.col + 1;
  if (rows * columns > kMaxRangeCells) {
    return unexpected(EngineError::with_numbers(EngineErrorKind::RangeTooLarge, rows, columns, kMaxRangeCells));
  }
  return {};
}

Result<void, EngineError> check_line_edit(uint32_t at, uint32_t count, uint32_t bound, const char* what) {
  if (count == 0) return unexpected(invalid(std::string(what) + " operation count must be positive"));
  if (at >= bound || count > bound - at) {
    return unexpected(invalid(std::string(what) + " operation exceeds sheet bounds"));
  }
  return {};
}

// A frame keeps its anchor kind and how it follows grid edits; a one-cell
// frame keeps its extent, which is not written back.
Result<void, EngineError> check_chart_anchor_change(const model::ChartAnchor& old_anchor,
                                                    const model::ChartAnchor& new_anchor, const std::string& frame) {
  const model::ChartAnchorKind old_kind = model::anchor_kind(old_anchor);
  const model::ChartAnchorKind new_kind = model::anchor_kind(new_anchor);
  if (old_kind == model::ChartAnchorKind::Absolute || new_kind == model::ChartAnchorKind::Absolute) {
    return unexpected(invalid("chart " + frame + " is pinned to the sheet and cannot be moved"));
  }
  if (old_kind != new_kind) return unexpected(invalid("chart " + frame + " cannot change its anchor kind"));
  if (old_kind == model::ChartAnchorKind::TwoCell &&
      std::get<model::TwoCellAnchor>(old_anchor).edit_as != std::get<model::TwoCellAnchor>(new_anchor).edit_as) {
    return unexpected(invalid("chart " + frame + " cannot change how it follows a grid edit"));
  }
  if (old_kind == model::ChartAnchorKind::OneCell &&
      !(std::get<model::OneCellAnchor>(old_anchor).extent == std::get<model::OneCellAnchor>(new_anchor).extent)) {
    return unexpected(invalid("chart " + frame + " cannot be resized: a one-cell extent is not written back"));
  }
  return {};
}

// Sheets that share a drawing write one anchor element for it; an edit that
// moved the anchor on one of them only would leave the part nothing to say.
Result<void, EngineError> check_shared_anchors(const model::WorkbookModel& workbook) {
  absl::flat_hash_map<std::pair<std::string_view, uint64_t>, const model::ChartAnchor*> seen;
  for (const model::SheetModel& sheet : workbook.sheets) {
    for (const model::SheetChart& chart : sheet.charts) {
      auto [at, inserted] = seen.try_emplace({chart.drawing, chart.anchor_index}, &chart.anchor);
      if (!inserted && !(*at->second == chart.anchor)) {
        return unexpected(invalid("anchor " + std::to_string(chart.anchor_index) + " of " + chart.drawing +
                                  " is held by two sheets that disagree on where it sits"));
      }
    }
  }
  return {};
}

bool collaborative_refused(const ops::WorkbookOp& op) {
  return std::holds_alternative<ops::InsertRows>(op) || std::holds_alternative<ops::DeleteRows>(op) ||
         std::holds_alternative<ops::InsertColumns>(op) || std::holds_alternative<ops::DeleteColumns>(op) ||
         std::holds_alternative<ops::SetFreezePane>(op) || std::holds_alternative<ops::SetHyperlinks>(op) ||
         std::holds_alternative<ops::SetColumnStyles>(op) || std::holds_alternative<ops::SetCharts>(op) ||
         std::holds_alternative<ops::MergeCells>(op) || std::holds_alternative<ops::UnmergeCells>(op) ||
         std::holds_alternative<ops::InsertSheet>(op) || std::holds_alternative<ops::RemoveSheet>(op) ||
         std::holds_alternative<ops::RenameSheet>(op) || std::holds_alternative<ops::SetDefinedNames>(op) ||
         std::holds_alternative<ops::RenameSheetWithCells>(op);
}

bool is_sheet_list_op(const ops::WorkbookOp& op) {
  return std::holds_alternative<ops::InsertSheet>(op) || std::holds_alternative<ops::RemoveSheet>(op) ||
         std::holds_alternative<ops::RenameSheet>(op) || std::holds_alternative<ops::SetDefinedNames>(op) ||
         std::holds_alternative<ops::RenameSheetWithCells>(op);
}

// A retained part of the source package that names the sheet, or that may
// name any.
std::optional<std::string_view> retained_group_naming(const reader::PackageInventory& groups,
                                                      std::string_view sheet) {
  for (const reader::RetainedCellRefs& group : groups) {
    if (!group.refs) return group.label;
    for (const reader::RetainedCellRef& ref : *group.refs) {
      if (model::eq_ignore_ascii_case(ref.sheet, sheet)) return group.label;
    }
  }
  return std::nullopt;
}

Result<void, EngineError> check_retained_refs(const WorkbookSession& session, const std::vector<std::string>& names,
                                              const ops::WorkbookOp& op) {
  if (!session.source_package) return {};
  const reader::PackageInventory& groups = session.source_package->inventory;
  const auto name_of = [&](uint64_t sheet) -> Result<std::string_view, EngineError> {
    if (sheet >= names.size()) return unexpected(EngineError::sheet_out_of_range(static_cast<uint32_t>(sheet)));
    return std::string_view(names[sheet]);
  };
  std::optional<std::string_view> hit;
  if (const auto* rows = std::get_if<ops::InsertRows>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::string_view name, name_of(rows->sheet));
    hit = reader::retained_ref_blocking_row_edit(groups, name, rows->at);
  } else if (const auto* rows = std::get_if<ops::DeleteRows>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::string_view name, name_of(rows->sheet));
    hit = reader::retained_ref_blocking_row_edit(groups, name, rows->at);
  } else if (const auto* columns = std::get_if<ops::InsertColumns>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::string_view name, name_of(columns->sheet));
    hit = reader::retained_ref_blocking_column_edit(groups, name, columns->at);
  } else if (const auto* columns = std::get_if<ops::DeleteColumns>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::string_view name, name_of(columns->sheet));
    hit = reader::retained_ref_blocking_column_edit(groups, name, columns->at);
  } else if (const auto* removed = std::get_if<ops::RemoveSheet>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::string_view name, name_of(removed->index));
    hit = retained_group_naming(groups, name);
  } else if (const auto* renamed = std::get_if<ops::RenameSheet>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::string_view name, name_of(renamed->sheet));
    if (renamed->name != name) hit = retained_group_naming(groups, name);
  }
  if (hit) return unexpected(invalid(std::string(*hit) + " references cells this edit would move, and it cannot be rewritten"));
  return {};
}

// Row (column) insertion must not push content past the grid's end.
Result<void, EngineError> check_insertion_boundary(const model::WorkbookModel& workbook, const ops::WorkbookOp& op) {
  const bool rows = std::holds_alternative<ops::InsertRows>(op);
  if (!rows && !std::holds_alternative<ops::InsertColumns>(op)) return {};
  const uint32_t sheet_index = rows ? std::get<ops::InsertRows>(op).sheet : std::get<ops::InsertColumns>(op).sheet;
  const uint32_t at = rows ? std::get<ops::InsertRows>(op).at : std::get<ops::InsertColumns>(op).at;
  const uint32_t count = rows ? std::get<ops::InsertRows>(op).count : std::get<ops::InsertColumns>(op).count;
  const uint32_t bound = rows ? model::MAX_ROWS : model::MAX_COLS;
  const uint32_t threshold = std::max(at, bound - count);
  const model::SheetModel& sheet = workbook.sheets[sheet_index];
  bool hit = false;
  for (const auto& [key, cell] : sheet.cells) {
    if ((rows ? key.row : key.col) >= threshold) {
      hit = true;
      break;
    }
  }
  const auto& sizes = rows ? sheet.row_heights : sheet.col_widths;
  if (!sizes.empty() && sizes.rbegin()->first >= threshold) hit = true;
  for (const model::CellRange& merge : sheet.merges) hit = hit || (rows ? merge.end.row : merge.end.col) >= threshold;
  for (const model::SheetHyperlink& link : sheet.hyperlinks) {
    hit = hit || (rows ? link.range.end.row : link.range.end.col) >= threshold;
  }
  const std::string what = rows ? "row" : "column";
  if (hit) return unexpected(invalid(what + " insertion would discard content at the sheet boundary"));
  const model::StructuralShift shift{rows ? model::StructuralKind::InsertRows : model::StructuralKind::InsertColumns,
                                     at, count};
  for (const model::SheetChart& chart : sheet.charts) {
    if (ops::shift_anchor_for_structural_op(chart.anchor, shift).verdict == ops::AnchorVerdict::LeavesGrid) {
      return unexpected(invalid(what + " insertion would push a chart anchor past the sheet boundary"));
    }
  }
  return {};
}

std::vector<std::string> sheet_names(const model::WorkbookModel& workbook) {
  std::vector<std::string> names;
  names.reserve(workbook.sheets.size());
  for (const model::SheetModel& sheet : workbook.sheets) names.push_back(sheet.name);
  return names;
}

}  // namespace

Result<RangeSize, EngineError> check_editable_range(const WorkbookSession& session, uint32_t sheet,
                                                    const model::CellRange& range) {
  CMX_TRY(check_range(range));
  CMX_TRY(check_sheet(session.model, sheet));
  CMX_TRY(check_editable_worksheet(session, sheet));
  CMX_TRY(check_cell_cap(range));
  return RangeSize{uint64_t{range.end.row} - range.start.row + 1, uint64_t{range.end.col} - range.start.col + 1};
}

Result<void, EngineError> validate_operation(const model::WorkbookModel& workbook, const ops::WorkbookOp& op) {
  return std::visit(
      [&](const auto& step) -> Result<void, EngineError> {
        using Step = std::decay_t<decltype(step)>;
        if constexpr (std::is_same_v<Step, ops::SetCell>) {
          CMX_TRY(check_sheet(workbook, step.address.sheet));
          return check_cell(step.address.cell.row, step.address.cell.col);
        } else if constexpr (std::is_same_v<Step, ops::InsertRows> || std::is_same_v<Step, ops::DeleteRows>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          return check_line_edit(step.at, step.count, model::MAX_ROWS, "row");
        } else if constexpr (std::is_same_v<Step, ops::InsertColumns> || std::is_same_v<Step, ops::DeleteColumns>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          return check_line_edit(step.at, step.count, model::MAX_COLS, "column");
        } else if constexpr (std::is_same_v<Step, ops::SetColumnWidth>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          if (step.column >= model::MAX_COLS) {
            return unexpected(invalid("column " + std::to_string(uint64_t{step.column} + 1) + " is out of range"));
          }
          if (step.width && !(std::isfinite(*step.width) && *step.width >= 0.0 && *step.width <= 255.0)) {
            return unexpected(invalid("column width must be between 0 and 255"));
          }
          return {};
        } else if constexpr (std::is_same_v<Step, ops::SetRowHeight>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          if (step.row >= model::MAX_ROWS) {
            return unexpected(invalid("row " + std::to_string(uint64_t{step.row} + 1) + " is out of range"));
          }
          if (step.height && !(std::isfinite(*step.height) && *step.height >= 0.0 && *step.height <= 409.5)) {
            return unexpected(invalid("row height must be between 0 and 409.5"));
          }
          return {};
        } else if constexpr (std::is_same_v<Step, ops::SetFreezePane>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          if (step.pane && (step.pane->rows > model::MAX_ROWS || step.pane->cols > model::MAX_COLS ||
                            step.pane->top_left.row >= model::MAX_ROWS || step.pane->top_left.col >= model::MAX_COLS)) {
            return unexpected(invalid("freeze pane is out of range"));
          }
          return {};
        } else if constexpr (std::is_same_v<Step, ops::SetHyperlinks>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          return validate_hyperlink_list(step.hyperlinks);
        } else if constexpr (std::is_same_v<Step, ops::SetChartAnchor>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          for (const model::SheetChart& chart : workbook.sheets[step.sheet].charts) {
            if (model::chart_frame_key(chart) != step.frame) continue;
            if (!model::chart_frame_matches(chart, step.part, step.recorded)) {
              return unexpected(EngineError::with_text(EngineErrorKind::ChartFrameShifted, step.frame));
            }
            CMX_TRY(check_chart_anchor_change(step.recorded, step.anchor, step.frame));
            if (auto values = check_chart_anchor_values(step.anchor); !values) {
              return unexpected(invalid(std::string(values.error())));
            }
            const model::SheetModel& sheet = workbook.sheets[step.sheet];
            const model::GridMetrics metrics = model::compute_grid_metrics(sheet, workbook.styles);
            const uint32_t frozen_rows = sheet.freeze_pane ? sheet.freeze_pane->rows : 0;
            const uint32_t frozen_cols = sheet.freeze_pane ? sheet.freeze_pane->cols : 0;
            if (auto rect = model::anchor_pixel_rect(step.anchor, metrics, frozen_rows, frozen_cols); !rect) {
              return unexpected(invalid(std::string(model::anchor_error_message(rect.error()))));
            }
            return {};
          }
          return unexpected(invalid("no chart frame on this sheet is named " + step.frame));
        } else if constexpr (std::is_same_v<Step, ops::MergeCells> || std::is_same_v<Step, ops::UnmergeCells>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          return check_range(step.range);
        } else if constexpr (std::is_same_v<Step, ops::PatchStyle> || std::is_same_v<Step, ops::SetNumberFormat> ||
                             std::is_same_v<Step, ops::SetCellFormats>) {
          CMX_TRY(check_sheet(workbook, step.sheet));
          CMX_TRY(check_range(step.range));
          return check_cell_cap(step.range);
        } else if constexpr (std::is_same_v<Step, ops::InsertSheet>) {
          if (step.index > workbook.sheets.size()) {
            return unexpected(invalid("sheet index " + std::to_string(step.index) + " out of range"));
          }
          return {};
        } else if constexpr (std::is_same_v<Step, ops::RemoveSheet>) {
          if (step.index >= workbook.sheets.size()) {
            return unexpected(invalid("sheet index " + std::to_string(step.index) + " out of range"));
          }
          return {};
        } else if constexpr (std::is_same_v<Step, ops::RenameSheet>) {
          return check_sheet(workbook, step.sheet);
        } else {
          return unexpected(invalid("restore sheet operations are internal"));
        }
      },
      op);
}

bool is_structural_op(const ops::WorkbookOp& op) {
  return std::holds_alternative<ops::InsertRows>(op) || std::holds_alternative<ops::DeleteRows>(op) ||
         std::holds_alternative<ops::InsertColumns>(op) || std::holds_alternative<ops::DeleteColumns>(op) ||
         std::holds_alternative<ops::SetHyperlinks>(op) || std::holds_alternative<ops::SetColumnStyles>(op) ||
         std::holds_alternative<ops::SetCharts>(op) || std::holds_alternative<ops::InsertSheet>(op) ||
         std::holds_alternative<ops::RemoveSheet>(op) || std::holds_alternative<ops::RenameSheet>(op) ||
         std::holds_alternative<ops::RenameSheetWithCells>(op);
}

Result<EditReport, EngineError> apply_range_operation(WorkbookSession& session, ops::Batch operations,
                                                      std::optional<double> now_serial) {
  if (operations.empty()) return EditReport{};
  if (session.collaborative()) {
    for (const ops::WorkbookOp& op : operations) {
      if (collaborative_refused(op)) {
        return unexpected(EngineError::of(EngineErrorKind::CollaborativeStructureOperation));
      }
    }
  }
  bool drops_proposals = false;
  for (const ops::WorkbookOp& op : operations) drops_proposals = drops_proposals || is_structural_op(op);

  StagedEdit staged{clone_workbook_model(session.model), {}};
  std::vector<std::string> names = sheet_names(session.model);
  std::vector<ops::InverseList> inverses;
  for (const ops::WorkbookOp& op : operations) {
    if (!is_sheet_list_op(op)) {
      const uint32_t sheet = *ops::op_sheet(op);
      CMX_TRY(check_sheet(session.model, sheet));
      CMX_TRY(check_editable_worksheet(session, sheet));
    }
    CMX_TRY(check_retained_refs(session, names, op));
    CMX_TRY(validate_operation(staged.model, op));
    CMX_TRY(check_insertion_boundary(staged.model, op));
    auto applied = ops::apply_op(staged.model, op);
    if (!applied) return unexpected(EngineError::from_ops(applied.error()));
    inverses.push_back(std::move(applied).value());
    names = sheet_names(staged.model);
  }
  CMX_TRY(validate_workbook_for_sharing(staged.model));
  CMX_TRY(check_shared_anchors(staged.model));
  if (workbook_model_eq(staged.model, session.model)) return EditReport{};

  for (auto list = inverses.rbegin(); list != inverses.rend(); ++list) {
    for (ops::WorkbookOp& op : *list) staged.undo_entry.push_back(std::move(op));
  }
  std::optional<std::string> active_name;
  if (session.active_sheet < session.model.sheets.size()) active_name = session.model.sheets[session.active_sheet].name;

  CMX_ASSIGN_OR_RETURN(PreparedCommit commit,
                       prepare_operation_commit(session, std::move(operations), std::move(staged),
                                                collab::LocalOrigin::kUser, false, std::nullopt));
  CMX_ASSIGN_OR_RETURN(std::optional<std::vector<uint8_t>> update,
                       integrate_prepared_commit(session, std::move(commit)));
  reselect_active_sheet(session, active_name);
  if (drops_proposals) clear_proposals(session);
  const formula::RecalcResult calculation = recalculate_session(session, now_serial);
  finish_local_commit(session, std::move(update));
  EditReport report;
  report.changed = calculation.changed;
  report.cycles = calculation.cycles;
  report.limited = calculation.limited;
  report.applied = true;
  return report;
}

void reselect_active_sheet(WorkbookSession& session, const std::optional<std::string>& name) {
  const size_t count = session.model.sheets.size();
  if (name) {
    if (const std::optional<uint32_t> found = model::find_sheet_index_ci(session.model.sheets, *name)) {
      session.active_sheet = *found;
      return;
    }
  }
  const uint32_t last = count == 0 ? 0 : static_cast<uint32_t>(count - 1);
  session.active_sheet = std::min(session.active_sheet, last);
}

}  // namespace cmx::session
