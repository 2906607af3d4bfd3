// Owned attribute lists of start tags as written, and the escaping of text
// written back into element content.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "opc/attribute_pair.h"
#include "xml/parse_error.h"
#include "xml/pull_reader.h"

namespace cmx::xml {

using opc::AttributeList;
using opc::AttributePair;

// One attribute: the name as UTF-8 (ill-formed bytes become U+FFFD), the
// value with references replaced and nothing else changed. Xml when the
// value is not UTF-8.
Result<AttributePair, SpreadsheetParseError> read_start_tag_attribute(const XmlAttribute& attr);

// The attributes of the reader's current start or empty-element tag, in
// document order. The reader has already refused bad syntax, repeated names
// and unknown references in values.
Result<AttributeList, SpreadsheetParseError> parse_start_tag(const XmlPullReader& reader);

// "&", "<", ">" and carriage return escaped; tab and line feed kept; other
// controls, U+FFFE and U+FFFF refused with UnsupportedEdit. Quotes stay, as
// the result is element content.
Result<std::string, SpreadsheetParseError> escape_xml_value(std::string_view text);

// Xml "cannot decode input using UTF-8: ..." when `text` is ill-formed.
Result<void, SpreadsheetParseError> check_utf8(std::string_view text);

}  // namespace cmx::xml
