#include "reader/source_package.h"

#include <algorithm>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "opc/relationships.h"
#include "reader/sheet_entries.h"
#include "reader/workbook_reader.h"
#include "xml/start_tag.h"
#include "xml/streaming.h"

namespace cmx::reader {
namespace {

using xml::XmlEvent;

constexpr std::string_view kRootRelsPart = "_rels/.rels";

const opc::AttributePair* first_local(const opc::AttributeList& attributes, std::string_view local) {
  for (const opc::AttributePair& attr : attributes) {
    if (opc::attribute_local_name(attr.name) == local) return &attr;
  }
  return nullptr;
}

// A target resolved against "xl" with every leading "/" dropped.
std::string resolve_in_xl(std::string_view target) {
  std::string name = opc::resolve_relationship_target("xl", target);
  name.erase(0, std::min(name.find_first_not_of('/'), name.size()));
  return name;
}

std::optional<std::string> id_of(const opc::AttributeList& attributes) {
  const opc::AttributePair* id = first_local(attributes, "Id");
  if (id == nullptr) return std::nullopt;
  return id->value;
}

template <typename Collect>
Result<void, SpreadsheetParseError> stream_start_tags(std::string_view bytes, Collect collect) {
  xml::PartStream stream(bytes);
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) return {};
    if (event == XmlEvent::StartTag) CMX_TRY(collect(stream));
  }
}

Result<std::optional<opc::AttributeList>, SpreadsheetParseError> child_start_tag(const xml::PartTemplate& part,
                                                                                 std::string_view local) {
  const xml::PartTemplateChild* child = find_template_child(part, local);
  if (child == nullptr) return std::optional<opc::AttributeList>();
  CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, parse_fragment_start_tag(child->text));
  return std::optional<opc::AttributeList>(std::move(attributes));
}

Result<std::optional<xml::PartTemplate>, SpreadsheetParseError> template_of(const opc::PartIndex& parts,
                                                                            const std::optional<RelatedPart>& part) {
  if (!part) return std::optional<xml::PartTemplate>();
  const std::optional<std::string_view> bytes = parts.find(part->name);
  if (!bytes) return std::optional<xml::PartTemplate>();
  CMX_ASSIGN_OR_RETURN(xml::PartTemplate made, xml::read_part_template(*bytes));
  return std::optional<xml::PartTemplate>(std::move(made));
}

// The child a sheet template leaves in its part.
std::string_view sheet_data_left(const ReadOptions& options) { return options.lean ? "sheetData" : ""; }

// The model as read, for the record; big sheets are copied on several threads.
model::WorkbookModel copy_model(model::WorkbookModel& model, const ReadOptions& options) {
  size_t big = 0;
  for (const model::SheetModel& sheet : model.sheets) big += sheet.cells.size() >= kThreadedSheetCells ? 1 : 0;
  const unsigned threads = sheet_threads(options, big);
  if (threads <= 1) return model;
  // Everything but the sheets is copied whole, so that the copy keeps up
  // with the model's fields; the sheets are put back before any can fail.
  std::vector<model::SheetModel> sheets = std::move(model.sheets);
  model.sheets.clear();
  model::WorkbookModel copy;
  try {
    copy = model;
    copy.sheets.resize(sheets.size());
    run_sheet_jobs(sheets.size(), threads, [&](size_t at) { copy.sheets[at] = sheets[at]; });
  } catch (...) {
    model.sheets = std::move(sheets);
    throw;
  }
  model.sheets = std::move(sheets);
  return copy;
}

// A sheet part's template. The cells were read whole a moment ago: the
// template steps over them, and a part that was read through a window and
// is held nowhere is templated from the bytes its reader kept.
Result<xml::PartTemplate, SpreadsheetParseError> read_sheet_template(const opc::PackagePart& part,
                                                                     std::vector<SourceDimensions>& dimensions,
                                                                     size_t sheet_idx, const ReadOptions& options) {
  SourceDimensions* read = sheet_idx < dimensions.size() ? &dimensions[sheet_idx] : nullptr;
  const std::optional<xml::PartTextSpan> cells_read = read != nullptr ? read->sheet_data_content : std::nullopt;
  if (part.sealed && read != nullptr && read->part_outside_cells) {
    const std::string outside = std::move(*read->part_outside_cells);
    read->part_outside_cells.reset();
    const xml::CutPart cut{outside, cells_read ? cells_read->offset : 0, cells_read ? cells_read->size : 0};
    if (auto made = xml::read_cut_part_template(cut, sheet_data_left(options))) return std::move(*made);
  }
  return xml::read_part_template(opc::part_bytes(part), sheet_data_left(options), cells_read);
}

}  // namespace

Result<std::vector<opc::AttributeList>, SpreadsheetParseError> read_rels_attribute_lists(std::string_view bytes) {
  std::vector<opc::AttributeList> lists;
  CMX_TRY(stream_start_tags(bytes, [&](xml::PartStream& stream) -> Result<void, SpreadsheetParseError> {
    if (stream.local_name() != "Relationship") return {};
    CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(stream.reader()));
    lists.push_back(std::move(attributes));
    return {};
  }));
  return lists;
}

Result<std::vector<opc::ContentTypeEntry>, SpreadsheetParseError> read_content_type_entries(std::string_view bytes) {
  std::vector<opc::ContentTypeEntry> entries;
  CMX_TRY(stream_start_tags(bytes, [&](xml::PartStream& stream) -> Result<void, SpreadsheetParseError> {
    const std::string_view local = stream.local_name();
    if (local != "Default" && local != "Override") return {};
    CMX_ASSIGN_OR_RETURN(opc::AttributeList attributes, xml::parse_start_tag(stream.reader()));
    entries.push_back(opc::ContentTypeEntry{std::string(local), std::move(attributes)});
    return {};
  }));
  return entries;
}

std::optional<RelatedPart> find_relationship_part_name(const opc::PartIndex& parts,
                                                       std::span<const opc::AttributeList> workbook_relationships,
                                                       std::string_view word, std::string_view default_name) {
  for (const opc::AttributeList& rel : workbook_relationships) {
    if (!opc::relationship_type_is(rel, word)) continue;
    if (const opc::AttributePair* target = first_local(rel, "Target")) {
      // The part as the package spells it, which may differ in case.
      const std::string name = opc::resolve_relationship_target("xl", target->value);
      if (const std::optional<size_t> at = parts.position(name)) return RelatedPart{parts.parts()[*at].name, id_of(rel)};
    }
    break;
  }
  if (const std::optional<size_t> at = parts.position(default_name)) {
    return RelatedPart{parts.parts()[*at].name, std::nullopt};
  }
  return std::nullopt;
}

std::vector<const xml::PartTemplateChild*> find_template_children(const xml::PartTemplate& part_template,
                                                                  std::string_view local) {
  std::vector<const xml::PartTemplateChild*> found;
  for (const xml::PartTemplateChild& child : part_template.children) {
    if (child.name == local && child.namespace_ == part_template.root_namespace) found.push_back(&child);
  }
  return found;
}

const xml::PartTemplateChild* find_template_child(const xml::PartTemplate& part_template, std::string_view local) {
  for (const xml::PartTemplateChild& child : part_template.children) {
    if (child.name == local && child.namespace_ == part_template.root_namespace) return &child;
  }
  return nullptr;
}

Result<opc::AttributeList, SpreadsheetParseError> parse_fragment_start_tag(std::string_view fragment) {
  xml::XmlPullReader reader(fragment, xml::XmlReaderOptions{});
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return unexpected(SpreadsheetParseError::xml(xml::xml_error_message(event.error())));
    if (*event == XmlEvent::Eof) return unexpected(SpreadsheetParseError::malformed("xml fragment has no element"));
    if (*event == XmlEvent::StartTag || *event == XmlEvent::EmptyTag) return xml::parse_start_tag(reader);
  }
}

PartContentTypes collect_part_content_types(std::span<const opc::PackagePart> parts,
                                            const std::vector<opc::ContentTypeEntry>& entries) {
  PartContentTypes out;
  if (entries.empty()) return out;
  const opc::ContentTypeIndex index(entries);
  for (const opc::PackagePart& part : parts) {
    if (auto keyed = index.keyed(part.name)) out.push_back(std::move(*keyed));
  }
  return out;
}

bool left_in_archive(const SourcePackage& source, std::string_view part_name) {
  if (!source.lean) return false;
  const std::string key = opc::part_name_key(part_name);
  return std::any_of(source.sheets.begin(), source.sheets.end(),
                     [&](const SourceSheet& sheet) { return opc::part_name_key(sheet.part_name) == key; });
}

std::vector<std::string> collect_sheet_part_names(std::span<const SourceSheet> sheets) {
  std::vector<std::string> names;
  names.reserve(sheets.size());
  for (const SourceSheet& sheet : sheets) names.push_back(sheet.part_name);
  return names;
}

std::vector<RelatedPart> collect_calc_chain_parts(std::span<const opc::AttributeList> workbook_relationships) {
  std::vector<RelatedPart> out;
  for (const opc::AttributeList& rel : workbook_relationships) {
    if (!opc::relationship_type_is(rel, "calcChain")) continue;
    const opc::AttributePair* target = first_local(rel, "Target");
    if (target == nullptr) continue;
    out.push_back(RelatedPart{resolve_in_xl(target->value), id_of(rel)});
  }
  return out;
}

Result<OpenedPackage, SpreadsheetParseError> open_source_package(std::vector<opc::PackagePart> parts,
                                                                 const ReadOptions& options) {
  const opc::PartIndex index(parts);
  CMX_ASSIGN_OR_RETURN(WorkbookRead read, read_workbook(parts, options));
  SourcePackage source;

  const std::optional<std::string_view> workbook = index.find(kWorkbookPart);
  if (!workbook) return unexpected(SpreadsheetParseError::missing_part(std::string(kWorkbookPart)));
  CMX_ASSIGN_OR_RETURN(source.workbook_template, xml::read_part_template(*workbook));
  CMX_ASSIGN_OR_RETURN(source.workbook_pr, child_start_tag(source.workbook_template, "workbookPr"));
  CMX_ASSIGN_OR_RETURN(std::optional<opc::AttributeList> sheets_tag,
                       child_start_tag(source.workbook_template, "sheets"));
  if (sheets_tag) source.sheets_tag = std::move(*sheets_tag);
  CMX_ASSIGN_OR_RETURN(source.calc_pr, child_start_tag(source.workbook_template, "calcPr"));

  // Sheets are resolved exactly as the workbook reader resolved them: one
  // entry list, one relationship map, one part-name rule.
  const std::optional<std::string_view> workbook_rels = index.find(kWorkbookRelsPart);
  opc::RelationshipMap rels;
  if (workbook_rels) {
    CMX_ASSIGN_OR_RETURN(source.workbook_relationships, read_rels_attribute_lists(*workbook_rels));
    CMX_ASSIGN_OR_RETURN(rels, xml::read_relationship_map(*workbook_rels));
  }
  CMX_ASSIGN_OR_RETURN(std::vector<SheetEntry> entries, read_sheet_entries(*workbook));
  std::set<std::string> claimed;
  source.sheets.reserve(entries.size());
  for (size_t sheet_idx = 0; sheet_idx < entries.size(); ++sheet_idx) {
    SheetEntry& entry = entries[sheet_idx];
    const opc::RelationshipTarget* rel = sheet_relationship(entry, rels);
    SourceSheet sheet;
    sheet.part_name = sheet_part_name(rel, sheet_idx);
    const std::optional<size_t> at = index.position(sheet.part_name);
    if (!at) return unexpected(SpreadsheetParseError::missing_part(sheet.part_name));
    CMX_TRY(claim_sheet_part(claimed, sheet.part_name));
    if (rel != nullptr) sheet.rel_type = rel->rel_type;
    CMX_ASSIGN_OR_RETURN(sheet.template_, read_sheet_template(parts[*at], read.source_dimensions, sheet_idx, options));
    sheet.sheet_id = entry.sheet_id.value_or(static_cast<uint32_t>(sheet_idx + 1));
    if (sheet_idx < read.shared_string_cells.size()) {
      sheet.shared_string_cells = std::move(read.shared_string_cells[sheet_idx]);
    }
    if (sheet_idx < read.cell_notes.size()) sheet.cell_notes = std::move(read.cell_notes[sheet_idx]);
    sheet.r_id = std::move(entry.r_id);
    sheet.start_tag = std::move(entry.start_tag);
    source.sheets.push_back(std::move(sheet));
  }

  source.shared_strings_part =
      find_relationship_part_name(index, source.workbook_relationships, "sharedStrings", "xl/sharedStrings.xml");
  source.styles_part = find_relationship_part_name(index, source.workbook_relationships, "styles", "xl/styles.xml");
  source.theme_part =
      find_relationship_part_name(index, source.workbook_relationships, "theme", "xl/theme/theme1.xml");
  CMX_ASSIGN_OR_RETURN(source.shared_strings_template, template_of(index, source.shared_strings_part));
  source.calc_chain = collect_calc_chain_parts(source.workbook_relationships);
  if (source.calc_chain.empty() && index.find("xl/calcChain.xml")) {
    source.calc_chain.push_back(RelatedPart{"xl/calcChain.xml", std::nullopt});
  }
  CMX_ASSIGN_OR_RETURN(source.styles_template, template_of(index, source.styles_part));
  if (const std::optional<std::string_view> types = index.find(kContentTypesPart)) {
    CMX_ASSIGN_OR_RETURN(source.content_types, read_content_type_entries(*types));
  }
  const PartContentTypes part_types = collect_part_content_types(parts, source.content_types);
  const std::vector<std::string> sheet_parts = collect_sheet_part_names(source.sheets);
  CMX_ASSIGN_OR_RETURN(source.inventory, build_package_inventory(index, part_types, source.content_types,
                                                                 read.model.sheets, sheet_parts,
                                                                 read.unreadable_drawings));
  if (const std::optional<std::string_view> root_rels = index.find(kRootRelsPart)) {
    CMX_ASSIGN_OR_RETURN(source.root_relationships, read_rels_attribute_lists(*root_rels));
  }
  if (!options.lean) source.base_model = copy_model(read.model, options);
  source.rich_string_items = std::move(read.rich_string_items);
  source.active_tab = read.active_tab;
  source.lean = options.lean;
  if (options.lean) {
    for (const std::string& name : sheet_parts) {
      if (const std::optional<size_t> at = index.position(name)) {
        std::string().swap(parts[*at].bytes);
        parts[*at].sealed.reset();
      }
    }
  }
  // Nothing sealed outlives the archive bytes it borrows.
  for (opc::PackagePart& part : parts) {
    if (!part.sealed) continue;
    part.bytes = part.sealed->bytes();
    part.sealed.reset();
  }
  // The parts move with their buffers, so nothing above is invalidated.
  source.parts = std::move(parts);

  OpenedPackage opened;
  opened.model = std::move(read.model);
  opened.source = std::move(source);
  opened.source_dimensions = std::move(read.source_dimensions);
  opened.style_copy = std::move(read.style_copy);
  opened.active_tab = read.active_tab;
  return opened;
}

}  // namespace cmx::reader
