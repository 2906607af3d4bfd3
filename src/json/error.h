// The JSON reading error: one closed kind, the texts it names, and the place
// in the input it was found. Read reader.h next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cmx::json {

enum class JsonErrorKind : uint8_t {
  // Syntax faults of the tokenising reader.
  EofWhileParsingValue,      // the text ends where a value must begin
  EofWhileParsingList,       // the text ends inside an array
  EofWhileParsingObject,     // the text ends inside an object
  EofWhileParsingString,     // the text ends inside a string
  ExpectedValue,             // a byte that cannot begin a value
  ExpectedIdent,             // a broken null, true or false
  ExpectedColon,             // no colon after a member name
  ExpectedListCommaOrEnd,    // no comma or "]" after an element
  ExpectedObjectCommaOrEnd,  // no comma or "}" after a member
  KeyMustBeAString,          // a member name that is not a string
  TrailingComma,             // a comma directly before "]" or "}"
  TrailingCharacters,        // more after the complete value
  InvalidNumber,             // text outside the number grammar
  NumberOutOfRange,          // a number beyond the largest finite double
  InvalidEscape,             // an unknown escape or a bad \u escape
  ControlCharacter,          // a raw byte below 0x20 inside a string
  LoneLeadingSurrogate,      // a low surrogate escape without its high half
  UnexpectedEndOfHexEscape,  // a high surrogate escape without a following \u
  InvalidUtf8,               // a string whose bytes are not UTF-8
  RecursionLimitExceeded,    // arrays and objects nest too deep
  // Faults of the record readers; `found` and `expected` carry the texts.
  InvalidType,    // found: what was met, expected: what was wanted
  InvalidValue,   // found: what was met, expected: what was wanted
  InvalidLength,  // found: the count, expected: what was wanted
  UnknownVariant, // found: the word, expected: the name list
  UnknownField,   // found: the name, expected: the name list
  MissingField,   // found: the name
  DuplicateField, // found: the name
  Custom,         // found: a reader's own complete message
};

struct JsonError {
  JsonErrorKind kind = JsonErrorKind::Custom;
  std::string found;
  std::string expected;
  // 1-based line and byte column; line 0 while no place has been given yet.
  size_t line = 0;
  size_t column = 0;

  bool has_position() const { return line != 0; }
  bool operator==(const JsonError&) const = default;
};

// The message without its place ("expected `:`").
std::string json_error_message(const JsonError& error);
// The message with " at line {} column {}" when a place is known.
std::string json_error_text(const JsonError& error);

JsonError syntax_error(JsonErrorKind kind);
JsonError invalid_type(std::string found, std::string_view expected);
JsonError invalid_value(std::string found, std::string_view expected);
JsonError invalid_length(size_t count, std::string_view expected);
JsonError unknown_variant(std::string_view word, std::string_view expected_list);
JsonError unknown_field(std::string_view name, std::string_view expected_list);
JsonError missing_field(std::string_view name);
JsonError duplicate_field(std::string_view name);
JsonError custom_error(std::string message);

// What a refused value is called in "invalid type" and "invalid value"
// messages: "null", "boolean `true`", "integer `-3`", "floating point `2.0`",
// "string \"a\\\"b\"", "sequence", "map".
std::string describe_null();
std::string describe_bool(bool value);
std::string describe_u64(uint64_t value);
std::string describe_i64(int64_t value);
std::string describe_f64(double value);
std::string describe_string(std::string_view text);
std::string describe_sequence();
std::string describe_map();

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string format_name_list(std::span<const std::string_view> names);

// "struct {} with {} elements" / "with 1 element".
std::string struct_with_elements(std::string_view struct_text, size_t count);
// "{} elements in sequence" / "1 element in sequence".
std::string elements_in_sequence(size_t count);

}  // namespace cmx::json
