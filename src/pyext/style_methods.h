// Workbook methods that change how cells look and which sheet is active:
// set_style, set_number_format, set_active_sheet.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_set_style(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_set_number_format(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_set_active_sheet(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace cmx::pyext
