// The worksheet reader: one streamed pass over a worksheet part into a
// SheetModel (cells, dimensions, column styles, merges, hyperlinks, array
// ranges, frozen pane, sheet format) plus the side records a later save and
// the session need. Shared formulas: shared_formulas.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "absl/container/btree_map.h"
#include "absl/container/btree_set.h"
#include "base/byte_source.h"
#include "base/result.h"
#include "base/shared_string.h"
#include "model/workbook.h"
#include "opc/relationships.h"
#include "xml/part_template.h"
#include "xml/parse_error.h"
#include "xml/streaming.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// `c` elements anywhere in one part, stored or not.
inline constexpr uint64_t MAX_SHEET_CELLS = 10000000;
// `hyperlink` elements of one part, skipped ones included.
inline constexpr uint64_t MAX_SHEET_HYPERLINKS = 65536;
// Column entries of one part: every `col` element that styles, sizes or hides
// columns. Each may cover all 16,384 columns, so width-only entries count too.
inline constexpr uint64_t MAX_COLUMN_STYLES = 65536;
// The largest array-formula range recorded, in cells.
inline constexpr uint64_t MAX_ARRAY_FORMULA_CELLS = 262144;

// The shared-string index of each cell whose text came from the table.
using SharedStringCells = absl::btree_map<model::CellKey, uint64_t>;

struct CellTextNotes {
  // Formula cells with neither `v` nor `is`.
  absl::btree_set<model::CellKey> uncached_formula_cells;
  // The plain text of inline strings whose item had rich-text runs.
  absl::btree_map<model::CellKey, std::string> rich_inline_strings;
};

// Column widths and row heights exactly as the part wrote them.
struct SourceDimensions {
  std::map<uint32_t, double> column_widths;
  absl::btree_map<uint32_t, double> row_heights;
  // Where the content of the root's first sheetData child sits in the part,
  // when the reader read it whole and met no namespace declaration in it: a
  // part template may step over those bytes instead of reading them again.
  std::optional<xml::PartTextSpan> sheet_data_content;
  // For a part read through a window, which nothing else holds: its bytes
  // but for the content named by sheet_data_content (all of them when the
  // part has no sheetData), for its template. Unset when that content could
  // not be stepped over.
  std::optional<std::string> part_outside_cells;
};

// Reads one worksheet part. Cells that take their text from `shared_strings`
// share its storage. The side records come in empty and may hold partial
// entries after a failure. Errors: Xml, DepthExceeded, TooManyCells,
// TooManyHyperlinks, TooManyColumnStyles, and Malformed "bad cell ref {}",
// "bad number {}", "bad index {}", "index out of range {}", "bad merge ref
// {}", "unexpected eof in text", a hyperlink's or a shared formula's text.
Result<model::SheetModel, SpreadsheetParseError> read_worksheet(
    std::string_view name, std::string_view bytes, std::span<const SharedString> shared_strings,
    const opc::RelationshipMap& rels, SharedStringCells& string_cells, SourceDimensions& dimensions,
    CellTextNotes& notes);
// The same for a part that `source` delivers, read through a window; sets
// dimensions.part_outside_cells. When the source ends early the result
// means nothing: its owner knows and reports that instead.
Result<model::SheetModel, SpreadsheetParseError> read_worksheet(
    std::string_view name, ByteSource& source, std::span<const SharedString> shared_strings,
    const opc::RelationshipMap& rels, SharedStringCells& string_cells, SourceDimensions& dimensions,
    CellTextNotes& notes, size_t window = xml::kStreamWindow);

}  // namespace cmx::reader
