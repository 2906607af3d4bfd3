// The Workbook class: one open workbook session behind a borrow flag.
#pragma once
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "session/borrow.h"
#include "session/session.h"

namespace cmx::pyext {

// Created on first use and kept for the process; null with an exception set
// when creation fails.
PyObject* workbook_type();

// Opens a session without the interpreter lock (`data` stays alive through
// the caller's reference, bytes being immutable, or is owned by the caller)
// and wraps it in a new Workbook; null with an exception set.
PyObject* open_session(std::string_view data, bool keep_cached, std::optional<double> now_serial, bool recalculate,
                       std::optional<uint64_t> client_id = std::nullopt);

// The session behind a Workbook object.
session::WorkbookSession& session_of(PyObject* self);

// A borrow taken for one call, or none with the borrow error set.
std::optional<session::BorrowFlag::Guard> take_shared(PyObject* self);
std::optional<session::BorrowFlag::Guard> take_exclusive(PyObject* self);

}  // namespace cmx::pyext
