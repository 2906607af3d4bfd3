// Cell references and ranges and their A1 text. Sheet prefixes and quoting
// belong to the callers (formulas, arguments, XML), never here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace cmx::model {

inline constexpr uint32_t MAX_ROWS = 1048576;
inline constexpr uint32_t MAX_COLS = 16384;

struct CellRef {
  uint32_t row = 0;  // zero-based: row 1 of the A1 text is 0
  uint32_t col = 0;  // zero-based: column A is 0
  bool abs_row = false;
  bool abs_col = false;
  friend bool operator==(const CellRef&, const CellRef&) = default;
};

// A rectangle, both corners inclusive; producers keep start ≤ end.
struct CellRange {
  CellRef start;
  CellRef end;
  friend bool operator==(const CellRange&, const CellRange&) = default;
};

enum class AddrError : uint8_t {
  Malformed,    // not in the A1 grammar
  OutOfBounds,  // a column past XFD or a row outside 1..=1048576
};
std::string_view addr_error_message(AddrError error);

// Bijective base 26: 0 → A, 25 → Z, 26 → AA, 16383 → XFD; any u32 gives letters.
std::string column_letters(uint32_t col);
// "$" flags, letters, row + 1: $B$7.
std::string format_cell_ref(const CellRef& cell);
// The inverse of format_cell_ref for canonical text. Upper-case letters only;
// a column past XFD is OutOfBounds as soon as its letters say so (AAAA),
// before the rest is looked at.
Result<CellRef, AddrError> parse_cell_ref(std::string_view text);
// One reference when start equals end in all four fields, else "start:end".
std::string format_range(const CellRange& range);
// One reference, or two joined by the first ":", normalised so that start is
// the top-left corner; the "$" flags stay with the side they were written on.
Result<CellRange, AddrError> parse_range(std::string_view text);

// A target written as one cell or one rectangle from its top-left to its
// bottom-right corner, letters in either case, "$" ignored; anything else
// (qualified, union, whole-row or -column, named, reversed) gets the refusal
// text requests report.
Result<CellRange, std::string> parse_cell_or_range_target(std::string_view a1);

}  // namespace cmx::model
