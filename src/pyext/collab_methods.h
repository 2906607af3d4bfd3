// The Workbook entries of collaboration: opening a replica, merging a peer's
// update, and what a replica tells its peers.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_open_collaborative(PyObject* cls, PyObject* args, PyObject* kwargs);
PyObject* workbook_apply_update(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_state_vector(PyObject* self, PyObject* unused);
PyObject* workbook_state_as_update(PyObject* self, PyObject* unused);
PyObject* workbook_diff(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_version(PyObject* self, PyObject* unused);
PyObject* workbook_client_id(PyObject* self, void* closure);
PyObject* workbook_is_collaborative(PyObject* self, void* closure);

}  // namespace cmx::pyext
