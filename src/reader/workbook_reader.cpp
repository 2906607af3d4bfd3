#include "reader/workbook_reader.h"

#include "charts/drawing.h"
#include "opc/part_names.h"
#include "reader/sheet_entries.h"
#include "reader/shared_strings.h"
#include "reader/styles_reader.h"
#include "reader/tables.h"
#include "xml/attr_values.h"
#include "xml/streaming.h"

namespace cmx::reader {
namespace {

using xml::XmlEvent;

struct WorkbookPartRead {
  std::vector<SheetEntry> sheets;
  std::vector<model::DefinedName> names;
  model::DateSystem date_system = model::DateSystem::V1900;
  uint32_t active_tab = 0;
};

Result<WorkbookPartRead, SpreadsheetParseError> read_workbook_part(std::string_view bytes) {
  WorkbookPartRead out;
  xml::PartStream stream(bytes);
  SheetEntryCollector collector;
  bool seen_view = false;
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) break;
    if (event == XmlEvent::EndTag) {
      collector.on_end_tag(stream);
      continue;
    }
    if (event != XmlEvent::StartTag) continue;
    CMX_TRY(collector.on_start_tag(stream));
    const std::string_view local = stream.local_name();
    if (local == "definedName") {
      if (out.names.size() >= MAX_DEFINED_NAMES) {
        return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyDefinedNames));
      }
      model::DefinedName name;
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> text, stream.attribute_string("name"));
      if (text) name.name = std::move(*text);
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> local_sheet, stream.attribute("localSheetId"));
      if (local_sheet) name.local_sheet = xml::parse_u32_attribute(*local_sheet);
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> hidden, stream.attribute("hidden"));
      name.hidden = xml::attr_bool(hidden);
      CMX_ASSIGN_OR_RETURN(name.formula, xml::read_element_text(stream));
      out.names.push_back(std::move(name));
    } else if (local == "workbookPr") {
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> date1904, stream.attribute("date1904"));
      if (xml::attr_bool(date1904)) out.date_system = model::DateSystem::V1904;
    } else if (local == "workbookView" && !seen_view) {
      seen_view = true;
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> tab, stream.attribute("activeTab"));
      if (tab) out.active_tab = xml::parse_u32_attribute(*tab).value_or(0);
    }
  }
  out.sheets = std::move(collector.entries());
  return out;
}

std::string_view part_directory(std::string_view name) {
  const size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : name.substr(0, slash);
}

// A worksheet part, whole or through a window when the archive left it
// sealed. Should the window's inflater refuse data that the archive's own
// reader accepts, the part is read whole; when the entry is broken the
// result means nothing, and the owner of the parts reports the entry's error.
Result<model::SheetModel, SpreadsheetParseError> read_sheet_part(
    std::string_view name, const opc::PackagePart& part, std::span<const SharedString> strings,
    const opc::RelationshipMap& rels, SharedStringCells& string_cells, SourceDimensions& dimensions,
    CellTextNotes& notes, size_t window) {
  if (!part.sealed) return read_worksheet(name, part.bytes, strings, rels, string_cells, dimensions, notes);
  opc::SealedPart& sealed = *part.sealed;
  {
    const std::unique_ptr<ByteSource> source = sealed.open_stream();
    auto read = read_worksheet(name, *source, strings, rels, string_cells, dimensions, notes, window);
    if (!sealed.stream_broke() || sealed.failure()) return read;
  }
  string_cells = {};
  dimensions = {};
  notes = {};
  return read_worksheet(name, sealed.bytes(), strings, rels, string_cells, dimensions, notes);
}

uint64_t part_size(const opc::PackagePart& part) {
  return part.sealed ? part.sealed->declared_size() : part.bytes.size();
}

// One worksheet read ahead of the walk over the sheets, with what the walk
// would have passed and received.
struct SheetAhead {
  size_t sheet = 0;
  const opc::PackagePart* part = nullptr;
  opc::RelationshipMap rels;
  std::optional<Result<model::SheetModel, SpreadsheetParseError>> result;
  SharedStringCells string_cells;
  SourceDimensions dimensions;
  CellTextNotes notes;
};

// The big worksheets, read on several threads when there are two or more.
// Anything the walk would refuse before reading a sheet is left to the walk.
std::vector<SheetAhead> read_sheets_ahead(const opc::PartIndex& index, const std::vector<SheetEntry>& entries,
                                          const opc::RelationshipMap& rels,
                                          std::span<const SharedString> strings, const ReadOptions& options) {
  std::vector<SheetAhead> ahead;
  if (options.threads == 1) return ahead;
  for (size_t i = 0; i < entries.size(); ++i) {
    const opc::RelationshipTarget* rel = sheet_relationship(entries[i], rels);
    if (rel != nullptr && opc::is_non_worksheet_relationship(*rel)) continue;
    const std::string name = sheet_part_name(rel, i);
    const std::optional<size_t> at = index.position(name);
    if (!at || part_size(index.parts()[*at]) < kThreadedSheetBytes) continue;
    SheetAhead job;
    job.sheet = i;
    job.part = &index.parts()[*at];
    if (const std::optional<std::string_view> rels_bytes = index.find(opc::rels_part_name(name))) {
      auto sheet_rels = xml::read_relationship_map(*rels_bytes);
      if (!sheet_rels) continue;
      job.rels = std::move(*sheet_rels);
    }
    ahead.push_back(std::move(job));
  }
  const unsigned threads = sheet_threads(options, ahead.size());
  if (threads <= 1) return {};
  run_sheet_jobs(ahead.size(), threads, [&](size_t at) {
    SheetAhead& job = ahead[at];
    job.result = read_sheet_part(entries[job.sheet].name, *job.part, strings, job.rels, job.string_cells,
                                 job.dimensions, job.notes, options.stream_window);
  });
  return ahead;
}

}  // namespace

Result<WorkbookRead, SpreadsheetParseError> read_workbook(std::span<const opc::PackagePart> parts,
                                                          const ReadOptions& options) {
  const opc::PartIndex index(parts);
  const std::optional<std::string_view> workbook = index.find(kWorkbookPart);
  if (!workbook) return unexpected(SpreadsheetParseError::missing_part(std::string(kWorkbookPart)));
  CMX_ASSIGN_OR_RETURN(WorkbookPartRead part, read_workbook_part(*workbook));

  WorkbookRead read;
  read.model.defined_names = std::move(part.names);
  read.model.date_system = part.date_system;
  read.active_tab = part.active_tab;

  const std::optional<std::string_view> workbook_rels = index.find(kWorkbookRelsPart);
  opc::RelationshipMap rels;
  if (workbook_rels) {
    CMX_ASSIGN_OR_RETURN(rels, xml::read_relationship_map(*workbook_rels));
  }

  SharedStringTable strings;
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> strings_part,
                       xml::find_part_by_relationship_type(parts, workbook_rels, "sharedStrings",
                                                           "xl/sharedStrings.xml"));
  if (strings_part) {
    CMX_ASSIGN_OR_RETURN(strings, read_shared_strings(*strings_part));
    read.model.shared_strings = shared_string_texts(strings);
    read.rich_string_items = std::move(strings.rich_string_items);
  }

  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> styles_part,
                       xml::find_part_by_relationship_type(parts, workbook_rels, "styles", "xl/styles.xml"));
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> theme_part,
                       xml::find_part_by_relationship_type(parts, workbook_rels, "theme", "xl/theme/theme1.xml"));
  CMX_ASSIGN_OR_RETURN(StylesRead styles, read_styles_part(styles_part, theme_part));
  read.model.styles = std::move(styles.styles);
  read.style_copy = std::move(styles.style_copy);

  std::vector<SheetAhead> ahead = read_sheets_ahead(index, part.sheets, rels, strings.items, options);
  size_t next_ahead = 0;

  std::set<std::string> claimed;
  // Drawings, charts and tables that several sheets name are read once.
  charts::DrawingCache drawings;
  absl::flat_hash_set<size_t> table_parts;
  for (size_t i = 0; i < part.sheets.size(); ++i) {
    const SheetEntry& entry = part.sheets[i];
    const opc::RelationshipTarget* rel = sheet_relationship(entry, rels);
    if (rel != nullptr && opc::is_non_worksheet_relationship(*rel)) {
      model::SheetModel sheet;
      sheet.name = entry.name;
      if (!rel->external) {
        const std::string name = sheet_part_name(rel, i);
        CMX_TRY(claim_sheet_part(claimed, name));
        CMX_ASSIGN_OR_RETURN(sheet.charts,
                             charts::read_sheet_charts(index, name, drawings, read.unreadable_drawings));
      }
      read.model.sheets.push_back(std::move(sheet));
      read.shared_string_cells.emplace_back();
      read.cell_notes.emplace_back();
      read.source_dimensions.emplace_back();
      continue;
    }

    const std::string name = sheet_part_name(rel, i);
    const std::optional<size_t> at = index.position(name);
    if (!at) return unexpected(SpreadsheetParseError::missing_part(name));
    CMX_TRY(claim_sheet_part(claimed, name));
    opc::RelationshipMap sheet_rels;
    if (const std::optional<std::string_view> rels_bytes = index.find(opc::rels_part_name(name))) {
      CMX_ASSIGN_OR_RETURN(sheet_rels, xml::read_relationship_map(*rels_bytes));
    }
    SharedStringCells string_cells;
    SourceDimensions dimensions;
    CellTextNotes notes;
    while (next_ahead < ahead.size() && ahead[next_ahead].sheet < i) ++next_ahead;
    Result<model::SheetModel, SpreadsheetParseError> read_sheet = model::SheetModel();
    if (next_ahead < ahead.size() && ahead[next_ahead].sheet == i) {
      SheetAhead& job = ahead[next_ahead];
      read_sheet = std::move(*job.result);
      string_cells = std::move(job.string_cells);
      dimensions = std::move(job.dimensions);
      notes = std::move(job.notes);
    } else {
      read_sheet =
          read_sheet_part(entry.name, index.parts()[*at], strings.items, sheet_rels, string_cells, dimensions, notes,
                          options.stream_window);
    }
    CMX_ASSIGN_OR_RETURN(model::SheetModel sheet, std::move(read_sheet));
    CMX_ASSIGN_OR_RETURN(sheet.charts, charts::read_sheet_charts(index, name, drawings, read.unreadable_drawings));
    CMX_TRY(read_sheet_tables(index, sheet_rels, part_directory(name), static_cast<uint32_t>(i), table_parts,
                              read.model.tables));
    read.model.sheets.push_back(std::move(sheet));
    read.shared_string_cells.push_back(std::move(string_cells));
    read.cell_notes.push_back(std::move(notes));
    read.source_dimensions.push_back(std::move(dimensions));
  }
  return read;
}

}  // namespace cmx::reader
