#include <utility>

#include "export/export.h"
#include "json/writer.h"
#include "session/document.h"
#include "session/open.h"

namespace cmx::exports {

namespace {

using session::EngineError;
using session::EngineErrorKind;

EngineError invalid_request(std::string text) {
  return EngineError::with_text(EngineErrorKind::InvalidRequest, std::move(text));
}

std::string request_limit_message(uint64_t limit) {
  return "a request carries at most " + std::to_string(limit) + " bytes";
}
std::string result_limit_message() { return "the result exceeds " + std::to_string(kMaxExportResultBytes) + " bytes"; }

struct SessionExport {
  std::vector<std::string> sheet_keys;
  ExportSource source;
};

// The export's view of a session; `keys` must outlive the source.
SessionExport make_source(session::WorkbookSession& session) {
  SessionExport made;
  made.sheet_keys =
      session.replica ? session.replica->sheet_keys : session::sheet_key_list(session.model.sheets.size());
  made.source.model = &session.model;
  made.source.package = session.source_package ? &*session.source_package : nullptr;
  if (session.source_bytes) made.source.archive = *session.source_bytes;
  made.source.sources = &session.sheet_sources;
  made.source.last_calculation = &session.last_calculation;
  made.source.calculated = session.calculated;
  made.source.text_cache = &session.export_text_cache;
  return made;
}

Result<json::XlsxStructuredContent, json::ExportRefusal> build_workbook_export(session::WorkbookSession& session,
                                                                               const json::XlsxExportOptions& options) {
  SessionExport made = make_source(session);
  made.source.sheet_keys = made.sheet_keys;
  return build_structured_content(made.source, options, json::XlsxAnchorScope::Session);
}

std::string refusal_answer(std::string_view version, const json::ExportRefusal& refusal) {
  json::JsonObject answer = json::export_refusal_to_json_value(version, refusal);
  json::value_map_insert_bool(answer, "ok", false);
  return json::json_value_to_string(json::JsonValue(std::move(answer)));
}

std::string limit_refusal(std::string_view version, std::string message) {
  return refusal_answer(version, json::ExportRefusal{json::ExportRefusalCode::LimitExceeded, std::nullopt,
                                                     std::move(message)});
}

std::string envelope_answer(std::string_view version, json::JsonValue content) {
  json::JsonObject answer;
  answer.insert("content", std::move(content));
  json::value_map_insert_bool(answer, "ok", true);
  json::value_map_insert_str(answer, "version", version);
  std::string text = json::json_value_to_string(json::JsonValue(std::move(answer)));
  if (text.size() > kMaxExportResultBytes) return limit_refusal(version, result_limit_message());
  return text;
}

Result<std::string, EngineError> finish_markdown_result(const json::MarkdownExport& result) {
  json::CompactWriter writer;
  json::serialize_markdown_export(writer, result);
  std::string text = writer.take();
  if (text.size() > kMaxExportResultBytes) return unexpected(EngineError::invalid_operation(result_limit_message()));
  return text;
}

Result<json::XlsxStructuredContent, EngineError> open_workbook_for_export(std::string_view data,
                                                                          const json::XlsxExportOptions& options) {
  CMX_ASSIGN_OR_RETURN(std::unique_ptr<session::WorkbookSession> session,
                       session::bootstrap_session(data, false, std::nullopt));
  SessionExport made = make_source(*session);
  made.source.sheet_keys = made.sheet_keys;
  Result<json::XlsxStructuredContent, json::ExportRefusal> content =
      build_structured_content(made.source, options, json::XlsxAnchorScope::Snapshot);
  if (!content) return unexpected(invalid_request(content.error().message));
  return std::move(content).value();
}

Result<json::XlsxExportOptions, EngineError> read_export_options(std::string_view text) {
  Result<json::XlsxExportOptions, std::string> read = json::deserialize_export_options(text);
  if (!read) return unexpected(invalid_request(read.error()));
  return std::move(read).value();
}

Result<json::XlsxMarkdownOptions, EngineError> read_markdown_options(std::string_view text) {
  Result<json::XlsxMarkdownOptions, std::string> read = json::deserialize_markdown_options(text);
  if (!read) return unexpected(invalid_request(read.error()));
  return std::move(read).value();
}

}  // namespace

Result<std::string, EngineError> export_structured_json(session::WorkbookSession& session, std::string_view options) {
  const std::string version = session::session_version(session);
  if (options.size() > json::kMaxOptionsTextBytes) {
    return limit_refusal(version, request_limit_message(json::kMaxOptionsTextBytes));
  }
  CMX_ASSIGN_OR_RETURN(json::XlsxExportOptions read, read_export_options(options));
  Result<json::XlsxStructuredContent, json::ExportRefusal> content = build_workbook_export(session, read);
  if (!content) return refusal_answer(version, content.error());
  return envelope_answer(version, json::structured_content_to_json_value(content.value()));
}

Result<std::string, EngineError> export_markdown_json(session::WorkbookSession& session, std::string_view options,
                                                      std::string_view markdown_options) {
  const std::string version = session::session_version(session);
  if (options.size() + markdown_options.size() > json::kMaxOptionsTextBytes) {
    return limit_refusal(version, request_limit_message(json::kMaxOptionsTextBytes));
  }
  CMX_ASSIGN_OR_RETURN(json::XlsxExportOptions read, read_export_options(options));
  CMX_ASSIGN_OR_RETURN(json::XlsxMarkdownOptions markdown, read_markdown_options(markdown_options));
  if (Result<json::ResolvedMarkdownOptions, json::ExportRefusal> checked = json::validate_markdown_options(markdown);
      !checked) {
    return refusal_answer(version, checked.error());
  }
  Result<json::XlsxStructuredContent, json::ExportRefusal> content = build_workbook_export(session, read);
  if (!content) return refusal_answer(version, content.error());
  Result<json::MarkdownExport, std::string> rendered = render_markdown(content.value(), markdown);
  if (!rendered) return unexpected(invalid_request(rendered.error()));
  return envelope_answer(version, json::markdown_export_to_json_value(rendered.value()));
}

Result<std::string, EngineError> export_xlsx_structured_json(std::string_view data, std::string_view options) {
  CMX_ASSIGN_OR_RETURN(json::XlsxExportOptions read, read_export_options(options));
  CMX_ASSIGN_OR_RETURN(json::XlsxStructuredContent content, open_workbook_for_export(data, read));
  std::string text = json::structured_content_to_json(content);
  if (text.size() > kMaxExportResultBytes) return unexpected(EngineError::invalid_operation(result_limit_message()));
  return text;
}

Result<std::string, EngineError> export_xlsx_markdown_json(std::string_view data, std::string_view options,
                                                           std::string_view markdown_options) {
  CMX_ASSIGN_OR_RETURN(json::XlsxExportOptions read, read_export_options(options));
  CMX_ASSIGN_OR_RETURN(json::XlsxMarkdownOptions markdown, read_markdown_options(markdown_options));
  if (Result<json::ResolvedMarkdownOptions, json::ExportRefusal> checked = json::validate_markdown_options(markdown);
      !checked) {
    return unexpected(invalid_request(checked.error().message));
  }
  CMX_ASSIGN_OR_RETURN(json::XlsxStructuredContent content, open_workbook_for_export(data, read));
  Result<json::MarkdownExport, std::string> rendered = render_markdown(content, markdown);
  if (!rendered) return unexpected(invalid_request(rendered.error()));
  return finish_markdown_result(rendered.value());
}

Result<std::string, EngineError> render_xlsx_markdown_json(std::string_view content,
                                                           std::string_view markdown_options) {
  Result<json::XlsxStructuredContent, std::string> read = json::decode_structured_content(content);
  if (!read) return unexpected(invalid_request(read.error()));
  CMX_ASSIGN_OR_RETURN(json::XlsxMarkdownOptions markdown, read_markdown_options(markdown_options));
  Result<json::MarkdownExport, std::string> rendered = render_markdown(read.value(), markdown);
  if (!rendered) return unexpected(invalid_request(rendered.error()));
  return finish_markdown_result(rendered.value());
}

}  // namespace cmx::exports
