// Patching a decoded part in place: byte spans of its UTF-8 text replaced,
// the rest copied, and the result encoded back as the part was read (BOM
// included). Spans come from the element tree's content offsets.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "base/result.h"
#include "xml/parse_error.h"
#include "xml/part_decoding.h"

namespace cmx::xml {

// Text escaped as element content before it goes in (a formula, a value).
struct EscapedText {
  std::string text;
};
// Markup inserted byte for byte (a regenerated cache element).
struct RawMarkup {
  std::string text;
};
using SpanReplacement = std::variant<EscapedText, RawMarkup>;

struct SpanEdit {
  uint64_t start = 0;  // first byte replaced, in DecodedPart::text
  uint64_t end = 0;    // first byte kept after the run; start == end inserts
  SpanReplacement replacement;
};

// Splices the edits, which must come in ascending order of `start` without
// overlap (callers sort them stably), and encodes the result like the part.
// Errors: Malformed "overlapping rewrite span" (a start before the previous
// end, an end past the text or before its start), "rewrite span split a
// character"; UnsupportedEdit from escape_xml_value for an EscapedText.
Result<std::string, SpreadsheetParseError> apply_span_rewrites(const DecodedPart& part, std::span<const SpanEdit> edits);

}  // namespace cmx::xml
