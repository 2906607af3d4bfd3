// Agent batches: staged on a copy of the model and a scratch replica of the
// document, then either described (validation) or committed (apply).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "agent/targets.h"
#include "json/edit_request.h"
#include "model/style_patch.h"
#include "session/local_commit.h"

namespace cmx::agent {

inline constexpr size_t kMaxBatchSteps = 128;
inline constexpr uint64_t kMaxBatchCells = 100000;
inline constexpr uint64_t kMaxBatchTextUnits = 1048576;
inline constexpr size_t kMaxStagedStateBytes = 268435456;

struct StagedStep {
  std::vector<std::pair<model::CellRef, model::SheetCell>> cells;  // row-major
  std::optional<model::NumberFormatMutation> number_format;
  std::optional<model::StylePatch> patch;  // only with at least one style field
  json::RangeTarget target;                // canonical
  std::vector<model::StylePatchField> style_fields;
  bool writes_content = false;
  bool writes_number_format = false;
  uint32_t sheet = 0;
  model::CellRange range;
  uint32_t step_index = 0;
};

struct StagedBatch {
  std::string version;
  SheetKeys keys;
  std::vector<StagedStep> steps;
  std::vector<std::vector<model::CellRef>> changed;  // per step, row then column
  std::optional<session::PreparedCommit> commit;
  json::EditSource source = json::EditSource::Host;
};

// Why a batch goes no further: a refusal to answer or an error to raise.
using BatchStop = std::variant<AgentRefusal, EngineError>;

Result<StagedBatch, BatchStop> stage_batch(WorkbookSession& session, const json::EditRequest& request);

// The answer texts of the two batch methods; the request cap included.
Result<std::string, EngineError> run_validate_edits_request(WorkbookSession& session, std::string_view request);
Result<std::string, EngineError> run_apply_edits_request(WorkbookSession& session, std::string_view request);

}  // namespace cmx::agent
