// Workbook methods that write cells and save: set, set_many, save, save_path.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_set(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_set_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_save(PyObject* self, PyObject* unused);
PyObject* workbook_save_path(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace cmx::pyext
