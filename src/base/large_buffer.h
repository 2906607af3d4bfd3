// Room for a large buffer that is about to be filled at once: a part's
// inflated bytes, a copy of a whole worksheet element. Touching tens of
// megabytes of fresh memory a page at a time costs more than filling it; the
// kernel is asked to back the room with huge pages where it can.
#pragma once

#include <cstddef>
#include <string>

namespace cmx {

// Reserves `size` bytes beyond what `out` holds; advice only, so the
// contents and the outcome are the same whether or not it is taken.
void reserve_large(std::string& out, size_t size);

}  // namespace cmx
