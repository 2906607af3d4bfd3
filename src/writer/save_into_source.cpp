#include "writer/save_into_source.h"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

#include "model/colors.h"
#include "model/style_equality.h"
#include "opc/part_names.h"
#include "opc/relationships.h"
#include "writer/chart_write_back.h"
#include "writer/namespaces.h"
#include "writer/new_package.h"
#include "writer/parts.h"
#include "writer/source_rewrites.h"
#include "writer/styles_rewrite.h"
#include "xml/tree_queries.h"

namespace cmx::writer {
namespace {

constexpr std::string_view kStrictDrawingMainNs = "http://purl.oclc.org/ooxml/drawingml/main";

SpreadsheetParseError references_moved(std::string_view label) {
  return SpreadsheetParseError::unsupported_edit(std::string(label) +
                                                 " references sheets or cells this save would move, and it cannot "
                                                 "be rewritten");
}

bool from_source_at(const model::SheetOrigin& origin, size_t index) {
  return origin.from_source() && origin.source_index == index;
}

// No edit, the source's sheets in the source's order and the same active
// sheet: the source package is the answer. The model must also still equal
// the workbook as read, since edits that touch no cell (a sheet renamed, a
// width or a style changed) leave the recalculation flag clear and would
// otherwise be lost.
bool is_unchanged_save(const model::WorkbookModel& model, const reader::SourcePackage& source,
                       const SourceSaveInputs& inputs) {
  if (inputs.recalculated || inputs.origins.size() != source.sheets.size()) return false;
  for (size_t index = 0; index < inputs.origins.size(); ++index) {
    if (!from_source_at(inputs.origins[index], index)) return false;
  }
  return inputs.active_sheet == source.active_tab && model::workbook_eq(model, source.base_model);
}

// Source sheets that were removed, renamed or reordered against the other
// kept ones; a sheet inserted between them disturbs nothing.
std::vector<std::string_view> disturbed_sheet_names(const model::WorkbookModel& model,
                                                    const reader::SourcePackage& source,
                                                    std::span<const model::SheetOrigin> origins) {
  std::vector<uint32_t> kept;
  for (const model::SheetOrigin& origin : origins) {
    if (origin.from_source()) kept.push_back(origin.source_index);
  }
  std::vector<uint32_t> sorted = kept;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string_view> disturbed;
  const std::vector<model::SheetModel>& source_sheets = source.base_model.sheets;
  for (size_t index = 0; index < source_sheets.size(); ++index) {
    const std::string& name = source_sheets[index].name;
    const auto first = std::find(kept.begin(), kept.end(), index);
    bool intact = first != kept.end() && sorted[first - kept.begin()] == index && !model.sheets.empty();
    if (intact) {
      bool same_name = false;
      for (size_t sheet_idx = 0; sheet_idx < origins.size() && sheet_idx < model.sheets.size(); ++sheet_idx) {
        if (from_source_at(origins[sheet_idx], index) && model.sheets[sheet_idx].name == name) same_name = true;
      }
      intact = same_name;
    }
    if (!intact) disturbed.push_back(name);
  }
  return disturbed;
}

Result<void, SpreadsheetParseError> check_retained_references(const model::WorkbookModel& model,
                                                              const reader::SourcePackage& source,
                                                              const SourceSaveInputs& inputs) {
  const reader::PackageInventory& groups = source.inventory;
  if (groups.empty()) return {};
  if (inputs.retained_references_moved) return unexpected(references_moved(groups.front().label));
  for (std::string_view name : disturbed_sheet_names(model, source, inputs.origins)) {
    for (const reader::RetainedCellRefs& group : groups) {
      if (!group.refs) return unexpected(references_moved(group.label));
      for (const reader::RetainedCellRef& ref : *group.refs) {
        if (model::eq_ignore_ascii_case(ref.sheet, name)) return unexpected(references_moved(group.label));
      }
    }
  }
  return {};
}

// Every chart must be one the package holds, and every chart the package
// holds must still be on its sheet, once.
Result<void, SpreadsheetParseError> check_charts(const model::WorkbookModel& model, const reader::SourcePackage& source,
                                                 std::span<const model::SheetOrigin> origins) {
  for (size_t sheet_idx = 0; sheet_idx < model.sheets.size() && sheet_idx < origins.size(); ++sheet_idx) {
    const model::SheetModel& sheet = model.sheets[sheet_idx];
    const std::span<const model::SheetChart> source_charts = source_charts_of(origins[sheet_idx], source);
    for (const model::SheetChart& chart : sheet.charts) {
      CMX_TRY(match_chart_origin(chart, sheet.name, source_charts));
    }
    for (const model::SheetChart& source_chart : source_charts) {
      const auto holders = std::count_if(sheet.charts.begin(), sheet.charts.end(), [&](const model::SheetChart& chart) {
        return chart.drawing == source_chart.drawing && chart.anchor_index == source_chart.anchor_index;
      });
      if (holders == 0) {
        return unexpected(SpreadsheetParseError::unsupported_edit(
            "chart " + source_chart.part + " was dropped from sheet " + sheet.name +
            ", and saving cannot delete a chart from the package"));
      }
      if (holders > 1) {
        return unexpected(SpreadsheetParseError::unsupported_edit("sheet " + sheet.name +
                                                                  " carries the anchor holding chart " +
                                                                  source_chart.part + " twice, and one anchor cannot hold two"));
      }
    }
  }
  return {};
}

bool is_worksheet_record(const reader::SourceSheet& record) {
  if (!record.rel_type) return true;
  const std::string_view type = *record.rel_type;
  const size_t slash = type.rfind('/');
  return (slash == std::string_view::npos ? type : type.substr(slash + 1)) == "worksheet";
}

struct SheetContext {
  const model::WorkbookModel& model;
  const reader::SourcePackage& source;
  const SourceSaveInputs& inputs;
  std::string_view main_ns;
  std::string_view rel_ns;
  std::string_view hyperlink_type;
  const SharedStringPlan* string_plan;
  bool strings_unchanged;
};

Result<void, SpreadsheetParseError> save_worksheet(SavePlan& plan, const SheetContext& context, size_t sheet_idx,
                                                   const SheetPartPlan& part_plan) {
  const model::SheetModel& sheet = context.model.sheets[sheet_idx];
  std::string text;
  std::optional<std::vector<opc::AttributeList>> relationships;
  if (part_plan.from_source && part_plan.source_index < context.source.sheets.size()) {
    const reader::SourceSheet& record = context.source.sheets[part_plan.source_index];
    if (!is_worksheet_record(record)) return {};
    const std::vector<model::SheetModel>& baselines = context.source.base_model.sheets;
    const model::SheetModel* baseline =
        part_plan.source_index < baselines.size() ? &baselines[part_plan.source_index] : nullptr;
    if (context.strings_unchanged && baseline != nullptr && sheet_matches_baseline(sheet, *baseline)) return {};
    const model::SheetMoveMap* moves = nullptr;
    if (sheet_idx < context.inputs.move_maps.size() && context.inputs.move_maps[sheet_idx]) {
      moves = &*context.inputs.move_maps[sheet_idx];
    }
    CMX_ASSIGN_OR_RETURN(WorksheetRewrite rewrite,
                         rewrite_worksheet_part(sheet, context.model, baseline, record, context.source,
                                                context.inputs.string_indexes[sheet_idx], context.string_plan, moves));
    text = std::move(rewrite.text);
    relationships = std::move(rewrite.relationships);
  } else {
    const HyperlinkRelationshipPlan links = plan_hyperlink_relationships(sheet.hyperlinks, {}, context.hyperlink_type);
    CMX_ASSIGN_OR_RETURN(text, write_worksheet_part(sheet, context.model, context.main_ns, context.rel_ns, links,
                                                    nullptr, context.string_plan));
    relationships = links.relationships;
  }
  CMX_TRY(put_plan_part(plan, part_plan.part_name, std::move(text)));
  if (!relationships) return {};
  const std::string rels_name = opc::rels_part_name(part_plan.part_name);
  if (relationships->empty()) {
    remove_plan_part(plan, rels_name);
    return {};
  }
  CMX_ASSIGN_OR_RETURN(std::string rels, write_relationships_part(*relationships));
  return put_plan_part(plan, rels_name, std::move(rels));
}

Result<void, SpreadsheetParseError> save_theme_part(SavePlan& plan, const reader::SourcePackage& source,
                                                    const model::WorkbookModel& model,
                                                    const std::optional<PartRelationshipPlan>& theme_plan,
                                                    std::string_view main_ns) {
  if (!theme_plan) return {};
  if (source.theme_part) {
    if (theme_plan->part_name == source.theme_part->name) {
      if (model.styles.theme == source.base_model.styles.theme) return {};
    } else {
      remove_plan_part(plan, source.theme_part->name);
    }
  }
  const std::string_view drawing_ns = main_ns == xml::kSpreadsheetMainStrictNs ? kStrictDrawingMainNs : kDrawingMainNs;
  CMX_ASSIGN_OR_RETURN(std::string theme, write_theme_part(model.styles, drawing_ns));
  return put_plan_part(plan, theme_plan->part_name, std::move(theme));
}

}  // namespace

Result<void, SpreadsheetParseError> save_styles_part(SavePlan& plan, const std::optional<std::string>& source_styles_part,
                                                     const std::optional<std::string>& styles_part,
                                                     const reader::SourcePackage& source,
                                                     const model::WorkbookModel& model, std::string_view main_ns) {
  if (!styles_part) {
    if (source_styles_part) remove_plan_part(plan, *source_styles_part);
    return {};
  }
  if (source_styles_part && *source_styles_part != *styles_part) remove_plan_part(plan, *source_styles_part);
  std::string bytes;
  if (source.styles_template) {
    CMX_ASSIGN_OR_RETURN(bytes, rewrite_styles_part(model.styles, source.base_model.styles, *source.styles_template));
  } else {
    CMX_ASSIGN_OR_RETURN(bytes, write_styles_part(model.styles, main_ns));
  }
  return put_plan_part(plan, *styles_part, std::move(bytes));
}

Result<std::vector<SavedPart>, SpreadsheetParseError> save_into_source(const model::WorkbookModel& model,
                                                                       const reader::SourcePackage& source,
                                                                       const SourceSaveInputs& inputs) {
  if (source.lean) fail_invariant("a lean source record was saved into");
  CMX_TRY(check_indexed_palette(model.styles.indexed_colors));
  if (inputs.origins.size() != model.sheets.size() || inputs.string_indexes.size() != model.sheets.size()) {
    return unexpected(SpreadsheetParseError::malformed("sheet origin count does not match workbook"));
  }
  if (is_unchanged_save(model, source, inputs)) return close_part_plan(new_save_plan(source.parts));
  CMX_TRY(check_retained_references(model, source, inputs));
  CMX_TRY(check_charts(model, source, inputs.origins));

  const std::string main_ns = spreadsheet_main_namespace(source);
  CMX_ASSIGN_OR_RETURN(const std::string rel_ns, choose_relationship_namespace(source));
  const RelationshipTypes types = choose_relationship_types(source);
  PlanAllocators allocators = make_plan_allocators(source);
  CMX_ASSIGN_OR_RETURN(const std::vector<SheetPartPlan> sheet_plans,
                       collect_sheet_part_plans(inputs.origins, model.sheets, source, allocators, types.worksheet));

  std::optional<PartRelationshipPlan> strings_plan;
  if (!model.shared_strings.empty()) {
    strings_plan = plan_shared_strings_relationship(source, types.shared_strings, allocators.relationship_ids);
  }
  std::optional<SharedStringPlan> string_plan;
  if (source.shared_strings_template) {
    const uint64_t items = reader::find_template_children(*source.shared_strings_template, "si").size();
    CMX_ASSIGN_OR_RETURN(string_plan, build_shared_string_plan(source.base_model.shared_strings, items, model,
                                                               inputs.string_indexes));
  }
  const bool default_styles = model::stylesheet_is_default(model.styles);
  std::optional<PartRelationshipPlan> styles_plan;
  if (!default_styles || source.styles_part) {
    styles_plan = plan_styles_relationship(source, types.styles, allocators.relationship_ids);
  }
  std::optional<PartRelationshipPlan> theme_plan;
  if (source.theme_part || (!source.styles_part && !default_styles)) {
    theme_plan = plan_theme_relationship(source, types.theme, allocators.relationship_ids);
  }

  SavePlan plan = new_save_plan(source.parts);
  const std::set<uint32_t> kept = kept_source_sheet_indices(sheet_plans);
  for (size_t index = 0; index < source.sheets.size(); ++index) {
    if (kept.contains(static_cast<uint32_t>(index))) continue;
    remove_plan_part(plan, source.sheets[index].part_name);
    remove_plan_part(plan, opc::rels_part_name(source.sheets[index].part_name));
  }
  if (inputs.recalculated) {
    for (const reader::RelatedPart& chain : source.calc_chain) {
      remove_plan_part(plan, chain.name);
      remove_plan_part(plan, opc::rels_part_name(chain.name));
    }
  }
  CMX_TRY(write_back_charts(model.sheets, source, inputs.origins, plan));

  const SheetContext context{model,
                             source,
                             inputs,
                             main_ns,
                             rel_ns,
                             types.hyperlink,
                             string_plan ? &*string_plan : nullptr,
                             model.shared_strings == source.base_model.shared_strings};
  const size_t sheet_count = std::min(sheet_plans.size(), inputs.string_indexes.size());
  for (size_t sheet_idx = 0; sheet_idx < sheet_count; ++sheet_idx) {
    CMX_TRY(save_worksheet(plan, context, sheet_idx, sheet_plans[sheet_idx]));
  }

  CMX_ASSIGN_OR_RETURN(std::string workbook,
                       rewrite_workbook_part(model, source, sheet_plans, inputs.recalculated, inputs.active_sheet));
  CMX_TRY(put_plan_part(plan, "xl/workbook.xml", std::move(workbook)));
  const PackagePartPlans part_plans{strings_plan ? &*strings_plan : nullptr, styles_plan ? &*styles_plan : nullptr,
                                    theme_plan ? &*theme_plan : nullptr};
  CMX_ASSIGN_OR_RETURN(std::string workbook_rels,
                       rewrite_workbook_relationships(source, sheet_plans, part_plans, inputs.recalculated));
  CMX_TRY(put_plan_part(plan, "xl/_rels/workbook.xml.rels", std::move(workbook_rels)));
  CMX_ASSIGN_OR_RETURN(std::string root_rels, rewrite_package_relationships(source.root_relationships));
  CMX_TRY(put_plan_part(plan, "_rels/.rels", std::move(root_rels)));
  CMX_ASSIGN_OR_RETURN(const std::vector<std::string> removed, prune_unreachable_parts(plan, source.parts));
  CMX_ASSIGN_OR_RETURN(std::string content_types,
                       rewrite_content_types(source, sheet_plans, part_plans, inputs.recalculated, removed));
  CMX_TRY(put_plan_part(plan, "[Content_Types].xml", std::move(content_types)));
  CMX_TRY(save_shared_strings_part(plan, model.shared_strings, source, strings_plan ? &*strings_plan : nullptr, main_ns,
                                   context.string_plan));

  const std::optional<std::string> source_styles =
      source.styles_part ? std::optional<std::string>(source.styles_part->name) : std::nullopt;
  const std::optional<std::string> styles_name =
      styles_plan ? std::optional<std::string>(styles_plan->part_name) : std::nullopt;
  const bool styles_unchanged = source_styles && styles_name == source_styles &&
                                model::stylesheet_eq(model.styles, source.base_model.styles);
  if (!styles_unchanged) CMX_TRY(save_styles_part(plan, source_styles, styles_name, source, model, main_ns));
  CMX_TRY(save_theme_part(plan, source, model, theme_plan, main_ns));
  return close_part_plan(std::move(plan));
}

}  // namespace cmx::writer
