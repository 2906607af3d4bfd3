#include "ops/sheet_edits.h"

#include <algorithm>

#include "model/sheet_cells.h"
#include "ops/formula_rewrite.h"
#include "ops/names_links_charts.h"
#include "ops/sheet_qualifiers.h"

namespace cmx::ops {

namespace {

std::optional<size_t> position_of(const std::vector<std::string>& names, std::string_view name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (same_sheet_name(names[i], name)) return i;
  }
  return std::nullopt;
}

// One piece of a chart reference; absent when it becomes #REF!.
std::optional<std::string> narrow_piece(std::string_view piece, const std::vector<std::string>& old_names,
                                        std::string_view removed) {
  std::string out;
  size_t copied = 0;
  for (const QualifierMention& mention : scan_sheet_qualifiers(piece)) {
    if (!mention.qualifier || mention.external) continue;
    if (mention.first == mention.last) {
      if (same_sheet_name(mention.first, removed)) return std::nullopt;
      continue;
    }
    auto first = position_of(old_names, mention.first);
    auto last = position_of(old_names, mention.last);
    if (!first || !last) {
      if (same_sheet_name(mention.first, removed) || same_sheet_name(mention.last, removed)) return std::nullopt;
      continue;
    }
    const size_t low = std::min(*first, *last);
    const size_t high = std::max(*first, *last);
    std::vector<std::string_view> kept;
    bool covers = false;
    for (size_t i = low; i <= high; ++i) {
      if (same_sheet_name(old_names[i], removed)) {
        covers = true;
      } else {
        kept.push_back(old_names[i]);
      }
    }
    if (!covers) continue;
    if (kept.empty()) return std::nullopt;
    out.append(piece.substr(copied, mention.start - copied));
    out += format_sheet_qualifier(kept.front(), kept.back());
    copied = mention.bang;
  }
  out.append(piece.substr(copied));
  return out;
}

}  // namespace

std::string narrow_chart_ref_for_removed_sheet(std::string_view text, const std::vector<std::string>& old_names,
                                               std::string_view removed) {
  std::string_view work = trim_white_space(text);
  bool wrapped = false;
  work = unwrap_chart_ref(work, wrapped);
  auto pieces = split_top_level_args(work);
  if (!pieces) return std::string(text);
  std::vector<std::string> out;
  bool changed = false;
  for (std::string_view piece : *pieces) {
    std::optional<std::string> narrowed = narrow_piece(piece, old_names, removed);
    if (!narrowed) {
      out.emplace_back("#REF!");
      changed = true;
      continue;
    }
    changed = changed || *narrowed != piece;
    out.push_back(std::move(*narrowed));
  }
  if (!changed) return std::string(text);
  std::string joined;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i > 0) joined.push_back(',');
    joined += out[i];
  }
  return wrapped ? "(" + joined + ")" : joined;
}

Result<InverseList, OpsError> apply_insert_sheet(model::WorkbookModel& model, const InsertSheet& step) {
  const uint32_t position = static_cast<uint32_t>(std::min<uint64_t>(step.index, model.sheets.size()));
  model::SheetModel sheet;
  sheet.name = step.name;
  model.sheets.insert(model.sheets.begin() + position, std::move(sheet));
  for (model::DefinedName& name : model.defined_names) {
    if (name.local_sheet && *name.local_sheet >= position) ++*name.local_sheet;
  }
  for (model::WorkbookTable& table : model.tables) {
    if (table.sheet >= position) ++table.sheet;
  }
  return InverseList{RemoveSheet{position}};
}

Result<InverseList, OpsError> apply_remove_sheet(model::WorkbookModel& model, const RemoveSheet& step) {
  if (step.index >= model.sheets.size()) return unexpected(OpsError::sheet_index_out_of_range(step.index));
  const auto index = static_cast<uint32_t>(step.index);
  for (const model::WorkbookTable& table : model.tables) {
    if (table.sheet == index) return unexpected(OpsError::with_text(OpsErrorKind::TableNotMovable, table.name));
  }
  std::vector<std::string> old_names;
  old_names.reserve(model.sheets.size());
  for (const model::SheetModel& sheet : model.sheets) old_names.push_back(sheet.name);
  std::vector<model::DefinedName> previous_names = model.defined_names;

  model::SheetModel removed = std::move(model.sheets[index]);
  model.sheets.erase(model.sheets.begin() + index);

  std::erase_if(model.defined_names,
                [&](const model::DefinedName& name) { return name.local_sheet && *name.local_sheet == index; });
  for (model::DefinedName& name : model.defined_names) {
    if (name.local_sheet && *name.local_sheet > index) --*name.local_sheet;
  }
  for (model::WorkbookTable& table : model.tables) {
    if (table.sheet > index) --table.sheet;
  }

  std::vector<SetCharts> chart_restores;
  for (uint32_t s = 0; s < model.sheets.size(); ++s) {
    std::vector<model::SheetChart> charts = model.sheets[s].charts;
    for (model::SheetChart& chart : charts) {
      for (model::ChartReference& ref : chart.refs) {
        ref.formula = narrow_chart_ref_for_removed_sheet(ref.formula, old_names, removed.name);
      }
    }
    if (charts != model.sheets[s].charts) {
      const uint32_t restored_at = s >= index ? s + 1 : s;
      chart_restores.push_back(SetCharts{restored_at, std::exchange(model.sheets[s].charts, std::move(charts))});
    }
  }

  InverseList inverse;
  inverse.push_back(InsertSheet{step.index, removed.name});
  for (const auto& [key, cell] : removed.cells) {
    inverse.push_back(SetCell{cell, CellAddress{index, model::CellRef{key.row, key.col, false, false}}});
  }
  for (const model::CellRange& merge : removed.merges) inverse.push_back(MergeCells{index, merge});
  for (const auto& [column, width] : removed.col_widths) inverse.push_back(SetColumnWidth{index, column, width});
  for (const auto& [row, height] : removed.row_heights) inverse.push_back(SetRowHeight{index, row, height});
  if (removed.freeze_pane) inverse.push_back(SetFreezePane{index, removed.freeze_pane});
  if (!removed.hyperlinks.empty()) inverse.push_back(SetHyperlinks{index, std::move(removed.hyperlinks)});
  if (!removed.column_styles.empty()) inverse.push_back(SetColumnStyles{index, std::move(removed.column_styles)});
  if (!removed.charts.empty()) inverse.push_back(SetCharts{index, std::move(removed.charts)});
  if (previous_names != model.defined_names) inverse.push_back(SetDefinedNames{std::move(previous_names)});
  for (SetCharts& restore : chart_restores) inverse.push_back(std::move(restore));
  return inverse;
}

namespace {

// Renames `old_name` to `new_name` in every hyperlink location; gives the
// restores, one per changed sheet.
std::vector<SetHyperlinks> rename_sheet_in_locations(model::WorkbookModel& model, std::string_view old_name,
                                                     std::string_view new_name) {
  std::vector<SetHyperlinks> restores;
  for (uint32_t s = 0; s < model.sheets.size(); ++s) {
    std::vector<model::SheetHyperlink> links = model.sheets[s].hyperlinks;
    bool any = false;
    for (model::SheetHyperlink& link : links) {
      if (!link.location) continue;
      const std::string& location = *link.location;
      std::string renamed =
          location.starts_with('#')
              ? "#" + rename_sheet_in_formula_text(std::string_view(location).substr(1), old_name, new_name).text
              : rename_sheet_in_formula_text(location, old_name, new_name).text;
      if (renamed == location) continue;
      link.location = std::move(renamed);
      any = true;
    }
    if (any) restores.push_back(SetHyperlinks{s, std::exchange(model.sheets[s].hyperlinks, std::move(links))});
  }
  return restores;
}

}  // namespace

Result<InverseList, OpsError> apply_rename_sheet(model::WorkbookModel& model, const RenameSheet& step) {
  if (step.sheet >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(step.sheet));
  const std::string old_name = model.sheets[step.sheet].name;
  std::vector<std::pair<CellAddress, model::SheetCell>> previous;
  std::vector<SharedString> texts;
  if (old_name != step.name) {
    for (uint32_t s = 0; s < model.sheets.size(); ++s) {
      for (const auto& [key, cell] : model.sheets[s].cells) {
        if (!cell.formula) continue;
        const std::string_view text = cell.formula->view();
        RenamedText renamed = rename_sheet_in_formula_text(text, old_name, step.name);
        if (renamed.text == text) continue;
        const model::CellRef ref{key.row, key.col, false, false};
        if (renamed.text.size() > kMaxRewrittenFormula) {
          return unexpected(OpsError::formula_not_rewritable(s, ref));
        }
        previous.emplace_back(CellAddress{s, ref}, cell);
        texts.emplace_back(renamed.text);
      }
    }
  }
  for (size_t i = 0; i < previous.size(); ++i) {
    const CellAddress& at = previous[i].first;
    model.sheets[at.sheet].cells.find(model::CellKey{at.cell.row, at.cell.col})->second.formula = texts[i];
  }
  std::vector<SetHyperlinks> links = rename_sheet_in_locations(model, old_name, step.name);
  std::optional<SetDefinedNames> names = rename_sheet_in_defined_names(model, old_name, step.name);
  std::vector<SetCharts> charts = rename_sheet_in_chart_refs(model, old_name, step.name);
  model.sheets[step.sheet].name = step.name;

  InverseList inverse;
  inverse.push_back(RenameSheetWithCells{step.sheet, old_name, std::move(previous)});
  for (SetHyperlinks& restore : links) inverse.push_back(std::move(restore));
  if (names) inverse.push_back(std::move(*names));
  for (SetCharts& restore : charts) inverse.push_back(std::move(restore));
  return inverse;
}

Result<InverseList, OpsError> apply_rename_sheet_with_cells(model::WorkbookModel& model,
                                                            const RenameSheetWithCells& step) {
  if (step.sheet >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(step.sheet));
  for (const auto& [address, cell] : step.cells) {
    if (address.sheet >= model.sheets.size()) return unexpected(OpsError::sheet_not_found(address.sheet));
  }
  const std::string old_name = model.sheets[step.sheet].name;
  std::vector<std::pair<CellAddress, model::SheetCell>> previous;
  previous.reserve(step.cells.size());
  for (const auto& [address, cell] : step.cells) {
    const auto& cells = model.sheets[address.sheet].cells;
    auto it = cells.find(model::CellKey{address.cell.row, address.cell.col});
    previous.emplace_back(address, it == cells.end() ? model::SheetCell{} : it->second);
  }
  std::optional<SetDefinedNames> names = rename_sheet_in_defined_names(model, old_name, step.name);
  std::vector<SetCharts> charts = rename_sheet_in_chart_refs(model, old_name, step.name);
  model.sheets[step.sheet].name = step.name;
  for (const auto& [address, cell] : step.cells) {
    model::set_sheet_cell(model.sheets[address.sheet], address.cell.row, address.cell.col, cell);
  }
  InverseList inverse;
  inverse.push_back(RenameSheetWithCells{step.sheet, old_name, std::move(previous)});
  if (names) inverse.push_back(std::move(*names));
  for (SetCharts& restore : charts) inverse.push_back(std::move(restore));
  return inverse;
}

}  // namespace cmx::ops
