#include "pyext/collab_methods.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pyext/arguments.h"
#include "pyext/errors.h"
#include "pyext/results.h"
#include "pyext/workbook.h"
#include "session/collab_state.h"
#include "session/document.h"
#include "session/open.h"
#include "session/recalc_requests.h"
#include "session/remote_updates.h"

namespace cmx::pyext {
namespace {

PyObject* bytes_object(const std::vector<uint8_t>& bytes) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size()));
}

PyObject* mutation_from_report(const session::EditReport& report, const session::WorkbookSession& workbook) {
  MutationPayload payload;
  payload.applied = report.applied;
  payload.changed = cell_refs_to_strings(report.changed, workbook);
  payload.cycles = cell_refs_to_strings(report.cycles, workbook);
  payload.limited = cell_refs_to_strings(report.limited, workbook);
  return new_mutation(std::move(payload));
}

// 53 random bits from the system's entropy source; none with RuntimeError set.
std::optional<uint64_t> generate_client_id() {
  uint8_t raw[8] = {};
  errno = 0;
  const int status = getentropy(raw, sizeof raw);
  if (status != 0) {
    const int error = errno;
    std::string reason = status == -1 ? (error > 0 ? "OS Error: " + std::to_string(error)
                                                   : std::string("errno: did not return a positive value"))
                                      : std::string("unexpected situation");
    raise_message(PyExc_RuntimeError, "could not generate a collaboration client ID: " + reason);
    return std::nullopt;
  }
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | raw[i];
  return value & session::kMaxClientId;
}

}  // namespace

PyObject* workbook_open_collaborative(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"data", "client_id", "recalculate", "now_serial", nullptr};
  PyObject* data = nullptr;
  PyObject* client = nullptr;
  PyObject* recalculate_object = nullptr;
  PyObject* now = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$OOO:open_collaborative", const_cast<char**>(names), &data,
                                   &client, &recalculate_object, &now)) {
    return nullptr;
  }
  const std::optional<std::string_view> bytes = bytes_arg(data, "data");
  if (!bytes) return nullptr;
  const std::optional<std::optional<uint64_t>> given = optional_u64_arg(client, "client_id");
  if (!given) return nullptr;
  bool recalculate = false;
  if (recalculate_object != nullptr) {
    const std::optional<bool> flag = flag_arg(recalculate_object, "recalculate");
    if (!flag) return nullptr;
    recalculate = *flag;
  }
  const std::optional<std::optional<double>> now_serial = optional_number_arg(now, "now_serial");
  if (!now_serial) return nullptr;
  std::optional<uint64_t> client_id = *given;
  if (!client_id) {
    client_id = generate_client_id();
    if (!client_id) return nullptr;
  }
  // The engine's own copy: nothing of the Python object is read without the lock.
  const std::string owned(*bytes);
  Result<std::unique_ptr<session::WorkbookSession>, session::EngineError> opened = nullptr;
  Py_BEGIN_ALLOW_THREADS
  opened = session::bootstrap_session(owned, !recalculate, client_id);
  if (opened && recalculate) (void)session::recalculate_workbook(*opened.value(), *now_serial);
  Py_END_ALLOW_THREADS
  if (!opened) return raise_engine_error(opened.error());
  return wrap_session(std::move(opened).value());
}

PyObject* workbook_apply_update(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"update", "now_serial", nullptr};
  PyObject* update_object = nullptr;
  PyObject* now = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$O:apply_update", const_cast<char**>(names), &update_object,
                                   &now)) {
    return nullptr;
  }
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> update = bytes_arg(update_object, "update");
  if (!update) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(now, "now_serial");
  if (!now_serial) return nullptr;
  if (update->size() > session::kMaxCollaborationBytes) {
    return raise_engine_error(session::EngineError::with_numbers(
        session::EngineErrorKind::CollaborationDataTooLarge, update->size(), session::kMaxCollaborationBytes));
  }
  const std::vector<uint8_t> owned(update->begin(), update->end());
  session::WorkbookSession& workbook = session_of(self);
  Result<session::EditReport, session::EngineError> report = session::EditReport{};
  Py_BEGIN_ALLOW_THREADS
  report = session::apply_update(workbook, owned, *now_serial);
  Py_END_ALLOW_THREADS
  if (!report) return raise_engine_error(report.error());
  return mutation_from_report(report.value(), workbook);
}

PyObject* workbook_state_vector(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return bytes_object(session::state_vector(session_of(self)));
}

PyObject* workbook_state_as_update(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return bytes_object(session::state_as_update(session_of(self)));
}

PyObject* workbook_diff(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* names[] = {"state_vector", nullptr};
  PyObject* vector_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:diff", const_cast<char**>(names), &vector_object)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> vector = bytes_arg(vector_object, "state_vector");
  if (!vector) return nullptr;
  auto answer = session::diff(session_of(self), std::span(reinterpret_cast<const uint8_t*>(vector->data()),
                                                                vector->size()));
  if (!answer) return raise_engine_error(answer.error());
  return bytes_object(answer.value());
}

PyObject* workbook_version(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::string text = session::version(session_of(self));
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* workbook_client_id(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return PyLong_FromUnsignedLongLong(session::client_id(session_of(self)));
}

PyObject* workbook_is_collaborative(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return PyBool_FromLong(session::is_collaborative(session_of(self)));
}

}  // namespace cmx::pyext
