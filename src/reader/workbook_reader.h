// The workbook reader: the workbook part and its relationships, shared
// strings, styles and theme, then every sheet in tab order (cells, chart
// frames, tables), into a WorkbookModel and the per-sheet side records a
// later save into the same package needs.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "reader/sheet_threads.h"
#include "reader/worksheet.h"
#include "xml/parse_error.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

inline constexpr uint64_t MAX_DEFINED_NAMES = 65536;

inline constexpr std::string_view kWorkbookPart = "xl/workbook.xml";
inline constexpr std::string_view kWorkbookRelsPart = "xl/_rels/workbook.xml.rels";

struct WorkbookRead {
  model::WorkbookModel model;
  // One each per sheet, in sheet order; empty for a sheet without cells.
  std::vector<SharedStringCells> shared_string_cells;
  std::vector<CellTextNotes> cell_notes;
  std::vector<SourceDimensions> source_dimensions;
  // Drawing and chart parts the chart reader could not read, as met.
  std::vector<std::string> unreadable_drawings;
  std::optional<model::StyleSheet> style_copy;
  std::set<uint64_t> rich_string_items;
  uint32_t active_tab = 0;
};

// Reads the workbook from the package's parts; keeps no reference to them.
// Errors: MissingPart "xl/workbook.xml" or a sheet's part name,
// TooManyDefinedNames, Malformed "duplicate sheet part {name}" when two
// sheets name one part, and those of the readers it calls. Big worksheets
// may be read on several threads; the result is the same either way.
Result<WorkbookRead, SpreadsheetParseError> read_workbook(std::span<const opc::PackagePart> parts,
                                                          const ReadOptions& options = {});

}  // namespace cmx::reader
