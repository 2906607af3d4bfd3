#include "pyext/agent_methods.h"

#include <optional>
#include <string>
#include <string_view>

#include "agent/batch.h"
#include "agent/requests.h"
#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/errors.h"
#include "pyext/results.h"
#include "pyext/workbook.h"

namespace cmx::pyext {
namespace {

using RequestCore = Result<std::string, session::EngineError> (*)(const session::WorkbookSession&,
                                                                  std::string_view);

PyObject* answer_object(const Result<std::string, session::EngineError>& answer) {
  if (!answer) return raise_engine_error(answer.error());
  return text_object(*answer);
}

// The two reading requests keep the interpreter lock: they are bounded and
// hand back one text.
template <RequestCore core>
PyObject* reading_request(PyObject* self, PyObject* args, PyObject* kwargs, const Signature& signature) {
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> request = text_arg(bound[0], "request");
  if (!request) return nullptr;
  return answer_object(core(session_of(self), *request));
}

// The batch requests release the lock while they stage and commit; the
// borrow keeps other calls on this workbook out.
template <bool exclusive>
PyObject* batch_request(PyObject* self, PyObject* args, PyObject* kwargs, const Signature& signature) {
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = exclusive ? take_exclusive(self) : take_shared(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> request = text_arg(bound[0], "request");
  if (!request) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  auto answer = without_lock([&] {
    return exclusive ? agent::run_apply_edits_request(workbook, *request)
                     : agent::run_validate_edits_request(workbook, *request);
  });
  return answer_object(answer);
}

const char* const kRequestNames[] = {"request"};

}  // namespace

PyObject* workbook_read_cells_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const Signature signature{"Workbook.read_cells_json()", kRequestNames, 1, 1, 1};
  return reading_request<agent::run_read_cells_request>(self, args, kwargs, signature);
}

PyObject* workbook_find_text_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const Signature signature{"Workbook.find_text_json()", kRequestNames, 1, 1, 1};
  return reading_request<agent::run_find_text_request>(self, args, kwargs, signature);
}

PyObject* workbook_validate_edits_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const Signature signature{"Workbook.validate_edits_json()", kRequestNames, 1, 1, 1};
  return batch_request<false>(self, args, kwargs, signature);
}

PyObject* workbook_apply_edits_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const Signature signature{"Workbook.apply_edits_json()", kRequestNames, 1, 1, 1};
  return batch_request<true>(self, args, kwargs, signature);
}

}  // namespace cmx::pyext
