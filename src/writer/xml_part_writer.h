// The one writer of every XML part the package writer generates: no
// indentation, attributes in the order given, the five predefined entities,
// and a sticky refusal for characters that XML 1.0 cannot carry. Also the
// shared element forms (preserved text, colours), number text, and the
// relationship helpers of generated parts.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "model/address.h"
#include "model/styles.h"
#include "opc/attribute_pair.h"
#include "opc/package_archive.h"
#include "xml/parse_error.h"

namespace cmx::writer {

using xml::SpreadsheetParseError;

// How a text is escaped.
enum class TextForm : uint8_t {
  // Element content: tab and line feed kept, carriage return as "&#13;".
  Content,
  // Attribute values: tab, line feed and carriage return as character
  // references, which attribute-value normalisation would otherwise turn
  // into spaces.
  Attribute,
  // Element content of the file format's escaped-string type (shared and
  // inline strings): characters XML cannot carry become "_xHHHH_", and a
  // literal "_xHHHH_" is guarded as "_x005F_xHHHH_", so readers that decode
  // the escapes get the text back exactly.
  EscapedString,
};

// Appends `text` escaped in `form`. Answers the first character refused (a
// control other than tab, line feed and carriage return, U+FFFE, U+FFFF),
// which is then left out; EscapedString refuses nothing.
std::optional<char32_t> append_escaped(std::string& out, std::string_view text, TextForm form);

// The text escaped as element content; absent when a character is refused.
std::optional<std::string> escape_xml(std::string_view text);

// True when XML can carry every character of `text` without the escaped-string form.
bool expressible_in_xml(std::string_view text);

// The refusal for a character XML cannot express, the message the span
// rewrites use.
SpreadsheetParseError unexpressible_character(char32_t cp);

// Integral values below 1e15 as integers ("-0" is "0"), everything else as
// the shortest round-trip digits without an exponent.
std::string format_xml_number(double value);
void append_xml_number(std::string& out, double value);

// Decimal digits of an unsigned integer.
void append_u64(std::string& out, uint64_t value);

// A1 text of a cell without "$", appended.
void append_cell_ref(std::string& out, uint32_t row, uint32_t col);

using Attribute = std::pair<std::string_view, std::string_view>;

class XmlPartWriter {
 public:
  XmlPartWriter() = default;
  explicit XmlPartWriter(size_t reserve) { out_.reserve(reserve); }

  // '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'.
  void declaration();

  void start_tag(std::string_view name, std::initializer_list<Attribute> attributes = {});
  void empty_tag(std::string_view name, std::initializer_list<Attribute> attributes = {});
  void end_tag(std::string_view name);
  void text(std::string_view text) { escape(text, TextForm::Content); }
  void escaped_string(std::string_view text) { escape(text, TextForm::EscapedString); }

  // A start tag built piece by piece: open(), attributes, then close() or
  // close_empty().
  void open(std::string_view name);
  void attribute(std::string_view name, std::string_view value);
  void attribute_u64(std::string_view name, uint64_t value);
  void attribute_number(std::string_view name, double value);
  void close() { out_.push_back('>'); }
  void close_empty() { out_ += "/>"; }

  // Markup produced elsewhere, copied as it stands.
  void raw(std::string_view markup) { out_ += markup; }

  // The buffer, for writers of hot elements that format straight into it.
  std::string& buffer() { return out_; }

  // The part's bytes, or the refusal of the first unexpressible character.
  Result<std::string, SpreadsheetParseError> finish();

 private:
  void escape(std::string_view text, TextForm form);
  void open_attribute(std::string_view name);

  std::string out_;
  std::optional<char32_t> refused_;
};

// Start tag, escaped text, end tag; an empty text still gives both tags.
void write_text_element(XmlPartWriter& writer, std::string_view name,
                        std::initializer_list<Attribute> attributes, std::string_view text);

// `t` with xml:space="preserve" holding the text in the escaped-string form.
void write_preserved_text(XmlPartWriter& writer, std::string_view text);

// One empty element named `name` whose attributes carry the colour.
void write_color_element(XmlPartWriter& writer, std::string_view name, const model::Color& color);

// The colour value of an RGB text: leading "#"s removed, a-z upper-cased.
std::string upper_hex_without_hash(std::string_view text);

// The first "rId{n}" not in `in_use`, which it joins.
std::string next_free_relationship_id(std::set<std::string>& in_use);

opc::AttributeList relationship_attributes(std::string_view id, std::string_view type,
                                           std::string_view target);

// A workbook-level target: leading "/" and one leading "xl/" removed.
std::string relationship_target_for_part(std::string_view part_name);

// The type for a new relationship of kind `word` in a rels part: the type an
// existing relationship of that kind uses, else the strict form when the part
// already uses strict types, else `default_type`.
std::string relationship_type_for(const std::vector<opc::AttributeList>& relationships,
                                  std::string_view word, std::string_view default_type);

void push_package_part(std::vector<opc::PackagePart>& parts, std::string name, std::string bytes);

Result<std::string, SpreadsheetParseError> write_relationships_part(
    const std::vector<opc::AttributeList>& relationships);

}  // namespace cmx::writer
