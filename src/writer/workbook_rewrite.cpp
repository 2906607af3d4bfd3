#include <array>

#include "absl/container/flat_hash_map.h"
#include "base/number_text.h"
#include "opc/part_names.h"
#include "writer/new_package.h"
#include "writer/source_rewrites.h"
#include "xml/pull_reader.h"
#include "xml/template_render.h"

namespace cmx::writer {

namespace {

constexpr std::array<std::string_view, 19> kWorkbookOrder = {
    "fileVersion",  "fileSharing",   "workbookPr",   "workbookProtection", "bookViews",   "sheets",
    "functionGroups", "externalReferences", "definedNames", "calcPr",      "oleSize",     "customWorkbookViews",
    "pivotCaches",  "smartTagPr",    "smartTagTypes", "webPublishing",     "fileRecoveryPr", "webPublishObjects",
    "extLst"};

SpreadsheetParseError names_not_placeable() {
  return SpreadsheetParseError::unsupported_edit(
      "xl/workbook.xml keeps its defined names where a save cannot rewrite them");
}

// A start or empty-element tag written from an attribute list.
Result<std::string, SpreadsheetParseError> tag_text(std::string_view name, const opc::AttributeList& attributes,
                                                   bool self_closing) {
  std::string out;
  CMX_TRY(write_start_tag(out, name, attributes, self_closing));
  return out;
}

std::string decimal(uint64_t value) { return format_u64(value); }

bool root_binds_r(const reader::SourcePackage& source, std::string_view uri) {
  for (const xml::NamespaceDeclaration& declaration : source.workbook_template.declarations) {
    if (declaration.prefix == "r" && declaration.uri == uri) return true;
  }
  return false;
}

Result<std::string, SpreadsheetParseError> sheets_element(const model::WorkbookModel& model,
                                                         const reader::SourcePackage& source,
                                                         std::span<const SheetPartPlan> plans,
                                                         std::string_view rel_ns) {
  opc::AttributeList attributes = source.sheets_tag;
  const bool bound = std::any_of(attributes.begin(), attributes.end(), [&](const opc::AttributePair& pair) {
    return pair.name == "xmlns:r" && pair.value == rel_ns;
  });
  if (!bound) {
    std::erase_if(attributes, [](const opc::AttributePair& pair) { return pair.name == "xmlns:r"; });
    if (!root_binds_r(source, rel_ns)) attributes.push_back({"xmlns:r", std::string(rel_ns)});
  }
  std::string out;
  CMX_TRY(write_start_tag(out, "sheets", attributes, false));
  const size_t count = std::min(plans.size(), model.sheets.size());
  for (size_t i = 0; i < count; ++i) {
    const SheetPartPlan& plan = plans[i];
    opc::AttributeList sheet = plan.sheet_attributes;
    opc::set_attribute_value(sheet, "name", "name", model.sheets[i].name);
    opc::set_attribute_value(sheet, "sheetId", "sheetId", decimal(plan.sheet_id));
    opc::set_attribute_value(sheet, "id", "r:id", std::string(relationship_id(plan.relationship).value_or("")));
    CMX_TRY(write_start_tag(out, "sheet", sheet, true));
  }
  out += "</sheets>";
  return out;
}

Result<std::string, SpreadsheetParseError> book_views_element(const reader::SourcePackage& source,
                                                             uint32_t active_tab) {
  const xml::PartTemplateChild* views = reader::find_template_child(source.workbook_template, "bookViews");
  opc::AttributeList view_attributes{{"activeTab", decimal(active_tab)}};
  if (views == nullptr) {
    CMX_ASSIGN_OR_RETURN(std::string view, tag_text("workbookView", view_attributes, true));
    return "<bookViews>" + view + "</bookViews>";
  }
  xml::XmlPullReader reader(views->text);
  while (true) {
    auto event = reader.next();
    if (!event) return unexpected(SpreadsheetParseError::xml(xml::xml_error_message(event.error())));
    if (*event == xml::XmlEvent::Eof) break;
    if ((*event == xml::XmlEvent::StartTag || *event == xml::XmlEvent::EmptyTag) &&
        opc::attribute_local_name(reader.name()) == "workbookView") {
      return rewrite_workbook_view_tag(views->text, reader.offset_before(), reader.offset_after(), reader.name(),
                                       active_tab, *event == xml::XmlEvent::EmptyTag);
    }
  }
  CMX_ASSIGN_OR_RETURN(std::string view, tag_text("workbookView", view_attributes, true));
  CMX_ASSIGN_OR_RETURN(xml::PartTemplate views_template, xml::read_part_template(views->text));
  const xml::TemplateEdit edit{"workbookView", std::move(view)};
  return xml::apply_template_edits(views_template, std::span(&edit, 1), element_order(book_views_child_rank));
}

// One `definedName` written for the walk: raw, patched or fresh.
Result<std::string, SpreadsheetParseError> patched_defined_name(const xml::PartTemplateChild& child,
                                                               const model::DefinedName& name) {
  CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, reader::parse_fragment_start_tag(child.text));
  if (name.local_sheet) {
    opc::set_attribute_value(attributes, "localSheetId", "localSheetId", decimal(*name.local_sheet));
  } else {
    opc::remove_attribute(attributes, "localSheetId");
  }
  XmlPartWriter writer;
  writer.open("definedName");
  for (const opc::AttributePair& pair : attributes) writer.attribute(pair.name, pair.value);
  writer.close();
  writer.text(name.formula);
  writer.end_tag("definedName");
  return writer.finish();
}

Result<std::string, SpreadsheetParseError> fresh_defined_name(const model::DefinedName& name) {
  XmlPartWriter writer;
  write_defined_name(writer, name);
  return writer.finish();
}

// The `definedNames` replacement: none to leave the source element alone,
// an empty optional text to drop it.
Result<std::optional<std::optional<std::string>>, SpreadsheetParseError> defined_names_element(
    const model::WorkbookModel& model, const reader::SourcePackage& source) {
  const std::vector<model::DefinedName>& read = source.base_model.defined_names;
  const std::vector<model::DefinedName>& names = model.defined_names;
  if (names == read) return std::nullopt;
  const xml::PartTemplateChild* element = reader::find_template_child(source.workbook_template, "definedNames");
  if (element == nullptr) {
    // Names read from elsewhere (an mc:AlternateContent branch) cannot be
    // rewritten in place; a part that had none gets a fresh element.
    if (!read.empty()) return unexpected(names_not_placeable());
    if (names.empty()) return std::nullopt;
    XmlPartWriter writer;
    writer.start_tag("definedNames");
    for (const model::DefinedName& name : names) write_defined_name(writer, name);
    writer.end_tag("definedNames");
    CMX_ASSIGN_OR_RETURN(std::string text, writer.finish());
    return std::optional<std::optional<std::string>>(std::optional<std::string>(std::move(text)));
  }
  CMX_ASSIGN_OR_RETURN(xml::PartTemplate names_template, xml::read_part_template(element->text));
  const std::vector<const xml::PartTemplateChild*> children =
      reader::find_template_children(names_template, "definedName");
  if (children.size() != read.size()) return unexpected(names_not_placeable());

  absl::flat_hash_map<std::string_view, std::pair<uint64_t, uint64_t>> counts;  // (read, model)
  for (const model::DefinedName& name : read) ++counts[name.name].first;
  for (const model::DefinedName& name : names) ++counts[name.name].second;
  auto ambiguous = [&](std::string_view text) {
    const auto& [in_read, in_model] = counts[text];
    return in_read > 1 && in_read != in_model;
  };

  std::vector<std::string> elements;
  size_t current = 0;
  for (size_t j = 0; j < read.size(); ++j) {
    if (current >= names.size() || names[current].name != read[j].name) continue;
    const model::DefinedName& name = names[current++];
    std::string text;
    if (!ambiguous(name.name) && name == read[j]) {
      elements.push_back(children[j]->text);
      continue;
    }
    if (ambiguous(name.name)) {
      CMX_ASSIGN_OR_RETURN(text, fresh_defined_name(name));
    } else {
      CMX_ASSIGN_OR_RETURN(text, patched_defined_name(*children[j], name));
    }
    CMX_ASSIGN_OR_RETURN(text, xml::adapt_fragment_namespace(names_template, text));
    elements.push_back(std::move(text));
  }
  // A name the walk could not pair would silently keep its old text.
  if (current < names.size()) return unexpected(names_not_placeable());
  if (elements.empty()) return std::optional<std::optional<std::string>>(std::optional<std::string>());
  CMX_ASSIGN_OR_RETURN(std::string rebuilt,
                       xml::replace_template_children(names_template, "definedName", elements, {}));
  return std::optional<std::optional<std::string>>(std::optional<std::string>(std::move(rebuilt)));
}

}  // namespace

std::optional<uint64_t> workbook_child_rank(std::string_view local_name) {
  return rank_in_order(kWorkbookOrder, local_name);
}

std::optional<uint64_t> book_views_child_rank(std::string_view local_name) {
  if (local_name == "workbookView") return 0;
  return std::nullopt;
}

Result<std::string, SpreadsheetParseError> rewrite_workbook_view_tag(std::string_view book_views, size_t tag_start,
                                                                    size_t tag_end, std::string_view qualified_name,
                                                                    uint32_t active_tab, bool self_closing) {
  const std::string_view tag = book_views.substr(tag_start, tag_end - tag_start);
  CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, reader::parse_fragment_start_tag(tag));
  opc::set_attribute_value(attributes, "activeTab", "activeTab", decimal(active_tab));
  std::string out(book_views.substr(0, tag_start));
  CMX_TRY(write_start_tag(out, qualified_name, attributes, self_closing));
  out += book_views.substr(tag_end);
  return out;
}

Result<std::string, SpreadsheetParseError> rewrite_workbook_part(const model::WorkbookModel& model,
                                                                const reader::SourcePackage& source,
                                                                std::span<const SheetPartPlan> sheet_plans,
                                                                bool recalculate, uint32_t active_tab) {
  std::vector<xml::TemplateEdit> edits;
  const bool date1904 = model.date_system == model::DateSystem::V1904;
  if (source.workbook_pr || date1904) {
    opc::AttributeList attributes = source.workbook_pr.value_or(opc::AttributeList{});
    if (date1904) {
      opc::set_attribute_value(attributes, "date1904", "date1904", "1");
    } else {
      opc::remove_attribute(attributes, "date1904");
    }
    CMX_ASSIGN_OR_RETURN(std::string text, tag_text("workbookPr", attributes, true));
    edits.push_back({"workbookPr", std::move(text)});
  } else {
    edits.push_back({"workbookPr", std::nullopt});
  }

  CMX_ASSIGN_OR_RETURN(const std::string rel_ns, choose_relationship_namespace(source));
  CMX_ASSIGN_OR_RETURN(std::string sheets, sheets_element(model, source, sheet_plans, rel_ns));
  edits.push_back({"sheets", std::move(sheets)});

  if (!recalculate) {
    const xml::PartTemplateChild* calc = reader::find_template_child(source.workbook_template, "calcPr");
    edits.push_back({"calcPr", calc != nullptr ? std::optional<std::string>(calc->text) : std::nullopt});
  } else {
    opc::AttributeList attributes = source.calc_pr.value_or(opc::AttributeList{});
    opc::set_attribute_value(attributes, "fullCalcOnLoad", "fullCalcOnLoad", "1");
    CMX_ASSIGN_OR_RETURN(std::string text, tag_text("calcPr", attributes, true));
    edits.push_back({"calcPr", std::move(text)});
  }

  if (active_tab != source.active_tab) {
    CMX_ASSIGN_OR_RETURN(std::string views, book_views_element(source, active_tab));
    edits.push_back({"bookViews", std::move(views)});
  }

  CMX_ASSIGN_OR_RETURN(auto names, defined_names_element(model, source));
  if (names) edits.push_back({"definedNames", std::move(*names)});

  return xml::apply_template_edits(source.workbook_template, edits, element_order(workbook_child_rank));
}

}  // namespace cmx::writer
