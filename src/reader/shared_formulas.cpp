#include "reader/shared_formulas.h"

#include <algorithm>

#include "base/number_text.h"
#include "base/unicode.h"
#include "reader/text_rules.h"

namespace cmx::reader {
namespace {

using model::CellKey;
using model::CellRange;
using model::CellRef;

constexpr std::string_view kNoGroup = "shared formula has no valid group index";
constexpr std::string_view kBadRange = "shared formula has an invalid range";
constexpr std::string_view kBadMaster = "shared formula has an invalid master";
constexpr std::string_view kTwoMasters = "shared formula group has multiple masters";
constexpr std::string_view kNoMaster = "shared formula group has no master";
constexpr std::string_view kCellMissing = "shared formula cell is missing";
constexpr std::string_view kTooLong = "shared formula exceeds the formula length limit";
constexpr std::string_view kOverBudget = "shared formula expansion exceeds the byte limit";
constexpr std::string_view kOutside = "shared formula is outside its master's range";

Unexpected<SpreadsheetParseError> malformed(std::string_view what) {
  return unexpected(SpreadsheetParseError::malformed(std::string(what)));
}

bool inside(const CellRange& range, uint32_t row, uint32_t col) {
  return range.start.row <= row && row <= range.end.row && range.start.col <= col &&
         col <= range.end.col;
}

// The scalar at `pos` and its byte length; ASCII without decoding.
char32_t scalar_at(std::string_view text, size_t pos, size_t& width) {
  const unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) {
    width = 1;
    return c;
  }
  size_t next = pos;
  const char32_t cp = unicode::decode_utf8(text, next);
  width = next - pos;
  return cp;
}

bool is_space_scalar(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D);
  return unicode::is_white_space(cp);
}

// Past the white space starting at `pos`.
size_t skip_space(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    size_t width = 0;
    if (!is_space_scalar(scalar_at(text, pos, width))) break;
    pos += width;
  }
  return pos;
}

// Past a bracket group opening at `pos`: nesting counted, an apostrophe
// escapes the byte after it. Unterminated: the end of the text.
size_t skip_bracket_group(std::string_view text, size_t pos) {
  int depth = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '\'') {
      pos += 2;
      continue;
    }
    if (c == '[') ++depth;
    if (c == ']' && --depth == 0) return pos + 1;
    ++pos;
  }
  return text.size();
}

// Past a run quoted by text[pos], a doubled quote staying inside; npos when
// it is not closed.
size_t skip_quoted(std::string_view text, size_t pos) {
  const char quote = text[pos];
  ++pos;
  while (pos < text.size()) {
    if (text[pos] == quote) {
      if (pos + 1 < text.size() && text[pos + 1] == quote) {
        pos += 2;
        continue;
      }
      return pos + 1;
    }
    ++pos;
  }
  return std::string_view::npos;
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The output of a translation, refusing to pass its cap.
class CappedText {
 public:
  explicit CappedText(uint64_t cap) : cap_(cap) {}
  bool append(std::string_view piece) {
    if (piece.size() > cap_ - out_.size()) return false;
    out_.append(piece);
    return true;
  }
  std::string take() { return std::move(out_); }

 private:
  uint64_t cap_;
  std::string out_;
};

enum class RangeKind : uint8_t { Cells, Columns, Rows };

// The leading and trailing white space of a part around its trimmed core.
struct TrimmedParts {
  std::string_view lead;
  std::string_view core;
  std::string_view trail;
};
TrimmedParts split_trim(std::string_view text) {
  const std::string_view core = trim_white_space(text);
  const size_t lead = core.empty() ? text.size() : static_cast<size_t>(core.data() - text.data());
  return {text.substr(0, lead), core, text.substr(std::min(text.size(), lead + core.size()))};
}

// The replacement of one reference: moved, unchanged, or "#REF!".
std::string moved_reference(std::string_view core, RangeKind kind, int64_t row_offset,
                            int64_t col_offset, bool& parsed) {
  CellRef ref;
  parsed = false;
  if (kind == RangeKind::Columns) {
    auto column = parse_column_ref(core);
    if (!column) return {};
    ref.col = column->index;
    ref.abs_col = column->absolute;
  } else if (kind == RangeKind::Rows) {
    auto row = parse_row_ref(core);
    if (!row) return {};
    ref.row = row->index;
    ref.abs_row = row->absolute;
  } else {
    auto cell = model::parse_cell_ref(ascii_upper(core));
    if (!cell.has_value()) return {};
    ref = *cell;
  }
  parsed = true;
  const int64_t drow = (ref.abs_row || kind == RangeKind::Columns) ? 0 : row_offset;
  const int64_t dcol = (ref.abs_col || kind == RangeKind::Rows) ? 0 : col_offset;
  const int64_t new_row = static_cast<int64_t>(ref.row) + drow;
  const int64_t new_col = static_cast<int64_t>(ref.col) + dcol;
  if (new_row < 0 || new_row >= model::MAX_ROWS || new_col < 0 || new_col >= model::MAX_COLS)
    return "#REF!";
  if (new_row == ref.row && new_col == ref.col) return std::string(core);
  switch (kind) {
    case RangeKind::Columns:
      return (ref.abs_col ? "$" : "") + model::column_letters(static_cast<uint32_t>(new_col));
    case RangeKind::Rows:
      return (ref.abs_row ? "$" : "") + format_u64(static_cast<uint64_t>(new_row) + 1);
    case RangeKind::Cells:
      break;
  }
  return model::format_cell_ref(CellRef{static_cast<uint32_t>(new_row),
                                        static_cast<uint32_t>(new_col), ref.abs_row, ref.abs_col});
}

bool is_valid_cell_text(std::string_view text) {
  return model::parse_cell_ref(ascii_upper(trim_white_space(text))).has_value();
}

// Appends one token (a run between delimiters) with its references moved.
bool translate_token(std::string_view token, bool before_paren, int64_t row_offset,
                     int64_t col_offset, CappedText& out) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (size_t colon : split_outside_quotes(token, ':')) {
    parts.push_back(token.substr(from, colon - from));
    from = colon + 1;
  }
  parts.push_back(token.substr(from));

  size_t first = 0;
  if (parts.size() >= 2 && split_sheet_prefix(parts[0]).prefix.empty() &&
      !split_sheet_prefix(parts[1]).prefix.empty() && !is_valid_cell_text(parts[0])) {
    first = 1;  // Sheet1:Sheet3!A1 names a sheet span, not a range
  }

  RangeKind kind = RangeKind::Cells;
  if (parts.size() - first >= 2) {
    bool columns = true;
    bool rows = true;
    for (size_t idx = first; idx < parts.size(); ++idx) {
      const std::string_view core = trim_white_space(split_sheet_prefix(parts[idx]).rest);
      columns = columns && parse_column_ref(core).has_value();
      rows = rows && parse_row_ref(core).has_value();
    }
    if (columns) kind = RangeKind::Columns;
    else if (rows) kind = RangeKind::Rows;
  }

  for (size_t idx = 0; idx < parts.size(); ++idx) {
    if (idx > 0 && !out.append(":")) return false;
    const std::string_view part = parts[idx];
    const bool function_name = before_paren && idx + 1 == parts.size();
    if (idx < first || function_name) {
      if (!out.append(part)) return false;
      continue;
    }
    const SheetPrefixSplit split = split_sheet_prefix(part);
    const TrimmedParts rest = split_trim(split.rest);
    bool parsed = false;
    const std::string replacement = moved_reference(rest.core, kind, row_offset, col_offset, parsed);
    if (!parsed) {
      if (!out.append(part)) return false;
      continue;
    }
    if (!out.append(split.prefix) || !out.append(rest.lead) || !out.append(replacement) ||
        !out.append(rest.trail))
      return false;
  }
  return true;
}

// The end of the token that starts at `pos` (not a quote, not a delimiter).
size_t token_end(std::string_view text, size_t pos) {
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '[') {
      pos = skip_bracket_group(text, pos);
      continue;
    }
    if (c == '\'') {
      const size_t end = skip_quoted(text, pos);
      pos = end == std::string_view::npos ? text.size() : end;
      continue;
    }
    if (c == '"') break;
    size_t width = 0;
    const char32_t cp = scalar_at(text, pos, width);
    if (is_space_scalar(cp)) {
      // White space belongs to the token only beside a colon: "A1 : B2".
      const size_t after = skip_space(text, pos);
      const bool colon_before = pos > 0 && text[pos - 1] == ':';
      const bool colon_after = after < text.size() && text[after] == ':';
      if (!colon_before && !colon_after) break;
      pos = after;
      continue;
    }
    if (is_formula_delimiter(cp)) break;
    pos += width;
  }
  return pos;
}

}  // namespace

bool is_formula_delimiter(char32_t ch) {
  switch (ch) {
    case '@': case '#': case '%': case '&': case '(': case ')': case '*': case '+': case ',':
    case '-': case '/': case ';': case '<': case '=': case '>': case '^': case '{': case '}':
      return true;
    default:
      return is_space_scalar(ch);
  }
}

std::vector<size_t> split_outside_quotes(std::string_view text, char separator) {
  std::vector<size_t> found;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"' || c == '\'') {
      pos = skip_quoted(text, pos);
      if (pos == std::string_view::npos) break;
      continue;
    }
    if (c == '[') {
      int depth = 0;
      bool closed = false;
      while (pos < text.size()) {
        const char g = text[pos];
        if (g == '\'') {
          pos += 2;
          continue;
        }
        ++pos;
        if (g == '[') ++depth;
        if (g == ']' && --depth == 0) {
          closed = true;
          break;
        }
      }
      if (!closed) break;
      continue;
    }
    if (c == separator) found.push_back(pos);
    ++pos;
  }
  return found;
}

SheetPrefixSplit split_sheet_prefix(std::string_view text) {
  const std::vector<size_t> bangs = split_outside_quotes(text, '!');
  if (bangs.empty()) return {std::string_view(), text};
  const size_t cut = bangs.back() + 1;
  return {text.substr(0, cut), text.substr(cut)};
}

std::optional<AxisRef> parse_column_ref(std::string_view text) {
  size_t pos = 0;
  if (pos < text.size() && text[pos] == '$') ++pos;
  if (pos == text.size()) return std::nullopt;
  for (size_t idx = pos; idx < text.size(); ++idx)
    if (!is_ascii_letter(text[idx])) return std::nullopt;
  auto cell = model::parse_cell_ref(ascii_upper(text.substr(pos)) + "1");
  if (!cell.has_value()) return std::nullopt;
  return AxisRef{cell->col, pos == 1};
}

std::optional<AxisRef> parse_row_ref(std::string_view text) {
  size_t pos = 0;
  if (pos < text.size() && text[pos] == '$') ++pos;
  if (pos == text.size()) return std::nullopt;
  for (size_t idx = pos; idx < text.size(); ++idx)
    if (text[idx] < '0' || text[idx] > '9') return std::nullopt;
  auto cell = model::parse_cell_ref("A" + std::string(text.substr(pos)));
  if (!cell.has_value()) return std::nullopt;
  return AxisRef{cell->row, pos == 1};
}

std::optional<uint32_t> parse_group_index(std::string_view text) {
  auto value = parse_plus_digits(trim_white_space(text), UINT32_MAX);
  if (!value) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

Result<std::string, SpreadsheetParseError> translate_shared_formula(std::string_view text,
                                                                    int64_t row_offset,
                                                                    int64_t col_offset,
                                                                    uint64_t cap) {
  CappedText out(cap);
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '"') {
      const size_t end = skip_quoted(text, pos);
      const size_t stop = end == std::string_view::npos ? text.size() : end;
      if (!out.append(text.substr(pos, stop - pos))) return malformed(kOverBudget);
      pos = stop;
      continue;
    }
    size_t width = 0;
    const char32_t cp = scalar_at(text, pos, width);
    if (is_formula_delimiter(cp)) {
      if (!out.append(text.substr(pos, width))) return malformed(kOverBudget);
      pos += width;
      continue;
    }
    const size_t end = token_end(text, pos);
    const size_t next = skip_space(text, end);
    const bool before_paren = next < text.size() && text[next] == '(';
    if (!translate_token(text.substr(pos, end - pos), before_paren, row_offset, col_offset, out))
      return malformed(kOverBudget);
    pos = end;
  }
  return out.take();
}

Result<void, SpreadsheetParseError> register_shared_formula(SharedFormulaTable& table, uint32_t row,
                                                            uint32_t col, std::string_view text,
                                                            std::optional<std::string_view> si,
                                                            std::optional<std::string_view> ref) {
  const std::optional<uint32_t> group = si ? parse_group_index(*si) : std::nullopt;
  if (!group) return malformed(kNoGroup);
  table.dependents.insert_or_assign(table.dependents.end(), CellKey{row, col}, *group);
  if (!ref) return {};

  auto range = model::parse_range(*ref);
  if (!range.has_value()) return malformed(kBadRange);
  if (!inside(*range, row, col) || trim_white_space(text).empty()) return malformed(kBadMaster);
  if (table.masters.contains(*group)) return malformed(kTwoMasters);
  if (text.size() > SHARED_FORMULA_MAX_BYTES) return malformed(kTooLong);
  if (table.budget < text.size()) return malformed(kOverBudget);
  table.budget -= text.size();
  table.masters.emplace(*group, SharedFormulaMaster{std::string(text), *range, row, col});
  return {};
}

void remove_shared_dependent(SharedFormulaTable& table, uint32_t row, uint32_t col) {
  table.dependents.erase(CellKey{row, col});
}

Result<void, SpreadsheetParseError> expand_shared_formulas(SharedFormulaTable& table,
                                                           model::CellMap& cells, TextArena& texts) {
  for (const auto& [position, group] : table.dependents) {
    auto found = table.masters.find(group);
    if (found == table.masters.end()) return malformed(kNoMaster);
    const SharedFormulaMaster& master = found->second;
    if (!inside(master.range, position.row, position.col)) return malformed(kOutside);
    if (position.row == master.row && position.col == master.col) continue;

    const uint64_t cap = std::min<uint64_t>(table.budget, SHARED_FORMULA_MAX_BYTES);
    if (master.text.size() > cap) return malformed(kOverBudget);
    CMX_ASSIGN_OR_RETURN(
        std::string moved,
        translate_shared_formula(master.text,
                                 static_cast<int64_t>(position.row) - master.row,
                                 static_cast<int64_t>(position.col) - master.col, cap));
    table.budget -= moved.size();
    auto cell = cells.find(position);
    if (cell == cells.end()) return malformed(kCellMissing);
    cell->second.formula = texts.make(moved);
  }
  return {};
}

}  // namespace cmx::reader
