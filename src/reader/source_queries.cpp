#include "reader/source_queries.h"

#include "opc/part_names.h"

namespace cmx::reader {
namespace {

template <typename Index>
std::optional<std::string_view> blocking_group(std::span<const RetainedCellRefs> groups, std::string_view sheet,
                                               uint32_t at, Index index_of) {
  for (const RetainedCellRefs& group : groups) {
    if (!group.refs) return std::string_view(group.label);
    for (const RetainedCellRef& ref : *group.refs) {
      if (index_of(ref.cell) >= at && opc::ascii_iequal(ref.sheet, sheet)) return std::string_view(group.label);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> retained_ref_blocking_row_edit(std::span<const RetainedCellRefs> groups,
                                                               std::string_view sheet, uint32_t row) {
  return blocking_group(groups, sheet, row, [](const model::CellRef& cell) { return cell.row; });
}

std::optional<std::string_view> retained_ref_blocking_column_edit(std::span<const RetainedCellRefs> groups,
                                                                  std::string_view sheet, uint32_t column) {
  return blocking_group(groups, sheet, column, [](const model::CellRef& cell) { return cell.col; });
}

SheetState sheet_state_at(std::span<const SourceSheet> sheets, size_t index) {
  if (index >= sheets.size()) return SheetState::NoSheet;
  for (const opc::AttributePair& attr : sheets[index].start_tag) {
    if (opc::attribute_local_name(attr.name) != "state") continue;
    if (attr.value == "visible") return SheetState::Visible;
    if (attr.value == "hidden") return SheetState::Hidden;
    if (attr.value == "veryHidden") return SheetState::VeryHidden;
    return SheetState::Other;
  }
  return SheetState::Visible;
}

bool sheet_at_is_worksheet(std::span<const SourceSheet> sheets, size_t index) {
  if (index >= sheets.size()) return true;
  return opc::sheet_type_is_worksheet(sheets[index].rel_type);
}

}  // namespace cmx::reader
