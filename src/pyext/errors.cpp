#include "pyext/errors.h"

#include <array>

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

PyObject* raise_engine_error(const session::EngineError& error) {
  const std::string message = session::engine_error_display(error);
  switch (error.kind) {
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
