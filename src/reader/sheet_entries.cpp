#include "reader/sheet_entries.h"

#include "base/number_text.h"
#include "opc/part_names.h"
#include "xml/start_tag.h"

namespace cmx::reader {

using xml::XmlEvent;

Result<void, SpreadsheetParseError> SheetEntryCollector::on_start_tag(xml::PartStream& stream) {
  const std::string_view local = stream.local_name();
  if (local == "sheets") {
    if (!zone_depth_) zone_depth_ = stream.depth();
    return {};
  }
  if (local != "sheet" || !zone_depth_ || stream.depth() != *zone_depth_ + 1) return {};
  SheetEntry entry;
  CMX_ASSIGN_OR_RETURN(entry.start_tag, xml::parse_start_tag(stream.reader()));
  CMX_ASSIGN_OR_RETURN(std::optional<std::string> name, stream.attribute_string("name"));
  if (name) entry.name = std::move(*name);
  CMX_ASSIGN_OR_RETURN(entry.r_id, stream.attribute_string("id"));
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> sheet_id, stream.attribute("sheetId"));
  if (sheet_id) entry.sheet_id = xml::parse_u32_attribute(*sheet_id);
  entries_.push_back(std::move(entry));
  return {};
}

void SheetEntryCollector::on_end_tag(const xml::PartStream& stream) {
  if (zone_depth_ && stream.depth() < *zone_depth_) zone_depth_.reset();
}

Result<std::vector<SheetEntry>, SpreadsheetParseError> read_sheet_entries(std::string_view workbook_part) {
  xml::PartStream stream(workbook_part);
  SheetEntryCollector collector;
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) return std::move(collector.entries());
    if (event == XmlEvent::StartTag) {
      CMX_TRY(collector.on_start_tag(stream));
    } else if (event == XmlEvent::EndTag) {
      collector.on_end_tag(stream);
    }
  }
}

const opc::RelationshipTarget* sheet_relationship(const SheetEntry& entry, const opc::RelationshipMap& rels) {
  if (!entry.r_id) return nullptr;
  const auto found = rels.find(*entry.r_id);
  return found == rels.end() ? nullptr : &found->second;
}

Result<void, SpreadsheetParseError> claim_sheet_part(std::set<std::string>& claimed, const std::string& name) {
  if (!claimed.insert(opc::part_name_key(name)).second) {
    return unexpected(SpreadsheetParseError::malformed("duplicate sheet part " + name));
  }
  return {};
}

std::string default_sheet_part_name(size_t position) {
  return "xl/worksheets/sheet" + format_u64(static_cast<uint64_t>(position) + 1) + ".xml";
}

std::string sheet_part_name(const opc::RelationshipTarget* rel, size_t position) {
  if (rel != nullptr && !rel->external) return opc::resolve_relationship_target("xl", rel->target);
  return default_sheet_part_name(position);
}

}  // namespace cmx::reader
