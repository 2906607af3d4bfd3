#include "json/error.h"

#include "base/number_text.h"
#include "json/float_text.h"

namespace cmx::json {

namespace {

std::string_view syntax_message(JsonErrorKind kind) {
  switch (kind) {
    case JsonErrorKind::EofWhileParsingValue: return "EOF while parsing a value";
    case JsonErrorKind::EofWhileParsingList: return "EOF while parsing a list";
    case JsonErrorKind::EofWhileParsingObject: return "EOF while parsing an object";
    case JsonErrorKind::EofWhileParsingString: return "EOF while parsing a string";
    case JsonErrorKind::ExpectedValue: return "expected value";
    case JsonErrorKind::ExpectedIdent: return "expected ident";
    case JsonErrorKind::ExpectedColon: return "expected `:`";
    case JsonErrorKind::ExpectedListCommaOrEnd: return "expected `,` or `]`";
    case JsonErrorKind::ExpectedObjectCommaOrEnd: return "expected `,` or `}`";
    case JsonErrorKind::KeyMustBeAString: return "key must be a string";
    case JsonErrorKind::TrailingComma: return "trailing comma";
    case JsonErrorKind::TrailingCharacters: return "trailing characters";
    case JsonErrorKind::InvalidNumber: return "invalid number";
    case JsonErrorKind::NumberOutOfRange: return "number out of range";
    case JsonErrorKind::InvalidEscape: return "invalid escape";
    case JsonErrorKind::ControlCharacter:
      return "control character (\\u0000-\\u001F) found while parsing a string";
    case JsonErrorKind::LoneLeadingSurrogate: return "lone leading surrogate in hex escape";
    case JsonErrorKind::UnexpectedEndOfHexEscape: return "unexpected end of hex escape";
    case JsonErrorKind::InvalidUtf8: return "invalid unicode code point";
    case JsonErrorKind::RecursionLimitExceeded: return "recursion limit exceeded";
    case JsonErrorKind::InvalidType:
    case JsonErrorKind::InvalidValue:
    case JsonErrorKind::InvalidLength:
    case JsonErrorKind::UnknownVariant:
    case JsonErrorKind::UnknownField:
    case JsonErrorKind::MissingField:
    case JsonErrorKind::DuplicateField:
    case JsonErrorKind::Custom: return {};
  }
  return {};
}

JsonError make(JsonErrorKind kind, std::string found, std::string expected = {}) {
  JsonError error;
  error.kind = kind;
  error.found = std::move(found);
  error.expected = std::move(expected);
  return error;
}

}  // namespace

std::string json_error_message(const JsonError& error) {
  switch (error.kind) {
    case JsonErrorKind::EofWhileParsingValue:
    case JsonErrorKind::EofWhileParsingList:
    case JsonErrorKind::EofWhileParsingObject:
    case JsonErrorKind::EofWhileParsingString:
    case JsonErrorKind::ExpectedValue:
    case JsonErrorKind::ExpectedIdent:
    case JsonErrorKind::ExpectedColon:
    case JsonErrorKind::ExpectedListCommaOrEnd:
    case JsonErrorKind::ExpectedObjectCommaOrEnd:
    case JsonErrorKind::KeyMustBeAString:
    case JsonErrorKind::TrailingComma:
    case JsonErrorKind::TrailingCharacters:
    case JsonErrorKind::InvalidNumber:
    case JsonErrorKind::NumberOutOfRange:
    case JsonErrorKind::InvalidEscape:
    case JsonErrorKind::ControlCharacter:
    case JsonErrorKind::LoneLeadingSurrogate:
    case JsonErrorKind::UnexpectedEndOfHexEscape:
    case JsonErrorKind::InvalidUtf8:
    case JsonErrorKind::RecursionLimitExceeded: return std::string(syntax_message(error.kind));
    case JsonErrorKind::InvalidType:
      return "invalid type: " + error.found + ", expected " + error.expected;
    case JsonErrorKind::InvalidValue:
      return "invalid value: " + error.found + ", expected " + error.expected;
    case JsonErrorKind::InvalidLength:
      return "invalid length " + error.found + ", expected " + error.expected;
    case JsonErrorKind::UnknownVariant:
      return "unknown variant `" + error.found + "`, expected " + error.expected;
    case JsonErrorKind::UnknownField:
      return "unknown field `" + error.found + "`, expected " + error.expected;
    case JsonErrorKind::MissingField: return "missing field `" + error.found + "`";
    case JsonErrorKind::DuplicateField: return "duplicate field `" + error.found + "`";
    case JsonErrorKind::Custom: return error.found;
  }
  return {};
}

std::string json_error_text(const JsonError& error) {
  std::string text = json_error_message(error);
  if (error.has_position()) {
    text += " at line ";
    text += format_u64(error.line);
    text += " column ";
    text += format_u64(error.column);
  }
  return text;
}

JsonError syntax_error(JsonErrorKind kind) { return make(kind, {}); }

JsonError invalid_type(std::string found, std::string_view expected) {
  return make(JsonErrorKind::InvalidType, std::move(found), std::string(expected));
}

JsonError invalid_value(std::string found, std::string_view expected) {
  return make(JsonErrorKind::InvalidValue, std::move(found), std::string(expected));
}

JsonError invalid_length(size_t count, std::string_view expected) {
  return make(JsonErrorKind::InvalidLength, format_u64(count), std::string(expected));
}

JsonError unknown_variant(std::string_view word, std::string_view expected_list) {
  return make(JsonErrorKind::UnknownVariant, std::string(word), std::string(expected_list));
}

JsonError unknown_field(std::string_view name, std::string_view expected_list) {
  return make(JsonErrorKind::UnknownField, std::string(name), std::string(expected_list));
}

JsonError missing_field(std::string_view name) {
  return make(JsonErrorKind::MissingField, std::string(name));
}

JsonError duplicate_field(std::string_view name) {
  return make(JsonErrorKind::DuplicateField, std::string(name));
}

JsonError custom_error(std::string message) {
  return make(JsonErrorKind::Custom, std::move(message));
}

std::string describe_null() { return "null"; }

std::string describe_bool(bool value) { return value ? "boolean `true`" : "boolean `false`"; }

std::string describe_u64(uint64_t value) { return "integer `" + format_u64(value) + "`"; }

std::string describe_i64(int64_t value) { return "integer `" + format_i64(value) + "`"; }

std::string describe_f64(double value) { return "floating point `" + format_json_f64(value) + "`"; }

std::string describe_string(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "string \"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case 0: out += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\u{";
          if (byte >= 0x10) out.push_back(kHex[byte >> 4]);
          out.push_back(kHex[byte & 0xF]);
          out.push_back('}');
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string describe_sequence() { return "sequence"; }

std::string describe_map() { return "map"; }

std::string format_name_list(std::span<const std::string_view> names) {
  std::string out;
  if (names.size() >= 3) out += "one of ";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " or " : ", ";
    out.push_back('`');
    out += names[i];
    out.push_back('`');
  }
  return out;
}

std::string struct_with_elements(std::string_view struct_text, size_t count) {
  std::string out(struct_text);
  out += " with ";
  out += format_u64(count);
  out += count == 1 ? " element" : " elements";
  return out;
}

std::string elements_in_sequence(size_t count) {
  return format_u64(count) + (count == 1 ? " element in sequence" : " elements in sequence");
}

}  // namespace cmx::json
