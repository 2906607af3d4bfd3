// Formula text that follows an insertion or deletion of rows or columns:
// every cell formula through the parser and printer, and texts that may not
// be plain formulas (chart series, defined names) piece by piece, falling
// back to an in-place scan. A text is rewritten with confidence, kept byte
// for byte, or refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_set.h"
#include "base/result.h"
#include "ops/error.h"
#include "ops/ref_shift.h"
#include "ops/workbook_op.h"

namespace cmx::ops {

enum class RemapVerdict : uint8_t {
  Unchanged,
  Rewritten,
  Ambiguous,      // an unqualified reference where the text has no home sheet
  ReparseFailed,  // a rewritten piece no longer parses
  Unsafe,         // the text cannot be split or scanned with confidence
};

struct RemapResult {
  RemapVerdict verdict = RemapVerdict::Unchanged;
  std::string text;  // the new text when Rewritten
  friend bool operator==(const RemapResult&, const RemapResult&) = default;
};

// Lower-case names of the workbook's defined names.
using NameSet = absl::flat_hash_set<std::string>;
NameSet defined_name_set(const model::WorkbookModel& model);

// The pieces of `text` between its top-level commas, or absent when its
// brackets, quoted names or array constants are unbalanced.
std::optional<std::vector<std::string_view>> split_top_level_args(std::string_view text);

// `text` may begin with "="; `no_home_sheet` is set where an unqualified
// reference cannot be placed on any sheet.
RemapResult remap_formula_text(std::string_view text, const StructuralShift& shift, const ReferenceTest& test,
                               bool no_home_sheet, const NameSet& names);

// Rewrites every cell formula of the workbook that refers to the edited
// sheet; gives one SetCell with the previous record per rewritten cell, in
// sheet, row, column order. A refusal changes nothing.
Result<std::vector<SetCell>, OpsError> remap_cell_formulas_for_structural_op(model::WorkbookModel& model,
                                                                             SheetId sheet,
                                                                             const StructuralShift& shift);

}  // namespace cmx::ops
