// A cell somewhere in the workbook: the sheet's position and the cell.
// Recalculation reports and the edit operations list cells this way.
#pragma once

#include <cstdint>
#include <tuple>

#include "model/address.h"

namespace cmx::model {

struct CellAddress {
  uint32_t sheet = 0;
  CellRef cell;  // both absolute flags false
  friend bool operator==(const CellAddress&, const CellAddress&) = default;
};

// Ascending by sheet, row, then column; the flags never decide.
inline bool address_less(const CellAddress& a, const CellAddress& b) {
  return std::tie(a.sheet, a.cell.row, a.cell.col) < std::tie(b.sheet, b.cell.row, b.cell.col);
}

}  // namespace cmx::model
