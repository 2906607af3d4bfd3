#include "pyext/edit_methods.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/errors.h"
#include "pyext/file_write.h"
#include "pyext/results.h"
#include "pyext/workbook.h"
#include "session/save.h"
#include "session/set_cells.h"

namespace cmx::pyext {
namespace {

PyObject* report_result(const Result<session::EditReport, session::EngineError>& report,
                        const session::WorkbookSession& workbook) {
  if (!report) return raise_engine_error(report.error());
  return mutation_from_report(report.value(), workbook);
}

}  // namespace

PyObject* mutation_from_report(const session::EditReport& report, const session::WorkbookSession& workbook) {
  MutationPayload payload;
  payload.applied = report.applied;
  payload.changed = cell_refs_to_strings(report.changed, workbook);
  payload.cycles = cell_refs_to_strings(report.cycles, workbook);
  payload.limited = cell_refs_to_strings(report.limited, workbook);
  return new_mutation(std::move(payload));
}

PyObject* workbook_set(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet", "address", "value", "now_serial"};
  static const Signature signature{"Workbook.set()", names, 4, 3, 3};
  PyObject* bound[4];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  PyObject* const sheet = bound[0];
  PyObject* const address = bound[1];
  PyObject* const value = bound[2];
  PyObject* const now = bound[3];
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  if (!PyUnicode_Check(address)) {
    raise_type_mismatch(address, "str", "address");
    return nullptr;
  }
  const std::optional<std::string_view> text = text_arg(value, "value");
  if (!text) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(now, "now_serial");
  if (!now_serial) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const std::optional<uint32_t> index = resolve_sheet_arg(workbook.model, sheet);
  if (!index) return nullptr;
  const std::optional<model::CellRef> cell = parse_cell_arg(address);
  if (!cell) return nullptr;
  return report_result(session::set_cell(workbook, *index, *cell, *text, *now_serial), workbook);
}

PyObject* workbook_set_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet", "edits", "now_serial"};
  static const Signature signature{"Workbook.set_many()", names, 3, 2, 2};
  PyObject* bound[3];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  PyObject* const sheet = bound[0];
  PyObject* const edits_object = bound[1];
  PyObject* const now = bound[2];
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::vector<OwnedRef>> pairs = tuple_sequence_arg(edits_object, 2, "edits");
  if (!pairs) return nullptr;
  std::vector<std::pair<PyObject*, std::string>> texts;
  texts.reserve(pairs->size());
  for (const OwnedRef& pair : *pairs) {
    PyObject* address = PyTuple_GetItem(pair.get(), 0);
    if (!PyUnicode_Check(address)) {
      raise_type_mismatch(address, "str", "edits");
      return nullptr;
    }
    const std::optional<std::string_view> text = text_arg(PyTuple_GetItem(pair.get(), 1), "edits");
    if (!text) return nullptr;
    texts.emplace_back(address, std::string(*text));
  }
  const std::optional<std::optional<double>> now_serial = optional_number_arg(now, "now_serial");
  if (!now_serial) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const std::optional<uint32_t> index = resolve_sheet_arg(workbook.model, sheet);
  if (!index) return nullptr;
  std::vector<session::CellEdit> edits;
  edits.reserve(texts.size());
  for (auto& [address, text] : texts) {
    const std::optional<model::CellRef> cell = parse_cell_arg(address);
    if (!cell) return nullptr;
    edits.push_back(session::CellEdit{*cell, std::move(text)});
  }
  return report_result(session::set_many_cells(workbook, *index, edits, *now_serial), workbook);
}

PyObject* workbook_save(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const session::WorkbookSession& workbook = session_of(self);
  const Result<std::string, session::EngineError> saved =
      without_lock([&] { return session::save_workbook(workbook); });
  if (!saved) return raise_engine_error(saved.error());
  return PyBytes_FromStringAndSize(saved->data(), static_cast<Py_ssize_t>(saved->size()));
}

PyObject* workbook_save_path(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"path"};
  static const Signature signature{"Workbook.save_path()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string> path = path_arg(bound[0], "path");
  if (!path) return nullptr;
  const session::WorkbookSession& workbook = session_of(self);
  Result<void, FileError> written;
  const Result<std::string, session::EngineError> saved = without_lock([&] {
    Result<std::string, session::EngineError> archive = session::save_workbook(workbook);
    if (archive) written = write_file_replacing(*path, *archive);
    return archive;
  });
  if (!saved) return raise_engine_error(saved.error());
  if (!written) return raise_os_error(written.error().error_number, written.error().message, *path);
  Py_RETURN_NONE;
}

}  // namespace cmx::pyext
