// Test-only module: hands Python the result objects and the errors that
// methods not yet reachable from Python would build, from plain arguments.
// Cells are (sheet, A1 text) pairs; a workbook argument is a Workbook of the
// real module, whose session names the sheets.
#include <Python.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/address.h"
#include "pyext/binding.h"
#include "pyext/errors.h"
#include "pyext/results.h"
#include "pyext/workbook.h"

namespace {

using namespace cmx;

bool text_of(PyObject* object, std::string& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) return false;
  out.assign(data, static_cast<size_t>(size));
  return true;
}

bool cells_of(PyObject* list, std::vector<model::CellAddress>& out) {
  const Py_ssize_t count = PyList_Size(list);
  for (Py_ssize_t i = 0; i < count; ++i) {
    unsigned int sheet = 0;
    const char* a1 = nullptr;
    if (!PyArg_ParseTuple(PyList_GetItem(list, i), "Is", &sheet, &a1)) return false;
    auto ref = model::parse_cell_ref(a1);
    if (!ref) {
      PyErr_SetString(PyExc_ValueError, a1);
      return false;
    }
    out.push_back(model::CellAddress{sheet, *ref});
  }
  return true;
}

PyObject* mutation(PyObject*, PyObject* args) {
  PyObject *workbook = nullptr, *changed = nullptr, *cycles = nullptr, *limited = nullptr;
  int applied = 0;
  if (!PyArg_ParseTuple(args, "OpO!O!O!", &workbook, &applied, &PyList_Type, &changed, &PyList_Type, &cycles,
                        &PyList_Type, &limited)) {
    return nullptr;
  }
  std::vector<model::CellAddress> lists[3];
  if (!cells_of(changed, lists[0]) || !cells_of(cycles, lists[1]) || !cells_of(limited, lists[2])) return nullptr;
  const session::WorkbookSession& session = pyext::session_of(workbook);
  return pyext::new_mutation(pyext::MutationPayload{applied != 0, pyext::cell_refs_to_strings(lists[0], session),
                                                    pyext::cell_refs_to_strings(lists[1], session),
                                                    pyext::cell_refs_to_strings(lists[2], session)});
}

PyObject* history(PyObject*, PyObject* args) {
  unsigned long long undo = 0, redo = 0;
  if (!PyArg_ParseTuple(args, "KK", &undo, &redo)) return nullptr;
  return pyext::new_history(undo, redo);
}

PyObject* proposal(PyObject*, PyObject* args) {
  PyObject *id = nullptr, *agent = nullptr, *note = nullptr, *edits = nullptr;
  if (!PyArg_ParseTuple(args, "UUOO!", &id, &agent, &note, &PyList_Type, &edits)) return nullptr;
  pyext::ProposalPayload payload;
  if (!text_of(id, payload.id) || !text_of(agent, payload.agent_id)) return nullptr;
  if (note != Py_None) {
    payload.note.emplace();
    if (!text_of(note, *payload.note)) return nullptr;
  }
  for (Py_ssize_t i = 0; i < PyList_Size(edits); ++i) {
    pyext::ProposedEditPayload edit;
    PyObject *address = nullptr, *input = nullptr, *before = nullptr, *after = nullptr;
    if (!PyArg_ParseTuple(PyList_GetItem(edits, i), "IUUUU", &edit.sheet, &address, &input, &before, &after) ||
        !text_of(address, edit.address) || !text_of(input, edit.input) || !text_of(before, edit.before) ||
        !text_of(after, edit.after)) {
      return nullptr;
    }
    payload.edits.push_back(std::move(edit));
  }
  return pyext::new_proposal(std::move(payload));
}

PyObject* stale(PyObject*, PyObject* args) {
  PyObject *workbook = nullptr, *cells = nullptr;
  if (!PyArg_ParseTuple(args, "OO!", &workbook, &PyList_Type, &cells)) return nullptr;
  std::vector<model::CellAddress> stale_cells;
  if (!cells_of(cells, stale_cells)) return nullptr;
  const session::EngineError error = session::EngineError::stale_proposal(std::move(stale_cells));
  if (workbook == Py_None) return pyext::raise_engine_error(error);
  return pyext::raise_engine_error(error, pyext::session_of(workbook));
}

// Throws what the argument names, from inside the entry guard.
PyObject* throw_body(PyObject*, PyObject* args) {
  const char* what = nullptr;
  if (!PyArg_ParseTuple(args, "s", &what)) return nullptr;
  if (std::string(what) == "bad_alloc") throw std::bad_alloc();
  if (std::string(what) == "logic") throw std::logic_error("broken invariant");
  throw 42;
}

PyObject* guarded_throw(PyObject* self, PyObject* args) {
  return pyext::guarded([&] { return throw_body(self, args); }, static_cast<PyObject*>(nullptr));
}

PyMethodDef probe_methods[] = {
    {"mutation", mutation, METH_VARARGS, nullptr},
    {"history", history, METH_VARARGS, nullptr},
    {"proposal", proposal, METH_VARARGS, nullptr},
    {"stale", stale, METH_VARARGS, nullptr},
    {"guarded_throw", guarded_throw, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_def = {
    PyModuleDef_HEAD_INIT, "_cmx_results_probe", nullptr, 0, probe_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__cmx_results_probe() { return PyModule_Create(&probe_def); }
