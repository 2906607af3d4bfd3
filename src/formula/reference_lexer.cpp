// Tokens that begin like a name: function names, booleans, A1 references,
// cell, column and row ranges, sheet prefixes, defined names and structured
// table references.
#include "formula/lexer.h"
#include "formula/lexer_internal.h"

#include <algorithm>

namespace cmx::formula::lex {
namespace {

bool is_ascii_letter(char32_t cp) { return (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z'; }
bool is_ascii_digit(char32_t cp) { return cp >= '0' && cp <= '9'; }

bool is_identifier_char(char32_t cp) {
  if (cp < 0x80) {
    return is_ascii_letter(cp) || is_ascii_digit(cp) || cp == '$' || cp == '.' || cp == '\\' ||
           cp == '_';
  }
  if (cp == kEnd) return false;
  return unicode::is_alphabetic(cp) || unicode::is_numeric(cp);
}

// The longest identifier run at the cursor, possibly empty.
std::string_view scan_identifier(Cursor& cursor) {
  const size_t start = cursor.pos;
  while (!cursor.at_end()) {
    const unsigned char byte = static_cast<unsigned char>(cursor.text[cursor.pos]);
    if (byte < 0x80) {
      if (!is_identifier_char(byte)) break;
      ++cursor.pos;
      continue;
    }
    size_t next = cursor.pos;
    if (!is_identifier_char(unicode::decode_utf8(cursor.text, next))) break;
    cursor.pos = next;
  }
  return cursor.text.substr(start, cursor.pos - start);
}

bool equals_ascii_ci(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lower[i]) return false;
  }
  return true;
}

struct LinePart {
  uint32_t index = 0;
  bool absolute = false;
};

// "$"? letters of either case, within column XFD.
std::optional<LinePart> parse_column_part(std::string_view text) {
  LinePart out;
  if (!text.empty() && text[0] == '$') {
    out.absolute = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 3) return std::nullopt;  // XFD has three letters
  char buffer[4];
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c < 'A' || c > 'Z') return std::nullopt;
    buffer[i] = c;
  }
  buffer[text.size()] = '1';
  auto cell = model::parse_cell_ref(std::string_view(buffer, text.size() + 1));
  if (!cell) return std::nullopt;
  out.index = cell->col;
  return out;
}

// "$"? digits, within rows 1..1048576 (leading zeros allowed).
std::optional<LinePart> parse_row_part(std::string_view text) {
  LinePart out;
  if (!text.empty() && text[0] == '$') {
    out.absolute = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  uint64_t row = 0;
  for (char c : text) {
    if (!is_ascii_digit(static_cast<unsigned char>(c))) return std::nullopt;
    row = row * 10 + static_cast<uint64_t>(c - '0');
    if (row > model::MAX_ROWS) return std::nullopt;
  }
  if (row == 0) return std::nullopt;
  out.index = static_cast<uint32_t>(row - 1);
  return out;
}

template <typename Line>
Line make_line(LinePart first, LinePart second) {
  if (second.index < first.index) std::swap(first, second);
  return Line{first.index, second.index, first.absolute, second.absolute};
}

// A second identifier after ":" (white space allowed around it) that is of
// the same line kind as `text`.
template <typename ParsePart>
std::optional<std::pair<LinePart, LinePart>> line_range(Cursor& cursor, std::string_view text,
                                                        ParsePart parse_part) {
  auto first = parse_part(text);
  if (!first) return std::nullopt;
  const size_t saved = cursor.pos;
  cursor.skip_whitespace();
  ++cursor.pos;  // the ":"
  cursor.skip_whitespace();
  auto second = parse_part(scan_identifier(cursor));
  if (!second) {
    cursor.pos = saved;
    return std::nullopt;
  }
  return std::pair{*first, *second};
}

std::optional<Token> lex_range_tail(Cursor& cursor, const std::optional<std::string>& sheet,
                                    std::string_view text) {
  {
    Cursor probe = cursor;
    probe.skip_whitespace();
    if (probe.peek_byte() != ':') return std::nullopt;
  }
  Token token;
  token.sheet = sheet;
  if (auto parts = line_range(cursor, text, parse_column_part)) {
    token.kind = TokenKind::ColumnRange;
    token.columns = make_line<ColumnRange>(parts->first, parts->second);
    return token;
  }
  if (auto parts = line_range(cursor, text, parse_row_part)) {
    token.kind = TokenKind::RowRange;
    token.rows = make_line<RowRange>(parts->first, parts->second);
    return token;
  }
  auto first = model::parse_cell_ref(text);
  if (first && cursor.peek_byte() == ':') {
    const size_t saved = cursor.pos;
    ++cursor.pos;
    auto second = model::parse_cell_ref(scan_identifier(cursor));
    if (second) {
      token.kind = TokenKind::Range;
      token.range.start = model::CellRef{std::min(first->row, second->row),
                                         std::min(first->col, second->col), first->abs_row,
                                         first->abs_col};
      token.range.end = model::CellRef{std::max(first->row, second->row),
                                       std::max(first->col, second->col), second->abs_row,
                                       second->abs_col};
      return token;
    }
    cursor.pos = saved;
  }
  return std::nullopt;
}

// Strips characters with the White_Space property from both ends.
std::string_view trim_unicode_space(std::string_view text) {
  while (!text.empty()) {
    size_t pos = 0;
    if (!unicode::is_white_space(unicode::decode_utf8(text, pos))) break;
    text.remove_prefix(pos);
  }
  while (!text.empty()) {
    // Step back to the first byte of the last character.
    size_t begin = text.size() - 1;
    while (begin > 0 && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80 &&
           text.size() - begin < 4) {
      --begin;
    }
    size_t pos = begin;
    char32_t cp = unicode::decode_utf8(text, pos);
    if (pos != text.size() || !unicode::is_white_space(cp)) break;
    text.remove_suffix(text.size() - begin);
  }
  return text;
}

// Characters up to the first unescaped "]" (consumed); "'" takes the next
// character literally.
Result<std::string, FormulaError> read_table_item(Cursor& cursor, size_t start) {
  std::string item;
  const std::string_view text = cursor.text;
  while (true) {
    if (cursor.at_end()) return unexpected(error_at(FormulaErrorKind::UnterminatedTableRef, start));
    char c = text[cursor.pos++];
    if (c == ']') return item;
    if (c == '\'') {
      if (cursor.at_end()) return unexpected(error_at(FormulaErrorKind::UnterminatedTableRef, start));
      size_t next = cursor.pos;
      unicode::decode_utf8(text, next);
      item.append(text.substr(cursor.pos, next - cursor.pos));
      cursor.pos = next;
      continue;
    }
    item.push_back(c);
  }
}

Result<void, FormulaError> apply_table_item(std::string_view item, TableSpec& spec,
                                            size_t start) {
  item = trim_unicode_space(item);
  if (item.empty()) return {};
  if (item[0] == '@') {
    spec.bands.push_back(TableBand::ThisRow);
    item = trim_unicode_space(item.substr(1));
    if (item.empty()) return {};
  }
  // A second "@" (T[@@x]) would leave a column named "@x", which no printed
  // text can express: its canonical [@x] reads back as a band. Refused like
  // an unknown band, so every parsed reference prints and reads back.
  if (item[0] == '#' || item[0] == '@') {
    static constexpr std::pair<std::string_view, TableBand> kBands[] = {
        {"#all", TableBand::All},         {"#headers", TableBand::Headers},
        {"#data", TableBand::Data},       {"#totals", TableBand::Totals},
        {"#this row", TableBand::ThisRow},
    };
    for (const auto& [text, band] : kBands) {
      if (equals_ascii_ci(item, text)) {
        spec.bands.push_back(band);
        return {};
      }
    }
    return unexpected(error_at(FormulaErrorKind::UnknownTableBand, start));
  }
  if (!spec.first_column) {
    spec.first_column = std::string(item);
  } else if (!spec.last_column) {
    spec.last_column = std::string(item);
  } else {
    return unexpected(error_at(FormulaErrorKind::TooManyTableColumns, start));
  }
  return {};
}

// The cursor is at the "[" after the table name that began at `start`.
Result<Token, FormulaError> lex_table_ref(Cursor& cursor, std::string_view table, size_t start) {
  Token token;
  token.kind = TokenKind::TableRef;
  token.text = std::string(table);
  ++cursor.pos;
  cursor.skip_whitespace();
  if (cursor.peek_byte() == ']') {
    ++cursor.pos;
    return token;
  }
  if (cursor.peek_byte() != '[') {
    CMX_ASSIGN_OR_RETURN(std::string item, read_table_item(cursor, start));
    CMX_TRY(apply_table_item(item, token.spec, start));
    return token;
  }
  size_t items = 0;
  while (true) {
    cursor.skip_whitespace();
    if (cursor.at_end()) return unexpected(error_at(FormulaErrorKind::MalformedTableRef, start));
    const char c = cursor.text[cursor.pos];
    if (c == ',' || c == ':') {
      ++cursor.pos;
    } else if (c == '[') {
      ++cursor.pos;
      if (++items > kMaxTableItems) {
        return unexpected(error_at(FormulaErrorKind::TableItemCountExceeded, start));
      }
      CMX_ASSIGN_OR_RETURN(std::string item, read_table_item(cursor, start));
      CMX_TRY(apply_table_item(item, token.spec, start));
    } else if (c == ']') {
      ++cursor.pos;
      return token;
    } else {
      return unexpected(error_at(FormulaErrorKind::MalformedTableRef, start));
    }
  }
}

}  // namespace

bool is_identifier_start(char32_t cp) {
  if (cp < 0x80) return is_ascii_letter(cp) || cp == '$' || cp == '\\' || cp == '_';
  return cp != kEnd && unicode::is_alphabetic(cp);
}

Result<Token, FormulaError> lex_identifier(Cursor& cursor) {
  const size_t start = cursor.pos;
  const std::string_view ident = scan_identifier(cursor);
  switch (cursor.peek_byte()) {
    case '!':
      ++cursor.pos;
      return lex_after_sheet(cursor, std::string(ident), start);
    case '[':
      return lex_table_ref(cursor, ident, start);
    case '(': {
      Token token;
      token.kind = TokenKind::Ident;
      token.text = std::string(ident);
      return token;
    }
    default:
      break;
  }
  Token token;
  if (equals_ascii_ci(ident, "true") || equals_ascii_ci(ident, "false")) {
    token.kind = TokenKind::Bool;
    token.boolean = ident.size() == 4;
    return token;
  }
  if (auto tail = lex_range_tail(cursor, std::nullopt, ident)) return std::move(*tail);
  if (auto cell = model::parse_cell_ref(ident)) {
    token.kind = TokenKind::Ref;
    token.range.start = token.range.end = *cell;
    return token;
  }
  token.kind = TokenKind::Ident;
  token.text = std::string(ident);
  return token;
}

Result<Token, FormulaError> lex_after_sheet(Cursor& cursor, std::string sheet, size_t start) {
  const std::string_view ident = scan_identifier(cursor);
  if (ident.empty()) return unexpected(error_at(FormulaErrorKind::ExpectedReferenceOrName, start));
  std::optional<std::string> scope(std::move(sheet));
  if (auto tail = lex_range_tail(cursor, scope, ident)) return std::move(*tail);
  Token token;
  if (auto cell = model::parse_cell_ref(ident)) {
    token.kind = TokenKind::Ref;
    token.sheet = std::move(scope);
    token.range.start = token.range.end = *cell;
    return token;
  }
  token.kind = TokenKind::Name;
  token.sheet = std::move(scope);
  token.text = std::string(ident);
  return token;
}

}  // namespace cmx::formula::lex
