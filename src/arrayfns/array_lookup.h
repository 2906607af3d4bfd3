// MATCH, XMATCH and XLOOKUP over arrays and with arrays of lookup values,
// and the search they share.
#pragma once

#include <cstdint>
#include <span>

#include "arrayfns/frame.h"

namespace cmx::formula {

struct SearchOutcome {
  bool found = false;
  uint64_t index = 0;        // 0-based position in the vector
  uint64_t comparisons = 0;  // values examined
};

// match_mode: 0 exact, -1 exact or next smaller, 1 exact or next larger,
// 2 wildcard pattern; search_mode below 0 scans from the end.
SearchOutcome xmatch_search(std::span<const model::CellValue> vector,
                            const model::CellValue& wanted, int64_t match_mode,
                            int64_t search_mode);

void array_fn_match(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_xmatch(EvalResult& out, Args args, EvalContext& ctx);
void array_fn_xlookup(EvalResult& out, Args args, EvalContext& ctx);

}  // namespace cmx::formula
