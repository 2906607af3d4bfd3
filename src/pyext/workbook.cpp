#include "pyext/workbook.h"

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/collab_methods.h"
#include "pyext/agent_methods.h"
#include "pyext/edit_methods.h"
#include "pyext/proposal_methods.h"
#include "pyext/style_methods.h"
#include "pyext/errors.h"
#include "pyext/export_methods.h"
#include "pyext/file_read.h"
#include "pyext/render_methods.h"
#include "pyext/results.h"
#include "session/borrow.h"
#include "session/open.h"
#include "session/recalc_requests.h"
#include "session/session.h"

namespace cmx::pyext {

namespace {

struct WorkbookObject {
  PyObject_HEAD
  session::WorkbookSession* session;
  session::BorrowFlag* borrow;
};

WorkbookObject* as_workbook(PyObject* self) { return reinterpret_cast<WorkbookObject*>(self); }

PyObject* g_workbook_type = nullptr;

PyObject* wrap_session(std::unique_ptr<session::WorkbookSession> opened) {
  PyObject* type = workbook_type();
  if (type == nullptr) return nullptr;
  PyObject* self = alloc_instance(type);
  if (self == nullptr) return nullptr;
  as_workbook(self)->borrow = new (std::nothrow) session::BorrowFlag();
  if (as_workbook(self)->borrow == nullptr) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  as_workbook(self)->session = opened.release();
  return self;
}

void workbook_dealloc(PyObject* self) {
  delete as_workbook(self)->session;
  delete as_workbook(self)->borrow;
  free_instance(self);
}

PyObject* workbook_open(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"data"};
  static const Signature signature{"Workbook.open()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string_view> bytes = bytes_arg(bound[0], "data");
  if (!bytes) return nullptr;
  return open_session(*bytes, true, std::nullopt, false);
}

PyObject* workbook_open_recalculated(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"data", "now_serial"};
  static const Signature signature{"Workbook.open_recalculated()", names, 2, 1, 1};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string_view> bytes = bytes_arg(bound[0], "data");
  if (!bytes) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[1], "now_serial");
  if (!now_serial) return nullptr;
  return open_session(*bytes, false, *now_serial, true);
}

PyObject* workbook_open_path(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"path"};
  static const Signature signature{"Workbook.open_path()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string> path = path_arg(bound[0], "path");
  if (!path) return nullptr;
  Result<std::string, FileError> read = without_lock([&] { return read_workbook_file(*path); });
  if (!read) return raise_os_error(read.error().error_number, read.error().message, *path);
  // The session copies what it keeps; the file's buffer is the only other one.
  return open_session(read.value(), true, std::nullopt, false);
}

PyObject* workbook_recalculate(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"now_serial"};
  static const Signature signature{"Workbook.recalculate()", names, 1, 0, 0};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::optional<double>> now_serial = optional_number_arg(bound[0], "now_serial");
  if (!now_serial) return nullptr;
  session::WorkbookSession& workbook = *as_workbook(self)->session;
  const formula::RecalcResult result =
      without_lock([&] { return session::recalculate_workbook(workbook, *now_serial); });
  return new_calculation(result);
}

PyObject* workbook_last_calculation(PyObject* self, PyObject*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return new_calculation(as_workbook(self)->session->last_calculation);
}

// The stored cell at (sheet, address), after binding and converting both.
struct CellLookup {
  bool ok = false;
  const model::SheetCell* cell = nullptr;
  std::optional<session::BorrowFlag::Guard> guard;
};

CellLookup lookup_cell(PyObject* self, PyObject* args, PyObject* kwargs, const char* display) {
  static const char* const names[] = {"sheet", "address"};
  const Signature signature{display, names, 2, 2, 2};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return {};
  PyObject* sheet = bound[0];
  PyObject* address = bound[1];
  CellLookup lookup{false, nullptr, take_shared(self)};
  if (!lookup.guard) return {};
  if (!PyUnicode_Check(address)) {
    raise_type_mismatch(address, "str", "address");
    return {};
  }
  const model::WorkbookModel& model = as_workbook(self)->session->model;
  const std::optional<uint32_t> index = resolve_sheet_arg(model, sheet);
  if (!index) return {};
  const std::optional<model::CellRef> ref = parse_cell_arg(address);
  if (!ref) return {};
  const model::CellMap& cells = model.sheets[*index].cells;
  const auto found = cells.find(model::CellKey{ref->row, ref->col});
  lookup.ok = true;
  lookup.cell = found == cells.end() ? nullptr : &found->second;
  return lookup;
}

PyObject* workbook_value(PyObject* self, PyObject* args, PyObject* kwargs) {
  const CellLookup lookup = lookup_cell(self, args, kwargs, "Workbook.value()");
  if (!lookup.ok) return nullptr;
  if (lookup.cell == nullptr) Py_RETURN_NONE;
  const model::CellValue& value = lookup.cell->value;
  switch (value.kind()) {
    case model::CellValue::Kind::Empty:
      Py_RETURN_NONE;
    case model::CellValue::Kind::Number:
      return PyFloat_FromDouble(value.as_number());
    case model::CellValue::Kind::Text:
      return text_object(value.as_text());
    case model::CellValue::Kind::Bool:
      return PyBool_FromLong(value.as_bool());
    case model::CellValue::Kind::Error:
      return new_cell_error(value.as_error());
  }
  Py_RETURN_NONE;
}

PyObject* workbook_formula(PyObject* self, PyObject* args, PyObject* kwargs) {
  const CellLookup lookup = lookup_cell(self, args, kwargs, "Workbook.formula()");
  if (!lookup.ok) return nullptr;
  if (lookup.cell == nullptr || !lookup.cell->formula) Py_RETURN_NONE;
  return text_object(lookup.cell->formula->view());
}

PyObject* workbook_sheet_index(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet"};
  static const Signature signature{"Workbook.sheet_index()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::optional<uint32_t> index = resolve_sheet_arg(as_workbook(self)->session->model, bound[0]);
  if (!index) return nullptr;
  return PyLong_FromUnsignedLong(*index);
}

PyObject* workbook_merged_ranges(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet", "range"};
  static const Signature signature{"Workbook.merged_ranges()", names, 2, 2, 2};
  PyObject* bound[2];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  PyObject* sheet = bound[0];
  PyObject* range_object = bound[1];
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  if (!PyUnicode_Check(range_object)) {
    raise_type_mismatch(range_object, "str", "range");
    return nullptr;
  }
  const model::WorkbookModel& model = as_workbook(self)->session->model;
  const std::optional<uint32_t> index = resolve_sheet_arg(model, sheet);
  if (!index) return nullptr;
  const std::optional<model::CellRange> range = parse_range_arg(range_object);
  if (!range) return nullptr;
  PyObject* list = PyList_New(0);
  if (list == nullptr) return nullptr;
  for (const model::CellRange& merge : model.sheets[*index].merges) {
    const bool meets = merge.end.row >= range->start.row && merge.start.row <= range->end.row &&
                       merge.start.col <= range->end.col && merge.end.col >= range->start.col;
    if (!meets) continue;
    PyObject* text = text_object(model::format_range(merge));
    if (text == nullptr || PyList_Append(list, text) < 0) {
      Py_XDECREF(text);
      Py_DECREF(list);
      return nullptr;
    }
    Py_DECREF(text);
  }
  return list;
}

PyObject* workbook_sheet_names(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  const std::vector<model::SheetModel>& sheets = as_workbook(self)->session->model.sheets;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(sheets.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < sheets.size(); ++i) {
    PyObject* name = text_object(sheets[i].name);
    if (name == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), name);
  }
  return list;
}

PyObject* workbook_sheet_count(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return PyLong_FromSize_t(as_workbook(self)->session->model.sheets.size());
}

PyObject* workbook_active_sheet(PyObject* self, void*) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return PyLong_FromUnsignedLong(as_workbook(self)->session->active_sheet);
}

Py_ssize_t workbook_len(PyObject* self) {
  const auto guard = take_shared(self);
  if (!guard) return -1;
  return static_cast<Py_ssize_t>(as_workbook(self)->session->model.sheets.size());
}

PyObject* workbook_repr(PyObject* self) {
  const auto guard = take_shared(self);
  if (!guard) return nullptr;
  return text_object("Workbook(sheets=" + std::to_string(as_workbook(self)->session->model.sheets.size()) + ")");
}

constexpr int kStatic = METH_VARARGS | METH_KEYWORDS | METH_STATIC;
constexpr int kMethod = METH_VARARGS | METH_KEYWORDS;

PyMethodDef workbook_methods[] = {
    {"open", as_cfunction(method_entry<workbook_open>), kStatic,
     "open(data)\n--\n\nKeeps the values already cached in the file."},
    {"open_path", as_cfunction(method_entry<workbook_open_path>), kStatic, "open_path(path)\n--\n\n"},
    {"open_recalculated", as_cfunction(method_entry<workbook_open_recalculated>), kStatic,
     "open_recalculated(data, *, now_serial=None)\n--\n\n"},
    {"open_collaborative", as_cfunction(method_entry<workbook_open_collaborative>), kStatic,
     "open_collaborative(data, *, client_id=None, recalculate=False, now_serial=None)\n--\n\nOpen a replica with a "
     "generated ID unless `client_id` is supplied."},
    {"recalculate", as_cfunction(method_entry<workbook_recalculate>), kMethod,
     "recalculate($self, *, now_serial=None)\n--\n\n"},
    {"sheet_index", as_cfunction(method_entry<workbook_sheet_index>), kMethod,
     "sheet_index($self, sheet)\n--\n\n"},
    {"value", as_cfunction(method_entry<workbook_value>), kMethod, "value($self, sheet, address)\n--\n\n"},
    {"formula", as_cfunction(method_entry<workbook_formula>), kMethod,
     "formula($self, sheet, address)\n--\n\nSource formula without the leading `=`."},
    {"render_png", as_cfunction(method_entry<workbook_render_png>), kMethod,
     "render_png($self, sheet, *, scale=1.0, range=None, max_width=None, max_height=None)\n--\n\n"},
    {"merged_ranges", as_cfunction(method_entry<workbook_merged_ranges>), kMethod,
     "merged_ranges($self, sheet, range)\n--\n\n"},
    {"last_calculation", as_cfunction(noargs_entry<workbook_last_calculation>), METH_NOARGS,
     "last_calculation($self)\n--\n\n"},
    {"set", as_cfunction(method_entry<workbook_set>), kMethod,
     "set($self, sheet, address, value, *, now_serial=None)\n--\n\nTakes what a user would type; returns whether "
     "anything changed."},
    {"set_many", as_cfunction(method_entry<workbook_set_many>), kMethod,
     "set_many($self, sheet, edits, *, now_serial=None)\n--\n\nWrite many cells as one undo step."},
    {"save", as_cfunction(noargs_entry<workbook_save>), METH_NOARGS, "save($self)\n--\n\n"},
    {"save_path", as_cfunction(method_entry<workbook_save_path>), kMethod, "save_path($self, path)\n--\n\n"},
    {"export_structured_json", as_cfunction(method_entry<workbook_export_structured_json>), kMethod,
     "export_structured_json($self, options)\n--\n\n"},
    {"export_markdown_json", as_cfunction(method_entry<workbook_export_markdown_json>), kMethod,
     "export_markdown_json($self, options, markdown_options)\n--\n\n"},
    {"propose", as_cfunction(method_entry<workbook_propose>), kMethod,
     "propose($self, agent_id, edits, *, note=None, now_serial=None)\n--\n\nStage edits for a human to accept or "
     "reject instead of applying them."},
    {"proposals", as_cfunction(noargs_entry<workbook_proposals>), METH_NOARGS, "proposals($self)\n--\n\n"},
    {"accept_proposal", as_cfunction(method_entry<workbook_accept_proposal>), kMethod,
     "accept_proposal($self, proposal_id, *, force=False, now_serial=None)\n--\n\n"},
    {"reject_proposal", as_cfunction(method_entry<workbook_reject_proposal>), kMethod,
     "reject_proposal($self, proposal_id)\n--\n\n"},
    {"undo", as_cfunction(method_entry<workbook_undo>), kMethod, "undo($self, *, now_serial=None)\n--\n\n"},
    {"redo", as_cfunction(method_entry<workbook_redo>), kMethod, "redo($self, *, now_serial=None)\n--\n\n"},
    {"history", as_cfunction(noargs_entry<workbook_history>), METH_NOARGS, "history($self)\n--\n\n"},
    {"set_style", as_cfunction(method_entry<workbook_set_style>), kMethod,
     "set_style($self, sheet, range, *, bold=None, italic=None, strikethrough=None, font_family=None, "
     "font_size=None, text_color=None, fill_color=None, horizontal_alignment=None, vertical_alignment=None, "
     "text_wrapping=None, now_serial=None)\n--\n\nPatch styling over a range. Every argument is optional; omitted "
     "ones are\nleft as they are."},
    {"set_number_format", as_cfunction(method_entry<workbook_set_number_format>), kMethod,
     "set_number_format($self, sheet, range, format, *, now_serial=None)\n--\n\nSet a number format over a range. "
     "`format` is one of automatic, text,\nnumber, percent, scientific, currency, date, time, or a custom pattern."},
    {"set_active_sheet", as_cfunction(method_entry<workbook_set_active_sheet>), kMethod,
     "set_active_sheet($self, sheet)\n--\n\nSelect a sheet and persist it as the workbook's active tab."},
    {"apply_update", as_cfunction(method_entry<workbook_apply_update>), kMethod,
     "apply_update($self, update, *, now_serial=None)\n--\n\n"},
    {"state_vector", as_cfunction(noargs_entry<workbook_state_vector>), METH_NOARGS,
     "state_vector($self)\n--\n\nThis replica's state vector, to hand a peer so it can compute a diff."},
    {"state_as_update", as_cfunction(noargs_entry<workbook_state_as_update>), METH_NOARGS,
     "state_as_update($self)\n--\n\nThe whole document as one update, for a peer joining from nothing."},
    {"diff", as_cfunction(method_entry<workbook_diff>), kMethod,
     "diff($self, state_vector)\n--\n\nThe update carrying everything the peer's state vector is missing."},
    {"version", as_cfunction(noargs_entry<workbook_version>), METH_NOARGS, "version($self)\n--\n\n"},
    {"read_cells_json", as_cfunction(method_entry<workbook_read_cells_json>), kMethod,
     "read_cells_json($self, request)\n--\n\n"},
    {"find_text_json", as_cfunction(method_entry<workbook_find_text_json>), kMethod,
     "find_text_json($self, request)\n--\n\n"},
    {"validate_edits_json", as_cfunction(method_entry<workbook_validate_edits_json>), kMethod,
     "validate_edits_json($self, request)\n--\n\n"},
    {"apply_edits_json", as_cfunction(method_entry<workbook_apply_edits_json>), kMethod,
     "apply_edits_json($self, request)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef workbook_getset[] = {
    {"sheet_count", getter_entry<workbook_sheet_count>, nullptr, nullptr, nullptr},
    {"sheet_names", getter_entry<workbook_sheet_names>, nullptr, nullptr, nullptr},
    {"active_sheet", getter_entry<workbook_active_sheet>, nullptr, nullptr, nullptr},
    {"can_undo", getter_entry<workbook_can_undo>, nullptr, nullptr, nullptr},
    {"can_redo", getter_entry<workbook_can_redo>, nullptr, nullptr, nullptr},
    {"client_id", getter_entry<workbook_client_id>, nullptr, nullptr, nullptr},
    {"is_collaborative", getter_entry<workbook_is_collaborative>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot workbook_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(workbook_dealloc)},
    {Py_tp_methods, workbook_methods},
    {Py_tp_getset, workbook_getset},
    {Py_sq_length, reinterpret_cast<void*>(length_entry<workbook_len>)},
    {Py_mp_length, reinterpret_cast<void*>(length_entry<workbook_len>)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<workbook_repr>)},
    {0, nullptr},
};

PyType_Spec workbook_spec = {"cindermantle_xlsx.Workbook", sizeof(WorkbookObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, workbook_slots};

}  // namespace

PyObject* open_session(std::string_view data, bool keep_cached, std::optional<double> now_serial, bool recalculate,
                       std::optional<uint64_t> client_id) {
  auto opened = without_lock([&] {
    auto made = session::bootstrap_session(data, keep_cached, client_id);
    if (made && recalculate) (void)session::recalculate_workbook(*made.value(), now_serial);
    return made;
  });
  if (!opened) return raise_engine_error(opened.error());
  return wrap_session(std::move(opened).value());
}

PyObject* workbook_type() { return type_once(g_workbook_type, workbook_spec); }

session::WorkbookSession& session_of(PyObject* self) { return *as_workbook(self)->session; }

std::optional<session::BorrowFlag::Guard> take_shared(PyObject* self) {
  std::optional<session::BorrowFlag::Guard> guard = as_workbook(self)->borrow->try_shared();
  if (!guard) raise_message(PyExc_RuntimeError, session::kAlreadyMutablyBorrowed);
  return guard;
}

std::optional<session::BorrowFlag::Guard> take_exclusive(PyObject* self) {
  std::optional<session::BorrowFlag::Guard> guard = as_workbook(self)->borrow->try_exclusive();
  if (!guard) raise_message(PyExc_RuntimeError, session::kAlreadyBorrowed);
  return guard;
}

}  // namespace cmx::pyext
