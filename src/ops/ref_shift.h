// How one reference, range, whole-row or whole-column range, formula tree or
// chart anchor follows an insertion or deletion of rows or columns, and which
// references point into the edited sheet. Pure functions; the rewriters in
// formula_rewrite.h and the structural edits apply them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "absl/container/flat_hash_map.h"
#include "formula/expr.h"
#include "model/cell_moves.h"
#include "model/workbook.h"

namespace cmx::ops {

using model::StructuralKind;
using model::StructuralShift;

enum class ShiftVerdict : uint8_t { Unchanged, Moved, Invalid };

template <typename T>
struct ShiftOutcome {
  ShiftVerdict verdict = ShiftVerdict::Unchanged;
  T value{};  // the new value when Moved, the input otherwise
  friend bool operator==(const ShiftOutcome&, const ShiftOutcome&) = default;
};

// A whole-row (3:5) or whole-column (B:D) range, zero-based, start ≤ end.
struct LineRange {
  bool rows = true;
  uint32_t start = 0;
  uint32_t end = 0;
  bool abs_start = false;
  bool abs_end = false;
  friend bool operator==(const LineRange&, const LineRange&) = default;
};

enum class AnchorVerdict : uint8_t { Unchanged, Moved, LeavesGrid };
struct AnchorShift {
  AnchorVerdict verdict = AnchorVerdict::Unchanged;
  model::ChartAnchor anchor;
};

bool shifts_rows(StructuralKind kind);
bool is_insert(StructuralKind kind);
// The first index after a deleted band: at + count, held at 2^32 - 1.
uint32_t band_end(const StructuralShift& shift);

ShiftOutcome<model::CellRef> shift_cell_ref(const model::CellRef& cell, const StructuralShift& shift);
// `range` is normalised (start not below or right of end).
ShiftOutcome<model::CellRange> shift_range(const model::CellRange& range, const StructuralShift& shift);
ShiftOutcome<LineRange> shift_line_range(const LineRange& range, const StructuralShift& shift);
// For a frame on the edited sheet.
AnchorShift shift_anchor_for_structural_op(const model::ChartAnchor& anchor, const StructuralShift& shift);

// Sheet names in Unicode lower case to their positions; a later sheet wins
// over an earlier one spelt the same.
using SheetNameIndex = absl::flat_hash_map<std::string, uint32_t>;

struct ShiftContext {
  SheetNameIndex names;
  std::string edited_name;  // as the sheet holds it
  uint32_t edited = 0;
  size_t sheet_count = 0;
};
ShiftContext make_shift_context(const model::WorkbookModel& model, uint32_t edited);

// The sheet position a name (any case) stands for.
std::optional<uint32_t> find_sheet(const ShiftContext& context, std::string_view name);

// Whether a reference with this qualifier (absent: unqualified) points into
// the edited sheet.
using ReferenceTest = std::function<bool(const std::optional<std::string>& qualifier)>;

// The qualifier "First:Last" names a span; a qualified reference points into
// the edited sheet when both ends are sheets and the span covers it.
bool qualifier_covers_edited_sheet(std::string_view qualifier, const ShiftContext& context);
// An unqualified reference belongs to its home sheet (a cell, chart or hyperlink's sheet).
bool sheet_ref_touches_edited_sheet(const std::optional<std::string>& qualifier, uint32_t home,
                                    const ShiftContext& context);
// An unqualified reference in a defined name belongs to the name's scope
// sheet, or to the only sheet of the workbook.
bool name_ref_touches_edited_sheet(const std::optional<std::string>& qualifier, const ShiftContext& context,
                                   bool scoped_to_edited, bool single_sheet);

// `expr` with every reference that passes `test` shifted; an invalid one
// becomes #REF!. Sets `changed` when anything moved or broke; never clears
// it. Subtrees that do not change are shared with the input.
formula::ExprPtr shift_expr_refs(const formula::ExprPtr& expr, const StructuralShift& shift,
                                 const ReferenceTest& test, bool& changed);

}  // namespace cmx::ops
