// Compact JSON output in its three forms: member writers straight into one
// text buffer (declaration order), byte counters that add up exactly what
// those writers would write, and value trees written with their keys in byte
// order. No whitespace anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/float_text.h"
#include "json/value.h"
#include "model/cell_value.h"

namespace cmx::json {

// --- text pieces --------------------------------------------------------------

// A double quote, the escaped bytes, a double quote.
void append_json_string(std::string& out, std::string_view text);
void append_json_u64(std::string& out, uint64_t value);
void append_json_i64(std::string& out, int64_t value);

// The bytes the pieces above would write.
uint64_t json_string_length(std::string_view text);
uint64_t json_u64_length(uint64_t value);
uint64_t json_i64_length(int64_t value);
uint64_t json_f64_length(double value);

// --- value trees -------------------------------------------------------------------

void write_json_value(std::string& out, const JsonValue& value);
void write_json_array(std::string& out, const JsonValue::Array& items);
// One member of a tree object: a comma unless first, the key, ":", the value.
void write_json_object_entry(std::string& out, std::string_view key, const JsonValue& value, bool first);
// The compact text of a tree; the buffer starts at 128 bytes.
std::string json_value_to_string(const JsonValue& value);
// The length json_value_to_string would return.
uint64_t json_value_length(const JsonValue& value);

// --- member writers and counters -----------------------------------------------------

namespace detail {

inline constexpr size_t kCompactStartCapacity = 128;

// Where the output goes: a text buffer, or a running byte total.
struct TextSink {
  std::string out;
  void put(char c) { out.push_back(c); }
  void put(std::string_view text) { out.append(text); }
  void put_string(std::string_view text) { append_json_string(out, text); }
  void put_u64(uint64_t value) { append_json_u64(out, value); }
  void put_i64(int64_t value) { append_json_i64(out, value); }
  void put_f64(double value) { append_json_f64(out, value); }
};

struct CountSink {
  uint64_t total = 0;
  void put(char) { total += 1; }
  void put(std::string_view text) { total += text.size(); }
  void put_string(std::string_view text) { total += json_string_length(text); }
  void put_u64(uint64_t value) { total += json_u64_length(value); }
  void put_i64(int64_t value) { total += json_i64_length(value); }
  void put_f64(double value) { total += json_f64_length(value); }
};

// One implementation behind the writers and the counters, so that their
// results cannot drift apart. Tracks, per open object or array, whether a
// member has been written yet.
template <typename Sink>
class CompactEmitter {
 public:
  static constexpr int kMaxDepth = 64;

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }
  // Before an element of the open array: a comma unless it is the first.
  void begin_element() { separator(); }
  // A comma unless first, the quoted key, a colon.
  void key(std::string_view name) {
    separator();
    sink_.put_string(name);
    sink_.put(':');
  }

  void field_str(std::string_view name, std::string_view value) {
    key(name);
    sink_.put_string(value);
  }
  void field_optional_string(std::string_view name, std::optional<std::string_view> value) {
    key(name);
    if (value) sink_.put_string(*value); else sink_.put(std::string_view("null"));
  }
  void field_bool(std::string_view name, bool value) {
    key(name);
    sink_.put(value ? std::string_view("true") : std::string_view("false"));
  }
  void field_u32(std::string_view name, uint32_t value) {
    key(name);
    sink_.put_u64(value);
  }
  void field_optional_u32(std::string_view name, std::optional<uint32_t> value) {
    key(name);
    if (value) sink_.put_u64(*value); else sink_.put(std::string_view("null"));
  }
  void field_i64(std::string_view name, int64_t value) {
    key(name);
    sink_.put_i64(value);
  }
  void field_f64(std::string_view name, double value) {
    key(name);
    sink_.put_f64(value);
  }
  void field_kind(std::string_view word) { field_str("kind", word); }
  void string_array(std::span<const std::string> values) {
    sink_.put('[');
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) sink_.put(',');
      sink_.put_string(values[i]);
    }
    sink_.put(']');
  }
  void field_string_list(std::string_view name, std::span<const std::string> values) {
    key(name);
    string_array(values);
  }
  // A named array, each item written by `write_item(item)`.
  template <typename Items, typename Write>
  void field_list(std::string_view name, const Items& items, Write&& write_item) {
    key(name);
    begin_array();
    for (const auto& item : items) {
      begin_element();
      write_item(item);
    }
    end_array();
  }
  void field_cell_position(std::string_view name, uint32_t row, uint32_t col) {
    key(name);
    begin_object();
    field_u32("row", row);
    field_u32("col", col);
    end_object();
  }
  void field_anchor_cell(std::string_view name, uint32_t col, int64_t col_off, uint32_t row,
                         int64_t row_off) {
    key(name);
    begin_object();
    field_u32("col", col);
    field_i64("colOff", col_off);
    field_u32("row", row);
    field_i64("rowOff", row_off);
    end_object();
  }
  void field_extent(int64_t cx, int64_t cy) {
    key("extent");
    begin_object();
    field_i64("cx", cx);
    field_i64("cy", cy);
    end_object();
  }

  // Bare values: after key(), or after begin_element() in an array.
  void value_null() { sink_.put(std::string_view("null")); }
  void value_str(std::string_view value) { sink_.put_string(value); }
  void value_u64(uint64_t value) { sink_.put_u64(value); }
  void value_f64(double value) { sink_.put_f64(value); }

 protected:
  Sink sink_;

 private:
  void open(char bracket) {
    if (depth_ >= kMaxDepth) fail_invariant("compact JSON writer nested too deep");
    sink_.put(bracket);
    written_ &= ~(uint64_t{1} << depth_);
    ++depth_;
  }
  void close(char bracket) {
    if (depth_ == 0) fail_invariant("compact JSON writer closed more than it opened");
    --depth_;
    sink_.put(bracket);
  }
  void separator() {
    if (depth_ == 0) return;
    uint64_t bit = uint64_t{1} << (depth_ - 1);
    if (written_ & bit) sink_.put(',');
    written_ |= bit;
  }

  uint64_t written_ = 0;
  int depth_ = 0;
};

}  // namespace detail

// Form 1: records written member by member, in declaration order.
class CompactWriter : public detail::CompactEmitter<detail::TextSink> {
 public:
  CompactWriter() { sink_.out.reserve(detail::kCompactStartCapacity); }

  const std::string& text() const { return sink_.out; }
  std::string take() { return std::move(sink_.out); }
  // For values written without a member writer (a tree inside a record).
  std::string& buffer() { return sink_.out; }

  void write_field_str(std::string_view name, std::string_view value) { field_str(name, value); }
  void write_field_string(std::string_view name, const std::string& value) { field_str(name, value); }
  void write_field_optional_string(std::string_view name, std::optional<std::string_view> value) {
    field_optional_string(name, value);
  }
  void write_field_bool(std::string_view name, bool value) { field_bool(name, value); }
  void write_field_u32(std::string_view name, uint32_t value) { field_u32(name, value); }
  void write_field_optional_u32(std::string_view name, std::optional<uint32_t> value) {
    field_optional_u32(name, value);
  }
  void write_field_i64(std::string_view name, int64_t value) { field_i64(name, value); }
  void write_field_f64(std::string_view name, double value) { field_f64(name, value); }
  void write_field_kind(std::string_view word) { field_kind(word); }
  void write_string_array(std::span<const std::string> values) { string_array(values); }
  void write_field_string_list(std::string_view name, std::span<const std::string> values) {
    field_string_list(name, values);
  }
  void write_field_cell_position(std::string_view name, uint32_t row, uint32_t col) {
    field_cell_position(name, row, col);
  }
  void write_field_anchor_cell(std::string_view name, uint32_t col, int64_t col_off, uint32_t row,
                               int64_t row_off) {
    field_anchor_cell(name, col, col_off, row, row_off);
  }
  void write_field_extent(int64_t cx, int64_t cy) { field_extent(cx, cy); }
};

// Form 2: the bytes form 1 would write, counted without writing.
class ByteCounter : public detail::CompactEmitter<detail::CountSink> {
 public:
  uint64_t total() const { return sink_.total; }
  void add(uint64_t bytes) { sink_.total += bytes; }

  void count_field_str(std::string_view name, std::string_view value) { field_str(name, value); }
  void count_field_optional_string(std::string_view name, std::optional<std::string_view> value) {
    field_optional_string(name, value);
  }
  void count_field_bool(std::string_view name, bool value) { field_bool(name, value); }
  void count_field_u32(std::string_view name, uint32_t value) { field_u32(name, value); }
  void count_field_optional_u32(std::string_view name, std::optional<uint32_t> value) {
    field_optional_u32(name, value);
  }
  void count_field_i64(std::string_view name, int64_t value) { field_i64(name, value); }
  void count_field_f64(std::string_view name, double value) { field_f64(name, value); }
  void count_field_kind(std::string_view word) { field_kind(word); }
  void count_field_string_list(std::string_view name, std::span<const std::string> values) {
    field_string_list(name, values);
  }
  void count_field_cell_position(std::string_view name, uint32_t row, uint32_t col) {
    field_cell_position(name, row, col);
  }
  void count_field_anchor_cell(std::string_view name, uint32_t col, int64_t col_off, uint32_t row,
                               int64_t row_off) {
    field_anchor_cell(name, col, col_off, row, row_off);
  }
  void count_field_extent(int64_t cx, int64_t cy) { field_extent(cx, cy); }
};

// --- form 3: value-tree builders ---------------------------------------------------

void value_map_insert_str(JsonObject& object, std::string_view key, std::string_view value);
void value_map_insert_string(JsonObject& object, std::string_view key, std::string value);
void value_map_insert_optional_string(JsonObject& object, std::string_view key,
                                      std::optional<std::string_view> value);
void value_map_insert_bool(JsonObject& object, std::string_view key, bool value);
void value_map_insert_u32(JsonObject& object, std::string_view key, uint32_t value);
void value_map_insert_optional_u32(JsonObject& object, std::string_view key,
                                   std::optional<uint32_t> value);
// A NaN or an infinity is inserted as null.
void value_map_insert_f64(JsonObject& object, std::string_view key, double value);
void value_map_insert_kind(JsonObject& object, std::string_view word);
void value_map_insert_string_list(JsonObject& object, std::string_view key,
                                  std::span<const std::string> values);
void value_map_insert_path(JsonObject& object, std::span<const uint32_t> path);
void value_map_insert_error_value(JsonObject& object, model::CellErrorCode code);

}  // namespace cmx::json
