#include "session/set_cells.h"

#include <utility>

#include "collab/cell_writes.h"
#include "collab/local_operations.h"
#include "collab/undo_history.h"
#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "ops/batch.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/recalc_requests.h"
#include "session/typed_input.h"
#include "session/views.h"

namespace cmx::session {
namespace {

bool inside_grid(model::CellRef cell) { return cell.row < model::MAX_ROWS && cell.col < model::MAX_COLS; }

// Absent cells compare as the empty record.
model::SheetCell stored_cell(const model::SheetModel& sheet, model::CellRef cell) {
  const auto found = sheet.cells.find(model::CellKey{cell.row, cell.col});
  return found == sheet.cells.end() ? model::SheetCell{} : found->second;
}

// The defaulted equality is the one wanted: byte-equal formula texts, values
// of one kind with numbers compared numerically, the same style index.
bool same_content(const model::SheetCell& a, const model::SheetCell& b) { return a == b; }

ops::SetCell set_cell_op(uint32_t sheet, model::CellRef cell, model::SheetCell content) {
  return ops::SetCell{std::move(content), model::CellAddress{sheet, model::CellRef{cell.row, cell.col}}};
}


void ensure_engine(WorkbookSession& session) {
  if (!session.engine) session.engine = formula::rebuild_graph(session.model);
}

std::vector<std::string> sheet_names(const WorkbookSession& session) {
  std::vector<std::string> names;
  names.reserve(session.model.sheets.size());
  for (const model::SheetModel& sheet : session.model.sheets) names.push_back(sheet.name);
  return names;
}

// The one SetCell written into the document and the model; returns the
// update, none when the document did not change.
Result<std::optional<std::vector<uint8_t>>, EngineError> apply_single_set(WorkbookSession& session,
                                                                          const ops::Batch& batch) {
  ensure_document(session);
  if (!session.collaborative()) {
    auto written = collab::apply_local_operation(session.authority, batch, collab::LocalOrigin::kUser,
                                                 session.model.styles);
    if (!written) return unexpected(from_authority_error(written.error()));
    if (auto applied = ops::apply_batch_with_undo(session.local_history, session.model, batch); !applied) {
      return unexpected(EngineError::from_ops(applied.error()));
    }
    std::optional<std::vector<uint8_t>> update = std::move(written).value();
    if (update && is_empty_update(*update)) update.reset();
    return update;
  }
  CMX_ASSIGN_OR_RETURN(auto in_place, commit_cells_in_place(session, batch, session.model.styles));
  if (in_place) return std::move(*in_place);
  auto ran = collab::dry_run_local_operation(session.authority, batch, collab::LocalOrigin::kUser,
                                             session.model.styles);
  if (!ran) return unexpected(from_authority_error(ran.error()));
  collab::ScratchOutcome& outcome = ran.value();
  CMX_TRY(check_collaborative_outcome(session, outcome));
  if (auto merged = collab::integrate_update_as_undo_step(session.authority, outcome.update); !merged) {
    return unexpected(from_authority_error(merged.error()));
  }
  refresh_formula_cache_targets(session.model.sheets, outcome.model.sheets);
  copy_sheets_for_staging(session.model.sheets, outcome.model.sheets);
  install_model(session, std::move(outcome.model));
  if (is_empty_update(outcome.update)) return std::optional<std::vector<uint8_t>>();
  return std::optional<std::vector<uint8_t>>(std::move(outcome.update));
}

// What integrate_prepared_commit does with a scratch run's update, written
// straight into the live document instead: in a workbook that is not
// collaborative as the same "xlsx:untracked" transaction, in a collaborative
// one as the same undo step. None when the batch needs the scratch road;
// nothing has changed then.
Result<std::optional<std::optional<std::vector<uint8_t>>>, EngineError> commit_cells_directly(
    WorkbookSession& session, const ops::Batch& forward, StagedEdit& staged) {
  using Declined = std::optional<std::optional<std::vector<uint8_t>>>;
  ensure_document(session);
  const std::vector<std::string> names_before = sheet_names(session);
  const CellStyleStates states = collect_view_cell_states(session, forward);
  if (session.collaborative()) {
    CMX_ASSIGN_OR_RETURN(Declined update, commit_cells_in_place(session, forward, staged.model.styles));
    if (!update) return Declined();
    update_view_cache(session, forward, states);
    rebuild_sheet_cell_maps(session, names_before, forward);
    session.calculated = true;
    return update;
  }
  if (!collab::only_cell_writes(forward)) return Declined();
  collab::LocalWriteOptions options;
  options.transaction_origin = collab::kUntrackedOrigin;
  options.partial_only = true;
  SheetSourceTable sources_before = session.sheet_sources;
  auto written = collab::apply_local_operation(session.authority, forward, collab::LocalOrigin::kUser,
                                               staged.model.styles, options);
  if (!written) return unexpected(from_authority_error(written.error()));
  if (!written->written) return Declined();
  install_model(session, std::move(staged.model));
  update_view_cache(session, forward, states);
  session.local_history.undo_stack.push_back(std::move(staged.undo_entry));
  session.local_history.redo_stack.clear();
  rebuild_sheet_cell_maps(session, names_before, forward);
  session.source_undo.emplace_back(std::move(sources_before), session.sheet_sources);
  session.source_redo.clear();
  session.calculated = true;
  return Declined(std::move(written->update));
}

}  // namespace

Result<void, EngineError> check_editable_worksheet(const WorkbookSession& session, uint32_t sheet) {
  if (sheet >= session.sheet_sources.origins.size() || !session.source_package) return {};
  const SheetOrigin& origin = session.sheet_sources.origins[sheet];
  if (origin.tag != 1 || origin.source_index >= session.source_package->sheets.size()) return {};
  const std::optional<std::string>& type = session.source_package->sheets[origin.source_index].rel_type;
  if (!type) return {};
  const size_t slash = type->rfind('/');
  const std::string_view last = slash == std::string::npos ? std::string_view(*type)
                                                           : std::string_view(*type).substr(slash + 1);
  if (last == "worksheet") return {};
  return unexpected(EngineError::invalid_operation("sheet " + std::to_string(sheet) + " is not an editable worksheet"));
}

Result<EditReport, EngineError> set_cell(WorkbookSession& session, uint32_t sheet, model::CellRef cell,
                                         std::string_view text, std::optional<double> now_serial) {
  CMX_ASSIGN_OR_RETURN(const model::SheetModel* target, sheet_at_or_error(session, sheet));
  CMX_TRY(check_editable_worksheet(session, sheet));
  if (!inside_grid(cell)) return unexpected(EngineError::cell_out_of_range(cell));
  model::SheetCell content = parse_typed_cell_input(session.model, sheet, cell.row, cell.col, text);
  CMX_TRY(validate_cell_input(content));
  if (same_content(content, stored_cell(*target, cell))) return EditReport{};

  ensure_engine(session);
  const std::optional<std::string> new_formula =
      content.formula ? std::optional<std::string>(content.formula->str()) : std::nullopt;
  const ops::Batch batch{set_cell_op(sheet, cell, std::move(content))};
  bump_generation(session);
  std::optional<SheetSourceTable> sources_before;
  if (!session.collaborative()) sources_before = session.sheet_sources;
  const std::vector<std::string> names_before = sheet_names(session);
  const CellStyleStates states = collect_view_cell_states(session, batch);

  CMX_ASSIGN_OR_RETURN(std::optional<std::vector<uint8_t>> update, apply_single_set(session, batch));

  update_view_cache(session, batch, states);
  rebuild_sheet_cell_maps(session, names_before, batch);
  if (sources_before) {
    session.source_undo.emplace_back(std::move(*sources_before), session.sheet_sources);
    session.source_redo.clear();
  }
  session.calculated = true;
  formula::update_graph_cell(*session.engine, sheet, cell.row, cell.col,
                             new_formula ? std::optional<std::string_view>(*new_formula) : std::nullopt);
  const std::vector<model::CellAddress> edited{model::CellAddress{sheet, model::CellRef{cell.row, cell.col}}};
  const formula::RecalcResult calculation =
      formula::recalculate_after_edit(session.model, *session.engine, edited, now_serial);
  EditReport report = build_edit_report(session, calculation, edited);
  finish_local_commit(session, std::move(update));
  return report;
}

Result<EditReport, EngineError> set_many_cells(WorkbookSession& session, uint32_t sheet,
                                               const std::vector<CellEdit>& edits,
                                               std::optional<double> now_serial) {
  if (edits.empty()) return EditReport{};
  CMX_TRY(sheet_at_or_error(session, sheet));
  CMX_TRY(check_editable_worksheet(session, sheet));

  StagedEdit staged{clone_workbook_model(session.model), {}};
  ops::Batch forward;
  ops::Batch inverses;
  std::vector<model::CellAddress> edited;
  std::vector<std::optional<std::string>> edited_formulas;
  for (const CellEdit& edit : edits) {
    if (!inside_grid(edit.cell)) return unexpected(EngineError::cell_out_of_range(edit.cell));
    model::SheetCell content = parse_typed_cell_input(staged.model, sheet, edit.cell.row, edit.cell.col, edit.text);
    CMX_TRY(validate_cell_input(content));
    model::CellMap& cells = staged.model.sheets[sheet].cells;
    const model::CellKey key{edit.cell.row, edit.cell.col};
    model::SheetCell previous = stored_cell(staged.model.sheets[sheet], edit.cell);
    if (same_content(content, previous)) continue;
    if (model::is_empty_record(content)) {
      cells.erase(key);
    } else {
      cells.insert_or_assign(key, content);
    }
    edited_formulas.push_back(content.formula ? std::optional<std::string>(content.formula->str()) : std::nullopt);
    inverses.push_back(set_cell_op(sheet, edit.cell, std::move(previous)));
    forward.push_back(set_cell_op(sheet, edit.cell, std::move(content)));
    edited.push_back(model::CellAddress{sheet, model::CellRef{edit.cell.row, edit.cell.col}});
  }
  if (forward.empty() || workbook_models_equal(staged.model, session.model)) return EditReport{};
  staged.undo_entry.assign(std::make_move_iterator(inverses.rbegin()), std::make_move_iterator(inverses.rend()));

  ensure_engine(session);
  CMX_ASSIGN_OR_RETURN(std::optional<std::optional<std::vector<uint8_t>>> direct,
                       commit_cells_directly(session, forward, staged));
  if (direct) {
    EditReport report = reregister_and_recalculate(session, edited, edited_formulas, now_serial);
    finish_local_commit(session, std::move(*direct));
    return report;
  }
  CMX_ASSIGN_OR_RETURN(PreparedCommit commit,
                       prepare_operation_commit(session, std::move(forward), std::move(staged),
                                                collab::LocalOrigin::kUser, false, std::nullopt));
  CMX_ASSIGN_OR_RETURN(std::optional<std::vector<uint8_t>> update,
                       integrate_prepared_commit(session, std::move(commit)));
  EditReport report = reregister_and_recalculate(session, edited, edited_formulas, now_serial);
  finish_local_commit(session, std::move(update));
  return report;
}

EditReport reregister_and_recalculate(WorkbookSession& session, const std::vector<model::CellAddress>& edited,
                                      const std::vector<std::optional<std::string>>& formulas,
                                      std::optional<double> now_serial) {
  for (size_t i = 0; i < edited.size(); ++i) {
    const std::optional<std::string>& text = formulas[i];
    formula::update_graph_cell(*session.engine, edited[i].sheet, edited[i].cell.row, edited[i].cell.col,
                               text ? std::optional<std::string_view>(*text) : std::nullopt);
  }
  const formula::RecalcResult calculation =
      formula::recalculate_after_edit(session.model, *session.engine, edited, now_serial);
  return build_edit_report(session, calculation, edited);
}

}  // namespace cmx::session
