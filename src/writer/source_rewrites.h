// Rewrites of the parts of a save into the source package: the workbook
// part, the relationships and content types, the worksheets with their
// `sheetData` and `cols` patches, and the shared strings. Each starts from
// the source part and copies every byte it does not have to change.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/source_moves.h"
#include "model/workbook.h"
#include "opc/attribute_pair.h"
#include "reader/source_package.h"
#include "writer/part_plans.h"
#include "writer/parts.h"
#include "writer/save_plan.h"
#include "xml/parse_error.h"
#include "xml/template_render.h"

namespace cmx::writer {

// ---- element order ----------------------------------------------------------

// The position of a local name in a schema sequence, or none.
inline std::optional<uint64_t> rank_in_order(std::span<const std::string_view> order, std::string_view name) {
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] == name) return i;
  }
  return std::nullopt;
}

// A rank table as the part rebuild's order; unranked names sort last.
inline xml::ElementOrder element_order(std::optional<uint64_t> (*rank)(std::string_view)) {
  return [rank](std::string_view name) { return rank(name).value_or(xml::kNoPosition); };
}

// ---- workbook part ----------------------------------------------------------

std::optional<uint64_t> workbook_child_rank(std::string_view local_name);
std::optional<uint64_t> book_views_child_rank(std::string_view local_name);

// The source workbook part with `workbookPr`, `sheets` and `calcPr`
// recomputed, `bookViews` when the active tab changed and `definedNames`
// when the names changed; every other byte as read. Names that changed but
// cannot be placed in the source markup are refused (UnsupportedEdit naming
// xl/workbook.xml) rather than left stale.
Result<std::string, SpreadsheetParseError> rewrite_workbook_part(const model::WorkbookModel& model,
                                                                const reader::SourcePackage& source,
                                                                std::span<const SheetPartPlan> sheet_plans,
                                                                bool recalculate, uint32_t active_tab);

// `bookViews` text with `activeTab` set in the `workbookView` tag at
// [tag_start, tag_end).
Result<std::string, SpreadsheetParseError> rewrite_workbook_view_tag(std::string_view book_views, size_t tag_start,
                                                                    size_t tag_end, std::string_view qualified_name,
                                                                    uint32_t active_tab, bool self_closing);

// ---- relationships and content types ----------------------------------------

struct PackagePartPlans {
  const PartRelationshipPlan* shared_strings = nullptr;
  const PartRelationshipPlan* styles = nullptr;
  const PartRelationshipPlan* theme = nullptr;
};

Result<std::string, SpreadsheetParseError> rewrite_workbook_relationships(
    const reader::SourcePackage& source, std::span<const SheetPartPlan> sheet_plans,
    const PackagePartPlans& part_plans, bool recalculate);

Result<std::string, SpreadsheetParseError> rewrite_package_relationships(
    const std::vector<opc::AttributeList>& package_relationships);

// `removed` holds the keys of the parts the save took out of its plan.
Result<std::string, SpreadsheetParseError> rewrite_content_types(const reader::SourcePackage& source,
                                                                std::span<const SheetPartPlan> sheet_plans,
                                                                const PackagePartPlans& part_plans, bool recalculate,
                                                                std::span<const std::string> removed);

// ---- worksheets -------------------------------------------------------------

std::optional<uint64_t> worksheet_child_rank(std::string_view local_name);
std::optional<uint64_t> sheet_view_child_rank(std::string_view local_name);

// What the worksheet rewrite hands to the `sheetData` and `cols` patches.
struct SheetPatchContext {
  const model::SheetModel* sheet = nullptr;
  const model::SheetModel* baseline = nullptr;
  const model::SheetMoveMap* moves = nullptr;
  const model::WorkbookModel* model = nullptr;
  const TextLookup* text_index = nullptr;  // empty with a plan
  const CellStringIndexMap* string_indexes = nullptr;
  const SharedStringPlan* plan = nullptr;
};

// Where a source line sits now, or none when it was deleted; and back.
std::optional<uint32_t> map_to_target(std::span<const model::IndexRun> runs, uint32_t source);
std::optional<uint32_t> map_to_source(std::span<const model::IndexRun> runs, uint32_t target);

// The `sheetData` element patched: unchanged rows and cells copied, moved
// ones renumbered, changed ones written afresh. None when the source's shape
// cannot be followed (the caller writes the element afresh).
Result<std::optional<std::string>, SpreadsheetParseError> patch_sheet_data(const SheetPatchContext& context,
                                                                          std::string_view source_element);

// The `cols` element patched the same way; none when the sheet gets no
// `cols` element.
Result<std::optional<std::string>, SpreadsheetParseError> patch_cols(const SheetPatchContext& context,
                                                                    std::optional<std::string_view> source_element);

// `cols` from the sheet's widths and column styles; empty when it has
// neither.
std::string write_cols_regenerated(const model::SheetModel& sheet);

// Shared by both patches: the first start tag of a fragment, a start tag
// written from a list, and a self-closing root opened up.
struct FragmentElement {
  std::string name;
  opc::AttributeList attributes;
};
Result<FragmentElement, SpreadsheetParseError> parse_fragment_element(std::string_view fragment);
Result<void, SpreadsheetParseError> write_start_tag(std::string& out, std::string_view name,
                                                    const opc::AttributeList& attributes, bool self_closing);

// Cells, merges, hyperlinks, pane, widths, column styles and heights equal;
// names, charts and array ranges play no part.
bool sheet_matches_baseline(const model::SheetModel& sheet, const model::SheetModel& baseline);

struct WorksheetRewrite {
  std::string text;
  // Present when the hyperlinks were rewritten: the worksheet's new
  // relationships (empty: the relationships part goes).
  std::optional<std::vector<opc::AttributeList>> relationships;
};

Result<WorksheetRewrite, SpreadsheetParseError> rewrite_worksheet_part(
    const model::SheetModel& sheet, const model::WorkbookModel& model, const model::SheetModel* baseline,
    const reader::SourceSheet& source_sheet, const reader::SourcePackage& source,
    const CellStringIndexMap& string_indexes, const SharedStringPlan* plan, const model::SheetMoveMap* moves);

// ---- shared strings -----------------------------------------------------------

// Keeps, removes or writes the shared-strings part of a save.
Result<void, SpreadsheetParseError> save_shared_strings_part(SavePlan& plan,
                                                             const std::vector<std::string>& shared_strings,
                                                             const reader::SourcePackage& source,
                                                             const PartRelationshipPlan* part_plan,
                                                             std::string_view main_ns,
                                                             const SharedStringPlan* string_plan);

}  // namespace cmx::writer
