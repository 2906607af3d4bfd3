// The limits every shared or persistent workbook model must meet: what the
// collaborative document, the package writer and the engine rely on.
#pragma once

#include <span>
#include <string_view>

#include "base/result.h"
#include "model/workbook.h"
#include "session/error.h"

namespace cmx::session {

inline constexpr size_t kMaxSheetCharts = 4096;
inline constexpr size_t kMaxChartNameBytes = 32767;
inline constexpr size_t kMaxChartReferences = 16384;
inline constexpr uint64_t kMaxChartAnchorIndex = 4095;
inline constexpr size_t kMaxSheetHyperlinks = 65536;
inline constexpr size_t kMaxHyperlinkFieldBytes = 32767;
inline constexpr size_t kMaxCellTextChars = 32767;
inline constexpr size_t kMaxFormulaBytes = 32768;
inline constexpr size_t kMaxSheetNameChars = 31;
inline constexpr double kMaxColumnWidth = 255.0;
inline constexpr double kMaxRowHeight = 409.5;

// The first broken rule of the whole model, checked in a fixed order: sheet
// count (NoSheets), defined names, then per sheet its freeze pane,
// hyperlinks, charts, name, name uniqueness, cells (CellOutOfRange for a cell
// off the grid), column widths, row heights and merged ranges
// (CellOutOfRange for a corner off the grid). Every other rule is
// InvalidOperation with its fixed text.
Result<void, EngineError> validate_workbook_for_sharing(const model::WorkbookModel& workbook);

// The rules of one cell of that check after its place on the grid: a finite
// number, the text and formula length limits, a style below `style_count`.
Result<void, EngineError> validate_cell_for_sharing(const model::SheetCell& cell, size_t style_count);

// One sheet's hyperlinks: at most 65,536; each range inside the grid and in
// order, a destination, every present text at most 32,767 bytes.
Result<void, EngineError> validate_hyperlink_list(std::span<const model::SheetHyperlink> hyperlinks);

// The merged-range rule alone: each corner inside the grid, start not below
// or right of end, and no cell shared with a later range. The first failure
// in list order, found by a sweep over the rows rather than by comparing
// every pair.
Result<void, EngineError> validate_merged_ranges(std::span<const model::CellRange> merges);

// The values of a chart anchor a peer or an edit may set: every offset at
// most 2^40 EMU, extents within 1..2^40, a two-cell anchor's "to" corner
// after its "from" corner on both axes. Errors: "anchor offset is out of
// range", "anchor extent is not positive", "anchor corners are inverted or
// coincident".
Result<void, std::string_view> check_chart_anchor_values(const model::ChartAnchor& anchor);

// A relative part name without empty, "." or ".." segments, backslashes,
// controls, C1 characters, '"', '<' or '>'.
bool is_package_part_path(std::string_view name);

// Not empty, at most 31 characters, no leading or trailing apostrophe, none
// of * / : ? [ \ ].
bool is_valid_sheet_name(std::string_view name);

}  // namespace cmx::session
