#include "pyext/binding.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace cmx::pyext {

namespace {

PyObject* g_panic_class = nullptr;

std::string quoted_names(const Signature& signature, const bool* missing, int from, int to) {
  std::vector<std::string> names;
  for (int i = from; i < to; ++i) {
    if (missing[i]) names.push_back("'" + std::string(signature.names[i]) + "'");
  }
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += names[i];
  }
  return out;
}

bool raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

int parameter_index(const Signature& signature, PyObject* key) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &size);
  if (text == nullptr) {
    PyErr_Clear();
    return -1;
  }
  const std::string_view name(text, static_cast<size_t>(size));
  for (int i = 0; i < signature.count; ++i) {
    if (name == signature.names[i]) return i;
  }
  return -1;
}

bool raise_missing(const Signature& signature, const bool* missing) {
  int count = 0;
  for (int i = 0; i < signature.required; ++i) count += missing[i] ? 1 : 0;
  if (count == 0) return true;
  return raise_type_error(std::string(signature.display) + " missing " + std::to_string(count) +
                          " required positional" + (count == 1 ? " argument: " : " arguments: ") +
                          quoted_names(signature, missing, 0, signature.required));
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out) {
  for (int i = 0; i < signature.count; ++i) out[i] = nullptr;
  const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
  if (given > signature.positional) {
    const std::string was = given == 1 ? "was" : "were";
    const std::string takes =
        signature.required == signature.positional
            ? std::to_string(signature.positional)
            : "from " + std::to_string(signature.required) + " to " + std::to_string(signature.positional);
    return raise_type_error(std::string(signature.display) + " takes " + takes + " positional arguments but " +
                            std::to_string(given) + " " + was + " given");
  }
  for (Py_ssize_t i = 0; i < given; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!PyUnicode_Check(key)) return raise_type_error("keywords must be strings");
      const int index = parameter_index(signature, key);
      if (index < 0) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", signature.display, key);
        return false;
      }
      if (out[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", signature.display, key);
        return false;
      }
      out[index] = value;
    }
  }
  bool missing[kMaxParameters] = {};
  for (int i = 0; i < signature.required; ++i) missing[i] = out[i] == nullptr;
  return raise_missing(signature, missing);
}

PyObject* panic_exception_class() {
  if (g_panic_class == nullptr) {
    g_panic_class = PyErr_NewExceptionWithDoc("_cindermantle_xlsx.EnginePanic",
                                              "An internal invariant of the engine was broken.",
                                              PyExc_BaseException, nullptr);
  }
  return g_panic_class;
}

void raise_current_exception() {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    } catch (const std::exception& error) {
      PyObject* panic = panic_exception_class();
      if (panic != nullptr) PyErr_SetString(panic, error.what());
    } catch (...) {
      PyObject* panic = panic_exception_class();
      if (panic != nullptr) PyErr_SetString(panic, "unknown C++ exception");
    }
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

}  // namespace cmx::pyext
