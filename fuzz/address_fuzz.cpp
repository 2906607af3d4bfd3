// Fuzzes the A1 parsers: no crash, and whatever parses prints back to a text
// that parses to the same value.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/address.h"

using namespace cmx::model;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto cell = parse_cell_ref(text);
  if (cell.has_value()) {
    if (cell->row >= MAX_ROWS || cell->col >= MAX_COLS) std::abort();
    auto again = parse_cell_ref(format_cell_ref(*cell));
    if (!again.has_value() || !(*again == *cell)) std::abort();
  }
  auto range = parse_range(text);
  if (range.has_value()) {
    if (range->start.row > range->end.row || range->start.col > range->end.col) std::abort();
    auto again = parse_range(format_range(*range));
    if (!again.has_value() || !(*again == *range)) std::abort();
  }
  return 0;
}
