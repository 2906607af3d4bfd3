#include <array>
#include <cmath>

#include "opc/part_names.h"
#include "writer/namespaces.h"
#include "writer/source_rewrites.h"
#include "xml/template_render.h"
#include "xml/tree_queries.h"

namespace cmx::writer {

namespace {

constexpr std::array<std::string_view, 38> kWorksheetOrder = {
    "sheetPr",          "dimension",      "sheetViews",      "sheetFormatPr",  "cols",
    "sheetData",        "sheetCalcPr",    "sheetProtection", "protectedRanges", "scenarios",
    "autoFilter",       "sortState",      "dataConsolidate", "customSheetViews", "mergeCells",
    "phoneticPr",       "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions",
    "pageMargins",      "pageSetup",      "headerFooter",    "rowBreaks",      "colBreaks",
    "customProperties", "cellWatches",    "ignoredErrors",   "smartTags",      "drawing",
    "legacyDrawing",    "legacyDrawingHF", "picture",        "oleObjects",     "controls",
    "webPublishItems",  "tableParts",     "extLst"};

constexpr std::array<std::string_view, 4> kSheetViewOrder = {"pane", "selection", "pivotSelection", "extLst"};

bool same_number(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Cells equal, a NaN number equal to a NaN.
bool cell_maps_equal(const model::CellMap& a, const model::CellMap& b) {
  if (a.size() != b.size()) return false;
  for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
    if (x->first != y->first) return false;
    const model::SheetCell& p = x->second;
    const model::SheetCell& q = y->second;
    if (p.formula != q.formula || p.style != q.style) return false;
    if (p.value.is_number() && q.value.is_number()) {
      if (!same_number(p.value.as_number(), q.value.as_number())) return false;
    } else if (!(p.value == q.value)) {
      return false;
    }
  }
  return true;
}

template <class Write>
Result<std::string, SpreadsheetParseError> written(Write write) {
  XmlPartWriter writer;
  write(writer);
  return writer.finish();
}

std::string rels_name_beside(std::string_view part_name) {
  const size_t slash = part_name.rfind('/');
  if (slash == std::string_view::npos) return "_rels/" + std::string(part_name) + ".rels";
  return std::string(part_name.substr(0, slash)) + "/_rels/" + std::string(part_name.substr(slash + 1)) + ".rels";
}

Result<std::optional<std::optional<std::string>>, SpreadsheetParseError> sheet_views_element(
    const model::SheetModel& sheet, const xml::PartTemplate& part) {
  using Replacement = std::optional<std::optional<std::string>>;
  const xml::PartTemplateChild* views = reader::find_template_child(part, "sheetViews");
  const std::optional<model::FreezePane>& pane = sheet.freeze_pane;
  auto whole = [&]() -> Result<Replacement, SpreadsheetParseError> {
    if (!pane) return Replacement(std::optional<std::string>());
    CMX_ASSIGN_OR_RETURN(std::string text, written([&](XmlPartWriter& w) { write_sheet_views(w, *pane); }));
    return Replacement(std::optional<std::string>(std::move(text)));
  };
  if (views == nullptr) return whole();
  CMX_ASSIGN_OR_RETURN(xml::PartTemplate views_template, xml::read_part_template(views->text));
  const std::vector<const xml::PartTemplateChild*> children =
      reader::find_template_children(views_template, "sheetView");
  if (children.empty()) return whole();
  std::optional<std::string> pane_text;
  if (pane) {
    CMX_ASSIGN_OR_RETURN(std::string text, written([&](XmlPartWriter& w) { write_pane(w, *pane); }));
    pane_text = std::move(text);
  }
  std::vector<std::string> rebuilt;
  for (const xml::PartTemplateChild* child : children) {
    CMX_ASSIGN_OR_RETURN(xml::PartTemplate view, xml::read_part_template(child->text));
    const xml::TemplateEdit edit{"pane", pane_text};
    CMX_ASSIGN_OR_RETURN(std::string text,
                         xml::apply_template_edits(view, std::span(&edit, 1), element_order(sheet_view_child_rank)));
    rebuilt.push_back(std::move(text));
  }
  CMX_ASSIGN_OR_RETURN(std::string text, xml::replace_template_children(views_template, "sheetView", rebuilt, {}));
  return Replacement(std::optional<std::string>(std::move(text)));
}

struct HyperlinkRewrite {
  std::optional<std::string> element;
  std::vector<opc::AttributeList> relationships;
};

Result<HyperlinkRewrite, SpreadsheetParseError> hyperlinks_element(const model::SheetModel& sheet,
                                                                  const reader::SourceSheet& source_sheet,
                                                                  const reader::SourcePackage& source) {
  std::vector<opc::AttributeList> existing;
  if (const auto bytes = opc::find_package_part(source.parts, rels_name_beside(source_sheet.part_name))) {
    CMX_ASSIGN_OR_RETURN(existing, reader::read_rels_attribute_lists(*bytes));
  }
  const std::string type = relationship_type_for(source.workbook_relationships, "hyperlink", kRelHyperlink);
  HyperlinkRelationshipPlan plan = plan_hyperlink_relationships(sheet.hyperlinks, existing, type);
  HyperlinkRewrite out;
  out.relationships = std::move(plan.relationships);
  if (sheet.hyperlinks.empty()) return out;

  std::optional<std::string> uri;
  const xml::PartTemplate& part = source_sheet.template_;
  for (const xml::NamespaceDeclaration& declaration : part.declarations) {
    if (declaration.prefix && declaration.uri.size() >= 29 &&
        std::string_view(declaration.uri).ends_with("/officeDocument/relationships")) {
      CMX_ASSIGN_OR_RETURN(uri, capped_relationship_namespace(declaration.uri));
      break;
    }
  }
  if (!uri) {
    CMX_ASSIGN_OR_RETURN(uri, choose_relationship_namespace(source));
  }
  bool root_binds = false;
  for (const xml::NamespaceDeclaration& declaration : part.declarations) {
    if (declaration.prefix == "r" && declaration.uri == *uri) root_binds = true;
  }
  std::optional<Attribute> extra;
  if (!root_binds) {
    for (const opc::AttributeList& rel : out.relationships) {
      if (opc::relationship_type_is(rel, "hyperlink")) {
        extra = Attribute{"xmlns:r", *uri};
        break;
      }
    }
  }
  CMX_ASSIGN_OR_RETURN(std::string text,
                       written([&](XmlPartWriter& w) { write_hyperlinks(w, sheet.hyperlinks, plan.ids, extra); }));
  out.element = std::move(text);
  return out;
}

}  // namespace

std::optional<uint64_t> worksheet_child_rank(std::string_view local_name) {
  return rank_in_order(kWorksheetOrder, local_name);
}

std::optional<uint64_t> sheet_view_child_rank(std::string_view local_name) {
  return rank_in_order(kSheetViewOrder, local_name);
}

bool sheet_matches_baseline(const model::SheetModel& sheet, const model::SheetModel& baseline) {
  return sheet.freeze_pane == baseline.freeze_pane && sheet.hyperlinks == baseline.hyperlinks &&
         sheet.merges == baseline.merges && sheet.col_widths == baseline.col_widths &&
         sheet.column_styles == baseline.column_styles && sheet.row_heights == baseline.row_heights &&
         cell_maps_equal(sheet.cells, baseline.cells);
}

Result<WorksheetRewrite, SpreadsheetParseError> rewrite_worksheet_part(
    const model::SheetModel& sheet, const model::WorkbookModel& model, const model::SheetModel* baseline,
    const reader::SourceSheet& source_sheet, const reader::SourcePackage& source,
    const CellStringIndexMap& string_indexes, const SharedStringPlan* plan, const model::SheetMoveMap* moves) {
  const xml::PartTemplate& part = source_sheet.template_;
  // Splicing cells into some other root would save a part that reads back
  // without them.
  const bool main_namespace = !part.root_namespace || *part.root_namespace == xml::kSpreadsheetMainNs ||
                              *part.root_namespace == xml::kSpreadsheetMainStrictNs;
  if (opc::attribute_local_name(part.root_name) != "worksheet" || !main_namespace) {
    return unexpected(SpreadsheetParseError::unsupported_edit(source_sheet.part_name +
                                                              " holds no worksheet a save can rewrite"));
  }
  std::vector<xml::TemplateEdit> edits;

  SheetWriteContext write_context;
  write_context.shared_strings = &model.shared_strings;
  write_context.recorded = &string_indexes;
  write_context.plan = plan;
  TextLookup text_index;
  if (plan == nullptr) text_index = build_text_lookup(model.shared_strings);
  write_context.lookup = &text_index;

  bool patched = false;
  if (baseline != nullptr && moves != nullptr) {
    SheetPatchContext context{&sheet, baseline, moves, &model, &text_index, &string_indexes, plan};
    const xml::PartTemplateChild* cols = reader::find_template_child(part, "cols");
    auto cols_patch =
        patch_cols(context, cols != nullptr ? std::optional<std::string_view>(cols->text) : std::nullopt);
    if (cols_patch) {
      const xml::PartTemplateChild* data = reader::find_template_child(part, "sheetData");
      std::optional<std::string> data_text;
      bool data_ok = true;
      if (data != nullptr) {
        auto data_patch = patch_sheet_data(context, data->text);
        if (!data_patch) {
          data_ok = false;
        } else {
          data_text = std::move(*data_patch);
        }
      }
      if (data_ok) {
        if (!data_text) {
          CMX_ASSIGN_OR_RETURN(data_text,
                               written([&](XmlPartWriter& w) { write_sheet_data(w, sheet, write_context); }));
        }
        edits.push_back({"cols", std::move(*cols_patch)});
        edits.push_back({"sheetData", std::move(data_text)});
        patched = true;
      }
    }
  }
  if (!patched) {
    // Regenerated from the model: column styles go with the widths, so a
    // sheet saved without its move map keeps its column formatting.
    std::string cols = write_cols_regenerated(sheet);
    edits.push_back({"cols", cols.empty() ? std::nullopt : std::optional<std::string>(std::move(cols))});
    CMX_ASSIGN_OR_RETURN(std::string data,
                         written([&](XmlPartWriter& w) { write_sheet_data(w, sheet, write_context); }));
    edits.push_back({"sheetData", std::move(data)});
  }

  if (sheet.merges.empty()) {
    edits.push_back({"mergeCells", std::nullopt});
  } else {
    CMX_ASSIGN_OR_RETURN(std::string merges, written([&](XmlPartWriter& w) { write_merge_cells(w, sheet.merges); }));
    edits.push_back({"mergeCells", std::move(merges)});
  }

  if (baseline == nullptr || sheet.freeze_pane != baseline->freeze_pane) {
    CMX_ASSIGN_OR_RETURN(auto views, sheet_views_element(sheet, part));
    if (views) edits.push_back({"sheetViews", std::move(*views)});
  }

  WorksheetRewrite result;
  if (baseline == nullptr || sheet.hyperlinks != baseline->hyperlinks) {
    CMX_ASSIGN_OR_RETURN(HyperlinkRewrite links, hyperlinks_element(sheet, source_sheet, source));
    edits.push_back({"hyperlinks", std::move(links.element)});
    result.relationships = std::move(links.relationships);
  }

  CMX_ASSIGN_OR_RETURN(result.text, xml::apply_template_edits(part, edits, element_order(worksheet_child_rank)));
  return result;
}

}  // namespace cmx::writer
