// The structured export and Markdown calls: two Workbook methods and three
// module functions, each working with the interpreter lock released.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_export_structured_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_export_markdown_json(PyObject* self, PyObject* args, PyObject* kwargs);

// The module's functions, in the order the module adds them.
extern PyMethodDef export_functions[];
inline constexpr int kExportFunctionCount = 3;

}  // namespace cmx::pyext
