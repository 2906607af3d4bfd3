// The agent requests of Workbook: one JSON request text in, one JSON answer
// text out; refusals are answers, unreadable requests and engine failures
// raise.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_read_cells_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_find_text_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_validate_edits_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_apply_edits_json(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace cmx::pyext
