// The immutable result classes: payloads written once at creation, read by
// any thread without a borrow.
#pragma once
#include <Python.h>
#include <cstdint>
#include "formula/recalc.h"
#include "model/cell_value.h"

namespace cmx::pyext {

// Type objects, created on first use and kept for the process; null with an
// exception set when creation fails.
PyObject* cell_error_type();
PyObject* calculation_type();

PyObject* new_cell_error(model::CellErrorCode code);
PyObject* new_calculation(const formula::RecalcResult& result);

// Builds a heap type from `spec` once; the cached object on later calls.
PyObject* type_once(PyObject*& slot, PyType_Spec& spec);
// Allocation through the type's own allocator; null with an exception set.
PyObject* alloc_instance(PyObject* type);
// The common deallocation tail: free the memory, drop the heap type.
void free_instance(PyObject* self);

}  // namespace cmx::pyext
