#include "json/rules.h"

#include <limits>

#include "base/number_text.h"

namespace cmx::json {

size_t find_field(const RecordSpec& spec, std::string_view name) {
  for (size_t i = 0; i < spec.fields.size(); ++i) {
    if (spec.fields[i].name == name) return i;
  }
  return spec.fields.size();
}

std::string field_name_list(const RecordSpec& spec) {
  std::vector<std::string_view> names;
  names.reserve(spec.fields.size());
  for (const FieldSpec& field : spec.fields) names.push_back(field.name);
  return format_name_list(names);
}

JsonResult<void> check_required(const RecordSpec& spec, FieldMask seen) {
  for (size_t i = 0; i < spec.fields.size(); ++i) {
    if (spec.fields[i].presence == Presence::Required && !(seen & (FieldMask{1} << i))) {
      return unexpected(missing_field(spec.fields[i].name));
    }
  }
  return {};
}

JsonResult<const Content::Array*> content_list(const Content& content) {
  if (content.kind() != Content::Kind::Array) {
    return unexpected(invalid_type(describe_content(content), kExpectedSequence));
  }
  return &content.as_array();
}

JsonResult<const JsonValue::Array*> value_list(const JsonValue& value) {
  if (value.kind() != JsonValue::Kind::Array) {
    return unexpected(invalid_type(describe_value(value), kExpectedSequence));
  }
  return &value.as_array();
}

// --- scalars ---------------------------------------------------------------------

// The same readers over both in-memory forms, which share their kind names.
#define CMX_JSON_SCALAR_READERS(prefix, Type, describe)                                 \
  JsonResult<std::string> prefix##_to_string(const Type& v) {                           \
    if (v.kind() != Type::Kind::String) return unexpected(invalid_type(describe(v), "a string")); \
    return v.as_string();                                                               \
  }                                                                                     \
  JsonResult<bool> prefix##_to_bool(const Type& v) {                                    \
    if (v.kind() != Type::Kind::Bool) return unexpected(invalid_type(describe(v), "a boolean")); \
    return v.as_bool();                                                                 \
  }                                                                                     \
  JsonResult<double> prefix##_to_f64(const Type& v) {                                   \
    if (v.kind() != Type::Kind::Number) return unexpected(invalid_type(describe(v), "f64")); \
    return v.as_number().to_f64();                                                      \
  }                                                                                     \
  JsonResult<uint32_t> prefix##_to_u32(const Type& v) {                                 \
    if (v.kind() != Type::Kind::Number) return unexpected(invalid_type(describe(v), "u32")); \
    return number_to_u32(v.as_number());                                                \
  }                                                                                     \
  JsonResult<uint16_t> prefix##_to_u16(const Type& v) {                                 \
    if (v.kind() != Type::Kind::Number) return unexpected(invalid_type(describe(v), "u16")); \
    return number_to_u16(v.as_number());                                                \
  }                                                                                     \
  JsonResult<int64_t> prefix##_to_i64(const Type& v) {                                  \
    if (v.kind() != Type::Kind::Number) return unexpected(invalid_type(describe(v), "i64")); \
    return number_to_i64(v.as_number());                                                \
  }

CMX_JSON_SCALAR_READERS(content, Content, describe_content)
CMX_JSON_SCALAR_READERS(value, JsonValue, describe_value)
#undef CMX_JSON_SCALAR_READERS

// --- enumeration words -------------------------------------------------------------

JsonResult<size_t> match_word(std::string_view word, std::span<const std::string_view> words) {
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == word) return i;
  }
  return unexpected(unknown_variant(word, format_name_list(words)));
}

JsonResult<EnumHead> read_enum_head(JsonReader& reader, std::span<const std::string_view> words) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek == '"') {
    CMX_ASSIGN_OR_RETURN(std::string word, reader.parse_string());
    auto index = match_word(word, words);
    if (!index) return unexpected(reader.fix_position(std::move(index).error()));
    return EnumHead{*index, false};
  }
  if (*peek != '{') return unexpected(reader.error_after_peek(JsonErrorKind::ExpectedValue));
  CMX_TRY(reader.enter_nesting());
  reader.eat();
  peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek == '}') return unexpected(reader.error_after_peek(JsonErrorKind::ExpectedValue));
  if (*peek != '"') return unexpected(reader.error_after_peek(JsonErrorKind::KeyMustBeAString));
  CMX_ASSIGN_OR_RETURN(std::string word, reader.parse_string());
  auto index = match_word(word, words);
  if (!index) return unexpected(reader.fix_position(std::move(index).error()));
  CMX_TRY(reader.expect_colon());
  return EnumHead{*index, true};
}

JsonResult<void> read_unit_value(JsonReader& reader) {
  std::optional<char> peek = reader.skip_whitespace();
  if (peek && *peek == 'n') {
    reader.eat();
    return reader.parse_ident("ull");
  }
  return unexpected(reader.peek_invalid_type("unit"));
}

JsonResult<void> finish_enum_object(JsonReader& reader) {
  std::optional<char> peek = reader.skip_whitespace();
  reader.leave_nesting();
  // Placed before the byte found instead of the closing brace.
  if (!peek) return unexpected(reader.error_here(JsonErrorKind::EofWhileParsingObject));
  if (*peek != '}') return unexpected(reader.error_here(JsonErrorKind::ExpectedValue));
  reader.eat();
  return {};
}

JsonResult<size_t> read_word(JsonReader& reader, std::span<const std::string_view> words) {
  CMX_ASSIGN_OR_RETURN(EnumHead head, read_enum_head(reader, words));
  if (head.braced) {
    CMX_TRY(read_unit_value(reader));
    CMX_TRY(finish_enum_object(reader));
  }
  return head.variant;
}

JsonResult<size_t> word_from_content(const Content& content,
                                     std::span<const std::string_view> words) {
  switch (content.kind()) {
    case Content::Kind::String: return match_word(content.as_string(), words);
    case Content::Kind::Object: {
      const Content::Object& members = content.as_object();
      if (members.size() != 1) {
        return unexpected(invalid_value(describe_map(), "map with a single key"));
      }
      const Content& inner = members[0].value;
      bool unit = inner.is_null() ||
                  (inner.kind() == Content::Kind::Object && inner.as_object().empty());
      CMX_ASSIGN_OR_RETURN(size_t index, match_word(members[0].key, words));
      if (!unit) return unexpected(invalid_type(describe_content(inner), "unit"));
      return index;
    }
    case Content::Kind::Null:
    case Content::Kind::Bool:
    case Content::Kind::Number:
    case Content::Kind::Array: break;
  }
  return unexpected(invalid_type(describe_content(content), "string or map"));
}

JsonResult<size_t> word_from_value(const JsonValue& value, std::span<const std::string_view> words) {
  switch (value.kind()) {
    case JsonValue::Kind::String: return match_word(value.as_string(), words);
    case JsonValue::Kind::Object: {
      const JsonObject& object = value.as_object();
      if (object.size() != 1) {
        return unexpected(invalid_value(describe_map(), "map with a single key"));
      }
      const JsonMember& member = object.members()[0];
      CMX_ASSIGN_OR_RETURN(size_t index, match_word(member.key, words));
      if (!member.value.is_null()) return unexpected(invalid_type(describe_value(member.value), "unit"));
      return index;
    }
    case JsonValue::Kind::Null:
    case JsonValue::Kind::Bool:
    case JsonValue::Kind::Number:
    case JsonValue::Kind::Array: break;
  }
  return unexpected(invalid_type(describe_value(value), "string or map"));
}

// --- internally tagged records ----------------------------------------------------

namespace {

constexpr std::string_view kVariantIdentifier = "variant identifier";

std::string tagged_expected(const TaggedSpec& spec) {
  return "internally tagged enum " + std::string(spec.enum_name);
}

// The tag's value from text: a string naming a word.
JsonResult<size_t> read_tag_word(JsonReader& reader, const TaggedSpec& spec) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek != '"') return unexpected(reader.peek_invalid_type(kVariantIdentifier));
  CMX_ASSIGN_OR_RETURN(std::string word, reader.parse_string());
  auto index = match_word(word, spec.words);
  if (!index) return unexpected(reader.fix_position(std::move(index).error()));
  return index;
}

JsonResult<size_t> tag_word_from_content(const Content& content, const TaggedSpec& spec) {
  if (content.kind() == Content::Kind::String) return match_word(content.as_string(), spec.words);
  if (spec.allow_index && content.kind() == Content::Kind::Number &&
      content.as_number().kind() == JsonNumber::Kind::U64) {
    uint64_t index = content.as_number().as_u64();
    if (index >= spec.words.size()) {
      return unexpected(invalid_value(describe_u64(index),
                                      "variant index 0 <= i < " + format_u64(spec.words.size())));
    }
    return static_cast<size_t>(index);
  }
  return unexpected(invalid_type(describe_content(content), kVariantIdentifier));
}

}  // namespace

JsonResult<TaggedContent> read_tagged(JsonReader& reader, const TaggedSpec& spec) {
  std::optional<char> peek = reader.skip_whitespace();
  if (!peek) return unexpected(reader.error_after_peek(JsonErrorKind::EofWhileParsingValue));
  if (*peek == '{') {
    return read_in_object(reader, [&]() -> JsonResult<TaggedContent> {
      std::optional<size_t> variant;
      Content::Object rest;
      bool first = true;
      while (true) {
        CMX_ASSIGN_OR_RETURN(bool more, reader.next_member(first));
        if (!more) break;
        CMX_ASSIGN_OR_RETURN(std::string name, reader.read_key());
        if (name == spec.tag) {
          if (variant) return unexpected(duplicate_field(spec.tag));
          CMX_TRY(reader.expect_colon());
          CMX_ASSIGN_OR_RETURN(variant, read_tag_word(reader, spec));
          continue;
        }
        CMX_TRY(reader.expect_colon());
        CMX_ASSIGN_OR_RETURN(Content value, reader.read_content());
        rest.push_back(ContentMember{std::move(name), std::move(value)});
      }
      if (!variant) return unexpected(missing_field(spec.tag));
      return TaggedContent{*variant, Content::object(std::move(rest))};
    });
  }
  if (*peek == '[') {
    return read_in_array(reader, [&]() -> JsonResult<TaggedContent> {
      bool first = true;
      CMX_ASSIGN_OR_RETURN(bool more, reader.next_element(first));
      if (!more) return unexpected(missing_field(spec.tag));
      CMX_ASSIGN_OR_RETURN(size_t variant, read_tag_word(reader, spec));
      Content::Array rest;
      while (true) {
        CMX_ASSIGN_OR_RETURN(more, reader.next_element(first));
        if (!more) break;
        CMX_ASSIGN_OR_RETURN(Content value, reader.read_content());
        rest.push_back(std::move(value));
      }
      return TaggedContent{variant, Content::array(std::move(rest))};
    });
  }
  return unexpected(reader.peek_invalid_type(tagged_expected(spec)));
}

JsonResult<TaggedContent> tagged_from_content(const Content& content, const TaggedSpec& spec) {
  switch (content.kind()) {
    case Content::Kind::Object: {
      std::optional<size_t> variant;
      Content::Object rest;
      for (const ContentMember& member : content.as_object()) {
        if (member.key == spec.tag) {
          if (variant) return unexpected(duplicate_field(spec.tag));
          CMX_ASSIGN_OR_RETURN(variant, tag_word_from_content(member.value, spec));
          continue;
        }
        rest.push_back(member);
      }
      if (!variant) return unexpected(missing_field(spec.tag));
      return TaggedContent{*variant, Content::object(std::move(rest))};
    }
    case Content::Kind::Array: {
      const Content::Array& items = content.as_array();
      if (items.empty()) return unexpected(missing_field(spec.tag));
      CMX_ASSIGN_OR_RETURN(size_t variant, tag_word_from_content(items[0], spec));
      return TaggedContent{variant, Content::array(Content::Array(items.begin() + 1, items.end()))};
    }
    case Content::Kind::Null:
    case Content::Kind::Bool:
    case Content::Kind::Number:
    case Content::Kind::String: break;
  }
  return unexpected(invalid_type(describe_content(content), tagged_expected(spec)));
}

JsonResult<TaggedContent> tagged_from_value(const JsonValue& value, const TaggedSpec& spec) {
  // A tree holds no repeated names and no variant index; its members come in
  // byte order. The rest is built straight from the tree, copied once.
  auto tag_word = [&](const JsonValue& tag) -> JsonResult<size_t> {
    if (tag.kind() != JsonValue::Kind::String) {
      return unexpected(invalid_type(describe_value(tag), kVariantIdentifier));
    }
    return match_word(tag.as_string(), spec.words);
  };
  switch (value.kind()) {
    case JsonValue::Kind::Object: {
      std::optional<size_t> variant;
      Content::Object rest;
      rest.reserve(value.as_object().size());
      for (const JsonMember& member : value.as_object().members()) {
        if (member.key == spec.tag) {
          CMX_ASSIGN_OR_RETURN(variant, tag_word(member.value));
          continue;
        }
        rest.push_back(ContentMember{member.key, content_from_value(member.value)});
      }
      if (!variant) return unexpected(missing_field(spec.tag));
      return TaggedContent{*variant, Content::object(std::move(rest))};
    }
    case JsonValue::Kind::Array: {
      const JsonValue::Array& items = value.as_array();
      if (items.empty()) return unexpected(missing_field(spec.tag));
      CMX_ASSIGN_OR_RETURN(size_t variant, tag_word(items[0]));
      Content::Array rest;
      rest.reserve(items.size() - 1);
      for (size_t i = 1; i < items.size(); ++i) rest.push_back(content_from_value(items[i]));
      return TaggedContent{variant, Content::array(std::move(rest))};
    }
    case JsonValue::Kind::Null:
    case JsonValue::Kind::Bool:
    case JsonValue::Kind::Number:
    case JsonValue::Kind::String: break;
  }
  return unexpected(invalid_type(describe_value(value), tagged_expected(spec)));
}

JsonResult<void> read_unit_variant(const Content& rest) {
  if (rest.kind() == Content::Kind::Array && !rest.as_array().empty()) {
    return unexpected(invalid_length(rest.as_array().size(), elements_in_sequence(0)));
  }
  return {};
}

}  // namespace cmx::json
