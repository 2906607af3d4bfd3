// Fuzzes the rewriting of formula texts read from workbooks (defined names,
// chart references, hyperlink locations) for row edits, sheet renames and
// sheet removals. No crash or hang; qualifier offsets stay inside the text;
// an edit of zero rows never rewrites; renaming a sheet to itself and
// removing a sheet the text does not name keep the text byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ops/formula_rewrite.h"
#include "ops/sheet_edits.h"
#include "ops/sheet_qualifiers.h"

using namespace cmx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  static const model::WorkbookModel model = [] {
    model::WorkbookModel out;
    for (const char* name : {"Sheet1", "My Sheet", "Sheet3"}) out.sheets.emplace_back().name = name;
    out.defined_names.push_back({"Sales", "Sheet1!$A$1", std::nullopt, false});
    return out;
  }();
  static const ops::ShiftContext context = ops::make_shift_context(model, 1);
  static const ops::NameSet names = ops::defined_name_set(model);
  const ops::ReferenceTest test = [&](const std::optional<std::string>& qualifier) {
    return ops::sheet_ref_touches_edited_sheet(qualifier, 1, context);
  };

  for (const ops::QualifierMention& mention : ops::scan_sheet_qualifiers(text)) {
    if (mention.start > mention.bang || mention.bang > text.size()) std::abort();
  }
  for (bool no_home : {false, true}) {
    (void)ops::remap_formula_text(text, {model::StructuralKind::InsertRows, 2, 3}, test, no_home, names);
    (void)ops::remap_formula_text(text, {model::StructuralKind::DeleteColumns, 1, 0xFFFFFFFFu}, test, no_home, names);
    const ops::RemapResult none = ops::remap_formula_text(text, {model::StructuralKind::DeleteRows, 4, 0}, test,
                                                          no_home, names);
    if (none.verdict == ops::RemapVerdict::Rewritten) std::abort();
  }
  (void)ops::has_unresolvable_span_on_sheet(text, context);
  (void)ops::mentions_sheet(text, context);
  if (ops::rename_sheet_in_formula_text(text, "Sheet1", "Sheet1").text != text) std::abort();
  (void)ops::rename_sheet_in_formula_text(text, "sheet1", "Q1 'Sales'");
  const std::vector<std::string> sheets{"Sheet1", "My Sheet", "Sheet3", "Absent"};
  (void)ops::narrow_chart_ref_for_removed_sheet(text, sheets, "My Sheet");
  return 0;
}
