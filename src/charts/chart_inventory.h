// What the package inventory needs to know of chart parts: which parts are
// charts, which sheet shows each, whether a save can regenerate a chart's
// references and caches, and, for one it cannot, which cells it reads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "base/result.h"
#include "model/address.h"
#include "model/workbook.h"
#include "opc/attribute_pair.h"
#include "opc/package_archive.h"
#include "xml/element_tree.h"
#include "xml/parse_error.h"

namespace cmx::charts {

using xml::SpreadsheetParseError;

// Cells a chart can hold in one cached reference and still be rewritten.
inline constexpr uint64_t MAX_REWRITABLE_CHART_CELLS = 65536;

inline constexpr std::string_view kChartContentType =
    "application/vnd.openxmlformats-officedocument.drawingml.chart+xml";
inline constexpr std::string_view kChartExContentType = "application/vnd.ms-office.chartex+xml";

struct ChartPartEntry {
  std::string part;  // leading "/" removed
  // Present only when exactly one chart frame of the workbook names the part.
  std::optional<std::string> sheet;
  bool not_rewritable = false;
  friend bool operator==(const ChartPartEntry&, const ChartPartEntry&) = default;
};

// (part key, content type) of the Override entries of the content types.
using KeyedContentTypes = std::vector<std::pair<std::string, std::string>>;

// One entry per chart part in package order: a part whose key starts with
// "xl/charts/chart", ends with ".xml" and lies in no "/_rels/" folder, or one
// whose Override gives a chart content type. Charts that some frame names
// are parsed; the first decode, tree or reference-walk error ends the call.
Result<std::vector<ChartPartEntry>, SpreadsheetParseError> collect_chart_part_refs(
    std::span<const opc::PackagePart> parts, const KeyedContentTypes& overrides,
    std::span<const model::SheetModel> sheets);

// The cell areas one chart reads, in document order; none when they cannot
// be told (names not well formed, content outside the model, a reference
// that does not split or parse, or one without a sheet and no default).
using ChartCellRefs = std::optional<std::vector<std::pair<std::string, model::CellRange>>>;
Result<ChartCellRefs, SpreadsheetParseError> inventory_chart_parts(std::string_view bytes,
                                                                   std::optional<std::string_view> default_sheet);

// True when the chart holds what the chart model does not carry: a root
// other than a chart-namespace `chartSpace`, chartex content, `sqref`, a
// pivot source, external data, a formula outside the chart namespace, or
// elements more than 64 levels down.
bool chart_has_unmodelled_content(const xml::XmlElement& root);

// Adds the first "Id" (local name, any prefix) of each list to the set.
void collect_relationship_ids(std::span<const opc::AttributeList> relationships,
                              absl::flat_hash_set<std::string>& ids);

}  // namespace cmx::charts
