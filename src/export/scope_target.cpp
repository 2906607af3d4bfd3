#include <string>

#include "export/walk.h"

namespace cmx::exports {

namespace {

std::optional<model::CellRef> read_half(std::string_view half) {
  std::string copy(half);
  for (char& c : copy) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  Result<model::CellRef, model::AddrError> ref = model::parse_cell_ref(copy);
  if (!ref) return std::nullopt;
  return model::CellRef{ref.value().row, ref.value().col, false, false};
}

}  // namespace

Result<model::CellRange, std::string> parse_cell_or_range_target(std::string_view a1) {
  const size_t colon = a1.find(':');
  const std::string_view first = colon == std::string_view::npos ? a1 : a1.substr(0, colon);
  const std::string_view second = colon == std::string_view::npos ? a1 : a1.substr(colon + 1);
  const std::optional<model::CellRef> start = read_half(first);
  const std::optional<model::CellRef> end = read_half(second);
  if (!start || !end) {
    return unexpected(std::string(a1) +
                      " is not a cell or rectangular range; sheet-qualified, union, whole-row, whole-column and "
                      "named references are not accepted");
  }
  if (start->row > end->row || start->col > end->col) {
    return unexpected(std::string("a range must run from its top-left to its bottom-right corner"));
  }
  return model::CellRange{*start, *end};
}

}  // namespace cmx::exports
