#include "chart_layout/parsed_chart_cache.h"

#include "base/number_text.h"
#include "base/siphash.h"
#include "charts/chart_reader.h"

namespace cmx::chart_layout {

uint64_t chart_content_hash(std::string_view bytes) {
  std::string data(bytes);
  const uint64_t count = bytes.size();
  for (int i = 0; i < 8; ++i) data += static_cast<char>((count >> (8 * i)) & 0xff);
  return siphash13(0, 0, data);
}

std::string parsed_chart_key(std::string_view part, std::string_view sheet_name) {
  // Length-prefixed, so no pair of texts shares a key with another.
  return format_u64(part.size()) + ":" + std::string(part) + std::string(sheet_name);
}

std::shared_ptr<const charts::ChartModel> get_parsed_chart(session::WorkbookSession& session, std::string_view part,
                                                           std::string_view bytes, std::string_view sheet_name) {
  const uint64_t hash = chart_content_hash(bytes);
  const uint64_t generation = session.generation;
  std::string key = parsed_chart_key(part, sheet_name);
  return session.chart_cache.with([&](session::ParsedChartCache& cache) -> std::shared_ptr<const charts::ChartModel> {
    const auto found = cache.find(key);
    if (found != cache.end() && found->second->generation == generation && found->second->content_hash == hash) {
      return found->second->chart;
    }
    std::shared_ptr<const charts::ChartModel> chart = charts::read_chart_part(bytes, session.model.styles.theme);
    if (!chart) return nullptr;
    cache.insert_or_assign(std::move(key),
                           std::make_shared<const session::ParsedChart>(session::ParsedChart{chart, hash, generation}));
    return chart;
  });
}

}  // namespace cmx::chart_layout
