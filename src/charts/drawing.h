// Drawing parts and the chart frames of a sheet: the anchors of a drawing,
// the charts they hold, and the walk from a sheet through its drawings to
// its chart parts. A drawing or chart that cannot be read is listed, not
// fatal, so that a workbook with one broken chart still opens.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "base/result.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "xml/element_tree.h"
#include "xml/parse_error.h"
#include "xml/tree_queries.h"

namespace cmx::charts {

using xml::SpreadsheetParseError;

// Anchor elements of one drawing, and chart frames of one sheet.
inline constexpr uint64_t MAX_DRAWING_ANCHORS = 4096;
inline constexpr uint64_t MAX_SHEET_CHARTS = 4096;

struct NoChart {
  friend bool operator==(NoChart, NoChart) { return true; }
};
struct ChartWithoutId {
  friend bool operator==(ChartWithoutId, ChartWithoutId) { return true; }
};
// No `c:chart` below the anchor, one without `r:id`, or the relationship id.
using ChartLink = std::variant<NoChart, ChartWithoutId, std::string>;

struct DrawingAnchor {
  model::ChartAnchor anchor;
  ChartLink chart;
  friend bool operator==(const DrawingAnchor&, const DrawingAnchor&) = default;
};

// In the transitional spreadsheet-drawing namespace and named twoCellAnchor,
// oneCellAnchor or absoluteAnchor.
bool is_drawing_anchor_element(const xml::XmlElement& element);

// An anchor offset's text, trimmed of white space: an optional sign and
// decimal digits within a signed 64-bit value.
std::optional<int64_t> parse_anchor_offset(std::string_view text);

// One anchor element. Malformed "chart anchor has no cell", "chart anchor has
// no extent", "absolute chart anchor has no position", "invalid chart anchor
// {name}", "invalid chart editAs value {value}".
Result<model::ChartAnchor, SpreadsheetParseError> read_chart_anchor(const xml::XmlElement& anchor);

// The anchors of a drawing part's tree in document order; empty when the
// root is not a transitional `wsDr`. TooManyCharts past 4,096 anchors.
Result<std::vector<DrawingAnchor>, SpreadsheetParseError> read_drawing_part(const xml::XmlElement& root);

// The internal relationships of a relationships part, in document order.
Result<std::vector<xml::Relationship>, SpreadsheetParseError> parse_relationships_part(std::string_view bytes);

// `c:chart` elements at or below `element` with their `r:id` attributes
// (at least one each); a subtree reached past level 64 counts as the largest
// value.
uint64_t count_chart_relationship_ids(const xml::XmlElement& element, uint64_t level);

// What one workbook's reading has learnt of its drawing and chart parts, so
// that a drawing or chart named by many sheets is read once per workbook.
struct DrawingCache {
  struct Drawing {
    std::vector<model::SheetChart> charts;
    std::vector<std::string> unread;  // as the first sheet met them
    bool reported = false;            // `unread` already handed out
  };
  absl::flat_hash_map<std::string, Drawing> drawings;
  absl::flat_hash_map<std::string, std::optional<std::vector<model::ChartReference>>> charts;
  // Drawing and chart parts parsed into trees, for tests of the bound.
  uint64_t parsed_parts = 0;
};

// The chart frames of the sheet whose part is `sheet_part`: its drawing
// relationships, their anchors and their chart parts. Unreadable drawings
// and charts are appended to `unread_parts` by name and skipped (a drawing
// that an earlier sheet of the cache's workbook named is not listed again).
// Fails only for a relationships part that does not decode or parse, and
// TooManyCharts on the 4,097th chart of the sheet.
Result<std::vector<model::SheetChart>, SpreadsheetParseError> read_sheet_charts(
    const opc::PartIndex& parts, std::string_view sheet_part, DrawingCache& cache,
    std::vector<std::string>& unread_parts);
// The same for one sheet alone.
Result<std::vector<model::SheetChart>, SpreadsheetParseError> read_sheet_charts(
    std::span<const opc::PackagePart> parts, std::string_view sheet_part, std::vector<std::string>& unread_parts);

}  // namespace cmx::charts
