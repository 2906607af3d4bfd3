// Refusals of the XML pull reader (pull_reader.h). The readers above it carry
// the message inside SpreadsheetParseError::Xml (parse_error.h).
#pragma once

#include <cstdint>
#include <string>

namespace cmx::xml {

enum class XmlErrorKind : uint8_t {
  UnclosedMarkup,      // a tag, comment, CDATA section, PI or DOCTYPE not closed by the end
  BadMarkup,           // "<" not followed by a name, "/", "!" or "?"
  BadEndTag,           // an end tag with something other than white space after its name
  BadAttribute,        // attribute syntax: missing "=", unquoted value, no space between
  DuplicateAttribute,  // one name twice on a tag
  BadReference,        // "&" that does not begin a complete reference
  UnknownReference,    // a reference in an attribute value other than the five entities
                       // and valid character references
  MismatchedEndTag,    // an end tag that does not name the innermost open element
  UnexpectedEndTag,    // an end tag with no element open
  BadNamespaceBinding, // a declaration that binds "xmlns", or "xml" to another URI
};

struct XmlError {
  XmlErrorKind kind;
  uint64_t offset = 0;  // where the offending markup begins
  std::string name;     // the tag, attribute or reference concerned, when there is one
  std::string other;    // the expected name of MismatchedEndTag
};

std::string xml_error_message(const XmlError& error);

}  // namespace cmx::xml
