// The sheet list of a workbook part and the rule that turns an entry into
// its part name. The workbook reader and the record of the source package
// both take their sheets from here, so the sheet a save patches is always
// the sheet that was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "opc/attribute_pair.h"
#include "opc/relationships.h"
#include "xml/parse_error.h"
#include "xml/streaming.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// One `sheet` element that stands directly inside `sheets`.
struct SheetEntry {
  std::string name;                 // empty when the attribute is absent
  std::optional<std::string> r_id;  // the `id` attribute, whatever its prefix
  std::optional<uint32_t> sheet_id;  // `sheetId` when it is a valid number
  opc::AttributeList start_tag;     // every attribute as written
  friend bool operator==(const SheetEntry&, const SheetEntry&) = default;
};

// Collects entries from a stream that its owner drives, so that a reader
// that streams the workbook part for other reasons makes no second pass.
class SheetEntryCollector {
 public:
  // Call after every StartTag event of the stream.
  Result<void, SpreadsheetParseError> on_start_tag(xml::PartStream& stream);
  // Call after every EndTag event of the stream.
  void on_end_tag(const xml::PartStream& stream);

  std::vector<SheetEntry>& entries() { return entries_; }

 private:
  std::optional<size_t> zone_depth_;  // depth of the open `sheets` element
  std::vector<SheetEntry> entries_;
};

// The entries of a whole workbook part, in document order.
Result<std::vector<SheetEntry>, SpreadsheetParseError> read_sheet_entries(std::string_view workbook_part);

// The workbook relationship that the entry's id names, if the map holds it.
const opc::RelationshipTarget* sheet_relationship(const SheetEntry& entry, const opc::RelationshipMap& rels);

// Adds the part to the parts already claimed by sheets; Malformed "duplicate
// sheet part {name}" when another sheet claimed it (names compared as part
// keys), since a save would then patch one part from two sheets.
Result<void, SpreadsheetParseError> claim_sheet_part(std::set<std::string>& claimed, const std::string& name);

// "xl/worksheets/sheet{position + 1}.xml".
std::string default_sheet_part_name(size_t position);

// The part of the sheet at `position`: an internal relationship's target
// resolved against "xl"; the default name without a relationship or for an
// external one, whose target is no part of this package.
std::string sheet_part_name(const opc::RelationshipTarget* rel, size_t position);

}  // namespace cmx::reader
