// The cell references of a chart part (its `c:f` elements) with what they
// feed, the series they belong to, the spans a save rewrites and the caches
// that follow them; and the reference syntax the chart code accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "model/address.h"
#include "model/workbook.h"
#include "xml/element_tree.h"
#include "xml/parse_error.h"

namespace cmx::charts {

using xml::SpreadsheetParseError;

// References collected from one chart part.
inline constexpr uint64_t MAX_CHART_FORMULA_REFS = 16384;
// Levels below the root that the walks of a chart part visit.
inline constexpr uint64_t MAX_CHART_WALK_DEPTH = 64;

// A byte range of the decoded part text, end exclusive.
struct ByteSpan {
  uint64_t start = 0;
  uint64_t end = 0;
  friend bool operator==(const ByteSpan&, const ByteSpan&) = default;
};

struct ChartCacheInfo {
  std::string element;  // "numCache", "strCache" or "multiLvlStrCache"
  std::string prefix;   // "c:" or empty: new cache content is written with it
  std::optional<ByteSpan> span;  // absent for a self-closing cache
  std::optional<std::string> format_code;
  uint64_t point_count = 0;
  // The cache holds something a regenerated cache would not write.
  bool unmodelled = false;
  friend bool operator==(const ChartCacheInfo&, const ChartCacheInfo&) = default;
};

struct ChartFormulaRef {
  std::string formula;  // the text of the element, trimmed
  model::ChartReferenceKind kind = model::ChartReferenceKind::Other;
  std::optional<ByteSpan> formula_span;   // absent for a self-closing `c:f`
  std::optional<uint64_t> series_index;  // over every `c:ser` of the part
  std::optional<ChartCacheInfo> cache;
  friend bool operator==(const ChartFormulaRef&, const ChartFormulaRef&) = default;
};

// Every `c:f` in the chart namespace, in document order. DepthExceeded past
// 64 levels below the root; TooManyCharts on the 16,385th reference.
Result<std::vector<ChartFormulaRef>, SpreadsheetParseError> find_chart_formula_refs(const xml::XmlElement& root);

struct ChartSheetArea {
  std::optional<std::string> sheet;  // quotes removed, doubled quotes undone
  std::string area;                  // after the "!", or the whole text
  friend bool operator==(const ChartSheetArea&, const ChartSheetArea&) = default;
};

// Absent when the text is not one area of this workbook: unions, calls,
// other workbooks, sheet ranges and broken quoting are refused.
std::optional<ChartSheetArea> split_chart_reference(std::string_view text);

// One cell or two joined by the first ":", normalised to top-left first with
// every "$" dropped; absent when either end is not a cell reference.
std::optional<model::CellRange> parse_chart_area(std::string_view area);
// The same rule under the name the package inventory uses.
inline std::optional<model::CellRange> parse_range_unanchored(std::string_view text) {
  return parse_chart_area(text);
}

}  // namespace cmx::charts
