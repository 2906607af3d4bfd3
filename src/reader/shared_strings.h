// The workbook's shared-string table, read in one streamed pass. Items are
// kept as SharedString so that every cell that refers to an item shares its
// storage: a long string referenced by a million cells is stored once.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/shared_string.h"
#include "xml/parse_error.h"
#include "xml/streaming.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// The most string items a shared-strings part may hold.
inline constexpr uint64_t MAX_SHARED_STRINGS = 10000000;

struct SharedStringTable {
  std::vector<SharedString> items;        // by index, as the part stores them
  std::set<uint64_t> rich_string_items;   // items with a direct `r` child
};

// Every `si` item, wherever it stands, in part order: runs flattened, nothing
// trimmed, `_xHHHH_` escapes decoded. TooManyStrings on item 10,000,001;
// Malformed "unexpected eof in text" when the part ends inside an item.
Result<SharedStringTable, SpreadsheetParseError> read_shared_strings(std::string_view bytes);

// The texts as plain strings, for the model's copy of the table.
std::vector<std::string> shared_string_texts(const SharedStringTable& table);

// Reads one string item whose start tag was just read, replacing `text` with
// its text (every text, CDATA and reference at any depth, save white space
// standing between the elements of the item or of a run), `_xHHHH_` escapes
// decoded. Returns whether a direct child is a rich-text run `r`.
Result<bool, SpreadsheetParseError> read_string_item_text(xml::PartStream& stream,
                                                          std::string& text);

}  // namespace cmx::reader
