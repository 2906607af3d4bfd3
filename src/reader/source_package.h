// The record of a package as it was read, kept beside the model so that a
// save can write the workbook back into the same package: the parts
// themselves, the start tags and templates of the parts a save may rewrite,
// relationships and content types as written, one record per sheet, the
// calculation chain, a copy of the model as read and the package inventory.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/workbook.h"
#include "opc/attribute_pair.h"
#include "opc/package_archive.h"
#include "opc/part_names.h"
#include "reader/package_inventory.h"
#include "reader/sheet_threads.h"
#include "reader/worksheet.h"
#include "xml/parse_error.h"
#include "xml/part_template.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

struct RelatedPart {
  std::string name;
  std::optional<std::string> id;  // the relationship's Id
  friend bool operator==(const RelatedPart&, const RelatedPart&) = default;
};

struct SourceSheet {
  std::string part_name;
  opc::AttributeList start_tag;  // the `sheet` element's attributes as written
  xml::PartTemplate template_;
  std::optional<std::string> r_id;
  std::optional<std::string> rel_type;  // the Type of the relationship r_id names
  SharedStringCells shared_string_cells;
  CellTextNotes cell_notes;
  uint32_t sheet_id = 0;  // `sheetId`, or the 1-based position when unusable
};

struct SourcePackage {
  std::vector<opc::PackagePart> parts;  // archive order, unchanged
  std::vector<opc::ContentTypeEntry> content_types;
  std::vector<opc::AttributeList> root_relationships;
  std::vector<opc::AttributeList> workbook_relationships;
  xml::PartTemplate workbook_template;
  std::optional<opc::AttributeList> workbook_pr;
  opc::AttributeList sheets_tag;
  std::optional<opc::AttributeList> calc_pr;
  std::vector<SourceSheet> sheets;
  std::vector<RelatedPart> calc_chain;
  model::WorkbookModel base_model;
  PackageInventory inventory;
  std::optional<RelatedPart> shared_strings_part;
  std::optional<xml::PartTemplate> shared_strings_template;
  std::optional<RelatedPart> styles_part;
  std::optional<xml::PartTemplate> styles_template;
  std::optional<RelatedPart> theme_part;
  std::set<uint64_t> rich_string_items;
  uint32_t active_tab = 0;
  // Read with ReadOptions::lean: `base_model` is empty and the sheets' parts
  // hold no bytes; only the complete record may be saved into.
  bool lean = false;
};

// The part's bytes as read, unless a lean record left them in the archive.
bool left_in_archive(const SourcePackage& source, std::string_view part_name);

struct OpenedPackage {
  model::WorkbookModel model;
  SourcePackage source;
  std::vector<SourceDimensions> source_dimensions;
  std::optional<model::StyleSheet> style_copy;
  uint32_t active_tab = 0;
};

// Reads the workbook and records the package. Sheets take their part names
// from the workbook reader's own rule, so the record and the model always
// agree on which part is which sheet. Errors: those of the workbook reader,
// MissingPart for the workbook part or a sheet's part, Malformed "duplicate
// sheet part {name}", "xml fragment has no element", the template, streamed
// read and inventory errors.
// Big sheets may be read on several threads; the result is the same either way.
// Sealed parts (opc::ArchiveOptions) are read where they lie and come out
// whole or, for sheets of a lean record, empty; when one is broken the
// result means nothing and the caller reports opc::first_sealed_failure.
Result<OpenedPackage, SpreadsheetParseError> open_source_package(std::vector<opc::PackagePart> parts,
                                                                 const ReadOptions& options = {});

// Every `Relationship` start tag's attributes as written, at any depth.
Result<std::vector<opc::AttributeList>, SpreadsheetParseError> read_rels_attribute_lists(std::string_view bytes);

// Every `Default` and `Override` start tag, at any depth, in document order.
Result<std::vector<opc::ContentTypeEntry>, SpreadsheetParseError> read_content_type_entries(std::string_view bytes);

// The target of the first workbook relationship of this type when its part
// exists, else the default part when it exists, else none.
std::optional<RelatedPart> find_relationship_part_name(const opc::PartIndex& parts,
                                                       std::span<const opc::AttributeList> workbook_relationships,
                                                       std::string_view word, std::string_view default_name);

// The first (or every) top-level child of this local name in the root's
// namespace (none only with none).
const xml::PartTemplateChild* find_template_child(const xml::PartTemplate& part_template, std::string_view local);
std::vector<const xml::PartTemplateChild*> find_template_children(const xml::PartTemplate& part_template,
                                                                  std::string_view local);

// The attributes of the first start or empty-element tag of a fragment.
// Malformed "xml fragment has no element"; Xml for the reader's refusals.
Result<opc::AttributeList, SpreadsheetParseError> parse_fragment_start_tag(std::string_view fragment);

// (part key, content type) for each part with one, in archive order.
PartContentTypes collect_part_content_types(std::span<const opc::PackagePart> parts,
                                            const std::vector<opc::ContentTypeEntry>& entries);
std::vector<std::string> collect_sheet_part_names(std::span<const SourceSheet> sheets);
// Each "calcChain" relationship with a Target, resolved against "xl".
std::vector<RelatedPart> collect_calc_chain_parts(std::span<const opc::AttributeList> workbook_relationships);

}  // namespace cmx::reader
