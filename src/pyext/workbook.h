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

// The session behind a Workbook object.
session::WorkbookSession& session_of(PyObject* self);

// A borrow taken for one call, or none with the borrow error set.
std::optional<session::BorrowFlag::Guard> take_shared(PyObject* self);
std::optional<session::BorrowFlag::Guard> take_exclusive(PyObject* self);

}  // namespace cmx::pyext
