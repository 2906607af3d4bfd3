#include "pyext/results.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "model/address.h"
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

std::string_view code_of(PyObject* self) {
  return model::error_code_text(reinterpret_cast<CellErrorObject*>(self)->code);
}

PyObject* text_object(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
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

void dealloc(PyObject* self) { free_instance(self); }

PyGetSetDef cell_error_getset[] = {
    {"code", cell_error_code, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot cell_error_slots[] = {
    {Py_tp_doc, const_cast<char*>("An Excel error value, distinct from a cell holding that text.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_getset, cell_error_getset},
    {Py_tp_str, reinterpret_cast<void*>(cell_error_str)},
    {Py_tp_repr, reinterpret_cast<void*>(cell_error_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(cell_error_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(cell_error_richcompare)},
    {0, nullptr},
};

PyType_Spec cell_error_spec = {"cindermantle_xlsx.CellError", sizeof(CellErrorObject), 0, kFrozenFlags,
                               cell_error_slots};

CalculationObject* as_calculation(PyObject* self) { return reinterpret_cast<CalculationObject*>(self); }

PyObject* calculation_changed(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(as_calculation(self)->changed);
}
PyObject* calculation_cycles(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(as_calculation(self)->cycles);
}
PyObject* calculation_limited(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(as_calculation(self)->limited);
}

PyObject* calculation_repr(PyObject* self) {
  const CalculationObject* c = as_calculation(self);
  return text_object("Calculation(changed=" + std::to_string(c->changed) + ", cycles=" + std::to_string(c->cycles) +
                     ", limited=" + std::to_string(c->limited) + ")");
}

PyGetSetDef calculation_getset[] = {
    {"changed", calculation_changed, nullptr, nullptr, nullptr},
    {"cycles", calculation_cycles, nullptr, nullptr, nullptr},
    {"limited", calculation_limited, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot calculation_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_getset, calculation_getset},
    {Py_tp_repr, reinterpret_cast<void*>(calculation_repr)},
    {0, nullptr},
};

PyType_Spec calculation_spec = {"cindermantle_xlsx.Calculation", sizeof(CalculationObject), 0, kFrozenFlags,
                                calculation_slots};

struct MutationObject {
  PyObject_HEAD
  MutationPayload* payload;
};

const MutationPayload& mutation_of(PyObject* self) { return *reinterpret_cast<MutationObject*>(self)->payload; }

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

PyObject* mutation_applied(PyObject* self, void*) { return PyBool_FromLong(mutation_of(self).applied); }
PyObject* mutation_changed(PyObject* self, void*) { return text_list(mutation_of(self).changed); }
PyObject* mutation_cycles(PyObject* self, void*) { return text_list(mutation_of(self).cycles); }
PyObject* mutation_limited(PyObject* self, void*) { return text_list(mutation_of(self).limited); }

int mutation_bool(PyObject* self) { return mutation_of(self).applied ? 1 : 0; }

PyObject* mutation_repr(PyObject* self) {
  const MutationPayload& m = mutation_of(self);
  return text_object(std::string("Mutation(applied=") + (m.applied ? "True" : "False") +
                     ", changed=" + std::to_string(m.changed.size()) + ")");
}

void mutation_dealloc(PyObject* self) {
  delete reinterpret_cast<MutationObject*>(self)->payload;
  free_instance(self);
}

PyGetSetDef mutation_getset[] = {
    {"applied", mutation_applied, nullptr, nullptr, nullptr},
    {"changed", mutation_changed, nullptr, nullptr, nullptr},
    {"cycles", mutation_cycles, nullptr, nullptr, nullptr},
    {"limited", mutation_limited, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot mutation_slots[] = {
    {Py_tp_doc, const_cast<char*>("What a mutating call changed.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(mutation_dealloc)},
    {Py_tp_getset, mutation_getset},
    {Py_nb_bool, reinterpret_cast<void*>(mutation_bool)},
    {Py_tp_repr, reinterpret_cast<void*>(mutation_repr)},
    {0, nullptr},
};

PyType_Spec mutation_spec = {"cindermantle_xlsx.Mutation", sizeof(MutationObject), 0, kFrozenFlags, mutation_slots};

PyObject* g_cell_error_type = nullptr;
PyObject* g_calculation_type = nullptr;
PyObject* g_mutation_type = nullptr;

}  // namespace

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
PyObject* mutation_type() { return type_once(g_mutation_type, mutation_spec); }

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

std::vector<std::string> cell_refs_to_strings(const std::vector<model::CellAddress>& cells,
                                              const session::WorkbookSession& session) {
  std::vector<std::string> texts;
  texts.reserve(cells.size());
  for (const model::CellAddress& cell : cells) {
    std::string ref = model::format_cell_ref(cell.cell);
    if (cell.sheet == session.active_sheet) {
      texts.push_back(std::move(ref));
      continue;
    }
    std::string name = cell.sheet < session.model.sheets.size() ? session.model.sheets[cell.sheet].name : "";
    texts.push_back(name + "!" + ref);
  }
  return texts;
}

PyObject* new_mutation(MutationPayload payload) {
  PyObject* type = mutation_type();
  if (type == nullptr) return nullptr;
  auto owned = std::unique_ptr<MutationPayload>(new (std::nothrow) MutationPayload(std::move(payload)));
  if (!owned) return PyErr_NoMemory();
  PyObject* self = alloc_instance(type);
  if (self != nullptr) reinterpret_cast<MutationObject*>(self)->payload = owned.release();
  return self;
}

}  // namespace cmx::pyext
