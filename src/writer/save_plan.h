// The part list of a save into the source package: it starts as the source
// parts in archive order, and each rewriter replaces, adds or removes single
// parts in it. Unchanged parts stay borrowed from the source package, so the
// ZIP output can copy them raw; everything generated is charged to a budget.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "base/result.h"
#include "opc/package_archive.h"
#include "xml/parse_error.h"

namespace cmx::writer {

using xml::SpreadsheetParseError;

// Extra room a save may generate beyond twice the source's size.
inline constexpr uint64_t kSaveBudgetAllowance = uint64_t{64} << 20;
// The least any save may generate, whatever the source's size.
inline constexpr uint64_t kSaveBudgetFloor = uint64_t{1} << 30;

// One part of a saved package. `bytes` views either `owned` or the source
// package's part, which must outlive the list.
struct SavedPart {
  std::string name;
  std::string_view bytes;
  std::shared_ptr<const std::string> owned;
};

class SavePlan {
 public:
  // One borrowed entry per source part, in archive order; the budget is
  // twice their total size plus the allowance, saturating, and at least
  // `budget_floor`.
  explicit SavePlan(std::span<const opc::PackagePart> source_parts, uint64_t budget_floor = kSaveBudgetFloor);

  // Marks the entry removed; a name not in the plan changes nothing.
  void remove(std::string_view name);
  // Charges the bytes to the budget (UnsupportedEdit "generated parts
  // exceeded the save budget" when they do not fit, never refunded), then
  // replaces the entry of the same key in place, keeping its stored name, or
  // appends a new one.
  Result<void, SpreadsheetParseError> put(std::string_view name, std::string bytes);

  bool contains(std::string_view name) const;
  // The current bytes of a part that is not removed.
  std::optional<std::string_view> find(std::string_view name) const;
  uint64_t budget() const { return budget_; }

  // The parts not removed, in plan order, as (name, bytes).
  std::vector<std::pair<std::string_view, std::string_view>> live_parts() const;

  // Consumes the plan: the parts not removed, in plan order.
  std::vector<SavedPart> close() &&;

 private:
  struct Entry {
    std::string name;
    std::string_view bytes;
    std::shared_ptr<const std::string> owned;
    bool removed = false;
  };
  std::vector<Entry> entries_;
  absl::flat_hash_map<std::string, size_t> index_;  // part key → position
  uint64_t budget_ = 0;
};

// The function forms the save drivers call.
inline SavePlan new_save_plan(std::span<const opc::PackagePart> source_parts) { return SavePlan(source_parts); }
inline void remove_plan_part(SavePlan& plan, std::string_view name) { plan.remove(name); }
inline Result<void, SpreadsheetParseError> put_plan_part(SavePlan& plan, std::string_view name, std::string bytes) {
  return plan.put(name, std::move(bytes));
}
inline std::vector<SavedPart> close_part_plan(SavePlan&& plan) { return std::move(plan).close(); }

// The keys of the parts reached from "[Content_Types].xml" and, through
// internal relationships, from "_rels/.rels"; the errors of reading a
// relationships part on the way.
Result<absl::flat_hash_set<std::string>, SpreadsheetParseError> reachable_part_keys(
    std::span<const std::pair<std::string_view, std::string_view>> parts);

// Removes the parts the source reached and the plan no longer reaches, and
// answers their keys in plan order.
Result<std::vector<std::string>, SpreadsheetParseError> prune_unreachable_parts(
    SavePlan& plan, std::span<const opc::PackagePart> source_parts);

}  // namespace cmx::writer
