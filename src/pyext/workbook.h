// The Workbook class: one open workbook session behind a borrow flag.
#pragma once
#include <Python.h>

#include <optional>

#include "session/borrow.h"
#include "session/session.h"

namespace cmx::pyext {

// Created on first use and kept for the process; null with an exception set
// when creation fails.
PyObject* workbook_type();

// For methods defined in other files: the Workbook's session, and its shared
// borrow for one call (none with the borrow error set).
session::WorkbookSession& workbook_session(PyObject* self);
std::optional<session::BorrowFlag::Guard> take_shared_borrow(PyObject* self);

}  // namespace cmx::pyext
