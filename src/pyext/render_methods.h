// Workbook.render_png: a rectangle of one sheet painted into a Png.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_render_png(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace cmx::pyext
