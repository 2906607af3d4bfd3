#include <array>

#include "writer/parts.h"

namespace cmx::writer {

Result<std::string, SpreadsheetParseError> write_theme_part(const model::StyleSheet& styles,
                                                            std::string_view drawing_ns) {
  static constexpr std::array<std::string_view, 12> kSlots = {
      "a:dk1",     "a:lt1",     "a:dk2",     "a:lt2",     "a:accent1", "a:accent2",
      "a:accent3", "a:accent4", "a:accent5", "a:accent6", "a:hlink",   "a:folHlink"};
  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("a:theme", {{"xmlns:a", drawing_ns}, {"name", "Office Theme"}});
  writer.start_tag("a:themeElements");
  writer.start_tag("a:clrScheme", {{"name", "Office"}});
  for (size_t i = 0; i < kSlots.size(); ++i) {
    writer.start_tag(kSlots[i]);
    writer.empty_tag("a:srgbClr", {{"val", upper_hex_without_hash(styles.theme.colors[i])}});
    writer.end_tag(kSlots[i]);
  }
  writer.end_tag("a:clrScheme");
  writer.start_tag("a:fontScheme", {{"name", "Office"}});
  for (std::string_view font : {"a:majorFont", "a:minorFont"}) {
    writer.start_tag(font);
    writer.empty_tag("a:latin", {{"typeface", "Calibri"}});
    writer.empty_tag("a:ea", {{"typeface", ""}});
    writer.empty_tag("a:cs", {{"typeface", ""}});
    writer.end_tag(font);
  }
  writer.end_tag("a:fontScheme");
  const auto solid_fills = [&writer](std::string_view list) {
    writer.start_tag(list);
    for (int i = 0; i < 3; ++i) {
      writer.start_tag("a:solidFill");
      writer.empty_tag("a:schemeClr", {{"val", "phClr"}});
      writer.end_tag("a:solidFill");
    }
    writer.end_tag(list);
  };
  writer.start_tag("a:fmtScheme", {{"name", "Office"}});
  solid_fills("a:fillStyleLst");
  writer.start_tag("a:lnStyleLst");
  for (int i = 0; i < 3; ++i) writer.empty_tag("a:ln");
  writer.end_tag("a:lnStyleLst");
  writer.start_tag("a:effectStyleLst");
  for (int i = 0; i < 3; ++i) {
    writer.start_tag("a:effectStyle");
    writer.empty_tag("a:effectLst");
    writer.end_tag("a:effectStyle");
  }
  writer.end_tag("a:effectStyleLst");
  solid_fills("a:bgFillStyleLst");
  writer.end_tag("a:fmtScheme");
  writer.end_tag("a:themeElements");
  writer.end_tag("a:theme");
  return writer.finish();
}

}  // namespace cmx::writer
