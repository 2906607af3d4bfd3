#include "pyext/proposal_methods.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/address.h"
#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/edit_methods.h"
#include "pyext/errors.h"
#include "pyext/results.h"
#include "pyext/workbook.h"
#include "session/proposals.h"
#include "session/undo_redo.h"

namespace cmx::pyext {
namespace {

PyObject* proposal_object(const session::ProposalRecord& record) {
  ProposalPayload payload{record.id, record.agent_id, record.note, {}};
  payload.edits.reserve(record.edits.size());
  for (const session::ProposedEditRecord& edit : record.edits) {
    payload.edits.push_back(ProposedEditPayload{edit.sheet, model::format_cell_ref(model::CellRef{edit.row, edit.col}),
                                                edit.input, edit.before, edit.after});
  }
  return new_proposal(std::move(payload));
}

// True or False only: an int is not a flag.
std::optional<bool> flag_arg(PyObject* object, const char* name) {
  if (object == nullptr) return false;
  if (!PyBool_Check(object)) {
    raise_type_mismatch(object, "bool", name);
    return std::nullopt;
  }
  return object == Py_True;
}

std::optional<std::optional<std::string>> optional_text_arg(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::optional<std::string>();
  const std::optional<std::string_view> text = text_arg(object, name);
  if (!text) return std::nullopt;
  return std::optional<std::string>(std::string(*text));
}

PyObject* step(PyObject* self, PyObject* args, PyObject* kwargs, session::UndoDirection direction,
               const Signature& signature) {
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[0], "now_serial");
  if (!now_serial) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const auto report = session::undo_redo(workbook, direction, *now_serial);
  if (!report) return raise_engine_error(report.error());
  return mutation_from_report(report.value(), workbook);
}

}  // namespace

PyObject* workbook_propose(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"agent_id", "edits", "note", "now_serial"};
  static const Signature signature{"Workbook.propose()", names, 4, 2, 2};
  PyObject* bound[4];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> agent_id = text_arg(bound[0], "agent_id");
  if (!agent_id) return nullptr;
  const std::optional<std::vector<OwnedRef>> tuples = tuple_sequence_arg(bound[1], 3, "edits");
  if (!tuples) return nullptr;
  std::vector<std::pair<std::string, std::string>> texts;
  texts.reserve(tuples->size());
  for (const OwnedRef& tuple : *tuples) {
    PyObject* address = PyTuple_GetItem(tuple.get(), 1);
    const std::optional<std::string_view> address_text = text_arg(address, "edits");
    if (!address_text) return nullptr;
    const std::optional<std::string_view> value = text_arg(PyTuple_GetItem(tuple.get(), 2), "edits");
    if (!value) return nullptr;
    texts.emplace_back(std::string(*address_text), std::string(*value));
  }
  const std::optional<std::optional<std::string>> note = optional_text_arg(bound[2], "note");
  if (!note) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[3], "now_serial");
  if (!now_serial) return nullptr;

  session::WorkbookSession& workbook = session_of(self);
  std::vector<session::ProposalEdit> edits;
  edits.reserve(tuples->size());
  for (size_t i = 0; i < tuples->size(); ++i) {
    const std::optional<uint32_t> sheet = resolve_sheet_arg(workbook.model, PyTuple_GetItem((*tuples)[i].get(), 0));
    if (!sheet) return nullptr;
    const std::optional<model::CellRef> cell = parse_cell_arg(PyTuple_GetItem((*tuples)[i].get(), 1));
    if (!cell) return nullptr;
    edits.push_back(session::ProposalEdit{*sheet, model::CellRef{cell->row, cell->col}, std::move(texts[i].second)});
  }
  const auto record = session::propose(workbook, std::string(*agent_id), edits, *note, *now_serial);
  if (!record) return raise_engine_error(record.error());
  return proposal_object(record.value());
}

PyObject* workbook_proposals(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const session::WorkbookSession& workbook = session_of(self);
  PyObject* list = PyList_New(0);
  if (list == nullptr) return nullptr;
  for (const auto& record : workbook.proposals) {
    PyObject* item = proposal_object(*record);
    if (item == nullptr || PyList_Append(list, item) != 0) {
      Py_XDECREF(item);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(item);
  }
  return list;
}

PyObject* workbook_accept_proposal(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"proposal_id", "force", "now_serial"};
  static const Signature signature{"Workbook.accept_proposal()", names, 3, 1, 1};
  PyObject* bound[3];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> id = text_arg(bound[0], "proposal_id");
  if (!id) return nullptr;
  const std::optional<bool> force = flag_arg(bound[1], "force");
  if (!force) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[2], "now_serial");
  if (!now_serial) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const auto report = session::accept_proposal(workbook, *id, *force, *now_serial);
  if (!report) return raise_engine_error(report.error(), workbook);
  return mutation_from_report(report.value(), workbook);
}

PyObject* workbook_reject_proposal(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"proposal_id"};
  static const Signature signature{"Workbook.reject_proposal()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> id = text_arg(bound[0], "proposal_id");
  if (!id) return nullptr;
  return PyBool_FromLong(session::reject_proposal(session_of(self), *id));
}

PyObject* workbook_undo(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"now_serial"};
  static const Signature signature{"Workbook.undo()", names, 1, 0, 0};
  return step(self, args, kwargs, session::UndoDirection::Undo, signature);
}

PyObject* workbook_redo(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"now_serial"};
  static const Signature signature{"Workbook.redo()", names, 1, 0, 0};
  return step(self, args, kwargs, session::UndoDirection::Redo, signature);
}

PyObject* workbook_history(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const session::HistoryDepths depths = session::history_depths(session_of(self));
  return new_history(depths.undo, depths.redo);
}

PyObject* workbook_can_undo(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return PyBool_FromLong(session::history_depths(session_of(self)).undo > 0);
}

PyObject* workbook_can_redo(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return PyBool_FromLong(session::history_depths(session_of(self)).redo > 0);
}

}  // namespace cmx::pyext
