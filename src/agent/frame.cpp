#include "agent/frame.h"

#include <utility>

#include "json/reader.h"
#include "json/writer.h"

namespace cmx::agent {

AgentRefusal refusal(RefusalCode code, std::string message) {
  AgentRefusal out;
  out.code = code;
  out.message = std::move(message);
  return out;
}

std::string refusal_text(const AgentRefusal& refusal) {
  json::JsonValue value = json::refusal_to_json_value(refusal);
  value.as_object().insert("ok", json::JsonValue(false));
  return json::json_value_to_string(value);
}

std::string encode_refusal(const WorkbookSession& session, std::string_view message) {
  AgentRefusal out = refusal(RefusalCode::LimitExceeded, std::string(message));
  out.version = session::session_version(session);
  return refusal_text(out);
}

std::string success_text(json::JsonObject answer) {
  answer.insert("ok", json::JsonValue(true));
  return json::json_value_to_string(json::JsonValue(std::move(answer)));
}

std::string cap_answer(const WorkbookSession& session, std::string text) {
  if (text.size() <= kMaxAnswerBytes) return text;
  return encode_refusal(session, "the result exceeds " + std::to_string(kMaxAnswerBytes) + " bytes");
}

EngineError request_error(const json::JsonError& error) {
  return EngineError::with_text(session::EngineErrorKind::InvalidRequest, json::json_error_text(error));
}

bool request_too_long(std::string_view request) { return request.size() > kMaxRequestBytes; }

std::string request_too_long_answer(const WorkbookSession& session) {
  return encode_refusal(session, "a request carries at most " + std::to_string(kMaxRequestBytes) + " bytes");
}

Result<json::ReadRequest, EngineError> parse_read_request(std::string_view text) {
  auto read = json::read_json_text(text, [](json::JsonReader& r) { return json::deserialize_read_request(r); });
  if (!read) return unexpected(request_error(read.error()));
  return std::move(read).value();
}

Result<json::FindRequest, EngineError> parse_find_request(std::string_view text) {
  auto read = json::read_json_text(text, [](json::JsonReader& r) { return json::deserialize_find_request(r); });
  if (!read) return unexpected(request_error(read.error()));
  return std::move(read).value();
}

}  // namespace cmx::agent
