#include "pyext/errors.h"

#include <array>

#include "session/views.h"

namespace cmx::pyext {

namespace {

struct ErrorClassInfo {
  const char* name;
  const char* qualified;
  const char* doc;
};

constexpr std::array<ErrorClassInfo, kModuleErrorCount> kErrorClasses = {{
    {"XlsxError", "_cindermantle_xlsx.XlsxError", "Base class for every error raised by the engine."},
    {"ParseError", "_cindermantle_xlsx.ParseError", "The workbook could not be read."},
    {"RangeError", "_cindermantle_xlsx.RangeError", "A sheet, cell, or range was out of bounds or too large."},
    {"RenderError", "_cindermantle_xlsx.RenderError", "Rendering failed or exceeded a size limit."},
    {"InvalidUpdateError", "_cindermantle_xlsx.InvalidUpdateError", "A peer sent an invalid collaboration update."},
    {"CollaborativeStateError", "_cindermantle_xlsx.CollaborativeStateError",
     "The local collaborative state is invalid."},
    {"StaleProposalError", "_cindermantle_xlsx.StaleProposalError",
     "A proposal's target cells changed before acceptance."},
    {"NotCollaborativeError", "_cindermantle_xlsx.NotCollaborativeError",
     "The operation requires a collaborative workbook."},
}};

// Classes live for the process: a re-imported module publishes the same ones.
std::array<PyObject*, kModuleErrorCount> g_error_classes{};

// By variant; InvalidRequest and ProposalNotFound raise built-in classes instead (raise_engine_error).
ModuleError module_error_for(session::EngineErrorKind kind) {
  using K = session::EngineErrorKind;
  switch (kind) {
    case K::Package:
    case K::Spreadsheet:
    case K::NoSheets:
    case K::DuplicatePart:
      return ModuleError::Parse;
    case K::CollaborativeState:
      return ModuleError::CollaborativeState;
    case K::InvalidUpdate:
      return ModuleError::InvalidUpdate;
    case K::NotCollaborative:
      return ModuleError::NotCollaborative;
    case K::SheetOutOfRange:
    case K::CellOutOfRange:
    case K::RangeTooLarge:
    case K::InvalidViewport:
    case K::DisplayTooLarge:
      return ModuleError::Range;
    case K::StaleProposal:
      return ModuleError::StaleProposal;
    case K::InvalidScale:
    case K::RenderTooLarge:
    case K::RenderAreaTooLarge:
    case K::Raster:
      return ModuleError::Render;
    default:
      return ModuleError::Xlsx;
  }
}

}  // namespace

const char* module_error_name(ModuleError which) { return kErrorClasses[static_cast<int>(which)].name; }

PyObject* module_error_class(ModuleError which) {
  const int index = static_cast<int>(which);
  if (g_error_classes[index] != nullptr) return g_error_classes[index];
  PyObject* base = PyExc_Exception;
  if (which != ModuleError::Xlsx) {
    base = module_error_class(ModuleError::Xlsx);
    if (base == nullptr) return nullptr;
  }
  const ErrorClassInfo& info = kErrorClasses[index];
  PyObject* made = PyErr_NewExceptionWithDoc(info.qualified, info.doc, base, nullptr);
  if (made == nullptr) return nullptr;
  g_error_classes[index] = made;
  return made;
}

PyObject* raise_message(PyObject* type, std::string_view message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(type, text);
  Py_DECREF(text);
  return nullptr;
}

PyObject* raise_module_error(ModuleError which, std::string_view message) {
  PyObject* type = module_error_class(which);
  if (type == nullptr) return nullptr;
  return raise_message(type, message);
}

namespace {

// Steals `value`; false with the Python error set when anything fails.
bool set_item(PyObject* dict, const char* key, PyObject* value) {
  if (value == nullptr) return false;
  const int set = PyDict_SetItemString(dict, key, value);
  Py_DECREF(value);
  return set == 0;
}

PyObject* text_of(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* stale_target(const model::CellAddress& cell, const std::string& a1,
                       const std::vector<std::string>& sheet_keys) {
  PyObject* target = PyDict_New();
  if (target == nullptr) return nullptr;
  const bool known = cell.sheet < sheet_keys.size();
  PyObject* key = known ? text_of(sheet_keys[cell.sheet]) : Py_NewRef(Py_None);
  const bool filled = set_item(target, "sheet", PyLong_FromUnsignedLong(cell.sheet)) &&
                      set_item(target, "sheetId", key) &&
                      set_item(target, "row", PyLong_FromUnsignedLong(cell.cell.row)) &&
                      set_item(target, "col", PyLong_FromUnsignedLong(cell.cell.col)) &&
                      set_item(target, "a1", text_of(a1));
  if (!filled) {
    Py_DECREF(target);
    return nullptr;
  }
  return target;
}

// Steals `item`.
bool append(PyObject* list, PyObject* item) {
  if (item == nullptr) return false;
  const int appended = PyList_Append(list, item);
  Py_DECREF(item);
  return appended == 0;
}

}  // namespace

PyObject* raise_stale_proposal_error(const session::EngineError& error, const std::vector<std::string>& sheet_keys) {
  PyObject* type = module_error_class(ModuleError::StaleProposal);
  if (type == nullptr) return nullptr;
  const std::string message = session::engine_error_display(error);
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return nullptr;
  PyObject* instance = PyObject_CallFunctionObjArgs(type, text, nullptr);
  Py_DECREF(text);
  if (instance == nullptr) return nullptr;
  PyObject* cells = PyList_New(0);
  PyObject* targets = PyList_New(0);
  bool built = cells != nullptr && targets != nullptr;
  for (size_t i = 0; built && i < error.cells.size(); ++i) {
    model::CellRef plain = error.cells[i].cell;
    plain.abs_row = plain.abs_col = false;
    const std::string a1 = model::format_cell_ref(plain);
    built = append(cells, text_of(a1)) &&
            append(targets, stale_target(error.cells[i], a1, sheet_keys));
  }
  built = built && PyObject_SetAttrString(instance, "cells", cells) == 0 &&
          PyObject_SetAttrString(instance, "targets", targets) == 0;
  Py_XDECREF(cells);
  Py_XDECREF(targets);
  if (built) PyErr_SetObject(type, instance);
  Py_DECREF(instance);
  return nullptr;
}

PyObject* raise_engine_error(const session::EngineError& error, session::WorkbookSession& session) {
  if (error.kind != session::EngineErrorKind::StaleProposal) return raise_engine_error(error);
  auto view = session::refresh_view_cache(session);
  return raise_stale_proposal_error(error, view ? view->sheet_keys : std::vector<std::string>());
}

PyObject* raise_engine_error(const session::EngineError& error) {
  const std::string message = session::engine_error_display(error);
  switch (error.kind) {
    case session::EngineErrorKind::StaleProposal:
      return raise_stale_proposal_error(error, {});
    case session::EngineErrorKind::InvalidRequest:
      return raise_message(PyExc_ValueError, message);
    case session::EngineErrorKind::ProposalNotFound:
      return raise_message(PyExc_KeyError, message);
    default:
      return raise_module_error(module_error_for(error.kind), message);
  }
}

PyObject* raise_os_error(std::optional<int> error_number, std::string_view message, std::string_view path) {
  PyObject* number = error_number ? PyLong_FromLong(*error_number) : Py_NewRef(Py_None);
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  PyObject* name = PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace");
  PyObject* args = number && text && name ? PyTuple_Pack(3, number, text, name) : nullptr;
  Py_XDECREF(number);
  Py_XDECREF(text);
  Py_XDECREF(name);
  if (args == nullptr) return nullptr;
  PyObject* error = PyObject_Call(PyExc_OSError, args, nullptr);
  Py_DECREF(args);
  if (error == nullptr) return nullptr;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
  Py_DECREF(error);
  return nullptr;
}

void note_argument(const char* name) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && PyObject_HasAttrString(value, "add_note")) {
    PyObject* note = PyUnicode_FromFormat("while processing '%s'", name);
    if (note != nullptr) {
      PyObject* done = PyObject_CallMethod(value, "add_note", "O", note);
      Py_XDECREF(done);
      Py_DECREF(note);
      PyErr_Clear();
    }
  }
  PyErr_Restore(type, value, traceback);
}

}  // namespace cmx::pyext
