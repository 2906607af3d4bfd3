#include "json/sheet_records.h"

#include "json/rules.h"

namespace cmx::json {

namespace {

using model::AnchorCell;
using model::ChartReference;
using model::SheetChart;
using model::SheetHyperlink;

template <typename Sink>
using Emitter = detail::CompactEmitter<Sink>;

constexpr std::string_view kAnchorWords[] = {"twoCell", "oneCell", "absolute"};
constexpr std::string_view kReferenceWords[] = {"seriesName", "categories", "values", "bubbleSize",
                                                "title",      "dataLabels", "other"};

constexpr uint32_t kLastRow = 1048575;
constexpr uint32_t kLastColumn = 16383;

template <typename Sink>
void write_anchor_cell(Emitter<Sink>& w, std::string_view name, const AnchorCell& cell) {
  w.field_anchor_cell(name, cell.col, cell.colOff, cell.row, cell.rowOff);
}

template <typename Sink>
void write_anchor(Emitter<Sink>& w, const model::ChartAnchor& anchor) {
  w.begin_object();
  w.field_kind(kAnchorWords[anchor.index()]);
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&anchor)) {
    write_anchor_cell(w, "from", two->from);
    write_anchor_cell(w, "to", two->to);
    w.field_str("edit_as", kAnchorWords[static_cast<size_t>(two->edit_as)]);
  } else if (const auto* one = std::get_if<model::OneCellAnchor>(&anchor)) {
    write_anchor_cell(w, "from", one->from);
    w.field_extent(one->extent.cx, one->extent.cy);
  } else {
    const auto& absolute = std::get<model::AbsoluteAnchor>(anchor);
    w.key("pos");
    w.begin_object();
    w.field_i64("x", absolute.pos.x);
    w.field_i64("y", absolute.pos.y);
    w.end_object();
    w.field_extent(absolute.extent.cx, absolute.extent.cy);
  }
  w.end_object();
}

std::optional<std::string_view> optional_view(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return std::string_view(*text);
}

}  // namespace

// --- writers ---------------------------------------------------------------------

template <typename Sink>
void serialize_cell_ref(Emitter<Sink>& w, const model::CellRef& cell) {
  w.begin_object();
  w.field_u32("row", cell.row);
  w.field_u32("col", cell.col);
  if (cell.abs_row) w.field_bool("abs_row", true);
  if (cell.abs_col) w.field_bool("abs_col", true);
  w.end_object();
}

template <typename Sink>
void serialize_sheet_hyperlink_list(Emitter<Sink>& w, std::span<const SheetHyperlink> hyperlinks) {
  w.begin_array();
  for (const SheetHyperlink& link : hyperlinks) {
    w.begin_element();
    w.begin_object();
    w.key("range");
    w.begin_object();
    w.key("start");
    serialize_cell_ref(w, link.range.start);
    w.key("end");
    serialize_cell_ref(w, link.range.end);
    w.end_object();
    w.field_optional_string("external_target", optional_view(link.external_target));
    w.field_optional_string("location", optional_view(link.location));
    w.field_optional_string("tooltip", optional_view(link.tooltip));
    w.field_optional_string("display", optional_view(link.display));
    w.end_object();
  }
  w.end_array();
}

template <typename Sink>
void serialize_chart_reference(Emitter<Sink>& w, const ChartReference& ref) {
  w.begin_object();
  w.field_kind(kReferenceWords[static_cast<size_t>(ref.kind)]);
  w.field_str("formula", ref.formula);
  w.end_object();
}

template <typename Sink>
void serialize_sheet_chart(Emitter<Sink>& w, const SheetChart& chart) {
  w.begin_object();
  w.field_str("part", chart.part);
  w.field_str("drawing", chart.drawing);
  w.key("anchorIndex");
  w.value_u64(chart.anchor_index);
  w.key("anchor");
  write_anchor(w, chart.anchor);
  w.key("refs");
  w.begin_array();
  for (const ChartReference& ref : chart.refs) {
    w.begin_element();
    serialize_chart_reference(w, ref);
  }
  w.end_array();
  w.end_object();
}

template <typename Sink>
void serialize_sheet_chart_list(Emitter<Sink>& w, std::span<const SheetChart> charts) {
  w.begin_array();
  for (const SheetChart& chart : charts) {
    w.begin_element();
    serialize_sheet_chart(w, chart);
  }
  w.end_array();
}

#define CMX_SHEET_WRITERS(Sink)                                                              \
  template void serialize_cell_ref(Emitter<Sink>&, const model::CellRef&);                   \
  template void serialize_sheet_hyperlink_list(Emitter<Sink>&, std::span<const SheetHyperlink>); \
  template void serialize_chart_reference(Emitter<Sink>&, const ChartReference&);            \
  template void serialize_sheet_chart(Emitter<Sink>&, const SheetChart&);                    \
  template void serialize_sheet_chart_list(Emitter<Sink>&, std::span<const SheetChart>);
CMX_SHEET_WRITERS(detail::TextSink)
CMX_SHEET_WRITERS(detail::CountSink)
#undef CMX_SHEET_WRITERS

std::string sheet_hyperlinks_to_json(std::span<const SheetHyperlink> hyperlinks) {
  CompactWriter writer;
  serialize_sheet_hyperlink_list(writer, hyperlinks);
  return writer.take();
}

std::string sheet_charts_to_json(std::span<const SheetChart> charts) {
  CompactWriter writer;
  serialize_sheet_chart_list(writer, charts);
  return writer.take();
}

// --- readers ---------------------------------------------------------------------

namespace {

// The record's own refusals are placed where the reader stands.
JsonError refuse(const JsonReader& reader, std::string_view message) {
  return reader.fix_position(custom_error(std::string(message)));
}

// Only an object is accepted here (no array form).
JsonResult<void> expect_object(JsonReader& reader, std::string_view expected) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek != '{') return unexpected(reader.peek_invalid_type(expected));
  return {};
}

JsonResult<std::string> read_bounded_string(JsonReader& reader, size_t max_bytes,
                                            std::string_view too_long) {
  CMX_ASSIGN_OR_RETURN(std::string text, reader.read_string());
  if (text.size() > max_bytes) return unexpected(refuse(reader, too_long));
  return text;
}

// A word of `words` given as a string; another JSON type is an invalid type
// expecting `expected`, another word the record's own message.
JsonResult<size_t> read_named_word(JsonReader& reader, std::span<const std::string_view> words,
                                   std::string_view expected, std::string_view unknown) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek != '"') return unexpected(reader.peek_invalid_type(expected));
  CMX_ASSIGN_OR_RETURN(std::string word, reader.parse_string());
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == word) return i;
  }
  return unexpected(refuse(reader, unknown));
}

constexpr FieldSpec kCellRefFields[] = {{"row"},
                                        {"col"},
                                        {"abs_row", Presence::Defaulted, /*array_default=*/true},
                                        {"abs_col", Presence::Defaulted, true}};
constexpr RecordSpec kCellRefSpec{"struct CellRef", kCellRefFields, /*ignore_unknown=*/true};

constexpr FieldSpec kRangeFields[] = {{"start"}, {"end"}};
constexpr RecordSpec kRangeSpec{"struct CellRange", kRangeFields, true};

constexpr FieldSpec kHyperlinkFields[] = {{"range"},
                                          {"external_target", Presence::Optional},
                                          {"location", Presence::Optional},
                                          {"tooltip", Presence::Optional},
                                          {"display", Presence::Optional}};
constexpr RecordSpec kHyperlinkSpec{"a sheet hyperlink", kHyperlinkFields, true};

constexpr FieldSpec kAnchorCellFields[] = {{"col"}, {"colOff"}, {"row"}, {"rowOff"}};
constexpr RecordSpec kAnchorCellSpec{"struct AnchorCell", kAnchorCellFields, true};

constexpr FieldSpec kPosFields[] = {{"x"}, {"y"}};
constexpr RecordSpec kPosSpec{"struct AnchorPos", kPosFields, true};
constexpr FieldSpec kExtentFields[] = {{"cx"}, {"cy"}};
constexpr RecordSpec kExtentSpec{"struct AnchorExtent", kExtentFields, true};

// Presence is checked after the object, in the records' own order.
constexpr FieldSpec kAnchorFields[] = {{"kind", Presence::Defaulted},   {"from", Presence::Defaulted},
                                       {"to", Presence::Defaulted},     {"edit_as", Presence::Defaulted},
                                       {"pos", Presence::Defaulted},    {"extent", Presence::Defaulted}};
constexpr RecordSpec kAnchorSpec{"a chart anchor", kAnchorFields, true};

constexpr FieldSpec kReferenceFields[] = {{"kind"}, {"formula"}};
constexpr RecordSpec kReferenceSpec{"a chart reference", kReferenceFields, true};

constexpr FieldSpec kChartFields[] = {{"part", Presence::Defaulted},
                                      {"drawing", Presence::Defaulted},
                                      {"anchorIndex", Presence::Defaulted},
                                      {"anchor", Presence::Defaulted},
                                      {"refs", Presence::Defaulted}};
constexpr RecordSpec kChartSpec{"a sheet chart", kChartFields, true};

bool has(FieldMask seen, size_t index) { return (seen & (FieldMask{1} << index)) != 0; }

JsonResult<model::CellRange> deserialize_cell_range(JsonReader& reader) {
  model::CellRange range;
  CMX_TRY(read_record(reader, kRangeSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(model::CellRef cell, deserialize_cell_ref(r));
    (index == 0 ? range.start : range.end) = cell;
    return {};
  }));
  return range;
}

JsonResult<SheetHyperlink> deserialize_sheet_hyperlink(JsonReader& reader) {
  CMX_TRY(expect_object(reader, kHyperlinkSpec.expected));
  SheetHyperlink link;
  std::optional<std::string>* texts[] = {&link.external_target, &link.location, &link.tooltip,
                                         &link.display};
  CMX_TRY(read_record(reader, kHyperlinkSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(link.range, deserialize_cell_range(r));
      return {};
    }
    CMX_ASSIGN_OR_RETURN(bool is_null, r.read_null_if_next());
    if (is_null) return {};
    CMX_ASSIGN_OR_RETURN(*texts[index - 1],
                         read_bounded_string(r, kMaxSheetHyperlinkFieldBytes,
                                             "sheet hyperlink field exceeds its length limit"));
    return {};
  }));
  const model::CellRange& range = link.range;
  if (range.end.col > kLastColumn || range.end.row > kLastRow || range.start.row > range.end.row ||
      range.start.col > range.end.col) {
    return unexpected(refuse(reader, "sheet hyperlink range is out of bounds"));
  }
  bool has_target = link.external_target && !link.external_target->empty();
  bool has_location = link.location && !link.location->empty();
  if (!has_target && !has_location) return unexpected(refuse(reader, "sheet hyperlink has no destination"));
  return link;
}

JsonResult<model::AnchorPos> deserialize_anchor_pos(JsonReader& reader) {
  model::AnchorPos pos;
  CMX_TRY(read_record(reader, kPosSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(int64_t value, r.read_i64());
    (index == 0 ? pos.x : pos.y) = value;
    return {};
  }));
  return pos;
}

JsonResult<model::AnchorExtent> deserialize_anchor_extent(JsonReader& reader) {
  model::AnchorExtent extent;
  CMX_TRY(read_record(reader, kExtentSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(int64_t value, r.read_i64());
    (index == 0 ? extent.cx : extent.cy) = value;
    return {};
  }));
  return extent;
}

JsonResult<model::ChartAnchor> deserialize_chart_anchor(JsonReader& reader) {
  CMX_TRY(expect_object(reader, kAnchorSpec.expected));
  size_t kind = 0;
  size_t edit_as = 0;
  AnchorCell from, to;
  model::AnchorPos pos;
  model::AnchorExtent extent;
  CMX_ASSIGN_OR_RETURN(
      FieldMask seen, read_record(reader, kAnchorSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
        switch (index) {
          case 0: {
            CMX_ASSIGN_OR_RETURN(kind, read_named_word(r, kAnchorWords, "a chart anchor kind",
                                                       "unknown chart anchor kind"));
            return {};
          }
          case 1: { CMX_ASSIGN_OR_RETURN(from, deserialize_anchor_cell(r)); return {}; }
          case 2: { CMX_ASSIGN_OR_RETURN(to, deserialize_anchor_cell(r)); return {}; }
          case 3: {
            CMX_ASSIGN_OR_RETURN(edit_as, read_named_word(r, kAnchorWords, "a chart anchor edit mode",
                                                          "unknown chart anchor edit mode"));
            return {};
          }
          case 4: { CMX_ASSIGN_OR_RETURN(pos, deserialize_anchor_pos(r)); return {}; }
          default: { CMX_ASSIGN_OR_RETURN(extent, deserialize_anchor_extent(r)); return {}; }
        }
      }));
  // The members each kind needs, in the order their absence is reported.
  static constexpr size_t kNeeds[3][3] = {{1, 2, 3}, {1, 5, 0}, {4, 5, 0}};
  if (!has(seen, 0)) return unexpected(reader.fix_position(missing_field("kind")));
  for (size_t need : kNeeds[kind]) {
    if (need != 0 && !has(seen, need)) {
      return unexpected(reader.fix_position(missing_field(kAnchorFields[need].name)));
    }
  }
  switch (kind) {
    case 0: return model::ChartAnchor(
        model::TwoCellAnchor{static_cast<model::ChartAnchorEditMode>(edit_as), from, to});
    case 1: return model::ChartAnchor(model::OneCellAnchor{from, extent});
    default: return model::ChartAnchor(model::AbsoluteAnchor{pos, extent});
  }
}

JsonResult<ChartReference> deserialize_chart_reference(JsonReader& reader) {
  CMX_TRY(expect_object(reader, kReferenceSpec.expected));
  ChartReference ref;
  CMX_TRY(read_record(reader, kReferenceSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(size_t kind, read_named_word(r, kReferenceWords, "a chart reference kind",
                                                        "unknown chart reference kind"));
      ref.kind = static_cast<model::ChartReferenceKind>(kind);
      return {};
    }
    CMX_ASSIGN_OR_RETURN(ref.formula, read_bounded_string(r, kMaxChartFormulaBytes,
                                                          "sheet chart reference exceeds its length limit"));
    return {};
  }));
  return ref;
}

}  // namespace

JsonResult<model::CellRef> deserialize_cell_ref(JsonReader& reader) {
  model::CellRef cell;
  CMX_TRY(read_record(reader, kCellRefSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index < 2) {
      CMX_ASSIGN_OR_RETURN(uint32_t value, r.read_u32());
      (index == 0 ? cell.row : cell.col) = value;
      return {};
    }
    CMX_ASSIGN_OR_RETURN(bool flag, r.read_bool());
    (index == 2 ? cell.abs_row : cell.abs_col) = flag;
    return {};
  }));
  return cell;
}

JsonResult<AnchorCell> deserialize_anchor_cell(JsonReader& reader) {
  AnchorCell cell;
  CMX_TRY(read_record(reader, kAnchorCellSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(cell.col, r.read_u32()); return {}; }
      case 1: { CMX_ASSIGN_OR_RETURN(cell.colOff, r.read_i64()); return {}; }
      case 2: { CMX_ASSIGN_OR_RETURN(cell.row, r.read_u32()); return {}; }
      default: { CMX_ASSIGN_OR_RETURN(cell.rowOff, r.read_i64()); return {}; }
    }
  }));
  return cell;
}

JsonResult<SheetChart> deserialize_sheet_chart(JsonReader& reader) {
  CMX_TRY(expect_object(reader, kChartSpec.expected));
  SheetChart chart;
  CMX_ASSIGN_OR_RETURN(
      FieldMask seen, read_record(reader, kChartSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
        switch (index) {
          case 0:
          case 1: {
            CMX_ASSIGN_OR_RETURN(std::string path, read_bounded_string(r, kMaxChartPathBytes,
                                                                       "sheet chart exceeds its size limit"));
            (index == 0 ? chart.part : chart.drawing) = std::move(path);
            return {};
          }
          case 2: { CMX_ASSIGN_OR_RETURN(chart.anchor_index, r.read_u64()); return {}; }
          case 3: { CMX_ASSIGN_OR_RETURN(chart.anchor, deserialize_chart_anchor(r)); return {}; }
          default:
            return read_list_expecting(r, "an array of chart references", [&](JsonReader& in) -> JsonResult<void> {
              if (chart.refs.size() == kMaxChartReferences) {
                return unexpected(refuse(in, "sheet chart exceeds its size limit"));
              }
              CMX_ASSIGN_OR_RETURN(ChartReference ref, deserialize_chart_reference(in));
              chart.refs.push_back(std::move(ref));
              return {};
            });
        }
      }));
  for (size_t index : {0, 1}) {
    if (!has(seen, index)) return unexpected(reader.fix_position(missing_field(kChartFields[index].name)));
  }
  if (chart.part.empty() || chart.drawing.empty()) {
    return unexpected(refuse(reader, "sheet chart does not name its part and drawing"));
  }
  for (size_t index : {2, 3, 4}) {
    if (!has(seen, index)) return unexpected(reader.fix_position(missing_field(kChartFields[index].name)));
  }
  return chart;
}

namespace {

// Reads a whole stored list: the size test runs before any parsing.
template <typename T, typename F>
Result<std::vector<T>, std::string> decode_list(std::string_view text, size_t max_bytes,
                                                std::string_view too_large, std::string_view prefix,
                                                std::string_view expected, size_t max_count,
                                                std::string_view too_many, F&& read_element) {
  if (text.size() > max_bytes) return unexpected(std::string(too_large));
  std::vector<T> items;
  auto read = read_json_text(text, [&](JsonReader& reader) -> JsonResult<void> {
    return read_list_expecting(reader, expected, [&](JsonReader& r) -> JsonResult<void> {
      if (items.size() == max_count) return unexpected(refuse(r, too_many));
      CMX_ASSIGN_OR_RETURN(T item, read_element(r));
      items.push_back(std::move(item));
      return {};
    });
  });
  if (!read) return unexpected(std::string(prefix) + json_error_text(read.error()));
  return items;
}

}  // namespace

Result<std::vector<SheetHyperlink>, std::string> decode_sheet_hyperlinks(std::string_view text) {
  return decode_list<SheetHyperlink>(text, kMaxSheetHyperlinksTextBytes,
                                     "sheet hyperlink state exceeds its size limit",
                                     "sheet hyperlinks are invalid: ", "an array of sheet hyperlinks",
                                     kMaxSheetHyperlinks, "sheet has too many hyperlinks",
                                     deserialize_sheet_hyperlink);
}

Result<std::vector<SheetChart>, std::string> decode_sheet_charts(std::string_view text) {
  return decode_list<SheetChart>(text, kMaxSheetChartsTextBytes, "sheet chart state exceeds its size limit",
                                 "sheet charts are invalid: ", "an array of sheet charts", kMaxSheetCharts,
                                 "sheet has too many charts", deserialize_sheet_chart);
}

}  // namespace cmx::json
