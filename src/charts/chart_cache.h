// Regenerated chart caches: the content of a `c:numCache` or `c:strCache`
// rebuilt from the current cells its reference names, or the reason the
// authored cache has to stay. Used when a save writes chart references back
// and when charts are drawn from current cells.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "charts/chart_refs.h"
#include "model/cell_value.h"
#include "model/workbook.h"
#include "xml/parse_error.h"

namespace cmx::charts {

// How many points caches may take, and whether doubtful cells keep the
// authored values. `remaining_points` is shared by the caller's calls.
struct ChartCachePointBudget {
  uint64_t max_points = 0;
  uint64_t remaining_points = std::numeric_limits<uint64_t>::max();
  // Cells that all read as empty or leave a gap keep the authored cache, and
  // non-text cells under a string cache are written as text.
  bool keep_authored = false;
};

// A save writes back up to 65,536 points per cache, without a total.
inline constexpr uint64_t kSaveCachePoints = 65536;
inline ChartCachePointBudget save_cache_budget() { return {kSaveCachePoints, std::numeric_limits<uint64_t>::max(), false}; }

// The new content of the cache element, written with its prefix. A reference
// without a sheet reads `default_sheet`; sheet names match ignoring ASCII
// case. UnsupportedEdit when the cache cannot be rebuilt faithfully (a
// multi-level or unmodelled cache, a reference that is not one row or column
// of this workbook, too many points, a doubtful cache under keep_authored, a
// non-text cell under a string cache), and for a character XML cannot carry.
Result<std::string, SpreadsheetParseError> regenerate_chart_cache(const ChartCacheInfo& cache, std::string_view formula,
                                                                  std::span<const model::SheetModel> sheets,
                                                                  std::string_view default_sheet,
                                                                  ChartCachePointBudget& budget);

// One cell as the text of a cache point, or none when it gets no point.
// UnsupportedEdit for a number, bool or error under a string cache unless
// `keep_authored`.
Result<std::optional<std::string>, SpreadsheetParseError> chart_cache_point_text(const model::CellValue& value,
                                                                                 bool numeric, bool keep_authored);

}  // namespace cmx::charts
