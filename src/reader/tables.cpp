#include "reader/tables.h"

#include <algorithm>

#include "base/unicode.h"
#include "reader/text_rules.h"
#include "xml/streaming.h"

namespace cmx::reader {
namespace {

using xml::XmlEvent;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code of an escape starting at `pos`, or -1.
int32_t escape_at(std::string_view text, size_t pos) {
  if (text.size() - pos < 7 || text[pos] != '_' || (text[pos + 1] != 'x' && text[pos + 1] != 'X') ||
      text[pos + 6] != '_')
    return -1;
  int32_t code = 0;
  for (size_t idx = pos + 2; idx < pos + 6; ++idx) {
    const int digit = hex_value(text[idx]);
    if (digit < 0) return -1;
    code = code * 16 + digit;
  }
  return code;
}

}  // namespace

std::string unescape_xstring(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const int32_t code = text[pos] == '_' ? escape_at(text, pos) : -1;
    if (code < 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      out.push_back(text[pos]);
      ++pos;
      continue;
    }
    unicode::append_utf8(out, static_cast<char32_t>(code));
    pos += 7;
  }
  return out;
}

uint32_t read_count_attribute(std::optional<std::string_view> value, uint32_t fallback) {
  if (!value) return fallback;
  return xml::parse_u32_attribute(trim_white_space(*value)).value_or(fallback);
}

Result<std::optional<model::WorkbookTable>, SpreadsheetParseError> read_table_part(
    std::string_view bytes, uint32_t sheet_index) {
  xml::PartStream stream(bytes);
  std::optional<model::WorkbookTable> table;
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) break;
    if (event != XmlEvent::StartTag) continue;
    const std::string_view name = stream.local_name();
    if (name == "table" && !table) {
      // A table without a usable ref or name ends the part's reading.
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> ref, stream.attribute_string("ref"));
      if (!ref) return std::optional<model::WorkbookTable>();
      auto range = model::parse_range(*ref);
      if (!range.has_value()) return std::optional<model::WorkbookTable>();
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> display, stream.attribute_string("displayName"));
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> plain, stream.attribute_string("name"));
      if (!display && !plain) return std::optional<model::WorkbookTable>();
      const uint32_t rows = range->end.row - range->start.row + 1;
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> header, stream.attribute_string("headerRowCount"));
      CMX_ASSIGN_OR_RETURN(std::optional<std::string> totals, stream.attribute_string("totalsRowCount"));
      model::WorkbookTable made;
      made.name = unescape_xstring(display ? *display : *plain);
      made.range = *range;
      made.sheet = sheet_index;
      made.header_rows = std::min(read_count_attribute(header, 1), rows);
      made.totals_rows = std::min(read_count_attribute(totals, 0), rows - made.header_rows);
      table = std::move(made);
    } else if (name == "tableColumn" && table) {
      if (table->columns.size() >= MAX_TABLE_COLUMNS)
        return unexpected(SpreadsheetParseError::malformed("table column count exceeded cap"));
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> column, stream.attribute("name"));
      table->columns.push_back(column ? unescape_xstring(*column) : std::string());
    }
  }
  return table;
}

Result<void, SpreadsheetParseError> read_sheet_tables(const opc::PartIndex& parts,
                                                      const opc::RelationshipMap& rels,
                                                      std::string_view sheet_dir,
                                                      uint32_t sheet_index,
                                                      absl::flat_hash_set<size_t>& read_parts,
                                                      std::vector<model::WorkbookTable>& tables) {
  for (const auto& [id, rel] : rels) {
    if (rel.external || !rel.rel_type || opc::last_type_segment(*rel.rel_type) != "table") continue;
    const std::string name = opc::resolve_relationship_target(sheet_dir, rel.target);
    const std::optional<size_t> position = parts.position(name);
    if (!position || !read_parts.insert(*position).second) continue;
    CMX_ASSIGN_OR_RETURN(std::optional<model::WorkbookTable> table,
                         read_table_part(opc::part_bytes(parts.parts()[*position]), sheet_index));
    if (!table) continue;
    if (tables.size() >= MAX_TABLES)
      return unexpected(SpreadsheetParseError::malformed("table count exceeded cap"));
    tables.push_back(std::move(*table));
  }
  return {};
}

}  // namespace cmx::reader
