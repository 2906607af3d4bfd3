// What the answers of the agent interface share: step receipts, the
// recalculation summary, cell lists and targets as value-tree members, and
// the one form of every refusal. Objects of a value tree write their keys in
// byte order, whatever the order of insertion.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/cell_records.h"
#include "json/value.h"

namespace cmx::json {

// What the recalculation after an apply did; the caller caps the lists.
struct CalculationSummary {
  std::vector<CellLocation> changed;
  std::vector<CellLocation> cycle_cells;
  std::vector<CellLocation> limited_cells;
  bool truncated = false;  // a list was cut to its cap
  friend bool operator==(const CalculationSummary&, const CalculationSummary&) = default;
};

enum class RefusalCode : uint8_t {
  StaleVersion,
  MissingTarget,
  ContentMismatch,
  OverlappingSteps,
  LockedTarget,
  Unsupported,
  InvalidStep,
  LimitExceeded,
};
inline constexpr size_t kRefusalCodeCount = 8;
// "stale-version", ..., "limit-exceeded".
std::string_view refusal_code_text(RefusalCode code);

struct AgentRefusal {
  std::string version;  // the workbook's current version text
  RefusalCode code = RefusalCode::InvalidStep;
  std::optional<uint32_t> step_index;
  // The earlier step that the refused one collides with.
  std::optional<uint32_t> conflicting_step_index;
  std::optional<RangeTarget> target;
  std::string message;
  friend bool operator==(const AgentRefusal&, const AgentRefusal&) = default;
};

// The object of one receipt, as `write_step_receipt` writes it compactly.
JsonValue step_receipt_to_json_value(const StepReceipt& receipt);
void value_map_insert_receipts(JsonObject& object, std::span<const StepReceipt> receipts);
void value_map_insert_calculation(JsonObject& object, const CalculationSummary& summary);
void value_map_insert_cell_locations(JsonObject& object, std::string_view key,
                                     std::span<const CellLocation> locations);
void value_map_insert_range_target(JsonObject& object, const RangeTarget& target);
// "version" and "failure"; the caller adds "ok": false.
JsonValue refusal_to_json_value(const AgentRefusal& refusal);

}  // namespace cmx::json
