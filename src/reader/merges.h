// Merged ranges of a sheet: the rule that drops a range sharing a cell with an
// earlier kept one, kept near-linear so that a part with a million merges does
// not cost a trillion comparisons.
#pragma once

#include <span>
#include <vector>

#include "model/address.h"

namespace cmx::reader {

// The ranges in order, less every range that shares at least one cell with an
// earlier range still in the list.
std::vector<model::CellRange> drop_overlapping_merges(std::span<const model::CellRange> merges);

}  // namespace cmx::reader
