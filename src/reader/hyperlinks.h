// One `hyperlink` element of a worksheet, its relationship id resolved
// through the worksheet part's relationships.
#pragma once

#include <optional>

#include "base/result.h"
#include "model/workbook.h"
#include "opc/relationships.h"
#include "xml/parse_error.h"
#include "xml/streaming.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// Reads the current `hyperlink` start tag of `stream`. Absent (skip) without
// `ref`, or without both an external target and a non-empty `location`; an
// external target only from an external relationship whose type's last
// segment is "hyperlink". Malformed "bad hyperlink ref {}" for a bad `ref`.
Result<std::optional<model::SheetHyperlink>, SpreadsheetParseError> read_sheet_hyperlink(
    xml::PartStream& stream, const opc::RelationshipMap& rels);

}  // namespace cmx::reader
