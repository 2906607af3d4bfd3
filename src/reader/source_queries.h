// Questions other parts of the system ask of an open workbook's source
// package: whether a row or column edit would move cells a retained part
// references, how the workbook part shows a sheet, and whether a sheet is a
// worksheet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "reader/package_inventory.h"
#include "reader/source_package.h"

namespace cmx::reader {

enum class SheetState : uint8_t {
  Visible = 0,
  Hidden = 1,
  VeryHidden = 2,
  Other = 3,  // a `state` that is none of the three
  NoSheet = 255,
};

// The label of the first group that an edit at this row (column) of the
// sheet would disturb: a group without a list, or a reference on the sheet
// (ASCII case ignored) whose corner lies at or after the edit.
std::optional<std::string_view> retained_ref_blocking_row_edit(std::span<const RetainedCellRefs> groups,
                                                               std::string_view sheet, uint32_t row);
std::optional<std::string_view> retained_ref_blocking_column_edit(std::span<const RetainedCellRefs> groups,
                                                                  std::string_view sheet, uint32_t column);

// From the first attribute of local name `state`; NoSheet past the end.
SheetState sheet_state_at(std::span<const SourceSheet> sheets, size_t index);

// True past the end, without a relationship type, or for a "worksheet" one.
bool sheet_at_is_worksheet(std::span<const SourceSheet> sheets, size_t index);

}  // namespace cmx::reader
