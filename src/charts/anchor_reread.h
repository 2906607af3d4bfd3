// Moving a chart frame in a drawing part without rewriting it: the markers
// of an anchor are compared with the cells the model now holds, and only the
// numbers that changed become span edits of the decoded part.
#pragma once

#include <vector>

#include "base/result.h"
#include "model/workbook.h"
#include "xml/element_tree.h"
#include "xml/parse_error.h"
#include "xml/span_rewrite.h"

namespace cmx::charts {

using xml::SpreadsheetParseError;

// Appends the edits that bring `marker` (an anchor's `from` or `to`; none
// plans nothing) to `cell`: one text edit per changed number, or, when a
// changed field is missing from the marker, one raw edit rewriting its whole
// content with the four children under the marker's prefix. Errors, which
// append nothing: Malformed "invalid chart anchor {field}", UnsupportedEdit
// "a self-closing anchor marker cannot be moved", "a self-closing chart
// anchor cannot be moved".
Result<void, SpreadsheetParseError> reread_chart_anchors(const xml::XmlElement* marker, const model::AnchorCell& cell,
                                                         std::vector<xml::SpanEdit>& edits);

// Stable sort by start offset, the order apply_span_rewrites takes.
void sort_span_edits(std::vector<xml::SpanEdit>& edits);

}  // namespace cmx::charts
