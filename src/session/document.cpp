#include "session/document.h"

#include <string>

namespace cmx::session {

std::vector<std::string> sheet_key_list(size_t count) {
  std::vector<std::string> keys;
  keys.reserve(count);
  for (size_t idx = 0; idx < count; ++idx) keys.push_back("sheet:" + std::to_string(idx));
  return keys;
}

Result<OpenedDocument, EngineError> open_document(const model::WorkbookModel& workbook,
                                                  const std::vector<reader::SourceDimensions>& /*declared*/,
                                                  const std::optional<model::StyleSheet>& /*declared_styles*/,
                                                  std::optional<uint64_t> client_id) {
  OpenedDocument opened;
  opened.authority.client_id = client_id;
  opened.projected = workbook;
  if (client_id) {
    ReplicaSnapshot replica;
    replica.sheet_keys = sheet_key_list(workbook.sheets.size());
    for (const model::SheetModel& sheet : workbook.sheets) replica.sheet_names.push_back(sheet.name);
    opened.replica = std::move(replica);
  }
  return opened;
}

}  // namespace cmx::session
