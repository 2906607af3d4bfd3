// The cell range a structured table reference stands for.
#pragma once

#include <optional>

#include "base/result.h"
#include "formula/expr.h"
#include "model/workbook.h"

namespace cmx::formula {

// The rows of the listed bands (Data when none is listed) by the named
// columns (all when none is named). "#REF!" for bands or columns the table
// does not have; "#VALUE!" for a this-row reference without a current cell
// in the data rows.
Result<model::CellRange, model::CellErrorCode> table_reference_range(
    const model::WorkbookTable& table, const TableSpec& spec,
    std::optional<model::CellRef> current_cell);

}  // namespace cmx::formula
