#include "json/cell_records.h"

#include "json/rules.h"
#include "model/address.h"

namespace cmx::json {

namespace {

template <typename Sink>
using Emitter = detail::CompactEmitter<Sink>;

constexpr std::string_view kCellValueWords[] = {"empty", "number", "text", "bool", "error"};
constexpr TaggedSpec kCellValueTag{"CellValue", "kind", kCellValueWords};

constexpr FieldSpec kValueField[] = {{"value"}};
constexpr RecordSpec kNumberSpec{"struct variant CellValue::Number", kValueField, true};
constexpr RecordSpec kTextSpec{"struct variant CellValue::Text", kValueField, true};
constexpr RecordSpec kBoolSpec{"struct variant CellValue::Bool", kValueField, true};
constexpr RecordSpec kErrorSpec{"struct variant CellValue::Error", kValueField, true};

// The nine error texts in code order, as words.
constexpr std::string_view kErrorWords[] = {"#DIV/0!", "#N/A",   "#NAME?",  "#NULL!", "#NUM!",
                                            "#REF!",   "#VALUE!", "#SPILL!", "#CALC!"};
static_assert(std::size(kErrorWords) == model::kCellErrorCodeCount);

constexpr FieldSpec kPositionFields[] = {{"row"}, {"col"}};
constexpr RecordSpec kPositionSpec{"struct CellPosition", kPositionFields};

constexpr std::string_view kRangeWords[] = {"a1", "rowCol"};
constexpr TaggedSpec kRangeTagText{"RangeAddress", "kind", kRangeWords};
constexpr TaggedSpec kRangeTagContent{"RangeAddress", "kind", kRangeWords, /*allow_index=*/true};
constexpr FieldSpec kA1Fields[] = {{"a1"}};
constexpr RecordSpec kA1Spec{"struct variant RangeAddress::A1", kA1Fields};
constexpr FieldSpec kRowColFields[] = {{"start"}, {"end"}};
constexpr RecordSpec kRowColSpec{"struct variant RangeAddress::RowCol", kRowColFields};

constexpr FieldSpec kTargetFields[] = {{"sheetId"}, {"range"}};
constexpr RecordSpec kTargetSpec{"struct RangeTarget", kTargetFields};

constexpr FieldSpec kReadFields[] = {{"ranges", Presence::Defaulted, /*array_default=*/true}};
constexpr RecordSpec kReadSpec{"struct ReadRequest", kReadFields};

constexpr FieldSpec kFindFields[] = {
    {"text"}, {"sheetIds", Presence::Optional, true}, {"limit", Presence::Optional, true}};
constexpr RecordSpec kFindSpec{"struct FindRequest", kFindFields};

// The variant body of a range address, out of the entries left after the tag.
JsonResult<RangeAddress> range_address_body(const TaggedContent& tagged) {
  if (tagged.variant == 0) {
    RangeAddressA1 a1;
    CMX_TRY(read_record(tagged.rest, kA1Spec, [&](size_t, const Content& value) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(a1.a1, content_to_string(value));
      return {};
    }));
    return RangeAddress(std::move(a1));
  }
  RangeAddressRowCol row_col;
  CMX_TRY(read_record(tagged.rest, kRowColSpec, [&](size_t index, const Content& value) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(CellPosition position, deserialize_cell_position_from_content(value));
    (index == 0 ? row_col.start : row_col.end) = position;
    return {};
  }));
  return RangeAddress(row_col);
}

}  // namespace

CellLocation make_cell_location(std::string sheet_id, uint32_t row, uint32_t col) {
  std::string a1 = model::column_letters(col);
  append_json_u64(a1, uint64_t{row} + 1);
  return CellLocation{std::move(sheet_id), row, col, std::move(a1)};
}

// --- readers ---------------------------------------------------------------------

JsonResult<model::CellValue> cell_value_from_json_value(const JsonValue& value) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, tagged_from_value(value, kCellValueTag));
  model::CellValue result;
  auto read_value = [&](const RecordSpec& spec, auto&& convert) -> JsonResult<void> {
    CMX_TRY(read_record(tagged.rest, spec, [&](size_t, const Content& content) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(result, convert(content));
      return {};
    }));
    return {};
  };
  switch (tagged.variant) {
    case 0: CMX_TRY(read_unit_variant(tagged.rest)); break;
    case 1:
      CMX_TRY(read_value(kNumberSpec, [](const Content& c) -> JsonResult<model::CellValue> {
        CMX_ASSIGN_OR_RETURN(double number, content_to_f64(c));
        return model::CellValue::number(number);
      }));
      break;
    case 2:
      CMX_TRY(read_value(kTextSpec, [](const Content& c) -> JsonResult<model::CellValue> {
        if (c.kind() != Content::Kind::String) return unexpected(invalid_type(describe_content(c), "a string"));
        return model::CellValue::text(c.as_string());
      }));
      break;
    case 3:
      CMX_TRY(read_value(kBoolSpec, [](const Content& c) -> JsonResult<model::CellValue> {
        CMX_ASSIGN_OR_RETURN(bool flag, content_to_bool(c));
        return model::CellValue::boolean(flag);
      }));
      break;
    default:
      CMX_TRY(read_value(kErrorSpec, [](const Content& c) -> JsonResult<model::CellValue> {
        CMX_ASSIGN_OR_RETURN(model::CellErrorCode code, deserialize_cell_error_code_from_content(c));
        return model::CellValue::error(code);
      }));
  }
  return result;
}

JsonResult<model::CellErrorCode> deserialize_cell_error_code_from_content(const Content& content) {
  CMX_ASSIGN_OR_RETURN(size_t index, word_from_content(content, kErrorWords));
  return static_cast<model::CellErrorCode>(index);
}

JsonResult<CellPosition> deserialize_cell_position_from_content(const Content& content) {
  CellPosition position;
  CMX_TRY(read_record(content, kPositionSpec, [&](size_t index, const Content& value) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(uint32_t number, content_to_u32(value));
    (index == 0 ? position.row : position.col) = number;
    return {};
  }));
  return position;
}

JsonResult<RangeAddress> deserialize_range_address(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, read_tagged(reader, kRangeTagText));
  return range_address_body(tagged);
}

JsonResult<RangeAddress> deserialize_range_address_from_content(const Content& content) {
  CMX_ASSIGN_OR_RETURN(TaggedContent tagged, tagged_from_content(content, kRangeTagContent));
  return range_address_body(tagged);
}

JsonResult<RangeTarget> deserialize_range_target(JsonReader& reader) {
  RangeTarget target;
  CMX_TRY(read_record(reader, kTargetSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(target.sheet_id, r.read_string());
    } else {
      CMX_ASSIGN_OR_RETURN(target.range, deserialize_range_address(r));
    }
    return {};
  }));
  return target;
}

JsonResult<RangeTarget> deserialize_range_target_from_content(const Content& content) {
  RangeTarget target;
  CMX_TRY(read_record(content, kTargetSpec, [&](size_t index, const Content& value) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(target.sheet_id, content_to_string(value));
    } else {
      CMX_ASSIGN_OR_RETURN(target.range, deserialize_range_address_from_content(value));
    }
    return {};
  }));
  return target;
}

JsonResult<std::vector<RangeTarget>> deserialize_range_target_list(JsonReader& reader) {
  std::vector<RangeTarget> targets;
  CMX_TRY(read_list(reader, [&](JsonReader& in) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(RangeTarget target, deserialize_range_target(in));
    targets.push_back(std::move(target));
    return {};
  }));
  return targets;
}

JsonResult<ReadRequest> deserialize_read_request(JsonReader& reader) {
  ReadRequest request;
  CMX_TRY(read_record(reader, kReadSpec, [&](size_t, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(request.ranges, deserialize_range_target_list(r));
    return {};
  }));
  return request;
}

JsonResult<FindRequest> deserialize_find_request(JsonReader& reader) {
  FindRequest request;
  CMX_TRY(read_record(reader, kFindSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(request.text, r.read_string());
      return {};
    }
    CMX_ASSIGN_OR_RETURN(bool is_null, r.read_null_if_next());
    if (is_null) return {};
    if (index == 2) {
      CMX_ASSIGN_OR_RETURN(request.limit, r.read_u32());
      return {};
    }
    std::vector<std::string>& ids = request.sheet_ids.emplace();
    return read_list(r, [&](JsonReader& in) -> JsonResult<void> {
      CMX_ASSIGN_OR_RETURN(std::string id, in.read_string());
      ids.push_back(std::move(id));
      return {};
    });
  }));
  return request;
}

// --- writers ---------------------------------------------------------------------

JsonValue cell_value_to_json_value(const model::CellValue& value) {
  JsonObject object;
  value_map_insert_kind(object, kCellValueWords[static_cast<size_t>(value.kind())]);
  switch (value.kind()) {
    case model::CellValue::Kind::Empty: break;
    case model::CellValue::Kind::Number: value_map_insert_f64(object, "value", value.as_number()); break;
    case model::CellValue::Kind::Text: value_map_insert_str(object, "value", value.as_text()); break;
    case model::CellValue::Kind::Bool: value_map_insert_bool(object, "value", value.as_bool()); break;
    case model::CellValue::Kind::Error: value_map_insert_error_value(object, value.as_error()); break;
  }
  return JsonValue(std::move(object));
}

void value_map_insert_cell_position(JsonObject& object, std::string_view key, const CellPosition& position) {
  JsonObject corner;
  value_map_insert_u32(corner, "row", position.row);
  value_map_insert_u32(corner, "col", position.col);
  object.insert(std::string(key), JsonValue(std::move(corner)));
}

JsonValue range_target_to_json_value(const RangeTarget& target) {
  JsonObject range;
  if (const auto* a1 = std::get_if<RangeAddressA1>(&target.range)) {
    value_map_insert_kind(range, kRangeWords[0]);
    value_map_insert_str(range, "a1", a1->a1);
  } else {
    const auto& row_col = std::get<RangeAddressRowCol>(target.range);
    value_map_insert_kind(range, kRangeWords[1]);
    value_map_insert_cell_position(range, "start", row_col.start);
    value_map_insert_cell_position(range, "end", row_col.end);
  }
  JsonObject object;
  object.insert("range", JsonValue(std::move(range)));
  value_map_insert_str(object, "sheetId", target.sheet_id);
  return JsonValue(std::move(object));
}

JsonValue cell_location_to_json_value(const CellLocation& location) {
  JsonObject object;
  value_map_insert_str(object, "sheetId", location.sheet_id);
  value_map_insert_u32(object, "row", location.row);
  value_map_insert_u32(object, "col", location.col);
  value_map_insert_str(object, "a1", location.a1);
  return JsonValue(std::move(object));
}

template <typename Sink>
void serialize_cell_location(Emitter<Sink>& w, const CellLocation& location) {
  w.begin_object();
  w.field_str("sheetId", location.sheet_id);
  w.field_u32("row", location.row);
  w.field_u32("col", location.col);
  w.field_str("a1", location.a1);
  w.end_object();
}

template <typename Sink>
void write_field_cell_locations(Emitter<Sink>& w, std::string_view name,
                                std::span<const CellLocation> locations) {
  w.field_list(name, locations, [&](const CellLocation& location) { serialize_cell_location(w, location); });
}

template <typename Sink>
void serialize_range_target(Emitter<Sink>& w, const RangeTarget& target) {
  w.begin_object();
  w.field_str("sheetId", target.sheet_id);
  w.key("range");
  w.begin_object();
  if (const auto* a1 = std::get_if<RangeAddressA1>(&target.range)) {
    w.field_kind(kRangeWords[0]);
    w.field_str("a1", a1->a1);
  } else {
    const auto& row_col = std::get<RangeAddressRowCol>(target.range);
    w.field_kind(kRangeWords[1]);
    w.field_cell_position("start", row_col.start.row, row_col.start.col);
    w.field_cell_position("end", row_col.end.row, row_col.end.col);
  }
  w.end_object();
  w.end_object();
}

template <typename Sink>
void write_step_receipt(Emitter<Sink>& w, const StepReceipt& receipt) {
  w.begin_object();
  w.field_u32("stepIndex", receipt.step_index);
  w.field_bool("changed", receipt.changed);
  w.key("target");
  serialize_range_target(w, receipt.target);
  write_field_cell_locations(w, "changedCells", receipt.changed_cells);
  w.end_object();
}

#define CMX_CELL_WRITERS(Sink)                                                                 \
  template void serialize_cell_location(Emitter<Sink>&, const CellLocation&);                  \
  template void write_field_cell_locations(Emitter<Sink>&, std::string_view,                   \
                                           std::span<const CellLocation>);                     \
  template void serialize_range_target(Emitter<Sink>&, const RangeTarget&);                    \
  template void write_step_receipt(Emitter<Sink>&, const StepReceipt&);
CMX_CELL_WRITERS(detail::TextSink)
CMX_CELL_WRITERS(detail::CountSink)
#undef CMX_CELL_WRITERS

}  // namespace cmx::json
