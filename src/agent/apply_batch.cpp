#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "agent/batch.h"
#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "json/writer.h"
#include "session/views.h"

namespace cmx::agent {
namespace {

Result<std::string, EngineError> stop_answer(const WorkbookSession& session, BatchStop stop, bool capped) {
  if (auto* error = std::get_if<EngineError>(&stop)) return unexpected(std::move(*error));
  std::string text = refusal_text(std::get<AgentRefusal>(stop));
  return capped ? cap_answer(session, std::move(text)) : text;
}

Result<json::EditRequest, EngineError> parse_request(std::string_view text) {
  auto read = json::parse_edit_request(text);
  if (!read) return unexpected(request_error(read.error()));
  return std::move(read).value();
}

std::vector<json::StepReceipt> receipts_of(const StagedBatch& batch) {
  std::vector<json::StepReceipt> receipts;
  receipts.reserve(batch.steps.size());
  for (size_t i = 0; i < batch.steps.size(); ++i) {
    const StagedStep& step = batch.steps[i];
    json::StepReceipt receipt;
    receipt.step_index = step.step_index;
    receipt.target = step.target;
    receipt.changed = !batch.changed[i].empty();
    for (const model::CellRef& cell : batch.changed[i]) {
      receipt.changed_cells.push_back(cell_location_of(batch.keys, step.sheet, cell.row, cell.col));
    }
    receipts.push_back(std::move(receipt));
  }
  return receipts;
}

json::JsonObject apply_answer(const std::string& base, const std::string& version, bool applied,
                              json::EditSource source, const std::vector<json::StepReceipt>& receipts,
                              const std::vector<std::string>& sheets, const json::CalculationSummary& calculation) {
  json::JsonObject answer;
  answer.insert("baseVersion", json::JsonValue(base));
  answer.insert("version", json::JsonValue(version));
  answer.insert("applied", json::JsonValue(applied));
  answer.insert("source", json::JsonValue(json::edit_source_word(source)));
  json::value_map_insert_receipts(answer, receipts);
  json::JsonValue::Array keys;
  for (const std::string& key : sheets) keys.push_back(json::JsonValue(key));
  answer.insert("changedSheets", json::JsonValue(std::move(keys)));
  json::value_map_insert_calculation(answer, calculation);
  return answer;
}

}  // namespace

Result<std::string, EngineError> run_validate_edits_request(WorkbookSession& session, std::string_view request) {
  if (request_too_long(request)) return request_too_long_answer(session);
  CMX_ASSIGN_OR_RETURN(json::EditRequest edit, parse_request(request));
  auto staged = stage_batch(session, edit);
  if (!staged) return stop_answer(session, std::move(staged).error(), true);
  const StagedBatch& batch = *staged;
  json::JsonValue::Array previews;
  for (size_t i = 0; i < batch.steps.size(); ++i) {
    json::JsonObject preview;
    preview.insert("stepIndex", json::JsonValue::u64(batch.steps[i].step_index));
    json::value_map_insert_range_target(preview, batch.steps[i].target);
    preview.insert("changedCellCount", json::JsonValue::u64(batch.changed[i].size()));
    preview.insert("wouldChange", json::JsonValue(!batch.changed[i].empty()));
    previews.push_back(json::JsonValue(std::move(preview)));
  }
  json::JsonObject answer;
  answer.insert("baseVersion", json::JsonValue(batch.version));
  answer.insert("wouldApply", json::JsonValue(batch.commit.has_value()));
  answer.insert("previews", json::JsonValue(std::move(previews)));
  return cap_answer(session, success_text(std::move(answer)));
}

Result<std::string, EngineError> run_apply_edits_request(WorkbookSession& session, std::string_view request) {
  if (request_too_long(request)) return request_too_long_answer(session);
  CMX_ASSIGN_OR_RETURN(json::EditRequest edit, parse_request(request));
  auto staged = stage_batch(session, edit);
  if (!staged) return stop_answer(session, std::move(staged).error(), false);
  StagedBatch& batch = *staged;
  const std::vector<json::StepReceipt> receipts = receipts_of(batch);
  if (!batch.commit) {
    return success_text(apply_answer(batch.version, batch.version, false, batch.source, receipts, {}, {}));
  }
  session::PreparedCommit& commit = *batch.commit;

  std::vector<model::CellAddress> edited;
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> edited_set;
  std::vector<bool> sheet_changed(session.model.sheets.size(), false);
  for (size_t i = 0; i < batch.steps.size(); ++i) {
    const StagedStep& step = batch.steps[i];
    if (!batch.changed[i].empty() && step.sheet < sheet_changed.size()) sheet_changed[step.sheet] = true;
    if (!step.writes_content) continue;
    for (const model::CellRef& cell : batch.changed[i]) {
      edited.push_back(model::CellAddress{step.sheet, model::CellRef{cell.row, cell.col}});
      edited_set.emplace(step.sheet, cell.row, cell.col);
    }
  }
  std::unique_ptr<formula::EngineState> engine = formula::rebuild_graph(commit.model);
  formula::RecalcResult calculation =
      formula::recalculate_after_edit(commit.model, *engine, edited, edit.calculation.now_serial);

  std::vector<std::string> changed_sheets;
  for (size_t sheet = 0; sheet < sheet_changed.size(); ++sheet) {
    if (sheet_changed[sheet] && sheet < batch.keys.size()) changed_sheets.push_back(batch.keys[sheet]);
  }
  const std::string version = session.version_id + "-" + std::to_string(session.revision + 1);
  std::vector<model::CellAddress> others;
  for (const model::CellAddress& cell : calculation.changed) {
    if (!edited_set.contains(std::make_tuple(cell.sheet, cell.cell.row, cell.cell.col))) others.push_back(cell);
  }
  json::CalculationSummary summary;
  bool cut = false;
  std::tie(summary.changed, cut) = cell_locations_capped(batch.keys, others);
  summary.truncated = cut;
  std::tie(summary.cycle_cells, cut) = cell_locations_capped(batch.keys, calculation.cycles);
  summary.truncated = summary.truncated || cut;
  std::tie(summary.limited_cells, cut) = cell_locations_capped(batch.keys, calculation.limited);
  summary.truncated = summary.truncated || cut;

  json::JsonObject answer =
      apply_answer(batch.version, version, true, batch.source, receipts, changed_sheets, summary);
  if (json::json_value_length(json::JsonValue(answer)) > kMaxAnswerBytes) {
    AgentRefusal out = refusal(RefusalCode::LimitExceeded,
                               "the batch's result exceeds " + std::to_string(kMaxAnswerBytes) + " bytes");
    out.version = batch.version;
    return refusal_text(out);
  }
  if (session::session_version(session) != batch.version) {
    AgentRefusal out = refusal(RefusalCode::StaleVersion, "the workbook changed while the batch was staged");
    out.version = session::session_version(session);
    return refusal_text(out);
  }
  CMX_ASSIGN_OR_RETURN(std::optional<std::vector<uint8_t>> update,
                       session::integrate_prepared_commit(session, std::move(commit)));
  session.engine = std::move(engine);
  session.last_calculation = session::clone_calculation_cells(calculation);
  session::finish_local_commit(session, std::move(update));
  return success_text(std::move(answer));
}

}  // namespace cmx::agent
