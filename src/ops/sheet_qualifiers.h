// Sheet names as formula text writes them (Sheet1!A1, 'My Sheet'!A1,
// Jan:Mar!A1), read without parsing the formula: the scan behind the
// structural edits' safety checks and the sheet rename of formula texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ops/ref_shift.h"

namespace cmx::ops {

struct QualifierMention {
  std::string first;  // quotes removed, doubled apostrophes undone
  std::string last;   // equals `first` for one sheet
  size_t start = 0;   // at the opening apostrophe when quoted
  size_t bang = 0;    // the "!", or where a bare word ends
  bool external = false;   // right after "]": a sheet of another workbook
  bool qualifier = false;  // followed by "!" (a sheet qualifier), else a bare word
  bool call = false;       // an unquoted bare word followed by "("
  friend bool operator==(const QualifierMention&, const QualifierMention&) = default;
};

// Every qualifier and bare word of `text` outside text literals and brackets, in order.
std::vector<QualifierMention> scan_sheet_qualifiers(std::string_view text);

// A qualifier that names the edited sheet together with a name that is no
// sheet of the workbook (Sheet1:Sheet9!A1 without Sheet9).
bool has_unresolvable_span_on_sheet(std::string_view text, const ShiftContext& context);
// A qualifier that covers the edited sheet, or names it beside an unknown sheet.
bool mentions_sheet(std::string_view text, const ShiftContext& context);

struct RenamedText {
  std::string text;
  // A bare word equal to the old name that is not a function name: the text
  // may name the sheet in a way the rename cannot see.
  bool ambiguous = false;
};
RenamedText rename_sheet_in_formula_text(std::string_view text, std::string_view old_name,
                                         std::string_view new_name);

// The qualifier text without its "!": Data, 'My Sheet', Jan:Mar, 'Q1:Q 2'.
std::string format_sheet_qualifier(std::string_view first, std::string_view last);
// ASCII letters, digits and "_", not starting with a digit, and not
// readable as a cell or row-and-column reference.
bool sheet_name_is_bare(std::string_view name);

// Shared with the formula rewriter: a name token at `pos` (quoted or bare),
// white space as the rewrites understand it, and UTF-8 stepping.
struct NameToken {
  std::string name;
  size_t end = 0;
  bool quoted = false;
};
std::optional<NameToken> read_name_token(std::string_view text, size_t pos);
// Byte length of the white-space character at `pos`, or 0.
size_t white_space_at(std::string_view text, size_t pos);
// Byte length of the UTF-8 character at `pos` (1 for a stray byte).
size_t char_length(std::string_view text, size_t pos);
// Unicode lower-case equality.
bool same_sheet_name(std::string_view a, std::string_view b);
// Past the text literal opening at `pos` ("" inside is a quote); the end of
// the text when it is not closed.
size_t skip_text_literal(std::string_view text, size_t pos);
size_t skip_blanks(std::string_view text, size_t pos);
// `text` without white space at either end.
std::string_view trim_white_space(std::string_view text);

}  // namespace cmx::ops
