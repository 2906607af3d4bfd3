#include "json/answer_records.h"

#include <utility>

#include "json/writer.h"

namespace cmx::json {

namespace {

constexpr std::string_view kRefusalCodeTexts[] = {
    "stale-version", "missing-target", "content-mismatch", "overlapping-steps",
    "locked-target", "unsupported",    "invalid-step",     "limit-exceeded",
};
static_assert(std::size(kRefusalCodeTexts) == kRefusalCodeCount);

}  // namespace

std::string_view refusal_code_text(RefusalCode code) { return kRefusalCodeTexts[static_cast<size_t>(code)]; }

JsonValue step_receipt_to_json_value(const StepReceipt& receipt) {
  JsonObject object;
  value_map_insert_u32(object, "stepIndex", receipt.step_index);
  value_map_insert_bool(object, "changed", receipt.changed);
  value_map_insert_range_target(object, receipt.target);
  value_map_insert_cell_locations(object, "changedCells", receipt.changed_cells);
  return JsonValue(std::move(object));
}

void value_map_insert_receipts(JsonObject& object, std::span<const StepReceipt> receipts) {
  JsonValue::Array items;
  items.reserve(receipts.size());
  for (const StepReceipt& receipt : receipts) items.push_back(step_receipt_to_json_value(receipt));
  object.insert("receipts", JsonValue(std::move(items)));
}

void value_map_insert_calculation(JsonObject& object, const CalculationSummary& summary) {
  JsonObject calculation;
  value_map_insert_cell_locations(calculation, "changed", summary.changed);
  value_map_insert_cell_locations(calculation, "cycleCells", summary.cycle_cells);
  value_map_insert_cell_locations(calculation, "limitedCells", summary.limited_cells);
  value_map_insert_bool(calculation, "truncated", summary.truncated);
  object.insert("calculation", JsonValue(std::move(calculation)));
}

void value_map_insert_cell_locations(JsonObject& object, std::string_view key,
                                     std::span<const CellLocation> locations) {
  JsonValue::Array items;
  items.reserve(locations.size());
  for (const CellLocation& location : locations) items.push_back(cell_location_to_json_value(location));
  object.insert(std::string(key), JsonValue(std::move(items)));
}

void value_map_insert_range_target(JsonObject& object, const RangeTarget& target) {
  object.insert("target", range_target_to_json_value(target));
}

JsonValue refusal_to_json_value(const AgentRefusal& refusal) {
  JsonObject failure;
  value_map_insert_str(failure, "code", refusal_code_text(refusal.code));
  if (refusal.step_index) value_map_insert_u32(failure, "stepIndex", *refusal.step_index);
  if (refusal.conflicting_step_index) {
    value_map_insert_u32(failure, "conflictingStepIndex", *refusal.conflicting_step_index);
  }
  if (refusal.target) value_map_insert_range_target(failure, *refusal.target);
  value_map_insert_str(failure, "message", refusal.message);
  JsonObject object;
  value_map_insert_str(object, "version", refusal.version);
  object.insert("failure", JsonValue(std::move(failure)));
  return JsonValue(std::move(object));
}

}  // namespace cmx::json
