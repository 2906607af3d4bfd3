// The Workbook class: one open workbook session behind a borrow flag.
#pragma once
#include <Python.h>

namespace cmx::pyext {

// Created on first use and kept for the process; null with an exception set
// when creation fails.
PyObject* workbook_type();

}  // namespace cmx::pyext
