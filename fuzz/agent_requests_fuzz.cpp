// Fuzzes the agent requests over one small open workbook. The first byte
// picks the request (read, find, validate, apply); in the rest "@V" stands
// for the workbook's current version, so batches get past the version test.
// Every request answers JSON with "ok" or fails with a reading error; only
// an apply that answers "applied": true moves the revision.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "agent/batch.h"
#include "agent/requests.h"
#include "json/reader.h"
#include "session/open.h"
#include "writer/new_package.h"

using namespace cmx;

namespace {

std::unique_ptr<session::WorkbookSession> small_session() {
  model::WorkbookModel workbook;
  workbook.sheets.resize(2);
  workbook.sheets[0].name = "One";
  workbook.sheets[1].name = "Two";
  workbook.styles.cell_xfs.emplace_back();
  auto put = [&](uint32_t row, uint32_t col, model::SheetCell cell) {
    workbook.sheets[0].cells.insert_or_assign(model::CellKey{row, col}, std::move(cell));
  };
  put(0, 0, model::SheetCell{model::CellValue::number(1), std::nullopt, std::nullopt});
  put(0, 1, model::SheetCell{model::CellValue::text("Total"), std::nullopt, std::nullopt});
  put(1, 0, model::SheetCell{model::CellValue::number(2), SharedString("A1*2"), std::nullopt});
  workbook.sheets[0].merges.push_back(model::CellRange{{3, 3}, {4, 4}});
  auto parts = writer::write_new_package(workbook, 0);
  if (!parts) std::abort();
  auto bytes = writer::write_package_zip(*parts);
  if (!bytes) std::abort();
  auto opened = session::bootstrap_session(*bytes, /*keep_cached=*/true, std::nullopt);
  if (!opened) std::abort();
  return std::move(opened).value();
}

std::string with_version(std::string_view text, const std::string& version) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "@V") {
      out += version;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<session::WorkbookSession> session = small_session();
  if (size == 0) return 0;
  const std::string request = with_version(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1),
                                           session::session_version(*session));
  const uint64_t revision = session->revision;
  Result<std::string, session::EngineError> answer = std::string();
  switch (data[0] % 4) {
    case 0: answer = agent::run_read_cells_request(*session, request); break;
    case 1: answer = agent::run_find_text_request(*session, request); break;
    case 2: answer = agent::run_validate_edits_request(*session, request); break;
    default: answer = agent::run_apply_edits_request(*session, request); break;
  }
  if (!answer) {
    if (answer.error().kind != session::EngineErrorKind::InvalidRequest || session->revision != revision) {
      std::abort();
    }
    return 0;
  }
  auto parsed = json::parse_json_value(*answer);
  if (!parsed || parsed->kind() != json::JsonValue::Kind::Object) std::abort();
  const json::JsonValue* ok = parsed->as_object().find("ok");
  if (ok == nullptr || ok->kind() != json::JsonValue::Kind::Bool) std::abort();
  const json::JsonValue* applied = parsed->as_object().find("applied");
  const bool moved = applied != nullptr && applied->as_bool();
  if (session->revision != revision + (moved ? 1 : 0)) std::abort();
  return 0;
}
