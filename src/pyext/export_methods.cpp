#include "pyext/export_methods.h"

#include <optional>
#include <string>
#include <string_view>

#include "export/export.h"
#include "pyext/arguments.h"
#include "pyext/binding.h"
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
  static const char* const names[] = {"data", "options"};
  static const Signature signature{"export_xlsx_structured_json()", names, 2, 2, 2};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string_view> bytes = bytes_arg(bound[0], "data");
  if (!bytes) return nullptr;
  const std::optional<std::string_view> options = text_arg(bound[1], "options");
  if (!options) return nullptr;
  return answer_object(without_lock([&] { return exports::export_xlsx_structured_json(*bytes, *options); }));
}

PyObject* module_export_markdown_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"data", "options", "markdown_options"};
  static const Signature signature{"export_xlsx_markdown_json()", names, 3, 3, 3};
  PyObject* bound[3];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string_view> bytes = bytes_arg(bound[0], "data");
  if (!bytes) return nullptr;
  const std::optional<std::string_view> options = text_arg(bound[1], "options");
  if (!options) return nullptr;
  const std::optional<std::string_view> markdown = text_arg(bound[2], "markdown_options");
  if (!markdown) return nullptr;
  return answer_object(
      without_lock([&] { return exports::export_xlsx_markdown_json(*bytes, *options, *markdown); }));
}

PyObject* module_render_markdown_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"content", "options"};
  static const Signature signature{"render_xlsx_markdown_json()", names, 2, 2, 2};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string_view> content = text_arg(bound[0], "content");
  if (!content) return nullptr;
  const std::optional<std::string_view> options = text_arg(bound[1], "options");
  if (!options) return nullptr;
  return answer_object(without_lock([&] { return exports::render_xlsx_markdown_json(*content, *options); }));
}

}  // namespace

PyObject* workbook_export_structured_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"options"};
  static const Signature signature{"Workbook.export_structured_json()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> options = text_arg(bound[0], "options");
  if (!options) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  return answer_object(without_lock([&] { return exports::export_structured_json(workbook, *options); }));
}

PyObject* workbook_export_markdown_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"options", "markdown_options"};
  static const Signature signature{"Workbook.export_markdown_json()", names, 2, 2, 2};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> options = text_arg(bound[0], "options");
  if (!options) return nullptr;
  const std::optional<std::string_view> markdown = text_arg(bound[1], "markdown_options");
  if (!markdown) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  return answer_object(
      without_lock([&] { return exports::export_markdown_json(workbook, *options, *markdown); }));
}

PyMethodDef export_functions[] = {
    {"export_xlsx_structured_json", as_cfunction(method_entry<module_export_structured_json>),
     METH_VARARGS | METH_KEYWORDS,
     "export_xlsx_structured_json(data, options)\n--\n\nExports `.xlsx` bytes as read, without recalculating."},
    {"export_xlsx_markdown_json", as_cfunction(method_entry<module_export_markdown_json>), METH_VARARGS | METH_KEYWORDS,
     "export_xlsx_markdown_json(data, options, markdown_options)\n--\n\n"},
    {"render_xlsx_markdown_json", as_cfunction(method_entry<module_render_markdown_json>), METH_VARARGS | METH_KEYWORDS,
     "render_xlsx_markdown_json(content, options)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace cmx::pyext
