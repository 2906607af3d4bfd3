// The immutable result classes: payloads written once at creation, read by
// any thread without a borrow. The constructors below are how methods hand
// their results to Python.
#pragma once
#include <Python.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include "formula/recalc.h"
#include "model/cell_address.h"
#include "model/cell_value.h"
#include "session/session.h"

namespace cmx::pyext {

struct MutationPayload {
  bool applied = false;
  std::vector<std::string> changed;  // cell texts (cell_refs_to_strings)
  std::vector<std::string> cycles;
  std::vector<std::string> limited;
};

struct ProposedEditPayload {
  uint32_t sheet = 0;
  std::string address;  // plain A1, no "$"
  std::string input;
  std::string before;
  std::string after;
};

struct ProposalPayload {
  std::string id;
  std::string agent_id;
  std::optional<std::string> note;
  std::vector<ProposedEditPayload> edits;
};

struct PngPayload {
  std::string bytes;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Type objects, created on first use and kept for the process; null with an
// exception set when creation fails.
PyObject* cell_error_type();
PyObject* calculation_type();
PyObject* png_type();
PyObject* mutation_type();
PyObject* history_type();
PyObject* proposal_type();
PyObject* proposed_edit_type();

// Each returns a new object, or null with the Python error set (the payload is
// then dropped).
PyObject* new_cell_error(model::CellErrorCode code);
PyObject* new_calculation(const formula::RecalcResult& result);
PyObject* new_png(PngPayload payload);
PyObject* new_mutation(MutationPayload payload);
// can_undo and can_redo follow from the depths.
PyObject* new_history(uint64_t undo_depth, uint64_t redo_depth);
PyObject* new_proposal(ProposalPayload payload);
PyObject* new_proposed_edit(ProposedEditPayload payload);

// A cell on the active sheet as its bare A1 text, elsewhere "{sheet name}!A1"
// (the name unquoted; empty for an index past the last sheet).
std::vector<std::string> cell_refs_to_strings(const std::vector<model::CellAddress>& cells,
                                              const session::WorkbookSession& session);

// Builds a heap type from `spec` once; the cached object on later calls.
PyObject* type_once(PyObject*& slot, PyType_Spec& spec);
// Allocation through the type's own allocator; null with an exception set.
PyObject* alloc_instance(PyObject* type);
// The common deallocation tail: free the memory, drop the heap type.
void free_instance(PyObject* self);
PyObject* text_object(std::string_view text);

}  // namespace cmx::pyext
