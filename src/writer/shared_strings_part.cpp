#include "writer/parts.h"

namespace cmx::writer {

void write_shared_string_item(XmlPartWriter& writer, std::string_view text) {
  writer.raw("<si>");
  write_preserved_text(writer, text);
  writer.raw("</si>");
}

Result<std::string, SpreadsheetParseError> write_shared_strings_part(
    const std::vector<std::string>& texts, std::string_view main_ns) {
  size_t total = 256;
  for (const std::string& text : texts) total += text.size() + 48;
  XmlPartWriter writer(total);
  writer.declaration();
  writer.open("sst");
  writer.attribute("xmlns", main_ns);
  writer.attribute_u64("count", texts.size());
  writer.attribute_u64("uniqueCount", texts.size());
  writer.close();
  for (const std::string& text : texts) write_shared_string_item(writer, text);
  writer.end_tag("sst");
  return writer.finish();
}

}  // namespace cmx::writer
