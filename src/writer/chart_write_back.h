// Carrying chart edits back into the source package: the `c:f` texts of
// chart parts whose references changed, each with the cache that follows it,
// and the cell positions of moved anchors in drawing parts. Both are span
// edits of the decoded part, so every other byte (and the encoding) stays.
#pragma once

#include <span>

#include "base/result.h"
#include "model/source_moves.h"
#include "model/workbook.h"
#include "reader/source_package.h"
#include "writer/save_plan.h"
#include "xml/parse_error.h"

namespace cmx::writer {

// Puts every chart part whose references changed and every drawing part
// with a moved anchor into the plan, chart parts first, each in name order;
// writes nothing when no chart changed or moved. `origins` are index-aligned
// with `sheets`. Refuses with UnsupportedEdit a chart whose references no
// longer match the part's, a part two sheets would write differently, a
// self-closing `c:f` or cache that would have to change, a cache that
// cannot be regenerated, and an anchor that changed more than its cells;
// passes on the errors of decoding, parsing and the budget.
Result<void, SpreadsheetParseError> write_back_charts(std::span<const model::SheetModel> sheets,
                                                      const reader::SourcePackage& source,
                                                      std::span<const model::SheetOrigin> origins, SavePlan& plan);

}  // namespace cmx::writer
