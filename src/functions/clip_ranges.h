// Whole-column and whole-row references cut to the used part of their
// sheets, all ranges of one call together so that equal shapes stay equal.
#pragma once

#include <optional>
#include <vector>

#include "formula/evaluator.h"

namespace cmx::formula {

// Every range of kGridRows rows or more gets the largest used height among
// them (measured from each one's first row, at least 1); every range of
// kGridCols columns or more likewise the largest used width.
void clip_ranges_to_used(std::vector<SheetRange>& ranges, const EvalContext& ctx);
// The same over the references among a call's evaluated arguments; the
// entries that are no references stay absent.
void clip_reference_args(std::vector<std::optional<SheetRange>>& args, const EvalContext& ctx);

}  // namespace cmx::formula
