#include "pyext/results.h"

#include <memory>
#include <utility>

#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/errors.h"
#include "pyext/file_write.h"
#include "session/quoted_text.h"

namespace cmx::pyext {

namespace {

constexpr unsigned long kFrozenFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;

struct CellErrorObject {
  PyObject_HEAD
  model::CellErrorCode code;
};

struct CalculationObject {
  PyObject_HEAD
  uint64_t changed;
  uint64_t cycles;
  uint64_t limited;
};

struct HistoryObject {
  PyObject_HEAD
  uint64_t undo_depth;
  uint64_t redo_depth;
};

// A result whose payload owns texts and lists, kept behind one pointer.
template <typename T>
struct PayloadObject {
  PyObject_HEAD
  T* payload;
};

template <typename T>
const T& payload_of(PyObject* self) {
  return *reinterpret_cast<PayloadObject<T>*>(self)->payload;
}

template <typename T>
void payload_dealloc(PyObject* self) {
  delete reinterpret_cast<PayloadObject<T>*>(self)->payload;
  free_instance(self);
}

template <typename T>
PyObject* new_payload_object(PyObject* type, T payload) {
  if (type == nullptr) return nullptr;
  auto owned = std::make_unique<T>(std::move(payload));
  PyObject* self = alloc_instance(type);
  if (self != nullptr) reinterpret_cast<PayloadObject<T>*>(self)->payload = owned.release();
  return self;
}

PyObject* text_list(const std::vector<std::string>& texts) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(texts.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < texts.size(); ++i) {
    PyObject* text = text_object(texts[i]);
    if (text == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), text);
  }
  return list;
}

PyObject* count_object(uint64_t count) { return PyLong_FromUnsignedLongLong(count); }

void dealloc(PyObject* self) { free_instance(self); }

PyGetSetDef kGetSetEnd = {nullptr, nullptr, nullptr, nullptr, nullptr};

// ---- CellError

std::string_view code_of(PyObject* self) {
  return model::error_code_text(reinterpret_cast<CellErrorObject*>(self)->code);
}

PyObject* cell_error_code(PyObject* self, void*) { return text_object(code_of(self)); }

PyObject* cell_error_str(PyObject* self) { return text_object(code_of(self)); }

PyObject* cell_error_repr(PyObject* self) {
  return text_object("CellError(" + session::quote_text(code_of(self)) + ")");
}

Py_hash_t cell_error_hash(PyObject* self) {
  PyObject* code = cell_error_str(self);
  if (code == nullptr) return -1;
  const Py_hash_t hash = PyObject_Hash(code);
  Py_DECREF(code);
  return hash;
}

PyObject* cell_error_richcompare(PyObject* self, PyObject* other, int op) {
  if (op == Py_NE) {
    const int equal = PyObject_RichCompareBool(self, other, Py_EQ);
    if (equal < 0) return nullptr;
    return PyBool_FromLong(!equal);
  }
  if (op != Py_EQ) Py_RETURN_NOTIMPLEMENTED;
  if (PyObject_TypeCheck(other, reinterpret_cast<PyTypeObject*>(Py_TYPE(self)))) {
    return PyBool_FromLong(code_of(self) == code_of(other));
  }
  if (PyUnicode_Check(other)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(other, &size);
    if (data == nullptr) {
      PyErr_Clear();
      Py_RETURN_FALSE;
    }
    return PyBool_FromLong(std::string_view(data, static_cast<size_t>(size)) == code_of(self));
  }
  Py_RETURN_FALSE;
}

PyGetSetDef cell_error_getset[] = {
    {"code", getter_entry<cell_error_code>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot cell_error_slots[] = {
    {Py_tp_doc, const_cast<char*>("A spreadsheet error value, distinct from a cell holding that text.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_getset, cell_error_getset},
    {Py_tp_str, reinterpret_cast<void*>(unary_entry<cell_error_str>)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<cell_error_repr>)},
    {Py_tp_hash, reinterpret_cast<void*>(hash_entry<cell_error_hash>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(compare_entry<cell_error_richcompare>)},
    {0, nullptr},
};

PyType_Spec cell_error_spec = {"cindermantle_xlsx.CellError", sizeof(CellErrorObject), 0, kFrozenFlags,
                               cell_error_slots};

// ---- Calculation

CalculationObject* as_calculation(PyObject* self) { return reinterpret_cast<CalculationObject*>(self); }

PyObject* calculation_changed(PyObject* self, void*) { return count_object(as_calculation(self)->changed); }
PyObject* calculation_cycles(PyObject* self, void*) { return count_object(as_calculation(self)->cycles); }
PyObject* calculation_limited(PyObject* self, void*) { return count_object(as_calculation(self)->limited); }

PyObject* calculation_repr(PyObject* self) {
  const CalculationObject* c = as_calculation(self);
  return text_object("Calculation(changed=" + std::to_string(c->changed) + ", cycles=" + std::to_string(c->cycles) +
                     ", limited=" + std::to_string(c->limited) + ")");
}

PyGetSetDef calculation_getset[] = {
    {"changed", getter_entry<calculation_changed>, nullptr, nullptr, nullptr},
    {"cycles", getter_entry<calculation_cycles>, nullptr, nullptr, nullptr},
    {"limited", getter_entry<calculation_limited>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot calculation_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_getset, calculation_getset},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<calculation_repr>)},
    {0, nullptr},
};

PyType_Spec calculation_spec = {"cindermantle_xlsx.Calculation", sizeof(CalculationObject), 0, kFrozenFlags,
                                calculation_slots};

// ---- Png

PyObject* png_bytes(PyObject* self, void*) {
  const std::string& bytes = payload_of<PngPayload>(self).bytes;
  return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}
PyObject* png_width(PyObject* self, void*) { return count_object(payload_of<PngPayload>(self).width); }
PyObject* png_height(PyObject* self, void*) { return count_object(payload_of<PngPayload>(self).height); }

Py_ssize_t png_len(PyObject* self) { return static_cast<Py_ssize_t>(payload_of<PngPayload>(self).bytes.size()); }

PyObject* png_repr(PyObject* self) {
  const PngPayload& png = payload_of<PngPayload>(self);
  return text_object("Png(width=" + std::to_string(png.width) + ", height=" + std::to_string(png.height) +
                     ", bytes=" + std::to_string(png.bytes.size()) + ")");
}

PyObject* png_write(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"path"};
  static const Signature signature{"Png.write()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const std::optional<std::string> path = path_arg(bound[0], "path");
  if (!path) return nullptr;
  // The caller's reference keeps the payload alive while the lock is released.
  const std::string& bytes = payload_of<PngPayload>(self).bytes;
  const Result<void, FileError> written = without_lock([&] { return write_file_replacing(*path, bytes); });
  if (!written) return raise_os_error(written.error().error_number, written.error().message, *path);
  Py_RETURN_NONE;
}

PyMethodDef png_methods[] = {
    {"write", as_cfunction(method_entry<png_write>), METH_VARARGS | METH_KEYWORDS, "write($self, path)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef png_getset[] = {
    {"bytes", getter_entry<png_bytes>, nullptr, nullptr, nullptr},
    {"width", getter_entry<png_width>, nullptr, nullptr, nullptr},
    {"height", getter_entry<png_height>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot png_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(payload_dealloc<PngPayload>)},
    {Py_tp_methods, png_methods},
    {Py_tp_getset, png_getset},
    {Py_sq_length, reinterpret_cast<void*>(png_len)},
    {Py_mp_length, reinterpret_cast<void*>(png_len)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<png_repr>)},
    {0, nullptr},
};

PyType_Spec png_spec = {"cindermantle_xlsx.Png", sizeof(PayloadObject<PngPayload>), 0, kFrozenFlags, png_slots};

// ---- Mutation

PyObject* mutation_applied(PyObject* self, void*) { return PyBool_FromLong(payload_of<MutationPayload>(self).applied); }
PyObject* mutation_changed(PyObject* self, void*) { return text_list(payload_of<MutationPayload>(self).changed); }
PyObject* mutation_cycles(PyObject* self, void*) { return text_list(payload_of<MutationPayload>(self).cycles); }
PyObject* mutation_limited(PyObject* self, void*) { return text_list(payload_of<MutationPayload>(self).limited); }

int mutation_bool(PyObject* self) { return payload_of<MutationPayload>(self).applied ? 1 : 0; }

PyObject* mutation_repr(PyObject* self) {
  const MutationPayload& m = payload_of<MutationPayload>(self);
  return text_object(std::string("Mutation(applied=") + (m.applied ? "True" : "False") +
                     ", changed=" + std::to_string(m.changed.size()) + ")");
}

PyGetSetDef mutation_getset[] = {
    {"applied", getter_entry<mutation_applied>, nullptr, nullptr, nullptr},
    {"changed", getter_entry<mutation_changed>, nullptr, nullptr, nullptr},
    {"cycles", getter_entry<mutation_cycles>, nullptr, nullptr, nullptr},
    {"limited", getter_entry<mutation_limited>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot mutation_slots[] = {
    {Py_tp_doc, const_cast<char*>("What a mutating call changed.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(payload_dealloc<MutationPayload>)},
    {Py_tp_getset, mutation_getset},
    {Py_nb_bool, reinterpret_cast<void*>(mutation_bool)},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<mutation_repr>)},
    {0, nullptr},
};

PyType_Spec mutation_spec = {"cindermantle_xlsx.Mutation", sizeof(PayloadObject<MutationPayload>), 0, kFrozenFlags,
                             mutation_slots};

// ---- History

HistoryObject* as_history(PyObject* self) { return reinterpret_cast<HistoryObject*>(self); }

PyObject* history_can_undo(PyObject* self, void*) { return PyBool_FromLong(as_history(self)->undo_depth != 0); }
PyObject* history_can_redo(PyObject* self, void*) { return PyBool_FromLong(as_history(self)->redo_depth != 0); }
PyObject* history_undo_depth(PyObject* self, void*) { return count_object(as_history(self)->undo_depth); }
PyObject* history_redo_depth(PyObject* self, void*) { return count_object(as_history(self)->redo_depth); }

PyObject* history_repr(PyObject* self) {
  const HistoryObject* h = as_history(self);
  return text_object("History(undo_depth=" + std::to_string(h->undo_depth) +
                     ", redo_depth=" + std::to_string(h->redo_depth) + ")");
}

PyGetSetDef history_getset[] = {
    {"can_undo", getter_entry<history_can_undo>, nullptr, nullptr, nullptr},
    {"can_redo", getter_entry<history_can_redo>, nullptr, nullptr, nullptr},
    {"undo_depth", getter_entry<history_undo_depth>, nullptr, nullptr, nullptr},
    {"redo_depth", getter_entry<history_redo_depth>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot history_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_getset, history_getset},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<history_repr>)},
    {0, nullptr},
};

PyType_Spec history_spec = {"cindermantle_xlsx.History", sizeof(HistoryObject), 0, kFrozenFlags, history_slots};

// ---- ProposedEdit

const ProposedEditPayload& edit_of(PyObject* self) { return payload_of<ProposedEditPayload>(self); }

PyObject* edit_sheet(PyObject* self, void*) { return count_object(edit_of(self).sheet); }
PyObject* edit_address(PyObject* self, void*) { return text_object(edit_of(self).address); }
PyObject* edit_input(PyObject* self, void*) { return text_object(edit_of(self).input); }
PyObject* edit_before(PyObject* self, void*) { return text_object(edit_of(self).before); }
PyObject* edit_after(PyObject* self, void*) { return text_object(edit_of(self).after); }

PyObject* edit_repr(PyObject* self) {
  const ProposedEditPayload& e = edit_of(self);
  return text_object("ProposedEdit(" + e.address + " " + session::quote_text(e.before) + " -> " +
                     session::quote_text(e.after) + ")");
}

PyGetSetDef edit_getset[] = {
    {"sheet", getter_entry<edit_sheet>, nullptr, nullptr, nullptr},
    {"address", getter_entry<edit_address>, nullptr, nullptr, nullptr},
    {"input", getter_entry<edit_input>, nullptr, nullptr, nullptr},
    {"before", getter_entry<edit_before>, nullptr, nullptr, nullptr},
    {"after", getter_entry<edit_after>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot edit_slots[] = {
    {Py_tp_doc, const_cast<char*>("One cell inside a proposal, with the text a reviewer would compare.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(payload_dealloc<ProposedEditPayload>)},
    {Py_tp_getset, edit_getset},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<edit_repr>)},
    {0, nullptr},
};

PyType_Spec edit_spec = {"cindermantle_xlsx.ProposedEdit", sizeof(PayloadObject<ProposedEditPayload>), 0,
                         kFrozenFlags, edit_slots};

// ---- Proposal

const ProposalPayload& proposal_of(PyObject* self) { return payload_of<ProposalPayload>(self); }

PyObject* proposal_id(PyObject* self, void*) { return text_object(proposal_of(self).id); }
PyObject* proposal_agent_id(PyObject* self, void*) { return text_object(proposal_of(self).agent_id); }

PyObject* proposal_note(PyObject* self, void*) {
  const std::optional<std::string>& note = proposal_of(self).note;
  if (!note) Py_RETURN_NONE;
  return text_object(*note);
}

PyObject* proposal_edits(PyObject* self, void*) {
  const std::vector<ProposedEditPayload>& edits = proposal_of(self).edits;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(edits.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < edits.size(); ++i) {
    PyObject* edit = new_proposed_edit(edits[i]);
    if (edit == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), edit);
  }
  return list;
}

PyObject* proposal_repr(PyObject* self) {
  const ProposalPayload& p = proposal_of(self);
  return text_object("Proposal(id=" + session::quote_text(p.id) + ", agent_id=" + session::quote_text(p.agent_id) +
                     ", edits=" + std::to_string(p.edits.size()) + ")");
}

PyGetSetDef proposal_getset[] = {
    {"id", getter_entry<proposal_id>, nullptr, nullptr, nullptr},
    {"agent_id", getter_entry<proposal_agent_id>, nullptr, nullptr, nullptr},
    {"note", getter_entry<proposal_note>, nullptr, nullptr, nullptr},
    {"edits", getter_entry<proposal_edits>, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot proposal_slots[] = {
    {Py_tp_doc, const_cast<char*>("A staged edit set awaiting a human decision.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(payload_dealloc<ProposalPayload>)},
    {Py_tp_getset, proposal_getset},
    {Py_tp_repr, reinterpret_cast<void*>(unary_entry<proposal_repr>)},
    {0, nullptr},
};

PyType_Spec proposal_spec = {"cindermantle_xlsx.Proposal", sizeof(PayloadObject<ProposalPayload>), 0, kFrozenFlags,
                             proposal_slots};

PyObject* g_cell_error_type = nullptr;
PyObject* g_calculation_type = nullptr;
PyObject* g_png_type = nullptr;
PyObject* g_mutation_type = nullptr;
PyObject* g_history_type = nullptr;
PyObject* g_proposal_type = nullptr;
PyObject* g_proposed_edit_type = nullptr;

}  // namespace

PyObject* text_object(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* type_once(PyObject*& slot, PyType_Spec& spec) {
  if (slot == nullptr) slot = PyType_FromSpec(&spec);
  return slot;
}

PyObject* alloc_instance(PyObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  return alloc(reinterpret_cast<PyTypeObject*>(type), 0);
}

void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto release = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  release(self);
  Py_DECREF(type);
}

PyObject* cell_error_type() { return type_once(g_cell_error_type, cell_error_spec); }
PyObject* calculation_type() { return type_once(g_calculation_type, calculation_spec); }
PyObject* png_type() { return type_once(g_png_type, png_spec); }
PyObject* mutation_type() { return type_once(g_mutation_type, mutation_spec); }
PyObject* history_type() { return type_once(g_history_type, history_spec); }
PyObject* proposal_type() { return type_once(g_proposal_type, proposal_spec); }
PyObject* proposed_edit_type() { return type_once(g_proposed_edit_type, edit_spec); }

PyObject* new_cell_error(model::CellErrorCode code) {
  PyObject* type = cell_error_type();
  if (type == nullptr) return nullptr;
  PyObject* self = alloc_instance(type);
  if (self != nullptr) reinterpret_cast<CellErrorObject*>(self)->code = code;
  return self;
}

PyObject* new_calculation(const formula::RecalcResult& result) {
  PyObject* type = calculation_type();
  if (type == nullptr) return nullptr;
  PyObject* self = alloc_instance(type);
  if (self != nullptr) {
    CalculationObject* c = as_calculation(self);
    c->changed = result.changed.size();
    c->cycles = result.cycles.size();
    c->limited = result.limited.size();
  }
  return self;
}

PyObject* new_history(uint64_t undo_depth, uint64_t redo_depth) {
  PyObject* type = history_type();
  if (type == nullptr) return nullptr;
  PyObject* self = alloc_instance(type);
  if (self != nullptr) {
    as_history(self)->undo_depth = undo_depth;
    as_history(self)->redo_depth = redo_depth;
  }
  return self;
}

PyObject* new_png(PngPayload payload) { return new_payload_object(png_type(), std::move(payload)); }
PyObject* new_mutation(MutationPayload payload) { return new_payload_object(mutation_type(), std::move(payload)); }
PyObject* new_proposal(ProposalPayload payload) { return new_payload_object(proposal_type(), std::move(payload)); }
PyObject* new_proposed_edit(ProposedEditPayload payload) {
  return new_payload_object(proposed_edit_type(), std::move(payload));
}

std::vector<std::string> cell_refs_to_strings(const std::vector<model::CellAddress>& cells,
                                              const session::WorkbookSession& session) {
  std::vector<std::string> out;
  out.reserve(cells.size());
  const std::vector<model::SheetModel>& sheets = session.model.sheets;
  for (const model::CellAddress& cell : cells) {
    std::string text = model::format_cell_ref(cell.cell);
    if (cell.sheet != session.active_sheet) {
      const std::string name = cell.sheet < sheets.size() ? sheets[cell.sheet].name : std::string();
      text = name + "!" + text;
    }
    out.push_back(std::move(text));
  }
  return out;
}

}  // namespace cmx::pyext
