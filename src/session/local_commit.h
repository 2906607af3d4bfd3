// What an edit did to the workbook: the cells the recalculation that
// followed it changed (without the edited cells themselves), its cyclic and
// limited cells, and whether anything was applied.
#pragma once

#include <vector>

#include "model/cell_address.h"

namespace cmx::session {

struct EditReport {
  std::vector<model::CellAddress> changed;
  std::vector<model::CellAddress> cycles;
  std::vector<model::CellAddress> limited;
  bool applied = false;
};

}  // namespace cmx::session
