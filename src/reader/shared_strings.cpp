#include "reader/shared_strings.h"

#include "reader/tables.h"
#include "xml/start_tag.h"

namespace cmx::reader {

using xml::XmlEvent;

Result<bool, SpreadsheetParseError> read_string_item_text(xml::PartStream& stream,
                                                          std::string& text) {
  const size_t depth = stream.depth();
  text.clear();
  bool has_runs = false;
  bool in_run = false;
  // Phonetic runs annotate the text (a reading guide); they are not part of it.
  bool in_phonetic = false;
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    switch (event) {
      case XmlEvent::StartTag:
        if (stream.depth() == depth + 1 && stream.local_name() == "r") {
          has_runs = true;
          in_run = true;
        } else if (stream.depth() == depth + 1 && stream.local_name() == "rPh") {
          in_phonetic = true;
        }
        break;
      case XmlEvent::Text: {
        if (in_phonetic) break;
        const size_t before = text.size();
        stream.reader().append_text(text);
        // The item and its runs hold elements only: white space standing
        // between them is layout, not part of the string.
        const bool between_elements = stream.depth() == depth || (in_run && stream.depth() == depth + 1);
        if (between_elements && text.find_first_not_of(" \t\r\n", before) == std::string::npos) {
          text.resize(before);
        }
        break;
      }
      case XmlEvent::CData:
        if (!in_phonetic) stream.reader().append_text(text);
        break;
      case XmlEvent::Reference:
        return unexpected(SpreadsheetParseError::malformed(
            "unresolvable entity &" + std::string(stream.reader().name()) + ";"));
      case XmlEvent::EndTag:
        if (stream.depth() < depth) {
          CMX_TRY(xml::check_utf8(text));
          // Characters XML cannot carry travel as "_xHHHH_" in string items.
          if (text.find('_') != std::string::npos) text = unescape_xstring(text);
          return has_runs;
        }
        if (stream.depth() == depth) in_run = in_phonetic = false;
        break;
      case XmlEvent::Eof:
        return unexpected(SpreadsheetParseError::malformed("unexpected eof in text"));
      default:
        break;
    }
  }
}

Result<SharedStringTable, SpreadsheetParseError> read_shared_strings(std::string_view bytes) {
  SharedStringTable table;
  xml::PartStream stream(bytes);
  std::string text;
  TextArena texts;
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) return table;
    if (event != XmlEvent::StartTag || stream.local_name() != "si") continue;
    if (table.items.size() >= MAX_SHARED_STRINGS)
      return unexpected(SpreadsheetParseError::of(xml::ParseErrorKind::TooManyStrings));
    CMX_ASSIGN_OR_RETURN(const bool has_runs, read_string_item_text(stream, text));
    if (has_runs) table.rich_string_items.insert(table.items.size());
    table.items.push_back(texts.make(text));
  }
}

std::vector<std::string> shared_string_texts(const SharedStringTable& table) {
  std::vector<std::string> texts;
  texts.reserve(table.items.size());
  for (const SharedString& item : table.items) texts.emplace_back(item.view());
  return texts;
}

}  // namespace cmx::reader
