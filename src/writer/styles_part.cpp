#include <array>

#include "writer/parts.h"

namespace cmx::writer {

namespace {

std::string_view border_style_text(model::BorderStyle style) {
  static constexpr std::array<std::string_view, 7> kTexts = {"thin",   "medium", "thick", "dashed",
                                                             "dotted", "double", "hair"};
  return kTexts[static_cast<size_t>(style)];
}

std::string_view horizontal_text(model::HorizontalAlignment h) {
  static constexpr std::array<std::string_view, 8> kTexts = {
      "general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"};
  return kTexts[static_cast<size_t>(h)];
}

std::string_view vertical_text(model::VerticalAlignment v) {
  static constexpr std::array<std::string_view, 5> kTexts = {"top", "center", "bottom", "justify",
                                                             "distributed"};
  return kTexts[static_cast<size_t>(v)];
}

template <typename T, typename Write>
void write_collection(XmlPartWriter& writer, std::string_view name, const std::vector<T>& items,
                      Write write_one) {
  if (items.empty()) return;
  writer.open(name);
  writer.attribute_u64("count", items.size());
  writer.close();
  for (const T& item : items) write_one(writer, item);
  writer.end_tag(name);
}

}  // namespace

void write_num_fmts(XmlPartWriter& writer, const std::vector<model::CustomNumFmt>& formats) {
  write_collection(writer, "numFmts", formats, [](XmlPartWriter& w, const model::CustomNumFmt& fmt) {
    w.open("numFmt");
    w.attribute_u64("numFmtId", fmt.id);
    w.attribute("formatCode", fmt.code);
    w.close_empty();
  });
}

void write_font(XmlPartWriter& writer, const model::Font& font) {
  writer.start_tag("font");
  if (font.bold) writer.empty_tag("b");
  if (font.italic) writer.empty_tag("i");
  if (font.underline) writer.empty_tag("u");
  if (font.strike) writer.empty_tag("strike");
  if (font.size_pt) {
    writer.open("sz");
    writer.attribute_number("val", *font.size_pt);
    writer.close_empty();
  }
  if (font.color) write_color_element(writer, "color", *font.color);
  if (font.name) writer.empty_tag("name", {{"val", *font.name}});
  writer.end_tag("font");
}

void write_fonts(XmlPartWriter& writer, const std::vector<model::Font>& fonts) {
  write_collection(writer, "fonts", fonts, write_font);
}

void write_pattern_fill(XmlPartWriter& writer, const model::Fill& fill) {
  writer.start_tag("fill");
  const auto* solid = std::get_if<model::SolidFill>(&fill);
  if (solid != nullptr && std::holds_alternative<model::AutoColor>(solid->color)) {
    // What a pattern without a type or colour reads as; written back so, a
    // default fill does not turn into a solid one in the automatic colour.
    writer.empty_tag("patternFill");
  } else if (solid != nullptr) {
    writer.start_tag("patternFill", {{"patternType", "solid"}});
    write_color_element(writer, "fgColor", solid->color);
    writer.end_tag("patternFill");
  } else {
    writer.empty_tag("patternFill", {{"patternType", "none"}});
  }
  writer.end_tag("fill");
}

void write_fills(XmlPartWriter& writer, const std::vector<model::Fill>& fills) {
  write_collection(writer, "fills", fills, write_pattern_fill);
}

void write_border_edge(XmlPartWriter& writer, std::string_view name,
                       const std::optional<model::BorderEdge>& edge) {
  if (!edge) {
    writer.empty_tag(name);
    return;
  }
  writer.start_tag(name, {{"style", border_style_text(edge->style)}});
  if (edge->color) write_color_element(writer, "color", *edge->color);
  writer.end_tag(name);
}

void write_border(XmlPartWriter& writer, const model::Border& border) {
  writer.start_tag("border");
  write_border_edge(writer, "left", border.left);
  write_border_edge(writer, "right", border.right);
  write_border_edge(writer, "top", border.top);
  write_border_edge(writer, "bottom", border.bottom);
  writer.empty_tag("diagonal");
  writer.end_tag("border");
}

void write_borders(XmlPartWriter& writer, const std::vector<model::Border>& borders) {
  write_collection(writer, "borders", borders, write_border);
}

void write_cell_xf(XmlPartWriter& writer, const model::CellXf& xf) {
  writer.open("xf");
  writer.attribute_u64("numFmtId", xf.num_fmt_id.value_or(0));
  writer.attribute_u64("fontId", xf.font.value_or(0));
  writer.attribute_u64("fillId", xf.fill.value_or(0));
  writer.attribute_u64("borderId", xf.border.value_or(0));
  // An absent index is written as "0" and flagged as not applied, so that
  // readers take the default record rather than entry 0 of the table.
  writer.attribute("applyNumberFormat", xf.num_fmt_id ? "1" : "0");
  writer.attribute("applyFont", xf.font ? "1" : "0");
  writer.attribute("applyFill", xf.fill ? "1" : "0");
  writer.attribute("applyBorder", xf.border ? "1" : "0");
  if (!xf.alignment) {
    writer.close_empty();
    return;
  }
  writer.attribute("applyAlignment", "1");
  writer.close();
  const model::Alignment& align = *xf.alignment;
  writer.open("alignment");
  if (align.h) writer.attribute("horizontal", horizontal_text(*align.h));
  if (align.v) writer.attribute("vertical", vertical_text(*align.v));
  if (align.wrap_text) writer.attribute("wrapText", "1");
  if (align.shrink_to_fit) writer.attribute("shrinkToFit", "1");
  writer.close_empty();
  writer.end_tag("xf");
}

void write_cell_xfs(XmlPartWriter& writer, const std::vector<model::CellXf>& xfs) {
  write_collection(writer, "cellXfs", xfs, write_cell_xf);
}

void write_rgb_colors(XmlPartWriter& writer, const std::vector<std::string>& palette) {
  writer.start_tag("indexedColors");
  for (const std::string& entry : palette) {
    if (entry.empty()) {
      writer.empty_tag("rgbColor");
      continue;
    }
    // The palette check has left one optional "#" and six digits.
    writer.empty_tag("rgbColor", {{"rgb", "FF" + upper_hex_without_hash(entry)}});
  }
  writer.end_tag("indexedColors");
}

void write_indexed_colors(XmlPartWriter& writer, const std::vector<std::string>& palette) {
  writer.start_tag("colors");
  write_rgb_colors(writer, palette);
  writer.end_tag("colors");
}

Result<std::string, SpreadsheetParseError> write_styles_part(const model::StyleSheet& styles,
                                                             std::string_view main_ns) {
  XmlPartWriter writer;
  writer.declaration();
  writer.start_tag("styleSheet", {{"xmlns", main_ns}});
  write_num_fmts(writer, styles.num_fmts);
  write_fonts(writer, styles.fonts);
  write_fills(writer, styles.fills);
  write_borders(writer, styles.borders);
  write_cell_xfs(writer, styles.cell_xfs);
  if (!styles.indexed_colors.empty()) write_indexed_colors(writer, styles.indexed_colors);
  writer.end_tag("styleSheet");
  return writer.finish();
}

}  // namespace cmx::writer
