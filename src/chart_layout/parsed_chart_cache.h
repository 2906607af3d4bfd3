// The session's parsed charts: a chart part read once per (part, rendered
// sheet) and generation, and read again when its bytes change.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "charts/chart_model.h"
#include "session/session.h"

namespace cmx::session {

// One entry of the session's ParsedChartCache.
struct ParsedChart {
  std::shared_ptr<const charts::ChartModel> chart;
  uint64_t content_hash = 0;
  uint64_t generation = 0;
};

}  // namespace cmx::session

namespace cmx::chart_layout {

// SipHash-1-3 with zero keys over the bytes and their count (64-bit, little
// endian).
uint64_t chart_content_hash(std::string_view bytes);

// The key of (part path, sheet name) in the session's map.
std::string parsed_chart_key(std::string_view part, std::string_view sheet_name);

// The chart of `part` as the sheet `sheet_name` shows it, from the cache when
// its generation and content hash still match; null when the part is not a
// readable chart (nothing is stored then). Holds the cache's lock while it
// reads a missed part.
std::shared_ptr<const charts::ChartModel> get_parsed_chart(session::WorkbookSession& session, std::string_view part,
                                                           std::string_view bytes, std::string_view sheet_name);

}  // namespace cmx::chart_layout
