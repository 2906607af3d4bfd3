// Conversion of Python arguments into engine values. Each converter returns
// nothing with a Python exception set when the argument is refused.
#pragma once
#include <Python.h>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include "model/address.h"
#include "model/workbook.h"

namespace cmx::pyext {

// A sheet name (first case-insensitive match) or an index below the count.
std::optional<uint32_t> resolve_sheet_arg(const model::WorkbookModel& workbook, PyObject* sheet);
// Address and range texts: ASCII letters upper-cased, then parsed in the grid.
std::optional<model::CellRef> parse_cell_arg(PyObject* address);
std::optional<model::CellRange> parse_range_arg(PyObject* range);
// A `str`; `name` is the parameter the refusal's note names.
std::optional<std::string_view> text_arg(PyObject* object, const char* name);
// `bytes` or a subclass only; the view reads the object in place.
std::optional<std::string_view> bytes_arg(PyObject* object, const char* name);
// None or absent → no value (outer optional holds); refused → outer empty.
std::optional<std::optional<double>> optional_number_arg(PyObject* object, const char* name);
// Absent → false; else exactly `bool`, or numpy's boolean scalar through its
// __bool__.
std::optional<bool> flag_arg(PyObject* object, const char* name);
// None or absent → no value (outer optional holds); else an `int` from 0 to
// 2^64 - 1.
std::optional<std::optional<uint64_t>> optional_u64_arg(PyObject* object, const char* name);
// A `str` or os.PathLike giving one, in the file-system encoding.
std::optional<std::string> path_arg(PyObject* object, const char* name);

// "'{type}' object is not an instance of '{expected}'" with the note.
void raise_type_mismatch(PyObject* object, const char* expected, const char* name);


// Owns one reference.
class OwnedRef {
 public:
  explicit OwnedRef(PyObject* object = nullptr) : object_(object) {}
  OwnedRef(OwnedRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  ~OwnedRef() { Py_XDECREF(object_); }
  PyObject* get() const { return object_; }

 private:
  PyObject* object_;
};

// A sequence that is not a `str`, iterated, whose items are tuples of exactly
// `arity` members; the tuples in order.
std::optional<std::vector<OwnedRef>> tuple_sequence_arg(PyObject* object, Py_ssize_t arity, const char* name);

}  // namespace cmx::pyext
