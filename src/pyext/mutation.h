// The Mutation result of an edit: whether it applied, and the cells the
// recalculation after it changed, found in a cycle or stopped by a budget.
#pragma once
#include <Python.h>

#include <string>
#include <vector>

#include "model/cell_address.h"
#include "session/session.h"

namespace cmx::pyext {

struct MutationPayload {
  bool applied = false;
  std::vector<std::string> changed;  // cell texts (cell_refs_to_strings)
  std::vector<std::string> cycles;
  std::vector<std::string> limited;
};

PyObject* mutation_type();
// A new object, or null with the Python error set.
PyObject* new_mutation(MutationPayload payload);

// A cell on the active sheet as its bare A1 text, elsewhere "{sheet name}!A1"
// (the name unquoted; empty for an index past the last sheet).
std::vector<std::string> cell_refs_to_strings(const std::vector<model::CellAddress>& cells,
                                              const session::WorkbookSession& session);

}  // namespace cmx::pyext
