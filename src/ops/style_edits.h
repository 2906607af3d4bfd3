// The three style kinds: PatchStyle, SetNumberFormat and SetCellFormats.
// Each derives a new format for every position of its range, interns them
// all, and only then writes style indices into the cells.
#pragma once

#include <cstdint>
#include <optional>

#include "base/result.h"
#include "model/workbook.h"
#include "ops/error.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

// The most positions one style step may visit: the most cells a worksheet
// may hold and still be read back.
inline constexpr uint64_t kMaxStyleArea = 10000000;

// No style index for the default format (nothing interned); otherwise the
// index of an equal cell format. Errors: NumFmtTableFull, StyleTableFull.
Result<std::optional<uint32_t>, OpsError> intern_cell_format(model::StyleSheet& styles,
                                                             const model::CellFormat& format);

// The inverse list is one SetCell per changed position, row-major; a range
// whose end lies above or left of its start changes and checks nothing past
// the sheet. On a refusal the style tables are cut back and no cell has
// changed. Errors: SheetNotFound (for SetCellFormats after its grid check),
// InvalidStyle, NumFmtTableFull, StyleTableFull; InvalidStyle "style range
// is too large" for a range of more than kMaxStyleArea positions.
Result<InverseList, OpsError> apply_patch_style(model::WorkbookModel& model, const PatchStyle& step);
Result<InverseList, OpsError> apply_set_number_format(model::WorkbookModel& model, const SetNumberFormat& step);
Result<InverseList, OpsError> apply_set_cell_formats(model::WorkbookModel& model, const SetCellFormats& step);

}  // namespace cmx::ops
