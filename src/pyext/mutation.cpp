#include "pyext/mutation.h"

#include <new>
#include <utility>

#include "model/address.h"
#include "pyext/results.h"

namespace cmx::pyext {
namespace {

struct MutationObject {
  PyObject_HEAD
  MutationPayload* payload;
};

const MutationPayload& payload_of(PyObject* self) { return *reinterpret_cast<MutationObject*>(self)->payload; }

PyObject* text_list(const std::vector<std::string>& texts) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(texts.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < texts.size(); ++i) {
    PyObject* text = PyUnicode_FromStringAndSize(texts[i].data(), static_cast<Py_ssize_t>(texts[i].size()));
    if (text == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), text);
  }
  return list;
}

PyObject* mutation_applied(PyObject* self, void*) { return PyBool_FromLong(payload_of(self).applied); }
PyObject* mutation_changed(PyObject* self, void*) { return text_list(payload_of(self).changed); }
PyObject* mutation_cycles(PyObject* self, void*) { return text_list(payload_of(self).cycles); }
PyObject* mutation_limited(PyObject* self, void*) { return text_list(payload_of(self).limited); }
int mutation_bool(PyObject* self) { return payload_of(self).applied ? 1 : 0; }

PyObject* mutation_repr(PyObject* self) {
  const MutationPayload& payload = payload_of(self);
  const std::string text = std::string("Mutation(applied=") + (payload.applied ? "True" : "False") +
                           ", changed=" + std::to_string(payload.changed.size()) + ")";
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
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
    {Py_tp_dealloc, reinterpret_cast<void*>(mutation_dealloc)},
    {Py_tp_getset, mutation_getset},
    {Py_nb_bool, reinterpret_cast<void*>(mutation_bool)},
    {Py_tp_repr, reinterpret_cast<void*>(mutation_repr)},
    {0, nullptr},
};

PyType_Spec mutation_spec = {"cindermantle_xlsx.Mutation", sizeof(MutationObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, mutation_slots};

PyObject* g_mutation_type = nullptr;

}  // namespace

PyObject* mutation_type() { return type_once(g_mutation_type, mutation_spec); }

PyObject* new_mutation(MutationPayload payload) {
  PyObject* type = mutation_type();
  if (type == nullptr) return nullptr;
  auto* owned = new (std::nothrow) MutationPayload(std::move(payload));
  if (owned == nullptr) return PyErr_NoMemory();
  PyObject* self = alloc_instance(type);
  if (self == nullptr) {
    delete owned;
    return nullptr;
  }
  reinterpret_cast<MutationObject*>(self)->payload = owned;
  return self;
}

std::vector<std::string> cell_refs_to_strings(const std::vector<model::CellAddress>& cells,
                                              const session::WorkbookSession& session) {
  std::vector<std::string> texts;
  texts.reserve(cells.size());
  for (const model::CellAddress& cell : cells) {
    const std::string a1 = model::format_cell_ref(cell.cell);
    if (cell.sheet == session.active_sheet) {
      texts.push_back(a1);
    } else {
      const std::string name = cell.sheet < session.model.sheets.size() ? session.model.sheets[cell.sheet].name : "";
      texts.push_back(name + "!" + a1);
    }
  }
  return texts;
}

}  // namespace cmx::pyext
