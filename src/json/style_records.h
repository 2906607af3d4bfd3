// The one JSON form of the style records. The writers are exact to the byte:
// their text is hashed and compared between replicas (cell-format ids, the
// base fingerprint). The readers are lenient (any key order, array forms,
// unknown keys skipped); a caller that needs the canonical text writes what
// it read again and compares.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/reader.h"
#include "json/writer.h"
#include "model/styles.h"

namespace cmx::json {

// --- writers: form 1 through a CompactWriter, form 2 through a ByteCounter ----
// Each writes one value where a value may stand (after a key, or after
// begin_element() in an array).

template <typename Sink>
void serialize_color(detail::CompactEmitter<Sink>& w, const model::Color& color);
template <typename Sink>
void serialize_fill(detail::CompactEmitter<Sink>& w, const model::Fill& fill);
template <typename Sink>
void serialize_border(detail::CompactEmitter<Sink>& w, const model::Border& border);
template <typename Sink>
void serialize_alignment(detail::CompactEmitter<Sink>& w, const model::Alignment& alignment);
template <typename Sink>
void serialize_font(detail::CompactEmitter<Sink>& w, const model::Font& font);
template <typename Sink>
void serialize_number_format(detail::CompactEmitter<Sink>& w, const model::NumberFormat& format);
template <typename Sink>
void serialize_cell_format(detail::CompactEmitter<Sink>& w, const model::CellFormat& format);
template <typename Sink>
void serialize_cell_xf(detail::CompactEmitter<Sink>& w, const model::CellXf& xf);
template <typename Sink>
void serialize_stylesheet(detail::CompactEmitter<Sink>& w, const model::StyleSheet& styles);

// Members: the key, then the optional record or null.
template <typename Sink>
void write_field_border_edge(detail::CompactEmitter<Sink>& w, std::string_view name,
                             const std::optional<model::BorderEdge>& edge);
template <typename Sink>
void write_field_color(detail::CompactEmitter<Sink>& w, const std::optional<model::Color>& color);

// Whole texts; the buffer starts at 128 bytes.
std::string cell_format_to_json(const model::CellFormat& format);
std::string stylesheet_to_json(const model::StyleSheet& styles);

// --- readers, the reader before a value ---------------------------------------------

JsonResult<model::Color> deserialize_color(JsonReader& reader);
JsonResult<model::Fill> deserialize_fill(JsonReader& reader);
JsonResult<model::BorderStyle> deserialize_border_style(JsonReader& reader);
// null gives none.
JsonResult<std::optional<model::BorderEdge>> deserialize_border_edge(JsonReader& reader);
JsonResult<model::Border> deserialize_border(JsonReader& reader);
JsonResult<model::Alignment> deserialize_alignment(JsonReader& reader);
JsonResult<model::Font> deserialize_font(JsonReader& reader);
// Tagged by "kind" ("builtin" with "id", "custom" with "pattern"); other keys
// are skipped.
JsonResult<model::NumberFormat> deserialize_number_format(JsonReader& reader);
JsonResult<model::CellFormat> deserialize_cell_format(JsonReader& reader);

// A whole text holding one cell format (whitespace may follow).
JsonResult<model::CellFormat> parse_cell_format(std::string_view text);

}  // namespace cmx::json
