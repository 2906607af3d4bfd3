// The package inventory: parts that the model neither reads nor rewrites but
// that point at cells (pivot tables, pivot caches, charts the chart model
// cannot carry), each with the cells it references, or with none when they
// cannot be known. Edits and saves that would move those cells are refused.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "base/result.h"
#include "model/address.h"
#include "model/workbook.h"
#include "opc/package_archive.h"
#include "opc/part_names.h"
#include "reader/package_structure.h"
#include "xml/parse_error.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

struct RetainedCellRef {
  std::string sheet;   // as the referencing part writes it
  model::CellRef cell;  // the bottom-right corner of the referenced area
  friend bool operator==(const RetainedCellRef&, const RetainedCellRef&) = default;
};

struct RetainedCellRefs {
  std::string label;  // the part name as the part list stores it
  // Absent: the part may reference any cell, and blocks every move.
  std::optional<std::vector<RetainedCellRef>> refs;
  friend bool operator==(const RetainedCellRefs&, const RetainedCellRefs&) = default;
};

using PackageInventory = std::vector<RetainedCellRefs>;

// How many sheets of the workbook bear each name, ASCII case ignored.
class SheetNameCounts {
 public:
  explicit SheetNameCounts(std::span<const model::SheetModel> sheets);
  uint64_t count(std::string_view name) const;

 private:
  absl::flat_hash_map<std::string, uint64_t> counts_;
};

// The group keeps its list only when every entry names exactly one sheet.
RetainedCellRefs make_retained_group(std::string label, std::optional<std::vector<RetainedCellRef>> refs,
                                     std::span<const model::SheetModel> sheets);
RetainedCellRefs make_retained_group(std::string label, std::optional<std::vector<RetainedCellRef>> refs,
                                     const SheetNameCounts& sheets);

// "[Content_Types].xml" holds, in some attribute, a pivot or chart content
// type (ASCII case ignored).
bool mentions_retained_content_type(const opc::PartIndex& parts);

// Pivot groups then chart groups when the structure check passes; otherwise
// one unknown group per part when the package shows pivot or chart content,
// else none; then the unreadable drawings. Fails only with the chart
// services' decode, tree and reference-walk errors.
Result<PackageInventory, SpreadsheetParseError> build_package_inventory(
    const opc::PartIndex& parts, const PartContentTypes& content_types,
    const std::vector<opc::ContentTypeEntry>& content_type_entries, std::span<const model::SheetModel> sheets,
    std::span<const std::string> sheet_part_names, std::span<const std::string> unreadable_drawings);

}  // namespace cmx::reader
