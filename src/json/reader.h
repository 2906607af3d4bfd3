// The tokenising JSON reader: strict RFC 8259 syntax, the nesting limit, the
// number classes, and errors placed at a 1-based line and byte column. The
// record, list, word and tagged-record rules built on it are in rules.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "json/error.h"
#include "json/value.h"

namespace cmx::json {

// Each "[" or "{" takes one level before it is read; the 128th open level is
// refused, so 127 nest.
inline constexpr uint32_t kJsonNestingLimit = 128;

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::string_view text() const { return text_; }
  size_t offset() const { return pos_; }

  // --- places ---------------------------------------------------------------
  // Error placed at the read place (after the last byte taken).
  JsonError error_here(JsonErrorKind kind) const;
  // Error placed just after the next byte, which has not been taken.
  JsonError error_after_peek(JsonErrorKind kind) const;
  // Gives an unplaced error the read place; placed errors pass unchanged.
  JsonError fix_position(JsonError error) const;
  static void place_error(JsonError& error, std::string_view text, size_t offset);

  // --- bytes ----------------------------------------------------------------
  // Skips space, tab, line feed and carriage return; the next byte, if any.
  std::optional<char> skip_whitespace();
  void eat() { ++pos_; }

  // --- nesting ----------------------------------------------------------------
  // Takes one level before an opening bracket is read; fails when the limit
  // would be passed.
  JsonResult<void> enter_nesting();
  void leave_nesting() { ++remaining_depth_; }

  // --- arrays and objects, after the opening bracket ---------------------------
  // True when an element follows (the reader is before it); false before "]".
  JsonResult<bool> next_element(bool& first);
  // True when a member name follows (the reader is at its quote); false
  // before "}".
  JsonResult<bool> next_member(bool& first);
  JsonResult<std::string> read_key();
  JsonResult<void> expect_colon();
  // Takes the closing bracket, or fails as a too long array (or object) does.
  JsonResult<void> end_array();
  JsonResult<void> end_object();
  // Before an unplaced error passes on, an array or object reader takes what
  // ends it: whitespace and its bracket, for an array also a comma and the
  // whitespace after it.
  JsonError fail_in_array(JsonError error);
  JsonError fail_in_object(JsonError error);

  // --- scalars, the reader at the value's first byte ----------------------------
  JsonResult<std::string> parse_string();
  JsonResult<JsonNumber> parse_number();
  // Takes the rest of a literal whose first byte was taken.
  JsonResult<void> parse_ident(std::string_view rest);

  // --- typed reads, whitespace allowed before the value -------------------------
  JsonResult<std::string> read_string();
  JsonResult<bool> read_bool();
  JsonResult<double> read_f64();
  JsonResult<uint32_t> read_u32();
  JsonResult<uint16_t> read_u16();
  JsonResult<uint8_t> read_u8();
  JsonResult<uint64_t> read_u64();
  JsonResult<int64_t> read_i64();
  // Takes a null when one comes next: the none of an optional value.
  JsonResult<bool> read_null_if_next();
  // The error for a value of the wrong kind: literals, numbers and strings
  // are taken to describe them, arrays and objects are not.
  JsonError peek_invalid_type(std::string_view expected);

  // --- whole values ----------------------------------------------------------
  JsonResult<JsonValue> read_value();
  JsonResult<Content> read_content();
  // Reads a well-formed value to its end and drops it. Exempt from the
  // nesting limit, so it works without recursion at any depth.
  JsonResult<void> skip_value();
  // Only whitespace may follow the top-level value.
  JsonResult<void> finish();

 private:
  JsonResult<JsonNumber> parse_number_impl(bool want_value);
  JsonResult<void> parse_string_impl(std::string* out);
  JsonResult<void> read_value_into(JsonValue& out);
  JsonResult<void> read_content_into(Content& out);
  JsonResult<uint16_t> decode_hex_escape();
  JsonResult<void> parse_unicode_escape(std::string* out);
  JsonResult<JsonNumber> read_number_token(std::string_view expected);
  // A number token converted by `convert`; its refusal placed after the token.
  template <typename T>
  JsonResult<T> read_integer(std::string_view expected, JsonResult<T> (*convert)(const JsonNumber&));
  JsonResult<void> skip_scalar(char first);

  std::string_view text_;
  size_t pos_ = 0;
  uint32_t remaining_depth_ = kJsonNestingLimit;
};

// Reads a whole text with `read`, places an error that has no place yet, and
// requires that nothing but whitespace follows.
template <typename F>
auto read_json_text(std::string_view text, F&& read) -> decltype(read(std::declval<JsonReader&>())) {
  JsonReader reader(text);
  auto result = read(reader);
  if (!result.has_value()) return unexpected(reader.fix_position(std::move(result).error()));
  CMX_TRY(reader.finish());
  return result;
}

// A whole text as a value tree (repeated keys: the last wins).
JsonResult<JsonValue> parse_json_value(std::string_view text);

}  // namespace cmx::json
