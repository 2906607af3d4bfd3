#include <utility>
#include <vector>

#include "agent/requests.h"
#include "agent/targets.h"
#include "model/display_text.h"

namespace cmx::agent {
namespace {

json::JsonObject read_cell_record(const model::WorkbookModel& workbook, const model::SheetCell* cell, uint32_t row,
                                  uint32_t col, size_t& text_bytes) {
  json::JsonObject record;
  record.insert("a1", json::JsonValue(a1_text(row, col)));
  if (cell == nullptr) {
    record.insert("value", json::cell_value_to_json_value(model::CellValue()));
    record.insert("formula", json::JsonValue());
    record.insert("displayText", json::JsonValue(std::string()));
    return record;
  }
  std::string display = model::cell_display_text(workbook.styles, workbook.date_system, *cell);
  text_bytes += display.size();
  if (cell->formula) text_bytes += cell->formula->view().size();
  if (cell->value.is_text()) text_bytes += cell->value.as_text().size();
  record.insert("value", json::cell_value_to_json_value(cell->value));
  record.insert("formula", cell->formula ? json::JsonValue(cell->formula->str()) : json::JsonValue());
  record.insert("displayText", json::JsonValue(std::move(display)));
  return record;
}

json::JsonValue::Array sheet_entries(const WorkbookSession& session, const SheetKeys& keys) {
  json::JsonValue::Array sheets;
  for (uint32_t i = 0; i < session.model.sheets.size(); ++i) {
    json::JsonObject entry;
    entry.insert("sheetId", json::JsonValue(i < keys.size() ? keys[i] : std::string()));
    entry.insert("name", json::JsonValue(session.model.sheets[i].name));
    entry.insert("editable", json::JsonValue(check_sheet_editable(session, i).has_value()));
    sheets.push_back(json::JsonValue(std::move(entry)));
  }
  return sheets;
}

AgentRefusal with_version(AgentRefusal out, const std::string& version) {
  out.version = version;
  return out;
}

}  // namespace

Result<std::string, EngineError> run_read_cells_request(const WorkbookSession& session, std::string_view request) {
  if (request_too_long(request)) return request_too_long_answer(session);
  CMX_ASSIGN_OR_RETURN(json::ReadRequest read, parse_read_request(request));
  const std::string version = session::session_version(session);
  const SheetKeys keys = agent_sheet_keys(session);

  std::vector<ResolvedTarget> targets;
  targets.reserve(read.ranges.size());
  size_t cells = 0;
  for (const json::RangeTarget& target : read.ranges) {
    auto resolved = resolve_range_target(session, keys, target);
    if (!resolved) return cap_answer(session, refusal_text(with_version(std::move(resolved).error(), version)));
    const size_t rows = resolved->range.end.row - resolved->range.start.row + 1;
    const size_t cols = resolved->range.end.col - resolved->range.start.col + 1;
    // rows * cols is below 2^35, so the sum cannot wrap before it is tested.
    cells += rows * cols;
    if (cells > kMaxReadCells) {
      AgentRefusal out = refusal(RefusalCode::LimitExceeded,
                                 "a read returns at most " + std::to_string(kMaxReadCells) + " cells");
      out.target = target;
      return cap_answer(session, refusal_text(with_version(std::move(out), version)));
    }
    targets.push_back(*resolved);
  }

  const model::WorkbookModel& workbook = session.model;
  json::JsonValue::Array ranges;
  ranges.reserve(targets.size());
  size_t text_bytes = 0;
  for (const ResolvedTarget& target : targets) {
    const model::CellMap& stored = workbook.sheets[target.sheet].cells;
    json::JsonValue::Array rows;
    for (uint32_t row = target.range.start.row; row <= target.range.end.row; ++row) {
      json::JsonValue::Array records;
      auto it = stored.lower_bound(model::CellKey{row, target.range.start.col});
      for (uint32_t col = target.range.start.col; col <= target.range.end.col; ++col) {
        const model::SheetCell* cell = nullptr;
        if (it != stored.end() && it->first.row == row && it->first.col == col) {
          cell = &it->second;
          ++it;
        }
        records.push_back(json::JsonValue(read_cell_record(workbook, cell, row, col, text_bytes)));
        if (text_bytes > kMaxAnswerTextBytes) {
          return cap_answer(session, refusal_text(with_version(
                                         refusal(RefusalCode::LimitExceeded, "a read returns at most " +
                                                                                 std::to_string(kMaxAnswerTextBytes) +
                                                                                 " bytes of text"),
                                         version)));
        }
      }
      rows.push_back(json::JsonValue(std::move(records)));
    }
    json::JsonObject entry;
    json::value_map_insert_range_target(entry, canonical_range_target(keys, target));
    entry.insert("cells", json::JsonValue(std::move(rows)));
    ranges.push_back(json::JsonValue(std::move(entry)));
  }

  auto [cycles, cycles_cut] = cell_locations_capped(keys, session.last_calculation.cycles);
  auto [limited, limited_cut] = cell_locations_capped(keys, session.last_calculation.limited);
  json::JsonObject calculation;
  json::value_map_insert_cell_locations(calculation, "cycleCells", cycles);
  json::value_map_insert_cell_locations(calculation, "limitedCells", limited);
  calculation.insert("truncated", json::JsonValue(cycles_cut || limited_cut));

  json::JsonObject answer;
  answer.insert("version", json::JsonValue(version));
  answer.insert("sheets", json::JsonValue(sheet_entries(session, keys)));
  answer.insert("ranges", json::JsonValue(std::move(ranges)));
  answer.insert("calculation", json::JsonValue(std::move(calculation)));
  return cap_answer(session, success_text(std::move(answer)));
}

}  // namespace cmx::agent
