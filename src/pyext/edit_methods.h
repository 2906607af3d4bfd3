// Workbook methods that write cells and save: set, set_many, save, save_path.
#pragma once
#include <Python.h>

#include "session/local_commit.h"
#include "session/session.h"

namespace cmx::pyext {

// A Mutation from an edit report, cells named as the workbook shows them.
PyObject* mutation_from_report(const session::EditReport& report, const session::WorkbookSession& workbook);

PyObject* workbook_set(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_set_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_save(PyObject* self, PyObject* unused);
PyObject* workbook_save_path(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace cmx::pyext
