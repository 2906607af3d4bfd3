#include "writer/save_plan.h"

#include <algorithm>
#include <deque>
#include <limits>

#include "charts/drawing.h"
#include "opc/part_names.h"
#include "opc/relationships.h"

namespace cmx::writer {

namespace {

uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<uint64_t>::max() : sum;
}

std::string_view directory_of(std::string_view key) {
  const size_t slash = key.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : key.substr(0, slash);
}

}  // namespace

SavePlan::SavePlan(std::span<const opc::PackagePart> source_parts, uint64_t budget_floor) {
  entries_.reserve(source_parts.size());
  index_.reserve(source_parts.size());
  uint64_t total = 0;
  for (const opc::PackagePart& part : source_parts) {
    total = saturating_add(total, part.bytes.size());
    index_.insert_or_assign(opc::part_name_key(part.name), entries_.size());
    entries_.push_back(Entry{part.name, part.bytes, nullptr, false});
  }
  // A small template filled with millions of cells must still save; the ZIP
  // output's inflated-size limit stays the bound on what is written.
  budget_ = std::max(saturating_add(saturating_add(total, total), kSaveBudgetAllowance), budget_floor);
}

void SavePlan::remove(std::string_view name) {
  const auto found = index_.find(opc::part_name_key(name));
  if (found == index_.end()) return;
  entries_[found->second].removed = true;
  index_.erase(found);
}

Result<void, SpreadsheetParseError> SavePlan::put(std::string_view name, std::string bytes) {
  if (budget_ < bytes.size()) {
    return unexpected(SpreadsheetParseError::unsupported_edit("generated parts exceeded the save budget"));
  }
  budget_ -= bytes.size();
  auto owned = std::make_shared<const std::string>(std::move(bytes));
  std::string key = opc::part_name_key(name);
  const auto found = index_.find(key);
  if (found != index_.end()) {
    Entry& entry = entries_[found->second];
    entry.bytes = *owned;
    entry.owned = std::move(owned);
    return {};
  }
  index_.emplace(std::move(key), entries_.size());
  const std::string_view view = *owned;
  entries_.push_back(Entry{std::string(name), view, std::move(owned), false});
  return {};
}

bool SavePlan::contains(std::string_view name) const { return index_.contains(opc::part_name_key(name)); }

std::optional<std::string_view> SavePlan::find(std::string_view name) const {
  const auto found = index_.find(opc::part_name_key(name));
  if (found == index_.end()) return std::nullopt;
  return entries_[found->second].bytes;
}

std::vector<std::pair<std::string_view, std::string_view>> SavePlan::live_parts() const {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  out.reserve(entries_.size());
  for (const Entry& entry : entries_) {
    if (!entry.removed) out.emplace_back(entry.name, entry.bytes);
  }
  return out;
}

std::vector<SavedPart> SavePlan::close() && {
  std::vector<SavedPart> out;
  out.reserve(entries_.size());
  for (Entry& entry : entries_) {
    if (!entry.removed) out.push_back(SavedPart{std::move(entry.name), entry.bytes, std::move(entry.owned)});
  }
  entries_.clear();
  index_.clear();
  return out;
}

Result<absl::flat_hash_set<std::string>, SpreadsheetParseError> reachable_part_keys(
    std::span<const std::pair<std::string_view, std::string_view>> parts) {
  absl::flat_hash_map<std::string, std::string_view> by_key;
  by_key.reserve(parts.size());
  for (const auto& [name, bytes] : parts) by_key.insert_or_assign(opc::part_name_key(name), bytes);

  absl::flat_hash_set<std::string> reached;
  reached.insert(opc::part_name_key("[Content_Types].xml"));
  std::deque<std::string> queue;
  auto enqueue_targets = [&](std::string_view rels_bytes, std::string_view base) -> Result<void, SpreadsheetParseError> {
    CMX_ASSIGN_OR_RETURN(std::vector<xml::Relationship> relationships, charts::parse_relationships_part(rels_bytes));
    for (const xml::Relationship& rel : relationships) {
      queue.push_back(opc::part_name_key(opc::resolve_relationship_target(base, rel.target)));
    }
    return {};
  };
  const std::string root_rels = opc::part_name_key("_rels/.rels");
  if (const auto found = by_key.find(root_rels); found != by_key.end()) {
    reached.insert(root_rels);
    CMX_TRY(enqueue_targets(found->second, {}));
  }
  while (!queue.empty()) {
    std::string key = std::move(queue.front());
    queue.pop_front();
    if (!reached.insert(key).second) continue;
    std::string rels_key = opc::part_name_key(opc::rels_part_name(key));
    const auto rels = by_key.find(rels_key);
    if (rels == by_key.end()) continue;
    reached.insert(std::move(rels_key));
    CMX_TRY(enqueue_targets(rels->second, directory_of(key)));
  }
  return reached;
}

Result<std::vector<std::string>, SpreadsheetParseError> prune_unreachable_parts(
    SavePlan& plan, std::span<const opc::PackagePart> source_parts) {
  std::vector<std::pair<std::string_view, std::string_view>> source;
  source.reserve(source_parts.size());
  for (const opc::PackagePart& part : source_parts) source.emplace_back(part.name, part.bytes);
  CMX_ASSIGN_OR_RETURN(const absl::flat_hash_set<std::string> before, reachable_part_keys(source));
  const std::vector<std::pair<std::string_view, std::string_view>> live = plan.live_parts();
  CMX_ASSIGN_OR_RETURN(const absl::flat_hash_set<std::string> after, reachable_part_keys(live));
  std::vector<std::string> removed;
  for (const auto& [name, bytes] : live) {
    std::string key = opc::part_name_key(name);
    if (before.contains(key) && !after.contains(key)) removed.push_back(std::move(key));
  }
  for (const std::string& key : removed) plan.remove(key);
  return removed;
}

}  // namespace cmx::writer
