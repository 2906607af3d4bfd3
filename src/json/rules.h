// The reading rules that every record reader shares, in the three ways a
// reader meets its input: straight from the text (JsonReader), from a
// buffered value (Content), or from a value tree (JsonValue). Records with a
// fixed member list, lists, scalars, enumeration words and internally tagged
// records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/error.h"
#include "json/reader.h"
#include "json/value.h"

namespace cmx::json {

// --- records with a fixed member list -------------------------------------------

enum class Presence : uint8_t {
  Required,   // absent: "missing field"
  Optional,   // absent or null: none
  Defaulted,  // absent: the member's default
};

struct FieldSpec {
  std::string_view name;
  Presence presence = Presence::Required;
  // The array form may leave this member (and all after it) out.
  bool array_default = false;
};

struct RecordSpec {
  // "struct CalculationRequest" or "struct variant RangeAddress::A1".
  std::string_view expected;
  std::span<const FieldSpec> fields;
  // Members the record does not know are dropped instead of refused.
  bool ignore_unknown = false;
};

// Bit i set: member i was given. Records have fewer than 64 members.
using FieldMask = uint64_t;
inline constexpr size_t kMaxRecordFields = 64;

// The index of a member name, or `spec.fields.size()` when it is unknown.
size_t find_field(const RecordSpec& spec, std::string_view name);
std::string field_name_list(const RecordSpec& spec);
// The first required member absent from `seen`, as "missing field".
JsonResult<void> check_required(const RecordSpec& spec, FieldMask seen);

// Lists hold at most this many bytes of reserved elements up front when the
// element count is known, and grow from there.
inline constexpr size_t kListReserveBytes = 1048576;
inline size_t list_reserve_hint(size_t count, size_t element_size) {
  size_t cap = kListReserveBytes / (element_size == 0 ? 1 : element_size);
  return count < cap ? count : cap;
}

// Reads an object (array) whose opening bracket is the byte just peeked:
// `body()` reads the members (elements). A failure in it takes what ends the
// container before it passes on; the closing bracket is checked after.
template <typename Body>
auto read_in_object(JsonReader& reader, Body&& body) -> decltype(body()) {
  CMX_TRY(reader.enter_nesting());
  reader.eat();
  auto result = body();
  reader.leave_nesting();
  if (!result) return unexpected(reader.fail_in_object(std::move(result).error()));
  CMX_TRY(reader.end_object());
  return result;
}

template <typename Body>
auto read_in_array(JsonReader& reader, Body&& body) -> decltype(body()) {
  CMX_TRY(reader.enter_nesting());
  reader.eat();
  auto result = body();
  reader.leave_nesting();
  if (!result) return unexpected(reader.fail_in_array(std::move(result).error()));
  CMX_TRY(reader.end_array());
  return result;
}

// From text. `read_field(size_t index, JsonReader&)` reads member `index`'s
// value and returns JsonResult<void>.
template <typename F>
JsonResult<FieldMask> read_record(JsonReader& reader, const RecordSpec& spec, F&& read_field) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  const size_t field_count = spec.fields.size();
  if (*peek == '{') {
    return read_in_object(reader, [&]() -> JsonResult<FieldMask> {
      FieldMask seen = 0;
      bool first = true;
      while (true) {
        CMX_ASSIGN_OR_RETURN(bool more, reader.next_member(first));
        if (!more) break;
        CMX_ASSIGN_OR_RETURN(std::string name, reader.read_key());
        size_t index = find_field(spec, name);
        if (index == field_count) {
          if (!spec.ignore_unknown) return unexpected(unknown_field(name, field_name_list(spec)));
          CMX_TRY(reader.expect_colon());
          CMX_TRY(reader.skip_value());
          continue;
        }
        if (seen & (FieldMask{1} << index)) return unexpected(duplicate_field(name));
        CMX_TRY(reader.expect_colon());
        CMX_TRY(read_field(index, reader));
        seen |= FieldMask{1} << index;
      }
      CMX_TRY(check_required(spec, seen));
      return seen;
    });
  }
  if (*peek == '[') {
    return read_in_array(reader, [&]() -> JsonResult<FieldMask> {
      FieldMask seen = 0;
      bool first = true;
      for (size_t index = 0; index < field_count; ++index) {
        CMX_ASSIGN_OR_RETURN(bool more, reader.next_element(first));
        if (!more) {
          if (spec.fields[index].array_default) continue;
          return unexpected(invalid_length(index, struct_with_elements(spec.expected, field_count)));
        }
        CMX_TRY(read_field(index, reader));
        seen |= FieldMask{1} << index;
      }
      return seen;
    });
  }
  return unexpected(reader.peek_invalid_type(spec.expected));
}

// From a buffered value. `read_field(size_t index, const Content&)`.
template <typename F>
JsonResult<FieldMask> read_record(const Content& content, const RecordSpec& spec, F&& read_field) {
  const size_t field_count = spec.fields.size();
  FieldMask seen = 0;
  switch (content.kind()) {
    case Content::Kind::Object:
      for (const ContentMember& member : content.as_object()) {
        size_t index = find_field(spec, member.key);
        if (index == field_count) {
          if (spec.ignore_unknown) continue;
          return unexpected(unknown_field(member.key, field_name_list(spec)));
        }
        if (seen & (FieldMask{1} << index)) return unexpected(duplicate_field(member.key));
        CMX_TRY(read_field(index, member.value));
        seen |= FieldMask{1} << index;
      }
      CMX_TRY(check_required(spec, seen));
      return seen;
    case Content::Kind::Array: {
      const Content::Array& items = content.as_array();
      for (size_t index = 0; index < field_count; ++index) {
        if (index >= items.size()) {
          if (spec.fields[index].array_default) continue;
          return unexpected(invalid_length(index, struct_with_elements(spec.expected, field_count)));
        }
        CMX_TRY(read_field(index, items[index]));
        seen |= FieldMask{1} << index;
      }
      if (items.size() > field_count) {
        return unexpected(invalid_length(items.size(), elements_in_sequence(field_count)));
      }
      return seen;
    }
    case Content::Kind::Null:
    case Content::Kind::Bool:
    case Content::Kind::Number:
    case Content::Kind::String: break;
  }
  return unexpected(invalid_type(describe_content(content), spec.expected));
}

// From a value tree: members in byte order of their names.
// `read_field(size_t index, const JsonValue&)`.
template <typename F>
JsonResult<FieldMask> read_record(const JsonValue& value, const RecordSpec& spec, F&& read_field) {
  const size_t field_count = spec.fields.size();
  FieldMask seen = 0;
  switch (value.kind()) {
    case JsonValue::Kind::Object:
      for (const JsonMember& member : value.as_object().members()) {
        size_t index = find_field(spec, member.key);
        if (index == field_count) {
          if (spec.ignore_unknown) continue;
          return unexpected(unknown_field(member.key, field_name_list(spec)));
        }
        CMX_TRY(read_field(index, member.value));
        seen |= FieldMask{1} << index;
      }
      CMX_TRY(check_required(spec, seen));
      return seen;
    case JsonValue::Kind::Array: {
      const JsonValue::Array& items = value.as_array();
      for (size_t index = 0; index < field_count; ++index) {
        if (index >= items.size()) {
          if (spec.fields[index].array_default) continue;
          return unexpected(invalid_length(index, struct_with_elements(spec.expected, field_count)));
        }
        CMX_TRY(read_field(index, items[index]));
        seen |= FieldMask{1} << index;
      }
      if (items.size() > field_count) {
        return unexpected(invalid_length(items.size(), "fewer elements in array"));
      }
      return seen;
    }
    case JsonValue::Kind::Null:
    case JsonValue::Kind::Bool:
    case JsonValue::Kind::Number:
    case JsonValue::Kind::String: break;
  }
  return unexpected(invalid_type(describe_value(value), spec.expected));
}

// --- lists -----------------------------------------------------------------------

inline constexpr std::string_view kExpectedSequence = "a sequence";

// From text: `read_element(JsonReader&)` for each element, in order. A value
// that is no array is refused as an invalid type expecting `expected`.
template <typename F>
JsonResult<void> read_list_expecting(JsonReader& reader, std::string_view expected, F&& read_element) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek != '[') return unexpected(reader.peek_invalid_type(expected));
  return read_in_array(reader, [&]() -> JsonResult<void> {
    bool first = true;
    while (true) {
      CMX_ASSIGN_OR_RETURN(bool more, reader.next_element(first));
      if (!more) return {};
      CMX_TRY(read_element(reader));
    }
  });
}

template <typename F>
JsonResult<void> read_list(JsonReader& reader, F&& read_element) {
  return read_list_expecting(reader, kExpectedSequence, std::forward<F>(read_element));
}

// From a buffered value or a value tree: the array's elements, or the
// "invalid type" error.
JsonResult<const Content::Array*> content_list(const Content& content);
JsonResult<const JsonValue::Array*> value_list(const JsonValue& value);

// --- scalars out of buffered values and value trees ---------------------------------

JsonResult<std::string> content_to_string(const Content& content);
JsonResult<bool> content_to_bool(const Content& content);
JsonResult<double> content_to_f64(const Content& content);
JsonResult<uint32_t> content_to_u32(const Content& content);
JsonResult<uint16_t> content_to_u16(const Content& content);
JsonResult<int64_t> content_to_i64(const Content& content);

JsonResult<std::string> value_to_string(const JsonValue& value);
JsonResult<bool> value_to_bool(const JsonValue& value);
JsonResult<double> value_to_f64(const JsonValue& value);
JsonResult<uint32_t> value_to_u32(const JsonValue& value);
JsonResult<uint16_t> value_to_u16(const JsonValue& value);
JsonResult<int64_t> value_to_i64(const JsonValue& value);


// --- enumeration words (externally tagged unit variants) -----------------------------

// The index of `word` in `words`, or the "unknown variant" error.
JsonResult<size_t> match_word(std::string_view word, std::span<const std::string_view> words);

// A string naming a word, or a one-member object {"word": null}.
JsonResult<size_t> read_word(JsonReader& reader, std::span<const std::string_view> words);

// The head of an externally tagged value: a string naming a variant (not
// braced), or "{", the variant's name and ":" (braced: the variant's value
// comes next, then finish_enum_object).
struct EnumHead {
  size_t variant = 0;
  bool braced = false;
};
JsonResult<EnumHead> read_enum_head(JsonReader& reader, std::span<const std::string_view> words);
// The value of a unit variant in braced form: null.
JsonResult<void> read_unit_value(JsonReader& reader);
// The "}" after a braced variant's value; a second member is refused.
JsonResult<void> finish_enum_object(JsonReader& reader);

// Also accepts {"word": {}}.
JsonResult<size_t> word_from_content(const Content& content, std::span<const std::string_view> words);
JsonResult<size_t> word_from_value(const JsonValue& value, std::span<const std::string_view> words);

// --- internally tagged records --------------------------------------------------

struct TaggedSpec {
  std::string_view enum_name;  // "RangeAddress"
  std::string_view tag;        // "kind"
  std::span<const std::string_view> words;
  // In buffered values the tag may be the word's 0-based position.
  bool allow_index = false;
};

// The variant's word and the members (or array elements) left after the tag,
// which the variant reader then reads as a record.
struct TaggedContent {
  size_t variant = 0;
  Content rest;
};

// From text. Errors of the variant reader that runs afterwards have no place
// yet; the enclosing reader places them.
JsonResult<TaggedContent> read_tagged(JsonReader& reader, const TaggedSpec& spec);
JsonResult<TaggedContent> tagged_from_content(const Content& content, const TaggedSpec& spec);
JsonResult<TaggedContent> tagged_from_value(const JsonValue& value, const TaggedSpec& spec);

// A variant without members: it drops any members, and its array form
// takes no element.
JsonResult<void> read_unit_variant(const Content& rest);

}  // namespace cmx::json
