// Targets of agent requests: a sheet key and a rectangle, resolved to sheet
// coordinates; the sheet test for edits; the canonical forms answers use.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "agent/frame.h"
#include "model/address.h"
#include "model/cell_address.h"

namespace cmx::agent {

inline constexpr size_t kMaxListedCells = 10000;

struct ResolvedTarget {
  uint32_t sheet = 0;
  model::CellRange range;  // start never below or right of end; no "$"
};

using SheetKeys = std::vector<std::string>;

// "sheet:{}" per sheet, or the replica's keys in tab order when collaborative.
SheetKeys agent_sheet_keys(const WorkbookSession& session);

// The rectangle, or the message of an invalid-step refusal.
Result<model::CellRange, std::string> parse_cell_or_range_target(const json::RangeAddress& address);

// Missing-target or invalid-step, carrying the target as given.
Result<ResolvedTarget, AgentRefusal> resolve_range_target(const WorkbookSession& session, const SheetKeys& keys,
                                                         const json::RangeTarget& target);

// The index of the first key equal to `id` that names a sheet.
std::optional<uint32_t> sheet_of_key(const WorkbookSession& session, const SheetKeys& keys, std::string_view id);

// Unsupported for a sheet read from a part that is not a worksheet,
// locked-target for a protected one; sheets made after opening pass.
Result<void, AgentRefusal> check_sheet_editable(const WorkbookSession& session, uint32_t sheet);

json::RangeTarget canonical_range_target(const SheetKeys& keys, const ResolvedTarget& target);
json::CellLocation cell_location_of(const SheetKeys& keys, uint32_t sheet, uint32_t row, uint32_t col);
// At most 10,000 locations; the flag says the input held more addresses.
std::pair<std::vector<json::CellLocation>, bool> cell_locations_capped(const SheetKeys& keys,
                                                                       std::span<const model::CellAddress> cells);

// "A1" text without "$".
std::string a1_text(uint32_t row, uint32_t col);

}  // namespace cmx::agent
