// The CPython module _cindermantle_xlsx: multi-phase initialisation on the
// limited API (abi3, 3.11). Classes and functions join as their subsystems land.
#include <Python.h>

namespace {

constexpr const char* kVersion = "0.2.0";

int module_exec(PyObject* module) {
  if (PyModule_AddStringConstant(module, "__version__", kVersion) < 0) return -1;
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_cindermantle_xlsx",
    "Spreadsheet engine for .xlsx workbooks.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__cindermantle_xlsx() { return PyModuleDef_Init(&module_def); }
