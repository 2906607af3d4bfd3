// The layout of the collaborative document: root names, map keys, the syntax
// of sheet, cell and dimension keys, and the encoding of every plain value,
// with the one reader and the one writer of each. Read next: bootstrap.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "crdt/crdt.h"
#include "model/workbook.h"

namespace cmx::collab {

inline constexpr int64_t kSchemaVersion = 6;
inline constexpr int64_t kOldestSchemaVersion = 3;

inline constexpr std::string_view kMetadataRoot = "xlsx";
inline constexpr std::string_view kCellFormatsRoot = "xlsx:cell-formats";
inline constexpr std::string_view kSheetOrderRoot = "xlsx:sheet-order";
inline constexpr std::string_view kSheetsRoot = "xlsx:sheets";

inline constexpr std::string_view kBaseFingerprintKey = "baseFingerprint";
inline constexpr std::string_view kSchemaVersionKey = "schemaVersion";
inline constexpr std::string_view kStructureGenerationKey = "structureGeneration";

inline constexpr std::string_view kNameKey = "name";
inline constexpr std::string_view kContentsKey = "contents";
inline constexpr std::string_view kStylesKey = "styles";
inline constexpr std::string_view kColWidthsKey = "colWidths";
inline constexpr std::string_view kRowHeightsKey = "rowHeights";
inline constexpr std::string_view kMergesKey = "merges";
inline constexpr std::string_view kFreezePaneKey = "freezePane";
inline constexpr std::string_view kHyperlinksKey = "hyperlinks";
inline constexpr std::string_view kChartsKey = "charts";

inline constexpr std::string_view kBootstrapOrigin = "xlsx:bootstrap";
inline constexpr std::string_view kHydrateOrigin = "xlsx:hydrate";

// Array positions are 32-bit in the document library.
inline constexpr std::string_view kSheetOrderRangeRefusal = "sheet order exceeds the index range";

inline constexpr uint32_t kSheetRows = 1048576;
inline constexpr uint32_t kSheetCols = 16384;

// The keys of a sheet map at one schema version, in byte order.
struct SheetKeySet {
  std::vector<std::string_view> required;
  std::vector<std::string_view> optional;
};
// For a version from 3 to 6.
const SheetKeySet& sheet_key_set(int64_t schema_version);
// Whether the live keys of `map` are the required keys plus some optional ones.
bool keys_match(const crdt::MapRef& map, const SheetKeySet& keys);

using DimensionMap = std::map<uint32_t, double>;

// "sheet:0" … "sheet:{n-1}".
std::vector<std::string> sheet_key_list(size_t count);
// The bootstrap index of a "sheet:{}" key: an optional "+" and decimal digits
// that fit 64 bits, leading zeros allowed; none for every other key.
std::optional<uint64_t> parse_bootstrap_sheet_index(std::string_view key);

// "{row}:{col}" in canonical decimal.
std::string format_cell_key(uint32_t row, uint32_t col);
// Both absolute flags false. Errors name the whole key: "invalid cell key {}",
// "invalid cell row in {}", "invalid cell column in {}", "noncanonical cell
// key {}", "cell key {} is out of bounds".
Result<model::CellRef, std::string> parse_cell_key(std::string_view key);

// Every entry of a colWidths or rowHeights map; `label` is "column width" or
// "row height", `limit` the number of columns or rows.
Result<DimensionMap, std::string> decode_dimension_map(const crdt::MapRef& map, uint32_t limit,
                                                       std::string_view label);
// Formula and value; never a style.
Result<model::SheetCell, std::string> decode_cell_content(const crdt::Any& value);
Result<model::CellValue, std::string> decode_cell_value(const crdt::Any& value);
Result<std::optional<model::FreezePane>, std::string> decode_freeze_pane(const crdt::Any& value);
Result<std::vector<model::CellRange>, std::string> decode_merges(const crdt::Any& value);

// None for a cell without formula and with an empty value.
std::optional<crdt::Any> encode_cell_content(const model::SheetCell& cell);
crdt::Any encode_cell_value(const model::CellValue& value);
crdt::Any encode_freeze_pane(const std::optional<model::FreezePane>& pane);
crdt::Any encode_merges(const std::vector<model::CellRange>& merges);

// schemaVersion and structureGeneration: a number truncated toward zero with
// saturation (NaN gives 0), an integer as it is; none for any other kind.
std::optional<int64_t> read_metadata_integer(const crdt::MapRef& metadata, std::string_view key);
// A number while it is a safe integer, else the integer kind.
crdt::Any encode_structure_generation(uint64_t generation);

// The write rule: stores `value` only when the key is absent or holds
// something else. Returns whether it wrote.
Result<bool, std::string> write_plain(crdt::Transaction& txn, crdt::MapRef map,
                                      std::string_view key, crdt::Any value);
// The nested map under `key`, a new one when the key holds anything else.
Result<crdt::MapRef, std::string> fetch_or_create_map(crdt::Transaction& txn, crdt::MapRef map,
                                                      std::string_view key);
// Leaves `map` holding exactly `wanted`: unwanted keys go first (byte order),
// then the wanted entries are written in ascending index order.
Result<void, std::string> sync_dimension_map(crdt::Transaction& txn, crdt::MapRef map,
                                             const DimensionMap& wanted);
// The same for contents and styles; `wanted` sorted by key bytes, keys unique.
Result<void, std::string> sync_string_map(crdt::Transaction& txn, crdt::MapRef map,
                                          const std::vector<std::pair<std::string, crdt::Any>>& wanted);

// The message of a document library failure while writing.
std::string write_failure(const crdt::CrdtError& error);

// The map stored under `key`, absent when the key holds anything else.
std::optional<crdt::MapRef> nested_map(const crdt::MapRef& map, std::string_view key);

}  // namespace cmx::collab
