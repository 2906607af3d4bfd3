// Cells and rectangles as the agent requests and answers name them, and cell
// values in both directions. Rows and columns are zero-based; whether they
// lie on a sheet is decided when a target is resolved, not here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
#include "model/cell_value.h"

namespace cmx::json {

struct CellPosition {
  uint32_t row = 0;
  uint32_t col = 0;
  friend bool operator==(const CellPosition&, const CellPosition&) = default;
};

struct RangeAddressA1 {
  std::string a1;  // taken as given; parsed when the target is resolved
  friend bool operator==(const RangeAddressA1&, const RangeAddressA1&) = default;
};
struct RangeAddressRowCol {
  CellPosition start;  // top-left, included
  CellPosition end;    // bottom-right, included
  friend bool operator==(const RangeAddressRowCol&, const RangeAddressRowCol&) = default;
};
using RangeAddress = std::variant<RangeAddressA1, RangeAddressRowCol>;

struct RangeTarget {
  std::string sheet_id;
  RangeAddress range;
  friend bool operator==(const RangeTarget&, const RangeTarget&) = default;
};

// One cell named in an answer; written only.
struct CellLocation {
  std::string sheet_id;
  uint32_t row = 0;
  uint32_t col = 0;
  std::string a1;  // relative A1 text of (row, col)
  friend bool operator==(const CellLocation&, const CellLocation&) = default;
};
// The location of (row, col) with its A1 text.
CellLocation make_cell_location(std::string sheet_id, uint32_t row, uint32_t col);

struct ReadRequest {
  std::vector<RangeTarget> ranges;
  friend bool operator==(const ReadRequest&, const ReadRequest&) = default;
};

struct FindRequest {
  std::string text;
  std::optional<std::vector<std::string>> sheet_ids;
  std::optional<uint32_t> limit;
  friend bool operator==(const FindRequest&, const FindRequest&) = default;
};

// One entry of the receipts of an apply answer.
struct StepReceipt {
  uint32_t step_index = 0;
  bool changed = false;
  RangeTarget target;
  std::vector<CellLocation> changed_cells;
  friend bool operator==(const StepReceipt&, const StepReceipt&) = default;
};

// --- readers ---------------------------------------------------------------------

JsonResult<model::CellValue> cell_value_from_json_value(const JsonValue& value);
JsonResult<model::CellErrorCode> deserialize_cell_error_code_from_content(const Content& content);
JsonResult<CellPosition> deserialize_cell_position_from_content(const Content& content);
// From text the tag is a word; from a buffered value it may also be the
// variant's index.
JsonResult<RangeAddress> deserialize_range_address(JsonReader& reader);
JsonResult<RangeAddress> deserialize_range_address_from_content(const Content& content);
JsonResult<RangeTarget> deserialize_range_target(JsonReader& reader);
JsonResult<RangeTarget> deserialize_range_target_from_content(const Content& content);
// "[" ... "]" of targets, each read from the text.
JsonResult<std::vector<RangeTarget>> deserialize_range_target_list(JsonReader& reader);
JsonResult<ReadRequest> deserialize_read_request(JsonReader& reader);
JsonResult<FindRequest> deserialize_find_request(JsonReader& reader);

// --- writers ---------------------------------------------------------------------

// Value trees: keys come out in byte order.
JsonValue cell_value_to_json_value(const model::CellValue& value);
void value_map_insert_cell_position(JsonObject& object, std::string_view key, const CellPosition& position);
JsonValue range_target_to_json_value(const RangeTarget& target);
JsonValue cell_location_to_json_value(const CellLocation& location);

// Compact text in declaration order, with its counters (ByteCounter).
template <typename Sink>
void serialize_cell_location(detail::CompactEmitter<Sink>& w, const CellLocation& location);
template <typename Sink>
void write_field_cell_locations(detail::CompactEmitter<Sink>& w, std::string_view name,
                                std::span<const CellLocation> locations);
template <typename Sink>
void serialize_range_target(detail::CompactEmitter<Sink>& w, const RangeTarget& target);
template <typename Sink>
void write_step_receipt(detail::CompactEmitter<Sink>& w, const StepReceipt& receipt);

}  // namespace cmx::json
