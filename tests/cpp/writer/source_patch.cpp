// Test-only driver: opens an .xlsx as a source package, applies a few edits
// to the model (with the move maps a session keeps) and saves back into the
// source with the part plans, the save plan and the part rewrites, so that
// pytest can read the result in openpyxl beside the source. Styles, theme
// and charts are left as read. Prints one JSON line like workbook_rewrite;
// with --time first, the JSON also holds the seconds from the archive's
// bytes to the saved archive's, edits included (for bench/).
// Edits, each a word and its arguments:
//   set SHEET A1 number|text VALUE     width SHEET COL WIDTH
//   insert-rows SHEET AT COUNT         merge SHEET A1:B2
//   freeze SHEET ROWS COLS             name INDEX FORMULA
//   sheet NAME (appends a new sheet)   recalc
//   forget-moves SHEET (as after a remote update)
#include <chrono>
#include <cstdio>
#include <string_view>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../workbook_driver.h"
#include "model/cell_moves.h"
#include "opc/part_names.h"
#include "reader/source_package.h"
#include "writer/namespaces.h"
#include "writer/new_package.h"
#include "writer/source_rewrites.h"
#include "xml/parse_error.h"

namespace {

using namespace cmx;

struct Session {
  model::WorkbookModel model;
  std::vector<model::SheetOrigin> origins;
  std::vector<writer::CellStringIndexMap> string_maps;
  std::vector<std::optional<model::SheetMoveMap>> moves;
  bool recalculate = false;
};

uint32_t to_u32(const std::string& text) { return static_cast<uint32_t>(std::stoul(text)); }

void insert_rows(Session& s, uint32_t sheet_index, uint32_t at, uint32_t count) {
  model::SheetModel& sheet = s.model.sheets.at(sheet_index);
  model::shift_cells_for_structural_op(sheet, {model::StructuralKind::InsertRows, at, count});
  std::map<uint32_t, double> heights;
  for (const auto& [row, height] : sheet.row_heights) heights[row >= at ? row + count : row] = height;
  sheet.row_heights = heights;
  writer::CellStringIndexMap moved;
  for (const auto& [key, index] : s.string_maps[sheet_index]) {
    moved[{key.row >= at ? key.row + count : key.row, key.col}] = index;
  }
  s.string_maps[sheet_index] = moved;
  std::vector<model::IndexRun> runs;
  for (const model::IndexRun& run : s.moves[sheet_index]->rows) {
    const uint32_t end = run.current_start + run.len;
    if (end <= at) {
      runs.push_back(run);
    } else if (run.current_start >= at) {
      runs.push_back({run.source_start, std::min(run.len, model::MAX_ROWS - run.current_start - count),
                      run.current_start + count});
    } else {
      const uint32_t before = at - run.current_start;
      runs.push_back({run.source_start, before, run.current_start});
      runs.push_back({run.source_start + before, std::min(run.len - before, model::MAX_ROWS - at - count), at + count});
    }
  }
  std::erase_if(runs, [](const model::IndexRun& run) { return run.len == 0; });
  s.moves[sheet_index]->rows = runs;
}

Result<std::vector<writer::SavedPart>, xml::SpreadsheetParseError> save(const Session& s,
                                                                         const reader::SourcePackage& source) {
  using namespace writer;
  CMX_ASSIGN_OR_RETURN(const std::string rel_ns, choose_relationship_namespace(source));
  (void)rel_ns;
  const std::string main_ns = spreadsheet_main_namespace(source);
  const RelationshipTypes types = choose_relationship_types(source);
  PlanAllocators allocators = make_plan_allocators(source);
  CMX_ASSIGN_OR_RETURN(std::vector<SheetPartPlan> plans,
                       collect_sheet_part_plans(s.origins, s.model.sheets, source, allocators, types.worksheet));
  std::optional<PartRelationshipPlan> strings_plan;
  if (!s.model.shared_strings.empty()) {
    strings_plan = plan_shared_strings_relationship(source, types.shared_strings, allocators.relationship_ids);
  }
  std::optional<SharedStringPlan> string_plan;
  if (source.shared_strings_template) {
    CMX_ASSIGN_OR_RETURN(string_plan, build_shared_string_plan(source.base_model.shared_strings,
                                                               source.shared_strings_template->children.size(),
                                                               s.model, s.string_maps));
  }
  std::optional<PartRelationshipPlan> styles_plan;
  if (source.styles_part) styles_plan = plan_styles_relationship(source, types.styles, allocators.relationship_ids);
  std::optional<PartRelationshipPlan> theme_plan;
  if (source.theme_part) theme_plan = plan_theme_relationship(source, types.theme, allocators.relationship_ids);

  SavePlan plan(source.parts);
  const std::set<uint32_t> kept = kept_source_sheet_indices(plans);
  for (uint32_t i = 0; i < source.sheets.size(); ++i) {
    if (kept.contains(i)) continue;
    plan.remove(source.sheets[i].part_name);
    plan.remove(opc::rels_part_name(source.sheets[i].part_name));
  }
  if (s.recalculate) {
    for (const reader::RelatedPart& part : source.calc_chain) {
      plan.remove(part.name);
      plan.remove(opc::rels_part_name(part.name));
    }
  }
  const bool strings_same = s.model.shared_strings == source.base_model.shared_strings;
  const SharedStringPlan* string_plan_ptr = string_plan ? &*string_plan : nullptr;
  for (size_t i = 0; i < plans.size() && i < s.string_maps.size(); ++i) {
    const SheetPartPlan& sheet_plan = plans[i];
    const model::SheetModel& sheet = s.model.sheets[i];
    std::optional<std::vector<opc::AttributeList>> rels;
    std::string text;
    if (sheet_plan.from_source) {
      const reader::SourceSheet& record = source.sheets[sheet_plan.source_index];
      if (!opc::sheet_type_is_worksheet(record.rel_type)) continue;
      const model::SheetModel* baseline = sheet_plan.source_index < source.base_model.sheets.size()
                                              ? &source.base_model.sheets[sheet_plan.source_index]
                                              : nullptr;
      if (strings_same && baseline != nullptr && sheet_matches_baseline(sheet, *baseline)) continue;
      const model::SheetMoveMap* moves = i < s.moves.size() && s.moves[i] ? &*s.moves[i] : nullptr;
      CMX_ASSIGN_OR_RETURN(WorksheetRewrite rewrite, rewrite_worksheet_part(sheet, s.model, baseline, record, source,
                                                                            s.string_maps[i], string_plan_ptr, moves));
      text = std::move(rewrite.text);
      rels = std::move(rewrite.relationships);
    } else {
      HyperlinkRelationshipPlan links = plan_hyperlink_relationships(sheet.hyperlinks, {}, types.hyperlink);
      CMX_ASSIGN_OR_RETURN(text, write_worksheet_part(sheet, s.model, main_ns, rel_ns, links, nullptr, string_plan_ptr));
      rels = std::move(links.relationships);
    }
    CMX_TRY(plan.put(sheet_plan.part_name, std::move(text)));
    if (rels) {
      if (rels->empty()) {
        plan.remove(opc::rels_part_name(sheet_plan.part_name));
      } else {
        CMX_ASSIGN_OR_RETURN(std::string rels_text, write_relationships_part(*rels));
        CMX_TRY(plan.put(opc::rels_part_name(sheet_plan.part_name), std::move(rels_text)));
      }
    }
  }
  CMX_ASSIGN_OR_RETURN(std::string workbook, rewrite_workbook_part(s.model, source, plans, s.recalculate, source.active_tab));
  CMX_TRY(plan.put("xl/workbook.xml", std::move(workbook)));
  const PackagePartPlans part_plans{strings_plan ? &*strings_plan : nullptr, styles_plan ? &*styles_plan : nullptr,
                                    theme_plan ? &*theme_plan : nullptr};
  CMX_ASSIGN_OR_RETURN(std::string workbook_rels,
                       rewrite_workbook_relationships(source, plans, part_plans, s.recalculate));
  CMX_TRY(plan.put("xl/_rels/workbook.xml.rels", std::move(workbook_rels)));
  CMX_ASSIGN_OR_RETURN(std::string root_rels, rewrite_package_relationships(source.root_relationships));
  CMX_TRY(plan.put("_rels/.rels", std::move(root_rels)));
  CMX_ASSIGN_OR_RETURN(std::vector<std::string> removed, prune_unreachable_parts(plan, source.parts));
  CMX_ASSIGN_OR_RETURN(std::string types_text,
                       rewrite_content_types(source, plans, part_plans, s.recalculate, removed));
  CMX_TRY(plan.put("[Content_Types].xml", std::move(types_text)));
  CMX_TRY(save_shared_strings_part(plan, s.model.shared_strings, source, strings_plan ? &*strings_plan : nullptr,
                                   main_ns, string_plan_ptr));
  return std::move(plan).close();
}

}  // namespace

int main(int argc, char** argv) {
  // --time first: also print the seconds from the archive's bytes to the saved archive's (for bench/).
  const bool time = argc > 1 && std::string_view(argv[1]) == "--time";
  if (time) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: source_patch [--time] in.xlsx out.xlsx [edit ...]\n");
    return 2;
  }
  const std::optional<std::string> bytes = driver::read_file(argv[1]);
  if (!bytes) return 2;
  const auto started = std::chrono::steady_clock::now();
  auto parts = opc::read_package_archive(*bytes);
  if (!parts) {
    driver::print_refusal(opc::package_error_message(parts.error()));
    return 0;
  }
  auto opened = reader::open_source_package(std::move(*parts));
  if (!opened) {
    driver::print_refusal(xml::parse_error_message(opened.error()));
    return 0;
  }
  const reader::SourcePackage& source = opened->source;
  Session s;
  s.model = opened->model;
  for (uint32_t i = 0; i < s.model.sheets.size(); ++i) {
    s.origins.push_back({1, i});
    s.string_maps.emplace_back(source.sheets[i].shared_string_cells.begin(), source.sheets[i].shared_string_cells.end());
    s.moves.emplace_back(model::identity_move_map());
  }
  for (int i = 3; i < argc;) {
    const std::string word = argv[i++];
    auto arg = [&]() -> std::string { return i < argc ? argv[i++] : std::string(); };
    if (word == "recalc") {
      s.recalculate = true;
    } else if (word == "set") {
      const uint32_t sheet = to_u32(arg());
      const model::CellRef at = *model::parse_cell_ref(arg());
      const std::string kind = arg();
      const std::string value = arg();
      model::SheetCell& cell = s.model.sheets.at(sheet).cells[{at.row, at.col}];
      cell.formula.reset();
      cell.value = kind == "number" ? model::CellValue::number(std::stod(value)) : model::CellValue::text(value);
      s.recalculate = true;
    } else if (word == "width") {
      const uint32_t sheet = to_u32(arg());
      const uint32_t col = to_u32(arg());
      s.model.sheets.at(sheet).col_widths[col] = std::stod(arg());
    } else if (word == "insert-rows") {
      const uint32_t sheet = to_u32(arg());
      const uint32_t at = to_u32(arg());
      insert_rows(s, sheet, at, to_u32(arg()));
      s.recalculate = true;
    } else if (word == "merge") {
      const uint32_t sheet = to_u32(arg());
      s.model.sheets.at(sheet).merges.push_back(*model::parse_range(arg()));
    } else if (word == "freeze") {
      const uint32_t sheet = to_u32(arg());
      const uint32_t rows = to_u32(arg());
      const uint32_t cols = to_u32(arg());
      s.model.sheets.at(sheet).freeze_pane = model::FreezePane{rows, cols, {rows, cols, false, false}};
    } else if (word == "name") {
      const uint32_t index = to_u32(arg());
      s.model.defined_names.at(index).formula = arg();
    } else if (word == "forget-moves") {
      s.moves.at(to_u32(arg())).reset();
    } else if (word == "sheet") {
      s.model.sheets.emplace_back().name = arg();
      s.origins.push_back({});
      s.string_maps.emplace_back();
      s.moves.emplace_back();
    } else {
      std::fprintf(stderr, "unknown edit %s\n", word.c_str());
      return 2;
    }
  }
  auto saved = save(s, source);
  if (!saved) {
    driver::print_refusal(xml::parse_error_message(saved.error()));
    return 0;
  }
  auto archive = writer::write_package_archive(std::span<const writer::SavedPart>(*saved), std::string_view(*bytes));
  if (!archive) {
    driver::print_refusal(archive.error());
    return 0;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::ofstream out(argv[2], std::ios::binary);
  out.write(archive->data(), static_cast<std::streamsize>(archive->size()));
  if (!out) return 2;
  if (time) {
    std::printf("{\"ok\":true,\"seconds\":%.6f}\n", seconds);
  } else {
    std::printf("{\"ok\":true}\n");
  }
  return 0;
}
