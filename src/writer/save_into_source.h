// A save back into the package a workbook was read from: every part starts
// as the source part, and only what the model no longer matches is
// rewritten, added or removed. The rewrites of single parts live beside it
// (source_rewrites.h, styles_rewrite.h, chart_write_back.h); this is the
// driver that checks, plans and runs them in order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "model/source_moves.h"
#include "model/workbook.h"
#include "reader/source_package.h"
#include "writer/part_plans.h"
#include "writer/save_plan.h"
#include "xml/parse_error.h"

namespace cmx::writer {

// What a session hands to a save into its source package. The three lists
// are index-aligned with the model's sheets; `move_maps` may be shorter
// (a missing entry counts as none).
struct SourceSaveInputs {
  std::span<const model::SheetOrigin> origins;
  std::span<const model::CellStringIndexMap> string_indexes;
  std::span<const std::optional<model::SheetMoveMap>> move_maps;
  // Cells were edited or recalculated since the package was read.
  bool recalculated = false;
  // A row or column edit moved cells that a retained part references.
  bool retained_references_moved = false;
  uint32_t active_sheet = 0;
};

// The saved package's parts, in archive order; unchanged parts view the
// source package's bytes, which must outlive the list. With no edit and the
// source's active sheet this is the source parts, nothing parsed. Errors:
// Malformed "indexed palette color at index {} must be …", "sheet origin
// count does not match workbook"; UnsupportedEdit "{label} references sheets
// or cells this save would move, and it cannot be rewritten", "chart {} was
// dropped from sheet {}, and …", "sheet {} carries the anchor holding chart
// {} twice, and one anchor cannot hold two"; and the errors of the plans and
// rewrites it runs, unchanged.
Result<std::vector<SavedPart>, SpreadsheetParseError> save_into_source(const model::WorkbookModel& model,
                                                                       const reader::SourcePackage& source,
                                                                       const SourceSaveInputs& inputs);

// Keeps, removes, rewrites or writes the styles part of a save: removed when
// the save writes none, written whole when the source has no template,
// patched otherwise (rewrite_styles_part), and put under `styles_part`.
Result<void, SpreadsheetParseError> save_styles_part(SavePlan& plan, const std::optional<std::string>& source_styles_part,
                                                     const std::optional<std::string>& styles_part,
                                                     const reader::SourcePackage& source,
                                                     const model::WorkbookModel& model, std::string_view main_ns);

}  // namespace cmx::writer
