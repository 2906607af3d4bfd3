// The CPython module _cindermantle_xlsx: multi-phase initialisation on the
// limited API (abi3, 3.11). One execution step adds every attribute, each
// also listed in __all__ in the order it was added.
#include <Python.h>

#include "pyext/binding.h"
#include "pyext/errors.h"
#include "pyext/export_methods.h"
#include "pyext/results.h"
#include "pyext/workbook.h"

namespace {

constexpr const char* kVersion = "0.2.0";

// Takes the reference to `value`.
int add_public(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return -1;
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
      Py_DECREF(value);
      return -1;
    }
    PyErr_Clear();
    all = PyList_New(0);
    if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      Py_DECREF(value);
      return -1;
    }
  }
  if (!PyList_Check(all)) {
    Py_DECREF(all);
    Py_DECREF(value);
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    return -1;
  }
  PyObject* key = PyUnicode_FromString(name);
  const int appended = key == nullptr ? -1 : PyList_Append(all, key);
  Py_XDECREF(key);
  Py_DECREF(all);
  if (appended < 0) {
    Py_DECREF(value);
    return -1;
  }
  const int set = PyObject_SetAttrString(module, name, value);
  Py_DECREF(value);
  return set;
}

PyObject* new_ref(PyObject* object) {
  Py_XINCREF(object);
  return object;
}

int fill_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "expected a module");
    return -1;
  }
  if (add_public(module, "__version__", PyUnicode_FromString(kVersion)) < 0) return -1;
  if (add_public(module, "Workbook", new_ref(cmx::pyext::workbook_type())) < 0) return -1;
  if (add_public(module, "CellError", new_ref(cmx::pyext::cell_error_type())) < 0) return -1;
  if (add_public(module, "Png", new_ref(cmx::pyext::png_type())) < 0) return -1;
  if (add_public(module, "Calculation", new_ref(cmx::pyext::calculation_type())) < 0) return -1;
  if (add_public(module, "Mutation", new_ref(cmx::pyext::mutation_type())) < 0) return -1;
  if (add_public(module, "History", new_ref(cmx::pyext::history_type())) < 0) return -1;
  if (add_public(module, "Proposal", new_ref(cmx::pyext::proposal_type())) < 0) return -1;
  if (add_public(module, "ProposedEdit", new_ref(cmx::pyext::proposed_edit_type())) < 0) return -1;
  for (int i = 0; i < cmx::pyext::kModuleErrorCount; ++i) {
    const auto which = static_cast<cmx::pyext::ModuleError>(i);
    if (add_public(module, cmx::pyext::module_error_name(which), new_ref(cmx::pyext::module_error_class(which))) < 0) {
      return -1;
    }
  }
  if (add_public(module, "MAX_COLLABORATION_BYTES", PyLong_FromLong(67108864)) < 0) return -1;
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  for (int i = 0; i < cmx::pyext::kExportFunctionCount; ++i) {
    PyMethodDef* def = &cmx::pyext::export_functions[i];
    if (add_public(module, def->ml_name, PyCFunction_NewEx(def, module, module_name)) < 0) {
      Py_DECREF(module_name);
      return -1;
    }
  }
  Py_DECREF(module_name);
  return 0;
}

int module_exec(PyObject* module) {
  return cmx::pyext::guarded([&] { return fill_module(module); }, -1);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_cindermantle_xlsx", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__cindermantle_xlsx() { return PyModuleDef_Init(&module_def); }
