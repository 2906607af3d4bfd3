// Shared formulas of a worksheet: the masters and dependents collected while
// the sheet streams, and their expansion into per-cell texts at the end by a
// light, text-level move of relative references.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/btree_map.h"
#include "base/result.h"
#include "model/address.h"
#include "model/workbook.h"
#include "xml/parse_error.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// The longest master text, and the longest translated text, in bytes.
inline constexpr uint64_t SHARED_FORMULA_MAX_BYTES = 32768;
// All master texts plus all translated texts of one worksheet part.
inline constexpr uint64_t FORMULA_BYTE_BUDGET = 33554432;

struct SharedFormulaMaster {
  std::string text;  // as read, not trimmed
  model::CellRange range;
  uint32_t row = 0;
  uint32_t col = 0;
};

// B-trees: a part may register a shared formula in every one of its cells.
struct SharedFormulaTable {
  absl::btree_map<uint32_t, SharedFormulaMaster> masters;
  absl::btree_map<model::CellKey, uint32_t> dependents;  // masters included
  uint64_t budget = FORMULA_BYTE_BUDGET;
};

// Registers the `f` of type "shared" of the cell at (row, col). Without `ref`
// the cell is a dependent only; with it, the group's master. Fails with
// Malformed for a bad `si`, a bad `ref`, a master outside its range or blank,
// a second master, an oversized text or an exhausted budget.
Result<void, SpreadsheetParseError> register_shared_formula(SharedFormulaTable& table, uint32_t row,
                                                            uint32_t col, std::string_view text,
                                                            std::optional<std::string_view> si,
                                                            std::optional<std::string_view> ref);

// A later formula of another type at the same position cancels the shared one.
void remove_shared_dependent(SharedFormulaTable& table, uint32_t row, uint32_t col);

// Gives every dependent its master's text moved by its offset, in position
// order, charging the table's budget; the texts come from `texts`.
Result<void, SpreadsheetParseError> expand_shared_formulas(SharedFormulaTable& table,
                                                           model::CellMap& cells, TextArena& texts);

// The master text with relative references moved by (row_offset, col_offset);
// references pushed off the grid become "#REF!". Fails with Malformed "shared
// formula expansion exceeds the byte limit" before the output passes `cap`.
Result<std::string, SpreadsheetParseError> translate_shared_formula(std::string_view text,
                                                                    int64_t row_offset,
                                                                    int64_t col_offset,
                                                                    uint64_t cap);

// White space, "@" and # % & ( ) * + , - / ; < = > ^ { }.
bool is_formula_delimiter(char32_t ch);
// Byte positions of `separator` (':' or '!') outside quoted runs and bracket
// groups; an unterminated run or group ends the scan.
std::vector<size_t> split_outside_quotes(std::string_view text, char separator);
// (up to and including the last "!" outside quotes, the rest); ("", text)
// without one.
struct SheetPrefixSplit {
  std::string_view prefix;
  std::string_view rest;
};
SheetPrefixSplit split_sheet_prefix(std::string_view text);

struct AxisRef {
  uint32_t index = 0;  // zero-based column or row
  bool absolute = false;
};
// "$"? letters, naming a column inside the grid; any letter case.
std::optional<AxisRef> parse_column_ref(std::string_view text);
// "$"? digits, naming a row inside the grid.
std::optional<AxisRef> parse_row_ref(std::string_view text);
// Trimmed, "+"? digits, at most 4,294,967,295.
std::optional<uint32_t> parse_group_index(std::string_view text);

}  // namespace cmx::reader
