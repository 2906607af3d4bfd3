#include "model/address.h"

#include <algorithm>
#include <optional>

namespace cmx::model {

std::string_view addr_error_message(AddrError error) {
  switch (error) {
    case AddrError::Malformed:
      return "malformed address";
    case AddrError::OutOfBounds:
      return "address out of sheet bounds";
  }
  return "malformed address";
}

std::string column_letters(uint32_t col) {
  char letters[8];
  size_t count = 0;
  uint64_t n = static_cast<uint64_t>(col) + 1;
  while (true) {
    uint64_t d = n - 1;
    letters[count++] = static_cast<char>('A' + d % 26);
    n = d / 26;
    if (d < 26) break;
  }
  std::reverse(letters, letters + count);
  return std::string(letters, count);
}

std::string format_cell_ref(const CellRef& cell) {
  std::string out;
  out.reserve(12);
  if (cell.abs_col) out.push_back('$');
  out += column_letters(cell.col);
  if (cell.abs_row) out.push_back('$');
  char digits[12];
  size_t count = 0;
  uint64_t row = static_cast<uint64_t>(cell.row) + 1;
  do {
    digits[count++] = static_cast<char>('0' + row % 10);
    row /= 10;
  } while (row != 0);
  while (count > 0) out.push_back(digits[--count]);
  return out;
}

Result<CellRef, AddrError> parse_cell_ref(std::string_view text) {
  CellRef out;
  size_t pos = 0;
  if (pos < text.size() && text[pos] == '$') {
    out.abs_col = true;
    ++pos;
  }
  if (pos == text.size()) return unexpected(AddrError::Malformed);

  uint32_t col = 0;
  size_t letters_start = pos;
  while (pos < text.size() && text[pos] >= 'A' && text[pos] <= 'Z') {
    col = col * 26 + static_cast<uint32_t>(text[pos] - 'A' + 1);
    if (col > MAX_COLS) return unexpected(AddrError::OutOfBounds);
    ++pos;
  }
  if (pos == letters_start) return unexpected(AddrError::Malformed);

  if (pos < text.size() && text[pos] == '$') {
    out.abs_row = true;
    ++pos;
  }
  if (pos == text.size()) return unexpected(AddrError::Malformed);

  uint64_t row = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c < '0' || c > '9') return unexpected(AddrError::Malformed);
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (row > (UINT64_MAX - digit) / 10) return unexpected(AddrError::Malformed);
    row = row * 10 + digit;
  }
  if (row == 0 || row > MAX_ROWS) return unexpected(AddrError::OutOfBounds);
  out.row = static_cast<uint32_t>(row - 1);
  out.col = col - 1;
  return out;
}

std::string format_range(const CellRange& range) {
  if (range.start == range.end) return format_cell_ref(range.start);
  std::string out = format_cell_ref(range.start);
  out.push_back(':');
  out += format_cell_ref(range.end);
  return out;
}

Result<CellRange, AddrError> parse_range(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    CMX_ASSIGN_OR_RETURN(CellRef cell, parse_cell_ref(text));
    return CellRange{cell, cell};
  }
  CMX_ASSIGN_OR_RETURN(CellRef left, parse_cell_ref(text.substr(0, colon)));
  CMX_ASSIGN_OR_RETURN(CellRef right, parse_cell_ref(text.substr(colon + 1)));
  CellRange out;
  out.start = CellRef{std::min(left.row, right.row), std::min(left.col, right.col),
                      left.abs_row, left.abs_col};
  out.end = CellRef{std::max(left.row, right.row), std::max(left.col, right.col),
                    right.abs_row, right.abs_col};
  return out;
}

namespace {

std::optional<CellRef> parse_target_half(std::string_view half) {
  std::string upper(half);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  Result<CellRef, AddrError> ref = parse_cell_ref(upper);
  if (!ref) return std::nullopt;
  return CellRef{ref.value().row, ref.value().col, false, false};
}

}  // namespace

Result<CellRange, std::string> parse_cell_or_range_target(std::string_view a1) {
  const size_t colon = a1.find(':');
  const std::string_view first = colon == std::string_view::npos ? a1 : a1.substr(0, colon);
  const std::string_view second = colon == std::string_view::npos ? a1 : a1.substr(colon + 1);
  const std::optional<CellRef> start = parse_target_half(first);
  const std::optional<CellRef> end = parse_target_half(second);
  if (!start || !end) {
    return unexpected(std::string(a1) +
                      " is not a cell or rectangular range; sheet-qualified, union, whole-row, whole-column and "
                      "named references are not accepted");
  }
  if (start->row > end->row || start->col > end->col) {
    return unexpected(std::string("a range must run from its top-left to its bottom-right corner"));
  }
  return CellRange{*start, *end};
}

}  // namespace cmx::model
