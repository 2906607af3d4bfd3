// Table parts of a worksheet: the name, range, header and totals rows and
// column names that formulas and exports need; and the `_xHHHH_` decoding the
// file format uses for characters XML cannot carry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "base/result.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "opc/relationships.h"
#include "xml/parse_error.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// Tables in a workbook, over all sheets.
inline constexpr uint64_t MAX_TABLES = 65536;
// `tableColumn` elements in one table.
inline constexpr uint64_t MAX_TABLE_COLUMNS = 16384;

// Follows the sheet's "table" relationships in Id order (external ones and
// missing parts skipped) and appends one table per part that names one. A
// part already in `read_parts` (positions in the part list, shared by every
// sheet of a workbook) is not read again: a table belongs to one sheet, and
// the caps on tables and columns then bound the whole package.
// Malformed "table column count exceeded cap" / "table count exceeded cap".
Result<void, SpreadsheetParseError> read_sheet_tables(const opc::PartIndex& parts,
                                                      const opc::RelationshipMap& rels,
                                                      std::string_view sheet_dir,
                                                      uint32_t sheet_index,
                                                      absl::flat_hash_set<size_t>& read_parts,
                                                      std::vector<model::WorkbookTable>& tables);

// One table part; absent when it names no usable table.
Result<std::optional<model::WorkbookTable>, SpreadsheetParseError> read_table_part(
    std::string_view bytes, uint32_t sheet_index);

// `headerRowCount` / `totalsRowCount`: trimmed, then "+"? digits within u32;
// the default otherwise.
uint32_t read_count_attribute(std::optional<std::string_view> value, uint32_t fallback);

// `_xHHHH_` (either x case, any hex case) becomes its character, except a
// surrogate code; a decoded character is not scanned again.
std::string unescape_xstring(std::string_view text);

}  // namespace cmx::reader
