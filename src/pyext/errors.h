// The module's exception classes and the raising of engine, argument and file
// failures. Every helper sets the current Python exception and returns null
// so a body can `return raise_…(…)`.
#pragma once
#include <Python.h>
#include <optional>
#include <string>
#include <string_view>
#include "session/error.h"
#include "session/session.h"

namespace cmx::pyext {

enum class ModuleError : uint8_t {
  Xlsx,
  Parse,
  Range,
  Render,
  InvalidUpdate,
  CollaborativeState,
  StaleProposal,
  NotCollaborative,
};
inline constexpr int kModuleErrorCount = 8;

// Created once per process; borrowed reference, null with an exception set
// when creation fails.
PyObject* module_error_class(ModuleError which);
// The name under which the module publishes the class ("ParseError").
const char* module_error_name(ModuleError which);

PyObject* raise_message(PyObject* type, std::string_view message);
PyObject* raise_module_error(ModuleError which, std::string_view message);
PyObject* raise_engine_error(const session::EngineError& error);
// As above; a stale proposal's "sheetId"s come from the session's sheet keys
// (the view cache, filled when empty).
PyObject* raise_engine_error(const session::EngineError& error, session::WorkbookSession& session);
// StaleProposalError(message) with `cells` (A1 texts) and `targets` (dicts of
// sheet, sheetId, row, col, a1); a key past `sheet_keys` gives None.
PyObject* raise_stale_proposal_error(const session::EngineError& error, const std::vector<std::string>& sheet_keys);
// OSError(errno or None, message, filename); CPython picks the subclass.
PyObject* raise_os_error(std::optional<int> error_number, std::string_view message, std::string_view path);
// Adds "while processing '{name}'" to the pending exception, where the
// interpreter has notes.
void note_argument(const char* name);

}  // namespace cmx::pyext
