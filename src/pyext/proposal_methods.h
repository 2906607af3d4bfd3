// Workbook methods for staged proposals and for the edit history: propose,
// proposals, accept_proposal, reject_proposal, undo, redo, history and the
// can_undo / can_redo getters.
#pragma once
#include <Python.h>

namespace cmx::pyext {

PyObject* workbook_propose(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_proposals(PyObject* self, PyObject* unused);
PyObject* workbook_accept_proposal(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_reject_proposal(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_undo(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_redo(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* workbook_history(PyObject* self, PyObject* unused);
PyObject* workbook_can_undo(PyObject* self, void* closure);
PyObject* workbook_can_redo(PyObject* self, void* closure);

}  // namespace cmx::pyext
