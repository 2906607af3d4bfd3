// The operation writer: a projection after local edit operations written back
// into the document as one transaction, touching only the entries cell-level
// edits changed, with the sheet order, the structure generation and the
// structure history kept in step with the operations.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "model/workbook.h"
#include "ops/workbook_op.h"

namespace cmx::collab {

// Who made a local write; picks the origin text of its transaction.
enum class LocalOrigin : uint8_t { kUser = 0, kAgent = 1, kUndo = 2, kRedo = 3 };
std::string_view local_origin_text(LocalOrigin origin);

// A cell of a SetCell: sheet index, row, column.
struct StyledCell {
  uint32_t sheet = 0;
  uint32_t row = 0;
  uint32_t col = 0;
  friend auto operator<=>(const StyledCell&, const StyledCell&) = default;
};
// The style each set cell had before any operation of the list ran.
using PreOperationStyles = std::map<StyledCell, std::optional<uint32_t>>;

// Writes `projection` (the document's projection with `ops` applied) into the
// authority's document and records one structure step. Undo and Redo take the
// sheet order from the structure history; User and Agent derive it from the
// operations, creating "replica:{client}:{counter}" keys for new sheets.
// Everything is checked before the transaction opens, so a refusal leaves the
// document and the structure history as they were.
Result<void, std::string> write_operation(Authority& authority, const model::WorkbookModel& projection,
                                          const std::vector<ops::WorkbookOp>& ops, LocalOrigin origin,
                                          const PreOperationStyles& pre_styles);
// The same in a transaction of origin `transaction_origin`; without
// `record_step` the structure history stays as it was (a write that becomes
// an undo step of the document instead).
Result<void, std::string> write_operation(Authority& authority, const model::WorkbookModel& projection,
                                          const std::vector<ops::WorkbookOp>& ops, LocalOrigin origin,
                                          const PreOperationStyles& pre_styles, std::string_view transaction_origin,
                                          bool record_step);

}  // namespace cmx::collab
