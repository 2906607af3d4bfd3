// SpreadsheetParseError: the one error of the package readers, the XML layer
// and the steps that rewrite package XML. Thirteen variants, one message each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cmx::xml {

enum class ParseErrorKind : uint8_t {
  MissingPart,          // a required part is absent; payload: the part name
  Xml,                  // the XML reader refused the text; payload: its message
  Malformed,            // well-formed XML that breaks a reader rule; payload: what
  DepthExceeded,        // elements nest deeper than the cap
  TooManyCells,         // one worksheet over its cell cap
  TooManyStrings,       // the shared-string table over its cap
  TooManyDefinedNames,  // the workbook over its defined-name cap
  TooManyHyperlinks,    // one worksheet over its hyperlink cap
  TooManyColumnStyles,  // one worksheet over its column-entry cap
  TooManyStyles,        // a style table over its cap
  TreeTooLarge,         // a part over the element-tree size or budget
  TooManyCharts,        // a drawing over its chart reference or anchor cap
  UnsupportedEdit,      // a save cannot write a change; payload: what
};
inline constexpr int kParseErrorKindCount = 13;

struct SpreadsheetParseError {
  ParseErrorKind kind;
  std::string payload;  // only for the four text variants

  static SpreadsheetParseError missing_part(std::string name) {
    return {ParseErrorKind::MissingPart, std::move(name)};
  }
  static SpreadsheetParseError xml(std::string message) { return {ParseErrorKind::Xml, std::move(message)}; }
  static SpreadsheetParseError malformed(std::string what) {
    return {ParseErrorKind::Malformed, std::move(what)};
  }
  static SpreadsheetParseError unsupported_edit(std::string what) {
    return {ParseErrorKind::UnsupportedEdit, std::move(what)};
  }
  static SpreadsheetParseError of(ParseErrorKind kind) { return {kind, {}}; }

  friend bool operator==(const SpreadsheetParseError&, const SpreadsheetParseError&) = default;
};

// The variant's name as debugging output shows it ("Malformed").
std::string_view parse_error_kind_name(ParseErrorKind kind);
// True for the four variants that carry a text.
bool parse_error_has_payload(ParseErrorKind kind);
// The display form: "malformed spreadsheetml: bad number x".
std::string parse_error_message(const SpreadsheetParseError& error);
// The debugging form: Malformed("bad number x"), DepthExceeded.
std::string parse_error_debug(const SpreadsheetParseError& error);

}  // namespace cmx::xml
