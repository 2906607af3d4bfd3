// The immutable result classes: payloads written once at creation, read by
// any thread without a borrow.
#pragma once
#include <Python.h>
#include <cstdint>
#include "formula/recalc.h"
#include "model/cell_value.h"
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

// Type objects, created on first use and kept for the process; null with an
// exception set when creation fails.
PyObject* cell_error_type();
PyObject* calculation_type();
PyObject* mutation_type();

PyObject* new_cell_error(model::CellErrorCode code);
PyObject* new_calculation(const formula::RecalcResult& result);
PyObject* new_mutation(MutationPayload payload);

// A cell on the active sheet as its bare A1 text, elsewhere "{sheet name}!A1"
// (the name unquoted; empty for an index past the last sheet).
std::vector<std::string> cell_refs_to_strings(const std::vector<model::CellAddress>& cells,
                                              const session::WorkbookSession& session);

// Builds a heap type from `spec` once; the cached object on later calls.
PyObject* type_once(PyObject*& slot, PyType_Spec& spec);
// Allocation through the type's own allocator; null with an exception set.
PyObject* alloc_instance(PyObject* type);
// The common deallocation tail: free the memory, drop the heap type.
void free_instance(PyObject* self);

}  // namespace cmx::pyext
