#include "pyext/collab_methods.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/edit_methods.h"
#include "pyext/errors.h"
#include "pyext/workbook.h"
#include "session/collab_state.h"
#include "session/document.h"
#include "session/remote_updates.h"

namespace cmx::pyext {
namespace {

PyObject* bytes_object(const std::vector<uint8_t>& bytes) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size()));
}

std::span<const uint8_t> byte_span(std::string_view bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
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
  static const char* const names[] = {"data", "client_id", "recalculate", "now_serial"};
  static const Signature signature{"Workbook.open_collaborative()", names, 4, 1, 1};
  PyObject* bound[4];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string_view> bytes = bytes_arg(bound[0], "data");
  if (!bytes) return nullptr;
  const std::optional<std::optional<uint64_t>> given = optional_u64_arg(bound[1], "client_id");
  if (!given) return nullptr;
  const std::optional<bool> recalculate = flag_arg(bound[2], "recalculate");
  if (!recalculate) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[3], "now_serial");
  if (!now_serial) return nullptr;
  std::optional<uint64_t> client_id = *given;
  if (!client_id) {
    client_id = generate_client_id();
    if (!client_id) return nullptr;
  }
  return open_session(*bytes, !*recalculate, *now_serial, *recalculate, client_id);
}

PyObject* workbook_apply_update(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"update", "now_serial"};
  static const Signature signature{"Workbook.apply_update()", names, 2, 1, 1};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> update = bytes_arg(bound[0], "update");
  if (!update) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[1], "now_serial");
  if (!now_serial) return nullptr;
  if (update->size() > session::kMaxCollaborationBytes) {
    return raise_engine_error(session::EngineError::with_numbers(
        session::EngineErrorKind::CollaborationDataTooLarge, update->size(), session::kMaxCollaborationBytes));
  }
  session::WorkbookSession& workbook = session_of(self);
  // The caller's reference keeps the (immutable) bytes alive while the lock is released.
  const Result<session::EditReport, session::EngineError> report =
      without_lock([&] { return session::apply_update(workbook, byte_span(*update), *now_serial); });
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
  const session::WorkbookSession& workbook = session_of(self);
  return bytes_object(without_lock([&] { return session::state_as_update(workbook); }));
}

PyObject* workbook_diff(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"state_vector"};
  static const Signature signature{"Workbook.diff()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> vector = bytes_arg(bound[0], "state_vector");
  if (!vector) return nullptr;
  const session::WorkbookSession& workbook = session_of(self);
  const Result<std::vector<uint8_t>, session::EngineError> answer =
      without_lock([&] { return session::diff(workbook, byte_span(*vector)); });
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
