// The agent requests as the Python methods call them: one request text in,
// one answer text out (success or refusal), or an engine error to raise.
#pragma once

#include <string>
#include <string_view>

#include "agent/frame.h"

namespace cmx::agent {

inline constexpr size_t kMaxReadCells = 100000;
inline constexpr size_t kMaxAnswerTextBytes = 33554432;
inline constexpr uint32_t kDefaultFindLimit = 100;
inline constexpr uint32_t kMaxFindLimit = 10000;

Result<std::string, EngineError> run_read_cells_request(const WorkbookSession& session, std::string_view request);
Result<std::string, EngineError> run_find_text_request(const WorkbookSession& session, std::string_view request);

}  // namespace cmx::agent
