#include "pyext/arguments.h"

#include "pyext/errors.h"
#include "session/quoted_text.h"

namespace cmx::pyext {

namespace {

std::optional<std::string_view> utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<size_t>(size));
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

template <typename T, typename Parse>
std::optional<T> parse_grid_arg(PyObject* object, const char* name, const char* what, Parse parse) {
  const std::optional<std::string_view> text = text_arg(object, name);
  if (!text) return std::nullopt;
  auto parsed = parse(ascii_upper(*text));
  if (!parsed) {
    std::string message = std::string("invalid ") + what + " " + std::string(*text) + ": " +
                          std::string(model::addr_error_message(parsed.error()));
    raise_module_error(ModuleError::Range, message);
    return std::nullopt;
  }
  return parsed.value();
}

}  // namespace

void raise_type_mismatch(PyObject* object, const char* expected, const char* name) {
  if (object == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
  } else {
    PyObject* type_name = PyType_GetName(Py_TYPE(object));
    if (type_name == nullptr) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", type_name, expected);
    Py_DECREF(type_name);
  }
  note_argument(name);
}

std::optional<uint32_t> resolve_sheet_arg(const model::WorkbookModel& workbook, PyObject* sheet) {
  if (Py_IS_TYPE(sheet, &PyBool_Type)) {
    raise_message(PyExc_TypeError, "sheet must be a name (str) or an index (int), not bool");
    return std::nullopt;
  }
  if (PyUnicode_Check(sheet)) {
    if (const std::optional<std::string_view> name = utf8_of(sheet)) {
      if (const std::optional<uint32_t> index = model::find_sheet_index_ci(workbook.sheets, *name)) return index;
      raise_message(PyExc_KeyError, "no sheet named " + session::quote_text(*name));
      return std::nullopt;
    }
    PyErr_Clear();  // a name that is not UTF-8 names no sheet and is no index
  }
  if (PyLong_Check(sheet)) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(sheet);
    const bool failed = value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr;
    if (failed) PyErr_Clear();
    if (failed || value >= workbook.sheets.size()) {
      PyObject* shown = PyObject_Str(sheet);
      if (shown == nullptr) return std::nullopt;
      PyErr_Format(PyExc_IndexError, "sheet index %U out of range for %zu sheet(s)", shown, workbook.sheets.size());
      Py_DECREF(shown);
      return std::nullopt;
    }
    return static_cast<uint32_t>(value);
  }
  raise_message(PyExc_TypeError, "sheet must be a name (str) or an index (int)");
  return std::nullopt;
}

std::optional<model::CellRef> parse_cell_arg(PyObject* address) {
  return parse_grid_arg<model::CellRef>(address, "address", "cell",
                                        [](const std::string& text) { return model::parse_cell_ref(text); });
}

std::optional<model::CellRange> parse_range_arg(PyObject* range) {
  return parse_grid_arg<model::CellRange>(range, "range", "range",
                                          [](const std::string& text) { return model::parse_range(text); });
}

std::optional<std::string_view> text_arg(PyObject* object, const char* name) {
  if (!PyUnicode_Check(object)) {
    raise_type_mismatch(object, "str", name);
    return std::nullopt;
  }
  std::optional<std::string_view> text = utf8_of(object);
  if (!text) note_argument(name);
  return text;
}

std::optional<std::string_view> bytes_arg(PyObject* object, const char* name) {
  if (!PyBytes_Check(object)) {
    raise_type_mismatch(object, "bytes", name);
    return std::nullopt;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(object, &data, &size) < 0) return std::nullopt;
  return std::string_view(data, static_cast<size_t>(size));
}

std::optional<std::optional<double>> optional_number_arg(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::optional<double>();
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred() != nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  return std::optional<double>(value);
}

std::optional<std::string> path_arg(PyObject* object, const char* name) {
  PyObject* path = PyOS_FSPath(object);
  if (path == nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  if (!PyUnicode_Check(path)) {
    raise_type_mismatch(path, "str", name);
    Py_DECREF(path);
    return std::nullopt;
  }
  PyObject* encoded = PyUnicode_EncodeFSDefault(path);
  Py_DECREF(path);
  if (encoded == nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  std::string out(PyBytes_AsString(encoded), static_cast<size_t>(PyBytes_Size(encoded)));
  Py_DECREF(encoded);
  return out;
}

std::optional<bool> flag_arg(PyObject* object, const char* name) {
  if (object == nullptr) return false;
  if (PyBool_Check(object)) return object == Py_True;
  PyTypeObject* type = Py_TYPE(object);
  PyObject* module = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__");
  PyObject* type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__");
  PyErr_Clear();
  const std::optional<std::string_view> module_text = module != nullptr && PyUnicode_Check(module) ? utf8_of(module) : std::nullopt;
  const std::optional<std::string_view> name_text =
      type_name != nullptr && PyUnicode_Check(type_name) ? utf8_of(type_name) : std::nullopt;
  PyErr_Clear();
  const bool numpy_bool = module_text == "numpy" && (name_text == "bool_" || name_text == "bool");
  std::string shown = name_text ? std::string(*name_text) : std::string();
  Py_XDECREF(module);
  Py_XDECREF(type_name);
  if (!numpy_bool) {
    raise_type_mismatch(object, "bool", name);
    return std::nullopt;
  }
  PyObject* method = PyObject_GetAttrString(object, "__bool__");
  if (method == nullptr) {
    PyErr_Clear();
    raise_message(PyExc_TypeError, "object of type '" + shown + "' does not define a '__bool__' conversion");
    note_argument(name);
    return std::nullopt;
  }
  PyObject* result = PyObject_CallNoArgs(method);
  Py_DECREF(method);
  if (result == nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  const int truth = PyObject_IsTrue(result);
  Py_DECREF(result);
  if (truth < 0) {
    note_argument(name);
    return std::nullopt;
  }
  return truth == 1;
}

std::optional<std::optional<uint64_t>> optional_u64_arg(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::optional<uint64_t>();
  if (!PyLong_Check(object)) {
    raise_type_mismatch(object, "int", name);
    return std::nullopt;
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  return std::optional<uint64_t>(value);
}

std::optional<std::vector<OwnedRef>> tuple_sequence_arg(PyObject* object, Py_ssize_t arity, const char* name) {
  if (PyUnicode_Check(object)) {
    raise_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
    note_argument(name);
    return std::nullopt;
  }
  if (!PySequence_Check(object)) {
    raise_type_mismatch(object, "Sequence", name);
    return std::nullopt;
  }
  std::vector<OwnedRef> items;
  const Py_ssize_t hint = PyObject_Size(object);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    items.reserve(static_cast<size_t>(hint));
  }
  OwnedRef iterator(PyObject_GetIter(object));
  if (iterator.get() == nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  while (PyObject* next = PyIter_Next(iterator.get())) {
    OwnedRef item(next);
    if (!PyTuple_Check(item.get())) {
      raise_type_mismatch(item.get(), "tuple", name);
      return std::nullopt;
    }
    const Py_ssize_t length = PyTuple_Size(item.get());
    if (length != arity) {
      PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd", arity, length);
      note_argument(name);
      return std::nullopt;
    }
    items.push_back(std::move(item));
  }
  if (PyErr_Occurred() != nullptr) {
    note_argument(name);
    return std::nullopt;
  }
  return items;
}

}  // namespace cmx::pyext
