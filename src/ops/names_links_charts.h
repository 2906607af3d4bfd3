// Defined names, hyperlink locations and charts that follow a row or column
// edit or a sheet rename. Each step computes everything on copies first and
// writes only when nothing was refused; it hands back the restore steps.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "ops/error.h"
#include "ops/ref_shift.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

// Rewritten texts may hold at most this many bytes.
inline constexpr size_t kMaxRewrittenFormula = 32768;

Result<std::optional<SetDefinedNames>, OpsError> remap_defined_names_for_structural_op(
    model::WorkbookModel& model, SheetId sheet, const StructuralShift& shift);
std::vector<SetHyperlinks> remap_hyperlinks_for_structural_op(model::WorkbookModel& model, SheetId sheet,
                                                              const StructuralShift& shift);
// Chart references of every sheet and the frames of the edited sheet.
Result<std::vector<SetCharts>, OpsError> remap_charts_for_structural_op(model::WorkbookModel& model,
                                                                        SheetId sheet,
                                                                        const StructuralShift& shift);

// A bare word equal to the old name (not a qualifier) is left as written.
std::optional<SetDefinedNames> rename_sheet_in_defined_names(model::WorkbookModel& model,
                                                             std::string_view old_name, std::string_view new_name);
std::vector<SetCharts> rename_sheet_in_chart_refs(model::WorkbookModel& model, std::string_view old_name,
                                                  std::string_view new_name);

// One reference text of a chart without its outer parentheses, if it is
// wrapped as a whole; `wrapped` tells whether it was.
std::string_view unwrap_chart_ref(std::string_view text, bool& wrapped);

}  // namespace cmx::ops
