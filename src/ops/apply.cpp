#include "ops/apply.h"

#include <algorithm>
#include <utility>

#include "model/sheet_cells.h"
#include "ops/sheet_edits.h"
#include "ops/structural.h"
#include "ops/style_edits.h"

namespace cmx::ops {

namespace {

using model::WorkbookModel;

Result<model::SheetModel*, OpsError> sheet_at(WorkbookModel& model, SheetId sheet) {
  if (sheet >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(sheet));
  return &model.sheets[sheet];
}

bool ranges_intersect(const model::CellRange& a, const model::CellRange& b) {
  return a.end.row >= b.start.row && b.end.row >= a.start.row && a.end.col >= b.start.col &&
         b.end.col >= a.start.col;
}

// Puts `value` in `field` and hands back the step that puts the old one back.
template <typename Step, typename Field>
InverseList swap_field(Step step, Field& field, Field Step::*payload) {
  Field old = std::exchange(field, step.*payload);
  step.*payload = std::move(old);
  return InverseList{std::move(step)};
}

template <typename Key>
std::optional<double> exchange_entry(std::map<Key, double>& map, Key key, std::optional<double> value) {
  std::optional<double> previous;
  auto it = map.find(key);
  if (it != map.end()) previous = it->second;
  if (value) {
    map.insert_or_assign(key, *value);
  } else if (it != map.end()) {
    map.erase(it);
  }
  return previous;
}

struct Applier {
  WorkbookModel& model;

  Result<InverseList, OpsError> operator()(const SetCell& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.address.sheet));
    const model::CellRef& at = step.address.cell;
    auto it = sheet->cells.find(model::CellKey{at.row, at.col});
    model::SheetCell previous = it == sheet->cells.end() ? model::SheetCell{} : it->second;
    // The empty record removes the key: a stored one would stretch the used
    // range and block row insertions at the sheet's edge for good.
    model::set_sheet_cell(*sheet, at.row, at.col, step.cell);
    return InverseList{SetCell{std::move(previous), step.address}};
  }

  Result<InverseList, OpsError> operator()(const SetColumnWidth& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    std::optional<double> previous = exchange_entry(sheet->col_widths, step.column, step.width);
    return InverseList{SetColumnWidth{step.sheet, step.column, previous}};
  }

  Result<InverseList, OpsError> operator()(const SetRowHeight& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    std::optional<double> previous = exchange_entry(sheet->row_heights, step.row, step.height);
    return InverseList{SetRowHeight{step.sheet, step.row, previous}};
  }

  Result<InverseList, OpsError> operator()(const SetFreezePane& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    return swap_field(step, sheet->freeze_pane, &SetFreezePane::pane);
  }

  Result<InverseList, OpsError> operator()(const SetHyperlinks& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    return swap_field(step, sheet->hyperlinks, &SetHyperlinks::hyperlinks);
  }

  Result<InverseList, OpsError> operator()(const SetColumnStyles& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    return swap_field(step, sheet->column_styles, &SetColumnStyles::runs);
  }

  Result<InverseList, OpsError> operator()(const SetCharts& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    return swap_field(step, sheet->charts, &SetCharts::charts);
  }

  Result<InverseList, OpsError> operator()(const SetDefinedNames& step) {
    return swap_field(step, model.defined_names, &SetDefinedNames::names);
  }

  Result<InverseList, OpsError> operator()(const SetChartAnchor& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    auto frame = std::find_if(sheet->charts.begin(), sheet->charts.end(), [&](const model::SheetChart& chart) {
      return model::chart_frame_key(chart) == step.frame;
    });
    if (frame == sheet->charts.end()) {
      return unexpected(OpsError::with_text(OpsErrorKind::ChartNotFound, step.frame));
    }
    if (!model::chart_frame_matches(*frame, step.part, step.recorded)) {
      return unexpected(OpsError::with_text(OpsErrorKind::ChartFrameShifted, step.frame));
    }
    frame->anchor = step.anchor;
    return InverseList{SetChartAnchor{step.sheet, step.frame, step.part, step.anchor, step.recorded}};
  }

  Result<InverseList, OpsError> operator()(const MergeCells& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    std::vector<model::CellRange> displaced;
    for (const model::CellRange& merge : sheet->merges) {
      if (ranges_intersect(merge, step.range)) displaced.push_back(merge);
    }
    if (displaced.size() == 1 && displaced[0] == step.range) return InverseList{};
    std::erase_if(sheet->merges, [&](const model::CellRange& merge) { return ranges_intersect(merge, step.range); });
    sheet->merges.push_back(step.range);
    InverseList inverse{UnmergeCells{step.sheet, step.range}};
    for (const model::CellRange& merge : displaced) inverse.push_back(MergeCells{step.sheet, merge});
    return inverse;
  }

  Result<InverseList, OpsError> operator()(const UnmergeCells& step) {
    CMX_ASSIGN_OR_RETURN(model::SheetModel * sheet, sheet_at(model, step.sheet));
    auto found = std::find(sheet->merges.begin(), sheet->merges.end(), step.range);
    if (found == sheet->merges.end()) return InverseList{};
    sheet->merges.erase(found);
    return InverseList{MergeCells{step.sheet, step.range}};
  }

  Result<InverseList, OpsError> operator()(const PatchStyle& step) { return apply_patch_style(model, step); }
  Result<InverseList, OpsError> operator()(const SetNumberFormat& step) { return apply_set_number_format(model, step); }
  Result<InverseList, OpsError> operator()(const SetCellFormats& step) { return apply_set_cell_formats(model, step); }

  Result<InverseList, OpsError> operator()(const InsertRows& step) {
    return apply_structural(model, step.sheet, {model::StructuralKind::InsertRows, step.at, step.count});
  }
  Result<InverseList, OpsError> operator()(const DeleteRows& step) {
    return apply_structural(model, step.sheet, {model::StructuralKind::DeleteRows, step.at, step.count});
  }
  Result<InverseList, OpsError> operator()(const InsertColumns& step) {
    return apply_structural(model, step.sheet, {model::StructuralKind::InsertColumns, step.at, step.count});
  }
  Result<InverseList, OpsError> operator()(const DeleteColumns& step) {
    return apply_structural(model, step.sheet, {model::StructuralKind::DeleteColumns, step.at, step.count});
  }
  Result<InverseList, OpsError> operator()(const InsertSheet& step) { return apply_insert_sheet(model, step); }
  Result<InverseList, OpsError> operator()(const RemoveSheet& step) { return apply_remove_sheet(model, step); }
  Result<InverseList, OpsError> operator()(const RenameSheet& step) { return apply_rename_sheet(model, step); }
  Result<InverseList, OpsError> operator()(const RenameSheetWithCells& step) {
    return apply_rename_sheet_with_cells(model, step);
  }
};

}  // namespace

Result<InverseList, OpsError> apply_op(model::WorkbookModel& model, const WorkbookOp& step) {
  return std::visit(Applier{model}, step);
}

}  // namespace cmx::ops
