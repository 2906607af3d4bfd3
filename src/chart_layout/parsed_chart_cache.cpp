#include "chart_layout/parsed_chart_cache.h"

#include <array>
#include <set>
#include <vector>

#include "base/number_text.h"
#include "base/siphash.h"
#include "base/unicode.h"
#include "charts/anchor_reread.h"
#include "charts/chart_cache.h"
#include "charts/chart_inventory.h"
#include "charts/chart_reader.h"
#include "charts/chart_refs.h"
#include "xml/element_tree.h"
#include "xml/part_decoding.h"
#include "xml/span_rewrite.h"
#include "xml/tree_queries.h"

namespace cmx::chart_layout {
namespace {

constexpr uint64_t kRegenerationElementBudget = 1000000;
constexpr size_t kMaxRegeneratedRefs = 256;
constexpr uint64_t kRegeneratedPoints = 4096;

// Parts whose references the caches cannot follow faithfully.
bool skips_regeneration(std::string_view bytes) {
  static constexpr std::array<std::string_view, 4> kMarkers = {"pivotSource", "externalData", "sqref", "chartex"};
  if (!unicode::is_valid_utf8(bytes)) return false;
  for (std::string_view marker : kMarkers) {
    if (bytes.find(marker) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> regenerate_chart_part(std::string_view bytes, std::span<const model::SheetModel> sheets,
                                                 std::string_view sheet_name) {
  if (skips_regeneration(bytes)) return std::nullopt;
  const auto decoded = xml::decode_part(bytes);
  if (!decoded) return std::nullopt;
  const auto tree = xml::parse_xml_tree(decoded->text, kRegenerationElementBudget);
  if (!tree) return std::nullopt;
  if (!xml::element_is(tree->root, xml::kChartNs, "chartSpace") || charts::chart_has_unmodelled_content(tree->root)) {
    return std::nullopt;
  }
  const auto refs = charts::find_chart_formula_refs(tree->root);
  if (!refs || refs->size() > kMaxRegeneratedRefs) return std::nullopt;
  charts::ChartCachePointBudget budget{kRegeneratedPoints, kRegeneratedPoints, true};
  std::vector<std::pair<std::optional<uint64_t>, xml::SpanEdit>> found;
  std::set<uint64_t> barred;  // series that keep an authored cache keep all of them
  for (const charts::ChartFormulaRef& ref : *refs) {
    if (!ref.cache) continue;
    auto content = charts::regenerate_chart_cache(*ref.cache, ref.formula, sheets, sheet_name, budget);
    if (content && ref.cache->span) {
      found.emplace_back(ref.series_index,
                         xml::SpanEdit{ref.cache->span->start, ref.cache->span->end, xml::RawMarkup{std::move(*content)}});
    } else if (ref.series_index) {
      barred.insert(*ref.series_index);
    }
  }
  std::vector<xml::SpanEdit> edits;
  for (auto& [series, edit] : found) {
    if (!series || !barred.contains(*series)) edits.push_back(std::move(edit));
  }
  if (edits.empty()) return std::nullopt;
  charts::sort_span_edits(edits);
  auto rewritten = xml::apply_span_rewrites(*decoded, edits);
  if (!rewritten) return std::nullopt;
  return std::move(*rewritten);
}

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
    // Drawn from the live cells where the references allow it, else as authored.
    std::shared_ptr<const charts::ChartModel> chart;
    if (const std::optional<std::string> live = regenerate_chart_part(bytes, session.model.sheets, sheet_name)) {
      chart = charts::read_chart_part(*live, session.model.styles.theme);
    }
    if (!chart) chart = charts::read_chart_part(bytes, session.model.styles.theme);
    if (!chart) return nullptr;
    cache.insert_or_assign(std::move(key),
                           std::make_shared<const session::ParsedChart>(session::ParsedChart{chart, hash, generation}));
    return chart;
  });
}

}  // namespace cmx::chart_layout
