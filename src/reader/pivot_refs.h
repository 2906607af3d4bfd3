// The cells each pivot part of a package points at: a pivot table's output
// area on each sheet that hosts it, a cache definition's source areas, and a
// records part through the definition that owns it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/workbook.h"
#include "opc/package_archive.h"
#include "reader/package_inventory.h"
#include "reader/package_structure.h"
#include "xml/element_tree.h"

namespace cmx::reader {

// One group per pivot part, in archive order; unknown wherever the part
// cannot be interpreted. Never fails.
std::vector<RetainedCellRefs> pivot_reference_groups(const opc::PartIndex& parts, const PartContentTypes& content_types,
                                                     std::span<const model::SheetModel> sheets,
                                                     std::span<const std::string> sheet_part_names);
std::vector<RetainedCellRefs> pivot_reference_groups(const opc::PartIndex& parts, const PartContentTypes& content_types,
                                                     std::span<const model::SheetModel> sheets,
                                                     std::span<const std::string> sheet_part_names,
                                                     const SheetNameCounts& names);

// The element or one below it has the local part "AlternateContent".
bool contains_alternate_content(const xml::XmlElement& element);

// The SpreadsheetML attribute of this name: 0 when absent; none when it is
// repeated or not an unsigned 32-bit decimal after trimming.
std::optional<uint32_t> optional_u32_attribute(std::span<const xml::XmlTreeAttribute> attributes,
                                               std::string_view name);

}  // namespace cmx::reader
