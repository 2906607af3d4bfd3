// What the four agent requests share: the caps on request and answer, how a
// request text is read, and the line between a refusal (an answer whose
// "ok" is false) and an engine error (raised by the caller).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "base/result.h"
#include "json/answer_records.h"
#include "json/cell_records.h"
#include "json/error.h"
#include "json/value.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::agent {

inline constexpr size_t kMaxRequestBytes = 16777216;
inline constexpr size_t kMaxAnswerBytes = 67108864;

using session::EngineError;
using session::WorkbookSession;
using json::AgentRefusal;
using json::RefusalCode;

// A refusal without version, step index or target; the caller completes it.
AgentRefusal refusal(RefusalCode code, std::string message);

// The whole answer of a limit-exceeded refusal carrying only `message`.
std::string encode_refusal(const WorkbookSession& session, std::string_view message);

// The answer texts: `ok` added, keys in byte order.
std::string success_text(json::JsonObject answer);
std::string refusal_text(const AgentRefusal& refusal);

// Text longer than the answer cap becomes the "the result exceeds" refusal.
std::string cap_answer(const WorkbookSession& session, std::string text);

// A reading failure as the engine error the methods raise.
EngineError request_error(const json::JsonError& error);

// The request cap as an answer, when it applies.
bool request_too_long(std::string_view request);
std::string request_too_long_answer(const WorkbookSession& session);

Result<json::ReadRequest, EngineError> parse_read_request(std::string_view text);
Result<json::FindRequest, EngineError> parse_find_request(std::string_view text);

}  // namespace cmx::agent
