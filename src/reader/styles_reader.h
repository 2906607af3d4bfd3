// The styles part and the theme part, streamed into the style tables: fonts,
// fills, borders, cell formats, custom number formats, the indexed palette
// and the twelve theme colours. Everything else in the two parts is stepped
// over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "model/styles.h"
#include "xml/parse_error.h"

namespace cmx::reader {

using xml::SpreadsheetParseError;

// The most entries each of fonts, fills, borders, cell formats, custom number
// formats and palette colours may hold.
inline constexpr uint64_t MAX_STYLE_RECORDS = model::kMaxStyleRecords;

struct StylesRead {
  model::StyleSheet styles;
  // The same tables with each cell format keeping only the indexes whose
  // apply attribute is present and true; absent when that changes nothing.
  std::optional<model::StyleSheet> style_copy;
};

// Surrounding Unicode white space dropped, then six hexadecimal digits, or
// eight whose first two (alpha) are dropped: "#" and the six in lower case.
std::optional<std::string> normalize_hex_color(std::string_view text);

// Reads the theme part first, then the styles part; either may be missing.
// Errors: Xml (reader refusals, "invalid indexed palette color"),
// DepthExceeded, TooManyStyles.
Result<StylesRead, SpreadsheetParseError> read_styles_part(std::optional<std::string_view> styles_part,
                                                           std::optional<std::string_view> theme_part);

}  // namespace cmx::reader
