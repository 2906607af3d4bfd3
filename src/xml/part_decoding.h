// Whole parts decoded to UTF-8 before they are built into trees, with the
// encoding they came in, so that a part patched in place (span_rewrite.h)
// goes back byte-compatible. Next: element_tree.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "xml/parse_error.h"

namespace cmx::xml {

// The most bytes a part may have, counted on its raw bytes (mark included)
// and again on its UTF-8 text; also the element tree's text budget.
inline constexpr uint64_t MAX_PART_BYTES = uint64_t{1} << 25;

enum class PartEncoding : uint8_t {
  Utf16Le = 0,
  Utf16Be = 1,
  Utf8 = 2,
};

struct DecodedPart {
  std::string text;  // the whole part as UTF-8, without the byte-order mark
  PartEncoding encoding = PartEncoding::Utf8;
  bool had_bom = false;
  friend bool operator==(const DecodedPart&, const DecodedPart&) = default;
};

// Detects the encoding from the first bytes (UTF-8 and UTF-16 marks, a "<" in
// either UTF-16 order, else UTF-8), decodes, and checks a leading XML
// declaration's encoding name (never compared with the detected one).
// TreeTooLarge for more than MAX_PART_BYTES raw or decoded bytes; Malformed
// for UTF-32 marks, ill-formed UTF-8, odd UTF-16 length, unpaired surrogates
// and an encoding name other than utf8, utf-8, utf16, utf-16, utf-16le or
// utf-16be (ASCII case ignored).
Result<DecodedPart, SpreadsheetParseError> decode_part(std::string_view bytes);

// The part's text encoded as it was read: its mark when it had one, then the
// text in its encoding. `text` must be valid UTF-8.
std::string encode_part_text(std::string_view text, PartEncoding encoding, bool had_bom);

}  // namespace cmx::xml
