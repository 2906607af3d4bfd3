// The structured export of a workbook (a JSON document under budgets) and the
// Markdown made from such a document: the driver, the renderer and the five
// entries the Python module calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "formula/recalc.h"
#include "json/export_options.h"
#include "json/export_records.h"
#include "model/workbook.h"
#include "reader/source_package.h"
#include "session/error.h"
#include "session/session.h"
#include "session/source_table.h"

namespace cmx::exports {

// The largest answer text of any export entry.
inline constexpr uint64_t kMaxExportResultBytes = 67108864;

// What an export reads of a session, borrowed for the export's length.
struct ExportSource {
  std::span<const std::string> sheet_keys;
  const model::WorkbookModel* model = nullptr;
  const reader::SourcePackage* package = nullptr;  // none for a workbook without one
  const session::SheetSourceTable* sources = nullptr;
  const formula::RecalcResult* last_calculation = nullptr;
  bool calculated = false;
  session::Guarded<session::ExportTextCache>* text_cache = nullptr;
  std::string_view archive;  // the package bytes, for the parts a lean record left there
};

// A stopped export is a success with `truncated` set.
Result<json::XlsxStructuredContent, json::ExportRefusal> build_structured_content(
    const ExportSource& source, const json::XlsxExportOptions& options, json::XlsxAnchorScope scope);

// The option or consistency message on refusal.
Result<json::MarkdownExport, std::string> render_markdown(const json::XlsxStructuredContent& content,
                                                          const json::XlsxMarkdownOptions& options);

// --- entries -------------------------------------------------------------------------

// The two Workbook methods: an envelope or a refusal answer; raise only for
// unreadable option texts and engine failures.
Result<std::string, session::EngineError> export_structured_json(session::WorkbookSession& session,
                                                                 std::string_view options);
Result<std::string, session::EngineError> export_markdown_json(session::WorkbookSession& session,
                                                               std::string_view options,
                                                               std::string_view markdown_options);

// The module functions: a bare document; every problem is an error.
Result<std::string, session::EngineError> export_xlsx_structured_json(std::string_view data,
                                                                      std::string_view options);
Result<std::string, session::EngineError> export_xlsx_markdown_json(std::string_view data, std::string_view options,
                                                                    std::string_view markdown_options);
Result<std::string, session::EngineError> render_xlsx_markdown_json(std::string_view content,
                                                                    std::string_view markdown_options);

}  // namespace cmx::exports
