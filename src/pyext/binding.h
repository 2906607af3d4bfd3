// The frame around every call from Python: argument binding by position and
// keyword with the module's own TypeError wording, the guard that turns a C++
// exception into a Python one, and engine work run without the interpreter
// lock. Read errors.h next.
#pragma once
#include <Python.h>

#include <exception>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace cmx::pyext {

inline constexpr int kMaxParameters = 16;

// How an entry's parameters bind: `names` in signature order, the first
// `positional` of them may come by position, the first `required` of those
// must be given; the rest are keyword-only and optional. At most
// kMaxParameters names. `display` names the
// entry in messages ("Workbook.value()").
struct Signature {
  const char* display;
  const char* const* names;
  int count;
  int positional;
  int required;
};

// Fills `out[0..count)` with borrowed references, null where a parameter was
// omitted. False with a TypeError set when the call does not bind.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out);

// The class of a broken internal invariant: a BaseException, so an
// `except Exception` around a call does not swallow it.
PyObject* panic_exception_class();

// Sets the Python exception for the C++ exception being handled: MemoryError
// for an allocation failure, the panic class with the what() text otherwise.
void raise_current_exception();

// Runs `body` and turns any C++ exception into the Python exception above;
// `failed` is what the entry returns to CPython on failure.
template <typename Body, typename Failed>
auto guarded(Body&& body, Failed failed) noexcept -> decltype(body()) {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    // Setting the exception itself may throw (out of memory); that is fatal.
    raise_current_exception();
    return failed;
  }
}

// Gives up the interpreter lock for the lifetime of the object; takes it back
// on every way out, an exception included, so the guard above may raise.
class LockReleased {
 public:
  LockReleased() : state_(PyEval_SaveThread()) {}
  ~LockReleased() { PyEval_RestoreThread(state_); }
  LockReleased(const LockReleased&) = delete;
  LockReleased& operator=(const LockReleased&) = delete;

 private:
  PyThreadState* state_;
};

template <typename Work>
decltype(auto) without_lock(Work&& work) {
  LockReleased released;
  return std::forward<Work>(work)();
}

// Entry adapters for the CPython tables: each wraps a body in the guard.
template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyObject* method_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return F(self, args, kwargs); }, static_cast<PyObject*>(nullptr));
}

template <PyObject* (*F)(PyObject*, PyObject*)>
PyObject* noargs_entry(PyObject* self, PyObject* unused) {
  return guarded([&] { return F(self, unused); }, static_cast<PyObject*>(nullptr));
}

template <PyObject* (*F)(PyObject*, void*)>
PyObject* getter_entry(PyObject* self, void* closure) {
  return guarded([&] { return F(self, closure); }, static_cast<PyObject*>(nullptr));
}

template <PyObject* (*F)(PyObject*)>
PyObject* unary_entry(PyObject* self) {
  return guarded([&] { return F(self); }, static_cast<PyObject*>(nullptr));
}

template <Py_ssize_t (*F)(PyObject*)>
Py_ssize_t length_entry(PyObject* self) {
  return guarded([&] { return F(self); }, Py_ssize_t{-1});
}

template <Py_hash_t (*F)(PyObject*)>
Py_hash_t hash_entry(PyObject* self) {
  return guarded([&] { return F(self); }, Py_hash_t{-1});
}

template <PyObject* (*F)(PyObject*, PyObject*, int)>
PyObject* compare_entry(PyObject* self, PyObject* other, int op) {
  return guarded([&] { return F(self, other, op); }, static_cast<PyObject*>(nullptr));
}

template <typename F>
PyCFunction as_cfunction(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace cmx::pyext
