#include "reader/merges.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>

#include "absl/container/btree_map.h"
#include "absl/container/btree_set.h"
#include "absl/container/flat_hash_map.h"

namespace cmx::reader {
namespace {

using model::CellRange;

bool ranges_overlap(const CellRange& a, const CellRange& b) {
  return a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
         b.start.col <= a.end.col;
}

// Below this many kept ranges a plain scan is faster than the index.
constexpr size_t kScanLimit = 256;

constexpr uint32_t kRowLeaves = 1u << 20;  // MAX_ROWS
constexpr uint32_t kColLeaves = 1u << 14;  // MAX_COLS

// Calls visit(node) for the canonical nodes of [lo, hi] in a heap-numbered
// segment tree with `leaves` leaves.
template <typename Visit>
void for_canonical(uint32_t leaves, uint32_t lo, uint32_t hi, Visit&& visit) {
  for (uint32_t left = lo + leaves, right = hi + leaves + 1; left < right; left >>= 1, right >>= 1) {
    if (left & 1) visit(left++);
    if (right & 1) visit(--right);
  }
}

template <typename Visit>
bool any_ancestor(uint32_t leaves, uint32_t leaf, Visit&& visit) {
  for (uint32_t node = leaf + leaves; node >= 1; node >>= 1)
    if (visit(node)) return true;
  return false;
}

// The kept ranges are pairwise disjoint, which the index relies on. A range Q
// meets a kept range R exactly when one of these holds:
//  1. R spans Q's first row and their columns meet. The kept ranges spanning
//     one row have disjoint column spans: a row segment tree holds each R at
//     its canonical nodes, keyed by first column.
//  2. R starts in a later row of Q and spans Q's first column. Those spanning
//     one column have disjoint row spans: a column segment tree likewise.
//  3. R's top-left corner lies in Q below and right of Q's own: corners by
//     column in a segment tree whose nodes hold the corners' rows.
class KeptRangeIndex {
 public:
  bool meets(const CellRange& q) const {
    const uint32_t r1 = q.start.row, r2 = q.end.row, c1 = q.start.col, c2 = q.end.col;
    if (any_ancestor(kRowLeaves, r1, [&](uint32_t node) {
          auto found = by_row_.find(node);
          if (found == by_row_.end()) return false;
          auto after = found->second.upper_bound(c2);  // first span starting right of Q
          if (after == found->second.begin()) return false;
          return std::prev(after)->second >= c1;
        }))
      return true;
    if (r1 == r2) return false;
    if (any_ancestor(kColLeaves, c1, [&](uint32_t node) {
          auto found = by_col_.find(node);
          if (found == by_col_.end()) return false;
          auto first = found->second.lower_bound(r1 + 1);
          return first != found->second.end() && first->first <= r2;
        }))
      return true;
    if (c1 == c2) return false;
    bool hit = false;
    for_canonical(kColLeaves, c1 + 1, c2, [&](uint32_t node) {
      if (hit) return;
      auto found = corners_.find(node);
      if (found == corners_.end()) return;
      auto first = found->second.lower_bound(r1 + 1);
      hit = first != found->second.end() && *first <= r2;
    });
    return hit;
  }

  void insert(const CellRange& r) {
    for_canonical(kRowLeaves, r.start.row, r.end.row,
                  [&](uint32_t node) { by_row_[node].emplace(r.start.col, r.end.col); });
    for_canonical(kColLeaves, r.start.col, r.end.col,
                  [&](uint32_t node) { by_col_[node].emplace(r.start.row, r.end.row); });
    any_ancestor(kColLeaves, r.start.col, [&](uint32_t node) {
      corners_[node].insert(r.start.row);
      return false;
    });
  }

 private:
  absl::flat_hash_map<uint32_t, absl::btree_map<uint32_t, uint32_t>> by_row_;  // first col → last
  absl::flat_hash_map<uint32_t, absl::btree_map<uint32_t, uint32_t>> by_col_;  // first row → last
  absl::flat_hash_map<uint32_t, absl::btree_set<uint32_t>> corners_;           // first rows
};

}  // namespace

std::vector<CellRange> drop_overlapping_merges(std::span<const CellRange> merges) {
  std::vector<CellRange> kept;
  std::optional<KeptRangeIndex> index;
  for (const CellRange& range : merges) {
    if (index) {
      if (index->meets(range)) continue;
      index->insert(range);
      kept.push_back(range);
      continue;
    }
    const bool overlaps = std::any_of(kept.begin(), kept.end(), [&](const CellRange& earlier) {
      return ranges_overlap(range, earlier);
    });
    if (overlaps) continue;
    kept.push_back(range);
    if (kept.size() == kScanLimit) {
      index.emplace();
      for (const CellRange& earlier : kept) index->insert(earlier);
    }
  }
  return kept;
}

}  // namespace cmx::reader
