#include "xml/span_rewrite.h"

#include "xml/start_tag.h"

namespace cmx::xml {

namespace {

// UTF-8 continuation bytes never begin a character; the text's end does.
bool on_boundary(std::string_view text, uint64_t offset) {
  return offset >= text.size() || (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80;
}

SpreadsheetParseError split_character() { return SpreadsheetParseError::malformed("rewrite span split a character"); }

}  // namespace

Result<std::string, SpreadsheetParseError> apply_span_rewrites(const DecodedPart& part,
                                                               std::span<const SpanEdit> edits) {
  const std::string_view text = part.text;
  std::string out;
  out.reserve(text.size());
  uint64_t previous_end = 0;
  for (const SpanEdit& edit : edits) {
    if (edit.start < previous_end || edit.end > text.size() || edit.end < edit.start) {
      return unexpected(SpreadsheetParseError::malformed("overlapping rewrite span"));
    }
    if (!on_boundary(text, previous_end) || !on_boundary(text, edit.start)) return unexpected(split_character());
    out.append(text.substr(previous_end, edit.start - previous_end));
    if (const auto* escaped = std::get_if<EscapedText>(&edit.replacement)) {
      CMX_ASSIGN_OR_RETURN(std::string safe, escape_xml_value(escaped->text));
      out += safe;
    } else {
      out += std::get<RawMarkup>(edit.replacement).text;
    }
    previous_end = edit.end;
  }
  if (!on_boundary(text, previous_end)) return unexpected(split_character());
  out.append(text.substr(previous_end));
  if (part.encoding == PartEncoding::Utf8 && !part.had_bom) return out;
  return encode_part_text(out, part.encoding, part.had_bom);
}

}  // namespace cmx::xml
