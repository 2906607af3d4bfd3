// Clipping several ranges to the used extents of their sheets together.
#include "functions/clip_ranges.h"

#include <algorithm>

namespace cmx::formula {
namespace {

uint64_t used_after(uint64_t used, uint64_t first) { return used > first ? used - first : 0; }

template <typename Each>
void clip_all(Each&& for_each_range, const EvalContext& ctx) {
  std::optional<uint64_t> height;
  std::optional<uint64_t> width;
  for_each_range([&](SheetRange& r) {
    if (r.height >= kGridRows) {
      uint64_t h = used_after(ctx.source->used_rows(r.sheet), r.start.row);
      height = std::max({height.value_or(1), h, uint64_t{1}});
    }
    if (r.width >= kGridCols) {
      uint64_t w = used_after(ctx.source->used_cols(r.sheet), r.start.col);
      width = std::max({width.value_or(1), w, uint64_t{1}});
    }
  });
  for_each_range([&](SheetRange& r) {
    if (r.height >= kGridRows) r.height = *height;
    if (r.width >= kGridCols) r.width = *width;
  });
}

}  // namespace

void clip_ranges_to_used(std::vector<SheetRange>& ranges, const EvalContext& ctx) {
  clip_all(
      [&](auto&& visit) {
        for (SheetRange& r : ranges) visit(r);
      },
      ctx);
}

void clip_reference_args(std::vector<std::optional<SheetRange>>& args, const EvalContext& ctx) {
  clip_all(
      [&](auto&& visit) {
        for (std::optional<SheetRange>& r : args) {
          if (r) visit(*r);
        }
      },
      ctx);
}

}  // namespace cmx::formula
