// The immutable result classes: payloads written once at creation, read by
// any thread without a borrow.
#pragma once
#include <Python.h>
#include <cstdint>
#include "formula/recalc.h"
#include "model/cell_value.h"
#include "session/edit_report.h"
#include "session/session.h"

namespace cmx::pyext {

// Type objects, created on first use and kept for the process; null with an
// exception set when creation fails.
PyObject* cell_error_type();
PyObject* calculation_type();
PyObject* mutation_type();

PyObject* new_cell_error(model::CellErrorCode code);
PyObject* new_calculation(const formula::RecalcResult& result);
// The report's cells as texts: bare A1 on the active sheet, else
// "{sheet name}!{A1}" (the name as stored, empty for an unknown index).
PyObject* new_mutation(const session::EditReport& report, const session::WorkbookSession& session);

// Builds a heap type from `spec` once; the cached object on later calls.
PyObject* type_once(PyObject*& slot, PyType_Spec& spec);
// Allocation through the type's own allocator; null with an exception set.
PyObject* alloc_instance(PyObject* type);
// The common deallocation tail: free the memory, drop the heap type.
void free_instance(PyObject* self);

}  // namespace cmx::pyext
