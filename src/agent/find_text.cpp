#include <algorithm>
#include <utility>
#include <vector>

#include "agent/requests.h"
#include "agent/targets.h"
#include "model/display_text.h"

namespace cmx::agent {
namespace {

std::string refused(const WorkbookSession& session, const std::string& version, RefusalCode code,
                    std::string message) {
  AgentRefusal out = refusal(code, std::move(message));
  out.version = version;
  return cap_answer(session, refusal_text(out));
}

}  // namespace

Result<std::string, EngineError> run_find_text_request(const WorkbookSession& session, std::string_view request) {
  if (request_too_long(request)) return request_too_long_answer(session);
  CMX_ASSIGN_OR_RETURN(json::FindRequest find, parse_find_request(request));
  const std::string version = session::session_version(session);
  if (find.text.empty()) return refused(session, version, RefusalCode::InvalidStep, "search text is empty");
  const uint32_t limit = find.limit.value_or(kDefaultFindLimit);
  if (limit == 0) return refused(session, version, RefusalCode::InvalidStep, "limit must be positive");
  if (limit > kMaxFindLimit) {
    return refused(session, version, RefusalCode::LimitExceeded,
                   "a search returns at most " + std::to_string(kMaxFindLimit) + " matches");
  }
  const SheetKeys keys = agent_sheet_keys(session);
  const model::WorkbookModel& workbook = session.model;

  std::vector<uint32_t> sheets;
  if (find.sheet_ids) {
    for (const std::string& id : *find.sheet_ids) {
      const std::optional<uint32_t> sheet = sheet_of_key(session, keys, id);
      if (!sheet) return refused(session, version, RefusalCode::MissingTarget, "no sheet has the id " + id);
      sheets.push_back(*sheet);
    }
    std::sort(sheets.begin(), sheets.end());
    sheets.erase(std::unique(sheets.begin(), sheets.end()), sheets.end());
  } else {
    for (uint32_t i = 0; i < workbook.sheets.size(); ++i) sheets.push_back(i);
  }

  json::JsonValue::Array matches;
  size_t text_bytes = 0;
  bool truncated = false;
  for (uint32_t sheet : sheets) {
    for (const auto& [key, cell] : workbook.sheets[sheet].cells) {
      std::string display = model::cell_display_text(workbook.styles, workbook.date_system, cell);
      if (display.find(find.text) == std::string::npos) continue;
      if (matches.size() == limit) {
        truncated = true;
        break;
      }
      text_bytes += display.size();
      if (text_bytes > kMaxAnswerTextBytes) {
        return refused(session, version, RefusalCode::LimitExceeded,
                       "a search returns at most " + std::to_string(kMaxAnswerTextBytes) + " bytes of text");
      }
      json::JsonObject match;
      match.insert("cell", json::cell_location_to_json_value(cell_location_of(keys, sheet, key.row, key.col)));
      match.insert("text", json::JsonValue(std::move(display)));
      matches.push_back(json::JsonValue(std::move(match)));
    }
    if (truncated) break;
  }

  json::JsonObject answer;
  answer.insert("version", json::JsonValue(version));
  answer.insert("matches", json::JsonValue(std::move(matches)));
  answer.insert("truncated", json::JsonValue(truncated));
  return cap_answer(session, success_text(std::move(answer)));
}

}  // namespace cmx::agent
