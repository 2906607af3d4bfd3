#include "writer/new_package.h"

#include "base/number_text.h"
#include "writer/namespaces.h"
#include "writer/parts.h"

namespace cmx::writer {

namespace {

constexpr std::string_view kContentTypeRels = "application/vnd.openxmlformats-package.relationships+xml";
constexpr std::string_view kContentTypeXml = "application/xml";
constexpr std::string_view kContentTypeWorkbook =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
constexpr std::string_view kContentTypeSharedStrings =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr std::string_view kContentTypeStyles =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
constexpr std::string_view kContentTypeTheme = "application/vnd.openxmlformats-officedocument.theme+xml";
constexpr std::string_view kContentTypeWorksheet =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";

bool is_hex_digit(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool styles_are_default(const model::StyleSheet& styles) {
  return styles.fonts.empty() && styles.fills.empty() && styles.borders.empty() && styles.cell_xfs.empty() &&
         styles.num_fmts.empty() && styles.theme == model::default_theme_colors() &&
         styles.indexed_colors.empty();
}

std::string sheet_part_name(size_t number) { return "xl/worksheets/sheet" + format_u64(number) + ".xml"; }

Result<std::string, SpreadsheetParseError> write_content_types(const model::WorkbookModel& model,
                                                               bool shared_strings, bool styles) {
  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("Types", {{"xmlns", kContentTypesNs}});
  writer.empty_tag("Default", {{"Extension", "rels"}, {"ContentType", kContentTypeRels}});
  writer.empty_tag("Default", {{"Extension", "xml"}, {"ContentType", kContentTypeXml}});
  writer.empty_tag("Override", {{"PartName", "/xl/workbook.xml"}, {"ContentType", kContentTypeWorkbook}});
  if (shared_strings) {
    writer.empty_tag("Override",
                     {{"PartName", "/xl/sharedStrings.xml"}, {"ContentType", kContentTypeSharedStrings}});
  }
  if (styles) {
    writer.empty_tag("Override", {{"PartName", "/xl/styles.xml"}, {"ContentType", kContentTypeStyles}});
    writer.empty_tag("Override", {{"PartName", "/xl/theme/theme1.xml"}, {"ContentType", kContentTypeTheme}});
  }
  for (size_t i = 1; i <= model.sheets.size(); ++i) {
    writer.empty_tag("Override", {{"PartName", "/" + sheet_part_name(i)}, {"ContentType", kContentTypeWorksheet}});
  }
  writer.end_tag("Types");
  return writer.finish();
}

Result<std::string, SpreadsheetParseError> write_workbook_part(const model::WorkbookModel& model,
                                                               uint32_t active_sheet) {
  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("workbook", {{"xmlns", kMainNs}, {"xmlns:r", kOfficeRelNs}});
  if (model.date_system == model::DateSystem::V1904) writer.empty_tag("workbookPr", {{"date1904", "1"}});
  if (active_sheet != 0) {
    writer.start_tag("bookViews");
    writer.open("workbookView");
    writer.attribute_u64("activeTab", active_sheet);
    writer.close_empty();
    writer.end_tag("bookViews");
  }
  writer.start_tag("sheets");
  for (size_t i = 0; i < model.sheets.size(); ++i) {
    writer.open("sheet");
    writer.attribute("name", model.sheets[i].name);
    writer.attribute_u64("sheetId", i + 1);
    writer.attribute("r:id", "rId" + format_u64(i + 1));
    writer.close_empty();
  }
  writer.end_tag("sheets");
  if (!model.defined_names.empty()) {
    writer.start_tag("definedNames");
    for (const model::DefinedName& name : model.defined_names) write_defined_name(writer, name);
    writer.end_tag("definedNames");
  }
  writer.end_tag("workbook");
  return writer.finish();
}

Result<std::string, SpreadsheetParseError> write_workbook_rels(size_t sheet_count, bool shared_strings,
                                                               bool styles) {
  std::vector<opc::AttributeList> rels;
  size_t next = 1;
  for (size_t i = 1; i <= sheet_count; ++i, ++next) {
    rels.push_back(relationship_attributes("rId" + format_u64(next), kRelWorksheet,
                                           "worksheets/sheet" + format_u64(i) + ".xml"));
  }
  if (shared_strings) {
    rels.push_back(relationship_attributes("rId" + format_u64(next++), kRelSharedStrings, "sharedStrings.xml"));
  }
  if (styles) {
    rels.push_back(relationship_attributes("rId" + format_u64(next++), kRelStyles, "styles.xml"));
    rels.push_back(relationship_attributes("rId" + format_u64(next++), kRelTheme, "theme/theme1.xml"));
  }
  return write_relationships_part(rels);
}

}  // namespace

Result<void, SpreadsheetParseError> check_indexed_palette(const std::vector<std::string>& palette) {
  for (size_t i = 0; i < palette.size(); ++i) {
    std::string_view entry = palette[i];
    if (entry.empty()) continue;
    if (entry.front() == '#') entry.remove_prefix(1);
    if (entry.size() == 6 && std::all_of(entry.begin(), entry.end(), is_hex_digit)) continue;
    return unexpected(SpreadsheetParseError::malformed(
        "indexed palette color at index " + format_u64(i) +
        " must be empty or six hexadecimal RGB digits with an optional '#'"));
  }
  return {};
}

void write_defined_name(XmlPartWriter& writer, const model::DefinedName& name) {
  writer.open("definedName");
  writer.attribute("name", name.name);
  if (name.local_sheet) writer.attribute_u64("localSheetId", *name.local_sheet);
  if (name.hidden) writer.attribute("hidden", "1");
  writer.close();
  writer.text(name.formula);
  writer.end_tag("definedName");
}

Result<std::vector<opc::PackagePart>, SpreadsheetParseError> write_new_package(
    const model::WorkbookModel& model, uint32_t active_sheet) {
  CMX_TRY(check_indexed_palette(model.styles.indexed_colors));
  for (const model::SheetModel& sheet : model.sheets) {
    if (!sheet.charts.empty()) {
      return unexpected(SpreadsheetParseError::unsupported_edit(
          "a chart can only be written back into the package it was read from"));
    }
  }
  const bool styles = !styles_are_default(model.styles);
  const bool shared_strings = !model.shared_strings.empty();

  std::vector<opc::PackagePart> parts;
  parts.reserve(6 + 2 * model.sheets.size());
  CMX_ASSIGN_OR_RETURN(std::string content_types, write_content_types(model, shared_strings, styles));
  push_package_part(parts, "[Content_Types].xml", std::move(content_types));
  CMX_ASSIGN_OR_RETURN(std::string root_rels, write_relationships_part({relationship_attributes(
                                                  "rId1", kRelOfficeDocument, "xl/workbook.xml")}));
  push_package_part(parts, "_rels/.rels", std::move(root_rels));
  CMX_ASSIGN_OR_RETURN(std::string workbook, write_workbook_part(model, active_sheet));
  push_package_part(parts, "xl/workbook.xml", std::move(workbook));
  CMX_ASSIGN_OR_RETURN(std::string workbook_rels,
                       write_workbook_rels(model.sheets.size(), shared_strings, styles));
  push_package_part(parts, "xl/_rels/workbook.xml.rels", std::move(workbook_rels));
  if (shared_strings) {
    CMX_ASSIGN_OR_RETURN(std::string sst, write_shared_strings_part(model.shared_strings, kMainNs));
    push_package_part(parts, "xl/sharedStrings.xml", std::move(sst));
  }
  if (styles) {
    CMX_ASSIGN_OR_RETURN(std::string styles_part, write_styles_part(model.styles, kMainNs));
    push_package_part(parts, "xl/styles.xml", std::move(styles_part));
    CMX_ASSIGN_OR_RETURN(std::string theme, write_theme_part(model.styles, kDrawingMainNs));
    push_package_part(parts, "xl/theme/theme1.xml", std::move(theme));
  }
  const TextLookup lookup = build_text_lookup(model.shared_strings);
  for (size_t i = 0; i < model.sheets.size(); ++i) {
    const model::SheetModel& sheet = model.sheets[i];
    const HyperlinkRelationshipPlan plan = plan_hyperlink_relationships(sheet.hyperlinks, {}, kRelHyperlink);
    CMX_ASSIGN_OR_RETURN(std::string sheet_part,
                         write_worksheet_part(sheet, model, kMainNs, kOfficeRelNs, plan, &lookup));
    push_package_part(parts, sheet_part_name(i + 1), std::move(sheet_part));
    if (!plan.relationships.empty()) {
      CMX_ASSIGN_OR_RETURN(std::string rels, write_relationships_part(plan.relationships));
      push_package_part(parts, "xl/worksheets/_rels/sheet" + format_u64(i + 1) + ".xml.rels", std::move(rels));
    }
  }
  return parts;
}

}  // namespace cmx::writer
