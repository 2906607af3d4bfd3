#include "session/proposals.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "collab/local_operations.h"
#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "model/display_text.h"
#include "ops/apply.h"
#include "session/model_copies.h"
#include "session/set_cells.h"
#include "session/typed_input.h"

namespace cmx::session {
namespace {

const model::SheetCell* find_cell(const model::WorkbookModel& workbook, uint32_t sheet, uint32_t row, uint32_t col) {
  if (sheet >= workbook.sheets.size()) return nullptr;
  const model::CellMap& cells = workbook.sheets[sheet].cells;
  const auto found = cells.find(model::CellKey{row, col});
  return found == cells.end() ? nullptr : &found->second;
}

std::string shown_text(const model::WorkbookModel& workbook, uint32_t sheet, uint32_t row, uint32_t col) {
  const model::SheetCell* cell = find_cell(workbook, sheet, row, col);
  return cell ? model::cell_display_text(workbook.styles, workbook.date_system, *cell) : std::string();
}

// The defaulted equality is the comparison wanted: values of one kind with
// IEEE numbers, byte-equal formula texts, the same style.
bool same_record(const model::SheetCell* a, const model::SheetCell* b) {
  static const model::SheetCell empty;
  return (a ? *a : empty) == (b ? *b : empty);
}

model::CellAddress address_of(uint32_t sheet, uint32_t row, uint32_t col) {
  return model::CellAddress{sheet, model::CellRef{row, col}};
}

Result<void, EngineError> check_edit_target(const WorkbookSession& session, uint32_t sheet, model::CellRef cell) {
  CMX_TRY(sheet_at_or_error(session, sheet));
  CMX_TRY(check_editable_worksheet(session, sheet));
  if (cell.row >= model::MAX_ROWS || cell.col >= model::MAX_COLS) {
    return unexpected(EngineError::cell_out_of_range(cell));
  }
  return {};
}

TargetSnapshot snapshot_of(const model::WorkbookModel& workbook, const model::WorkbookModel& staged, uint32_t sheet,
                           uint32_t row, uint32_t col, std::string before, std::string after) {
  TargetSnapshot snapshot{std::move(before), std::move(after), model::CellValue(), sheet, row, col};
  const model::SheetCell* in_copy = find_cell(staged, sheet, row, col);
  const model::SheetCell* in_workbook = find_cell(workbook, sheet, row, col);
  if (in_copy && !in_copy->value.is_empty()) {
    snapshot.value = in_copy->value;
  } else if (in_workbook && !in_workbook->value.is_empty()) {
    snapshot.value = in_workbook->value;
  }
  return snapshot;
}

std::vector<TargetSnapshot> snapshot_proposal_targets(const model::WorkbookModel& workbook,
                                                      const model::WorkbookModel& staged,
                                                      const std::vector<ProposedEditRecord>& edits) {
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> targets;
  std::vector<TargetSnapshot> snapshots;
  for (const ProposedEditRecord& edit : edits) {
    targets.emplace(edit.sheet, edit.row, edit.col);
    snapshots.push_back(snapshot_of(workbook, staged, edit.sheet, edit.row, edit.col, edit.before, edit.after));
  }
  for (const model::CellAddress& changed : changed_cells_between(workbook, staged)) {
    const uint32_t sheet = changed.sheet;
    const uint32_t row = changed.cell.row;
    const uint32_t col = changed.cell.col;
    if (targets.contains({sheet, row, col})) continue;
    const model::SheetCell* before = find_cell(workbook, sheet, row, col);
    const model::SheetCell* after = find_cell(staged, sheet, row, col);
    if (!before || !after || !before->formula || !after->formula) continue;
    std::string before_text = model::cell_display_text(workbook.styles, workbook.date_system, *before);
    std::string after_text = model::cell_display_text(staged.styles, staged.date_system, *after);
    if (before_text == after_text) continue;
    snapshots.push_back(snapshot_of(workbook, staged, sheet, row, col, std::move(before_text), std::move(after_text)));
  }
  std::stable_sort(snapshots.begin(), snapshots.end(), [](const TargetSnapshot& a, const TargetSnapshot& b) {
    return std::tie(a.sheet, a.row, a.col) < std::tie(b.sheet, b.row, b.col);
  });
  return snapshots;
}

bool proposal_snapshots_equal(const std::vector<TargetSnapshot>& a, const std::vector<TargetSnapshot>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].sheet != b[i].sheet || a[i].row != b[i].row || a[i].col != b[i].col || a[i].before != b[i].before ||
        a[i].after != b[i].after || !(a[i].value == b[i].value)) {
      return false;
    }
  }
  return true;
}

std::vector<model::CellAddress> edit_cells(const ProposalRecord& record) {
  std::vector<model::CellAddress> cells;
  cells.reserve(record.edits.size());
  for (const ProposedEditRecord& edit : record.edits) cells.push_back(address_of(edit.sheet, edit.row, edit.col));
  return cells;
}

ProposalRecord* find_proposal_by_id(WorkbookSession& session, std::string_view id) {
  for (const std::shared_ptr<ProposalRecord>& record : session.proposals) {
    if (record->id == id) return record.get();
  }
  return nullptr;
}

}  // namespace

std::vector<model::CellAddress> changed_cells_between(const model::WorkbookModel& a, const model::WorkbookModel& b) {
  std::vector<model::CellAddress> changed;
  static const model::CellMap none;
  const size_t count = std::max(a.sheets.size(), b.sheets.size());
  for (size_t index = 0; index < count; ++index) {
    const model::CellMap& left = index < a.sheets.size() ? a.sheets[index].cells : none;
    const model::CellMap& right = index < b.sheets.size() ? b.sheets[index].cells : none;
    const uint32_t sheet = static_cast<uint32_t>(index);
    auto l = left.begin();
    auto r = right.begin();
    while (l != left.end() || r != right.end()) {
      if (r == right.end() || (l != left.end() && l->first < r->first)) {
        changed.push_back(address_of(sheet, l->first.row, l->first.col));
        ++l;
      } else if (l == left.end() || r->first < l->first) {
        changed.push_back(address_of(sheet, r->first.row, r->first.col));
        ++r;
      } else {
        if (!(l->second == r->second)) changed.push_back(address_of(sheet, l->first.row, l->first.col));
        ++l;
        ++r;
      }
    }
  }
  return changed;
}

Result<ProposalRecord, EngineError> propose(WorkbookSession& session, std::string agent_id,
                                            const std::vector<ProposalEdit>& edits, std::optional<std::string> note,
                                            std::optional<double> now_serial) {
  model::WorkbookModel staged = clone_workbook_model(session.model);
  for (const ProposalEdit& edit : edits) {
    CMX_TRY(check_edit_target(session, edit.sheet, edit.cell));
    model::SheetCell content = parse_typed_cell_input(staged, edit.sheet, edit.cell.row, edit.cell.col, edit.text);
    CMX_TRY(validate_cell_input(content));
    model::CellMap& cells = staged.sheets[edit.sheet].cells;
    const model::CellKey key{edit.cell.row, edit.cell.col};
    if (model::is_empty_record(content)) {
      cells.erase(key);
    } else {
      cells.insert_or_assign(key, std::move(content));
    }
  }
  formula::recalculate_all(staged, now_serial);

  ProposalRecord record;
  record.agent_id = std::move(agent_id);
  record.note = std::move(note);
  record.edits.reserve(edits.size());
  for (const ProposalEdit& edit : edits) {
    ProposedEditRecord entry{edit.sheet, edit.cell.row, edit.cell.col, edit.text, {}, {}, std::nullopt};
    if (const model::SheetCell* stored = find_cell(session.model, edit.sheet, edit.cell.row, edit.cell.col)) {
      entry.previous = *stored;
    }
    entry.before = shown_text(session.model, edit.sheet, edit.cell.row, edit.cell.col);
    entry.after = shown_text(staged, edit.sheet, edit.cell.row, edit.cell.col);
    record.edits.push_back(std::move(entry));
  }
  record.targets = snapshot_proposal_targets(session.model, staged, record.edits);
  session.proposal_counter += 1;
  record.id = "p" + std::to_string(session.proposal_counter);
  session.proposals.push_back(std::make_shared<ProposalRecord>(record));
  return record;
}

Result<EditReport, EngineError> accept_proposal(WorkbookSession& session, std::string_view id, bool force,
                                                std::optional<double> now_serial) {
  const ProposalRecord* found = find_proposal_by_id(session, id);
  if (!found) return unexpected(EngineError::with_text(EngineErrorKind::ProposalNotFound, std::string(id)));
  const ProposalRecord record = *found;
  const std::string record_id = record.id;
  if (record.edits.empty()) {
    reject_proposal(session, record_id);
    return EditReport{};
  }
  if (!force) {
    std::vector<model::CellAddress> stale;
    for (const ProposedEditRecord& edit : record.edits) {
      const model::SheetCell* now = find_cell(session.model, edit.sheet, edit.row, edit.col);
      if (!same_record(edit.previous ? &*edit.previous : nullptr, now)) {
        stale.push_back(address_of(edit.sheet, edit.row, edit.col));
      }
    }
    if (!stale.empty()) return unexpected(EngineError::stale_proposal(std::move(stale)));
  }

  StagedEdit staged{clone_workbook_model(session.model), {}};
  ops::Batch forward;
  std::vector<ops::InverseList> inverses;
  std::vector<model::CellAddress> edited;
  std::vector<std::optional<std::string>> edited_formulas;
  for (const ProposedEditRecord& edit : record.edits) {
    const model::CellRef cell{edit.row, edit.col};
    CMX_TRY(check_edit_target(session, edit.sheet, cell));
    model::SheetCell content = parse_typed_cell_input(staged.model, edit.sheet, edit.row, edit.col, edit.input);
    CMX_TRY(validate_cell_input(content));
    const model::SheetCell* stored = find_cell(staged.model, edit.sheet, edit.row, edit.col);
    static const model::SheetCell empty;
    const model::SheetCell& current = stored ? *stored : empty;
    const bool unchanged = content.formula || current.formula
                               ? (content.formula && current.formula && content.formula->str() == current.formula->str() &&
                                  content.style == current.style)
                               : (content.value == current.value && content.style == current.style);
    if (unchanged) continue;
    edited.push_back(address_of(edit.sheet, edit.row, edit.col));
    edited_formulas.push_back(content.formula ? std::optional<std::string>(content.formula->str()) : std::nullopt);
    ops::WorkbookOp op = ops::SetCell{std::move(content), address_of(edit.sheet, edit.row, edit.col)};
    auto applied = ops::apply_op(staged.model, op);
    if (!applied) return unexpected(EngineError::from_ops(applied.error()));
    inverses.push_back(std::move(applied).value());
    forward.push_back(std::move(op));
  }
  if (forward.empty() || workbook_models_equal(staged.model, session.model)) {
    reject_proposal(session, record_id);
    return EditReport{};
  }
  if (!force) {
    model::WorkbookModel outcome = clone_workbook_model(staged.model);
    formula::recalculate_all(outcome, now_serial);
    ProposalRecord fresh = record;
    for (ProposedEditRecord& edit : fresh.edits) edit.after = shown_text(outcome, edit.sheet, edit.row, edit.col);
    fresh.targets = snapshot_proposal_targets(session.model, outcome, fresh.edits);
    if (!proposal_snapshots_equal(fresh.targets, record.targets)) {
      std::vector<model::CellAddress> cells = edit_cells(fresh);
      if (ProposalRecord* stored = find_proposal_by_id(session, record_id)) *stored = std::move(fresh);
      return unexpected(EngineError::stale_proposal(std::move(cells)));
    }
  }

  for (auto list = inverses.rbegin(); list != inverses.rend(); ++list) {
    for (ops::WorkbookOp& op : *list) staged.undo_entry.push_back(std::move(op));
  }
  if (!session.engine) session.engine = formula::rebuild_graph(session.model);
  CMX_ASSIGN_OR_RETURN(PreparedCommit commit,
                       prepare_operation_commit(session, std::move(forward), std::move(staged),
                                                collab::LocalOrigin::kAgent, false, std::nullopt));
  CMX_ASSIGN_OR_RETURN(std::optional<std::vector<uint8_t>> update,
                       integrate_prepared_commit(session, std::move(commit)));
  EditReport report = reregister_and_recalculate(session, edited, edited_formulas, now_serial);
  reject_proposal(session, record_id);
  finish_local_commit(session, std::move(update));
  return report;
}

bool reject_proposal(WorkbookSession& session, std::string_view id) {
  const size_t before = session.proposals.size();
  std::erase_if(session.proposals, [&](const std::shared_ptr<ProposalRecord>& record) { return record->id == id; });
  return session.proposals.size() != before;
}

void clear_proposals(WorkbookSession& session) { session.proposals.clear(); }

}  // namespace cmx::session
