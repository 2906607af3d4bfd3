// Dropping overlapping merges: the indexed rule against a plain scan over
// random ranges, and a large disjoint set.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "reader/merges.h"

namespace cmx::reader {
namespace {

using model::CellRange;
using model::CellRef;

std::vector<CellRange> by_scan(const std::vector<CellRange>& merges) {
  std::vector<CellRange> kept;
  for (const CellRange& range : merges) {
    bool overlaps = false;
    for (const CellRange& earlier : kept)
      overlaps = overlaps || (range.start.row <= earlier.end.row && earlier.start.row <= range.end.row &&
                              range.start.col <= earlier.end.col && earlier.start.col <= range.end.col);
    if (!overlaps) kept.push_back(range);
  }
  return kept;
}

TEST(DropOverlappingMerges, SmallCases) {
  auto range = [](uint32_t r1, uint32_t c1, uint32_t r2, uint32_t c2) {
    return CellRange{CellRef{r1, c1}, CellRef{r2, c2}};
  };
  // A1:B2 then B2:C3: the second shares B2.
  EXPECT_EQ(drop_overlapping_merges(std::vector<CellRange>{range(0, 0, 1, 1), range(1, 1, 2, 2),
                                                           range(2, 2, 2, 2)}),
            (std::vector<CellRange>{range(0, 0, 1, 1), range(2, 2, 2, 2)}));
  // A removed range does not remove later ones.
  EXPECT_EQ(drop_overlapping_merges(std::vector<CellRange>{range(0, 0, 0, 0), range(0, 0, 5, 5),
                                                           range(3, 3, 3, 3)}),
            (std::vector<CellRange>{range(0, 0, 0, 0), range(3, 3, 3, 3)}));
}

TEST(DropOverlappingMerges, AgreesWithScan) {
  // Past the first few hundred kept ranges the index takes over; the shapes
  // cover tall, wide and single-cell ranges in a small corner of the grid,
  // plus a few that reach the grid's edges.
  std::mt19937 random(12345);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const uint32_t span = round % 3 == 0 ? 4000 : (round < 10 ? 300 : 2000);
    std::uniform_int_distribution<uint32_t> pos(0, span);
    std::uniform_int_distribution<uint32_t> size(0, round % 3 == 0 ? 40 : 3);
    std::vector<CellRange> merges;
    for (int idx = 0; idx < 3000; ++idx) {
      const uint32_t row = pos(random), col = pos(random) % model::MAX_COLS;
      CellRange range{CellRef{row, col}, CellRef{row + size(random), col + size(random)}};
      if (idx % 500 == 499) range.end = CellRef{model::MAX_ROWS - 1, col};  // a tall strip
      if (idx % 700 == 699) range.end = CellRef{row, model::MAX_COLS - 1};  // a wide strip
      range.end.col = std::min(range.end.col, model::MAX_COLS - 1);
      merges.push_back(range);
    }
    const std::vector<CellRange> expected = by_scan(merges);
    ASSERT_GT(expected.size(), 256u);
    EXPECT_EQ(drop_overlapping_merges(merges), expected);
  }
}

TEST(DropOverlappingMerges, ManyDisjointRanges) {
  // 200,000 one-row merges and one that overlaps them all, last: a scan of
  // every earlier range per range would make 2e10 comparisons.
  std::vector<CellRange> merges;
  for (uint32_t row = 0; row < 200000; ++row) merges.push_back({CellRef{row, 0}, CellRef{row, 2}});
  merges.push_back({CellRef{0, 1}, CellRef{model::MAX_ROWS - 1, 1}});
  const std::vector<CellRange> kept = drop_overlapping_merges(merges);
  EXPECT_EQ(kept.size(), 200000u);
}

}  // namespace
}  // namespace cmx::reader
