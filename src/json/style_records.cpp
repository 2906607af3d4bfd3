#include "json/style_records.h"

#include "json/rules.h"

namespace cmx::json {

namespace {

using model::Alignment;
using model::Border;
using model::BorderEdge;
using model::Color;
using model::Fill;
using model::Font;

template <typename Sink>
using Emitter = detail::CompactEmitter<Sink>;

constexpr std::string_view kColorWords[] = {"Rgb", "Theme", "Indexed", "Auto"};
constexpr std::string_view kFillWords[] = {"None", "Solid"};
constexpr std::string_view kBorderStyleWords[] = {"Thin",   "Medium", "Thick", "Dashed",
                                                  "Dotted", "Double", "Hair"};
constexpr std::string_view kHorizontalWords[] = {"General", "Left",    "Center",           "Right",
                                                 "Fill",    "Justify", "CenterContinuous", "Distributed"};
constexpr std::string_view kVerticalWords[] = {"Top", "Center", "Bottom", "Justify", "Distributed"};
constexpr std::string_view kNumberFormatWords[] = {"builtin", "custom"};

constexpr std::string_view kBorderSides[] = {"left", "right", "top", "bottom"};

}  // namespace

// --- writers ---------------------------------------------------------------------

template <typename Sink>
void serialize_color(Emitter<Sink>& w, const Color& color) {
  if (std::holds_alternative<model::AutoColor>(color)) {
    w.value_str(kColorWords[3]);
    return;
  }
  w.begin_object();
  if (const auto* rgb = std::get_if<model::RgbColor>(&color)) {
    w.field_str(kColorWords[0], rgb->text);
  } else if (const auto* theme = std::get_if<model::ThemeColor>(&color)) {
    w.key(kColorWords[1]);
    w.begin_object();
    w.field_u32("idx", theme->idx);
    w.field_f64("tint", theme->tint);
    w.end_object();
  } else {
    w.field_u32(kColorWords[2], std::get<model::IndexedColor>(color).index);
  }
  w.end_object();
}

template <typename Sink>
void write_field_color(Emitter<Sink>& w, const std::optional<Color>& color) {
  w.key("color");
  if (color) serialize_color(w, *color); else w.value_null();
}

template <typename Sink>
void serialize_fill(Emitter<Sink>& w, const Fill& fill) {
  if (const auto* solid = std::get_if<model::SolidFill>(&fill)) {
    w.begin_object();
    w.key(kFillWords[1]);
    serialize_color(w, solid->color);
    w.end_object();
  } else {
    w.value_str(kFillWords[0]);
  }
}

template <typename Sink>
void write_field_border_edge(Emitter<Sink>& w, std::string_view name,
                             const std::optional<BorderEdge>& edge) {
  w.key(name);
  if (!edge) {
    w.value_null();
    return;
  }
  w.begin_object();
  w.field_str("style", kBorderStyleWords[static_cast<size_t>(edge->style)]);
  write_field_color(w, edge->color);
  w.end_object();
}

template <typename Sink>
void serialize_border(Emitter<Sink>& w, const Border& border) {
  w.begin_object();
  write_field_border_edge(w, kBorderSides[0], border.left);
  write_field_border_edge(w, kBorderSides[1], border.right);
  write_field_border_edge(w, kBorderSides[2], border.top);
  write_field_border_edge(w, kBorderSides[3], border.bottom);
  w.end_object();
}

template <typename Sink>
void serialize_alignment(Emitter<Sink>& w, const Alignment& alignment) {
  w.begin_object();
  w.field_optional_string("h", alignment.h ? std::optional<std::string_view>(
                                                 kHorizontalWords[static_cast<size_t>(*alignment.h)])
                                           : std::nullopt);
  w.field_optional_string("v", alignment.v ? std::optional<std::string_view>(
                                                 kVerticalWords[static_cast<size_t>(*alignment.v)])
                                           : std::nullopt);
  w.field_bool("wrap_text", alignment.wrap_text);
  w.field_bool("shrink_to_fit", alignment.shrink_to_fit);
  w.end_object();
}

template <typename Sink>
void serialize_font(Emitter<Sink>& w, const Font& font) {
  w.begin_object();
  w.field_optional_string("name", font.name ? std::optional<std::string_view>(*font.name) : std::nullopt);
  w.key("size_pt");
  // A size that is not finite is written null, as an absent one.
  if (font.size_pt) w.value_f64(*font.size_pt); else w.value_null();
  w.field_bool("bold", font.bold);
  w.field_bool("italic", font.italic);
  w.field_bool("underline", font.underline);
  w.field_bool("strike", font.strike);
  write_field_color(w, font.color);
  w.end_object();
}

template <typename Sink>
void serialize_number_format(Emitter<Sink>& w, const model::NumberFormat& format) {
  w.begin_object();
  if (const auto* builtin = std::get_if<model::BuiltinNumFmt>(&format)) {
    w.field_kind(kNumberFormatWords[0]);
    w.field_u32("id", builtin->id);
  } else {
    w.field_kind(kNumberFormatWords[1]);
    w.field_str("pattern", std::get<model::CustomPattern>(format).pattern);
  }
  w.end_object();
}

template <typename Sink>
void serialize_cell_format(Emitter<Sink>& w, const model::CellFormat& format) {
  w.begin_object();
  w.key("font");
  serialize_font(w, format.font);
  w.key("fill");
  serialize_fill(w, format.fill);
  w.key("border");
  serialize_border(w, format.border);
  w.key("numberFormat");
  serialize_number_format(w, format.number_format);
  w.key("alignment");
  serialize_alignment(w, format.alignment);
  w.end_object();
}

template <typename Sink>
void serialize_cell_xf(Emitter<Sink>& w, const model::CellXf& xf) {
  w.begin_object();
  w.field_optional_u32("font", xf.font);
  w.field_optional_u32("fill", xf.fill);
  w.field_optional_u32("border", xf.border);
  w.field_optional_u32("num_fmt_id", xf.num_fmt_id ? std::optional<uint32_t>(*xf.num_fmt_id)
                                                   : std::nullopt);
  w.key("alignment");
  if (xf.alignment) serialize_alignment(w, *xf.alignment); else w.value_null();
  w.end_object();
}

template <typename Sink>
void serialize_stylesheet(Emitter<Sink>& w, const model::StyleSheet& styles) {
  w.begin_object();
  w.field_list("fonts", styles.fonts, [&](const Font& font) { serialize_font(w, font); });
  w.field_list("fills", styles.fills, [&](const Fill& fill) { serialize_fill(w, fill); });
  w.field_list("borders", styles.borders, [&](const Border& border) { serialize_border(w, border); });
  w.field_list("cell_xfs", styles.cell_xfs, [&](const model::CellXf& xf) { serialize_cell_xf(w, xf); });
  w.field_list("num_fmts", styles.num_fmts, [&](const model::CustomNumFmt& format) {
    w.begin_array();
    w.begin_element();
    w.value_u64(format.id);
    w.begin_element();
    w.value_str(format.code);
    w.end_array();
  });
  w.key("theme");
  w.begin_object();
  w.field_string_list("colors", styles.theme.colors);
  w.end_object();
  if (!styles.indexed_colors.empty()) w.field_string_list("indexed_colors", styles.indexed_colors);
  w.end_object();
}

#define CMX_STYLE_WRITERS(Sink)                                                                  \
  template void serialize_color(Emitter<Sink>&, const Color&);                                   \
  template void serialize_fill(Emitter<Sink>&, const Fill&);                                     \
  template void serialize_border(Emitter<Sink>&, const Border&);                                 \
  template void serialize_alignment(Emitter<Sink>&, const Alignment&);                           \
  template void serialize_font(Emitter<Sink>&, const Font&);                                     \
  template void serialize_number_format(Emitter<Sink>&, const model::NumberFormat&);             \
  template void serialize_cell_format(Emitter<Sink>&, const model::CellFormat&);                 \
  template void serialize_cell_xf(Emitter<Sink>&, const model::CellXf&);                         \
  template void serialize_stylesheet(Emitter<Sink>&, const model::StyleSheet&);                  \
  template void write_field_border_edge(Emitter<Sink>&, std::string_view,                        \
                                        const std::optional<BorderEdge>&);                       \
  template void write_field_color(Emitter<Sink>&, const std::optional<Color>&);
CMX_STYLE_WRITERS(detail::TextSink)
CMX_STYLE_WRITERS(detail::CountSink)
#undef CMX_STYLE_WRITERS

std::string cell_format_to_json(const model::CellFormat& format) {
  CompactWriter writer;
  serialize_cell_format(writer, format);
  return writer.take();
}

std::string stylesheet_to_json(const model::StyleSheet& styles) {
  CompactWriter writer;
  serialize_stylesheet(writer, styles);
  return writer.take();
}

// --- readers ---------------------------------------------------------------------

namespace {

// A data variant named by a bare string.
JsonError unit_for_data_variant(JsonReader& reader, std::string_view kind) {
  return reader.fix_position(invalid_type("unit variant", kind));
}

// An optional member: null gives none, else `read` fills it.
template <typename T, typename F>
JsonResult<void> read_optional(JsonReader& reader, std::optional<T>& out, F&& read) {
  CMX_ASSIGN_OR_RETURN(bool is_null, reader.read_null_if_next());
  if (is_null) {
    out.reset();
    return {};
  }
  CMX_ASSIGN_OR_RETURN(out, read(reader));
  return {};
}

template <typename E>
JsonResult<E> read_word_as(JsonReader& reader, std::span<const std::string_view> words) {
  CMX_ASSIGN_OR_RETURN(size_t index, read_word(reader, words));
  return static_cast<E>(index);
}

constexpr FieldSpec kThemeFields[] = {{"idx"}, {"tint"}};
constexpr RecordSpec kThemeSpec{"struct variant Color::Theme", kThemeFields, /*ignore_unknown=*/true};

constexpr FieldSpec kBorderEdgeFields[] = {{"style"}, {"color", Presence::Optional}};
constexpr RecordSpec kBorderEdgeSpec{"struct BorderEdge", kBorderEdgeFields, /*ignore_unknown=*/true};

constexpr FieldSpec kBorderFields[] = {{"left", Presence::Optional},
                                       {"right", Presence::Optional},
                                       {"top", Presence::Optional},
                                       {"bottom", Presence::Optional}};
constexpr RecordSpec kBorderSpec{"struct Border", kBorderFields, true};

constexpr FieldSpec kAlignmentFields[] = {
    {"h", Presence::Optional}, {"v", Presence::Optional}, {"wrap_text"}, {"shrink_to_fit"}};
constexpr RecordSpec kAlignmentSpec{"struct Alignment", kAlignmentFields, true};

constexpr FieldSpec kFontFields[] = {{"name", Presence::Optional},
                                     {"size_pt", Presence::Optional},
                                     {"bold"},
                                     {"italic"},
                                     {"underline"},
                                     {"strike"},
                                     {"color", Presence::Optional}};
constexpr RecordSpec kFontSpec{"struct Font", kFontFields, true};

constexpr FieldSpec kCellFormatFields[] = {
    {"font"}, {"fill"}, {"border"}, {"numberFormat"}, {"alignment"}};
constexpr RecordSpec kCellFormatSpec{"struct CellFormat", kCellFormatFields, true};

constexpr TaggedSpec kNumberFormatTag{"NumberFormat", "kind", kNumberFormatWords};
constexpr FieldSpec kBuiltinFields[] = {{"id"}};
constexpr RecordSpec kBuiltinSpec{"struct variant NumberFormat::Builtin", kBuiltinFields, true};
constexpr FieldSpec kCustomFields[] = {{"pattern"}};
constexpr RecordSpec kCustomSpec{"struct variant NumberFormat::Custom", kCustomFields, true};

}  // namespace

JsonResult<Color> deserialize_color(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(EnumHead head, read_enum_head(reader, kColorWords));
  if (!head.braced) {
    switch (head.variant) {
      case 1: return unexpected(unit_for_data_variant(reader, "struct variant"));
      case 3: return Color(model::AutoColor{});
      default: return unexpected(unit_for_data_variant(reader, "newtype variant"));
    }
  }
  Color color;
  switch (head.variant) {
    case 0: {
      CMX_ASSIGN_OR_RETURN(std::string text, reader.read_string());
      color = model::RgbColor{std::move(text)};
      break;
    }
    case 1: {
      model::ThemeColor theme;
      auto read = read_record(reader, kThemeSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
        if (index == 0) {
          CMX_ASSIGN_OR_RETURN(theme.idx, r.read_u8());
        } else {
          CMX_ASSIGN_OR_RETURN(theme.tint, r.read_f64());
        }
        return {};
      });
      if (!read) return unexpected(reader.fix_position(std::move(read).error()));
      color = theme;
      break;
    }
    case 2: {
      CMX_ASSIGN_OR_RETURN(uint8_t index, reader.read_u8());
      color = model::IndexedColor{index};
      break;
    }
    default:
      CMX_TRY(read_unit_value(reader));
      color = model::AutoColor{};
  }
  CMX_TRY(finish_enum_object(reader));
  return color;
}

JsonResult<Fill> deserialize_fill(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(EnumHead head, read_enum_head(reader, kFillWords));
  if (!head.braced) {
    if (head.variant == 1) return unexpected(unit_for_data_variant(reader, "newtype variant"));
    return Fill(model::NoFill{});
  }
  Fill fill;
  if (head.variant == 1) {
    CMX_ASSIGN_OR_RETURN(Color color, deserialize_color(reader));
    fill = model::SolidFill{std::move(color)};
  } else {
    CMX_TRY(read_unit_value(reader));
  }
  CMX_TRY(finish_enum_object(reader));
  return fill;
}

JsonResult<model::BorderStyle> deserialize_border_style(JsonReader& reader) {
  return read_word_as<model::BorderStyle>(reader, kBorderStyleWords);
}

JsonResult<std::optional<BorderEdge>> deserialize_border_edge(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(bool is_null, reader.read_null_if_next());
  if (is_null) return std::optional<BorderEdge>();
  BorderEdge edge;
  CMX_TRY(read_record(reader, kBorderEdgeSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(edge.style, deserialize_border_style(r));
      return {};
    }
    return read_optional(r, edge.color, deserialize_color);
  }));
  return std::optional<BorderEdge>(std::move(edge));
}

JsonResult<Border> deserialize_border(JsonReader& reader) {
  Border border;
  std::optional<BorderEdge>* sides[] = {&border.left, &border.right, &border.top, &border.bottom};
  CMX_TRY(read_record(reader, kBorderSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(*sides[index], deserialize_border_edge(r));
    return {};
  }));
  return border;
}

JsonResult<Alignment> deserialize_alignment(JsonReader& reader) {
  Alignment alignment;
  CMX_TRY(read_record(reader, kAlignmentSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0:
        return read_optional(r, alignment.h, [](JsonReader& in) {
          return read_word_as<model::HorizontalAlignment>(in, kHorizontalWords);
        });
      case 1:
        return read_optional(r, alignment.v, [](JsonReader& in) {
          return read_word_as<model::VerticalAlignment>(in, kVerticalWords);
        });
      case 2: { CMX_ASSIGN_OR_RETURN(alignment.wrap_text, r.read_bool()); return {}; }
      default: { CMX_ASSIGN_OR_RETURN(alignment.shrink_to_fit, r.read_bool()); return {}; }
    }
  }));
  return alignment;
}

JsonResult<Font> deserialize_font(JsonReader& reader) {
  Font font;
  bool* flags[] = {&font.bold, &font.italic, &font.underline, &font.strike};
  CMX_TRY(read_record(reader, kFontSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: return read_optional(r, font.name, [](JsonReader& in) { return in.read_string(); });
      case 1: return read_optional(r, font.size_pt, [](JsonReader& in) { return in.read_f64(); });
      case 6: return read_optional(r, font.color, deserialize_color);
      default: { CMX_ASSIGN_OR_RETURN(*flags[index - 2], r.read_bool()); return {}; }
    }
  }));
  return font;
}

JsonResult<model::NumberFormat> deserialize_number_format(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, read_tagged(reader, kNumberFormatTag));
  // Errors in the buffered content are placed by the enclosing reader.
  if (tagged.variant == 0) {
    model::BuiltinNumFmt builtin;
    CMX_TRY(read_record(tagged.rest, kBuiltinSpec, [&](size_t, const Content& value) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(builtin.id, content_to_u16(value));
      return {};
    }));
    return model::NumberFormat(builtin);
  }
  model::CustomPattern custom;
  CMX_TRY(read_record(tagged.rest, kCustomSpec, [&](size_t, const Content& value) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(custom.pattern, content_to_string(value));
    return {};
  }));
  return model::NumberFormat(std::move(custom));
}

JsonResult<model::CellFormat> deserialize_cell_format(JsonReader& reader) {
  model::CellFormat format;
  CMX_TRY(read_record(reader, kCellFormatSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(format.font, deserialize_font(r)); return {}; }
      case 1: { CMX_ASSIGN_OR_RETURN(format.fill, deserialize_fill(r)); return {}; }
      case 2: { CMX_ASSIGN_OR_RETURN(format.border, deserialize_border(r)); return {}; }
      case 3: { CMX_ASSIGN_OR_RETURN(format.number_format, deserialize_number_format(r)); return {}; }
      default: { CMX_ASSIGN_OR_RETURN(format.alignment, deserialize_alignment(r)); return {}; }
    }
  }));
  return format;
}

JsonResult<model::CellFormat> parse_cell_format(std::string_view text) {
  return read_json_text(text, [](JsonReader& reader) { return deserialize_cell_format(reader); });
}

}  // namespace cmx::json
