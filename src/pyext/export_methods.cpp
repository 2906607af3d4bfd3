#include "pyext/export_methods.h"

#include <optional>
#include <string>
#include <string_view>

#include "export/export.h"
#include "pyext/arguments.h"
#include "pyext/errors.h"
#include "pyext/workbook.h"

namespace cmx::pyext {

namespace {

using Answer = Result<std::string, session::EngineError>;

PyObject* answer_object(const Answer& answer) {
  if (!answer) return raise_engine_error(answer.error());
  const std::string& text = answer.value();
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* module_export_structured_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"data", "options", nullptr};
  PyObject* data = nullptr;
  PyObject* options = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:export_xlsx_structured_json", const_cast<char**>(names), &data,
                                   &options)) {
    return nullptr;
  }
  const std::optional<std::string_view> bytes = bytes_arg(data, "data");
  if (!bytes) return nullptr;
  const std::optional<std::string_view> text = text_arg(options, "options");
  if (!text) return nullptr;
  Answer answer = std::string();
  Py_BEGIN_ALLOW_THREADS
  answer = exports::export_xlsx_structured_json(*bytes, *text);
  Py_END_ALLOW_THREADS
  return answer_object(answer);
}

PyObject* module_export_markdown_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"data", "options", "markdown_options", nullptr};
  PyObject* data = nullptr;
  PyObject* options = nullptr;
  PyObject* markdown = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO:export_xlsx_markdown_json", const_cast<char**>(names), &data,
                                   &options, &markdown)) {
    return nullptr;
  }
  const std::optional<std::string_view> bytes = bytes_arg(data, "data");
  if (!bytes) return nullptr;
  const std::optional<std::string_view> text = text_arg(options, "options");
  if (!text) return nullptr;
  const std::optional<std::string_view> markdown_text = text_arg(markdown, "markdown_options");
  if (!markdown_text) return nullptr;
  Answer answer = std::string();
  Py_BEGIN_ALLOW_THREADS
  answer = exports::export_xlsx_markdown_json(*bytes, *text, *markdown_text);
  Py_END_ALLOW_THREADS
  return answer_object(answer);
}

PyObject* module_render_markdown_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"content", "options", nullptr};
  PyObject* content = nullptr;
  PyObject* options = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:render_xlsx_markdown_json", const_cast<char**>(names), &content,
                                   &options)) {
    return nullptr;
  }
  const std::optional<std::string_view> document = text_arg(content, "content");
  if (!document) return nullptr;
  const std::optional<std::string_view> text = text_arg(options, "options");
  if (!text) return nullptr;
  Answer answer = std::string();
  Py_BEGIN_ALLOW_THREADS
  answer = exports::render_xlsx_markdown_json(*document, *text);
  Py_END_ALLOW_THREADS
  return answer_object(answer);
}

template <typename F>
PyCFunction as_cfunction(F function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

PyObject* workbook_export_structured_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"options", nullptr};
  PyObject* options = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:export_structured_json", const_cast<char**>(names), &options)) {
    return nullptr;
  }
  const auto guard = take_shared_borrow(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> text = text_arg(options, "options");
  if (!text) return nullptr;
  session::WorkbookSession& workbook = workbook_session(self);
  Answer answer = std::string();
  Py_BEGIN_ALLOW_THREADS
  answer = exports::export_structured_json(workbook, *text);
  Py_END_ALLOW_THREADS
  return answer_object(answer);
}

PyObject* workbook_export_markdown_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"options", "markdown_options", nullptr};
  PyObject* options = nullptr;
  PyObject* markdown = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:export_markdown_json", const_cast<char**>(names), &options,
                                   &markdown)) {
    return nullptr;
  }
  const auto guard = take_shared_borrow(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> text = text_arg(options, "options");
  if (!text) return nullptr;
  const std::optional<std::string_view> markdown_text = text_arg(markdown, "markdown_options");
  if (!markdown_text) return nullptr;
  session::WorkbookSession& workbook = workbook_session(self);
  Answer answer = std::string();
  Py_BEGIN_ALLOW_THREADS
  answer = exports::export_markdown_json(workbook, *text, *markdown_text);
  Py_END_ALLOW_THREADS
  return answer_object(answer);
}

PyMethodDef export_functions[] = {
    {"export_xlsx_structured_json", as_cfunction(module_export_structured_json), METH_VARARGS | METH_KEYWORDS,
     "export_xlsx_structured_json(data, options)\n--\n\nExports `.xlsx` bytes as read, without recalculating."},
    {"export_xlsx_markdown_json", as_cfunction(module_export_markdown_json), METH_VARARGS | METH_KEYWORDS,
     "export_xlsx_markdown_json(data, options, markdown_options)\n--\n\n"},
    {"render_xlsx_markdown_json", as_cfunction(module_render_markdown_json), METH_VARARGS | METH_KEYWORDS,
     "render_xlsx_markdown_json(content, options)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace cmx::pyext
