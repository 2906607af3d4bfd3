// Saving the style tables back into the styles part a workbook was read
// from: the five tables the model holds and the palette are patched, every
// unchanged entry keeps its source text, and everything else of the part
// (cell styles, differential formats, table styles, extensions, foreign
// markup) stays byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "model/styles.h"
#include "xml/parse_error.h"
#include "xml/part_template.h"

namespace cmx::writer {

using xml::SpreadsheetParseError;

// Place of a `styleSheet` child in the schema order; none for other names.
std::optional<uint64_t> stylesheet_child_rank(std::string_view local);
// `indexedColors` first, any other child of `colors` after it.
uint64_t colors_child_rank(std::string_view local);

// A whole `colors` element holding `indexedColors`, and `indexedColors` alone.
std::string write_colors_fragment(const std::vector<std::string>& palette);
std::string write_indexed_colors_fragment(const std::vector<std::string>& palette);

// The styles part rebuilt from its template so that its tables hold `styles`.
// An entry equal to the baseline's at its index keeps its source text when
// the table lists as many entries as the baseline read from it; a number
// format keeps its text when a listed `numFmt` carries its id and code.
// Number formats read from outside `numFmts` (differential formats) are
// not copied into it unless a cell format needs them there. Errors: Xml,
// DepthExceeded, Malformed from reading the tables, UnsupportedEdit "{name}
// lives inside an mc:AlternateContent branch" and a character XML cannot
// carry.
Result<std::string, SpreadsheetParseError> rewrite_styles_part(const model::StyleSheet& styles,
                                                               const model::StyleSheet& baseline,
                                                               const xml::PartTemplate& styles_template);

}  // namespace cmx::writer
