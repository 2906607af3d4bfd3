// Staged edits an agent proposes and a person accepts or rejects. Staging
// works on a private copy; acceptance first checks that the targets still
// hold what they held and that the edits would still show what was
// reviewed, then applies them as one commit and one undo step.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/address.h"
#include "model/cell_address.h"
#include "model/workbook.h"
#include "session/error.h"
#include "session/local_commit.h"
#include "session/session.h"

namespace cmx::session {

struct ProposedEditRecord {
  uint32_t sheet = 0;
  uint32_t row = 0;
  uint32_t col = 0;
  std::string input;
  std::string before;
  std::string after;
  std::optional<model::SheetCell> previous;  // the stored record when staged
};

// One cell acceptance compares: a target, or a formula cell whose shown
// text the edits change.
struct TargetSnapshot {
  std::string before;
  std::string after;
  model::CellValue value;
  uint32_t sheet = 0;
  uint32_t row = 0;
  uint32_t col = 0;
};

struct ProposalRecord {
  std::string id;
  std::string agent_id;
  std::vector<ProposedEditRecord> edits;
  std::vector<TargetSnapshot> targets;
  std::optional<std::string> note;
};

struct ProposalEdit {
  uint32_t sheet = 0;
  model::CellRef cell;
  std::string text;
};

// Every cell whose stored value, formula or style differs, by sheet, row,
// column; a cell stored on one side only counts.
std::vector<model::CellAddress> changed_cells_between(const model::WorkbookModel& a, const model::WorkbookModel& b);

// Stores nothing on failure; the counter moves only for a stored proposal.
Result<ProposalRecord, EngineError> propose(WorkbookSession& session, std::string agent_id,
                                            const std::vector<ProposalEdit>& edits, std::optional<std::string> note,
                                            std::optional<double> now_serial);

// ProposalNotFound, StaleProposal (unless forced), the per-edit refusals and
// those of the commit; a failure changes nothing but a stale outcome, which
// refreshes the stored proposal's shown texts.
Result<EditReport, EngineError> accept_proposal(WorkbookSession& session, std::string_view id, bool force,
                                                std::optional<double> now_serial);

// True when a proposal was removed.
bool reject_proposal(WorkbookSession& session, std::string_view id);

void clear_proposals(WorkbookSession& session);

}  // namespace cmx::session
