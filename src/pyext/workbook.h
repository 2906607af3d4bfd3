// The Workbook class: one open workbook session behind a borrow flag.
#pragma once
#include <Python.h>
#include <memory>
#include <optional>
#include "session/borrow.h"
#include "session/session.h"

namespace cmx::pyext {

// Created on first use and kept for the process; null with an exception set
// when creation fails.
PyObject* workbook_type();

// A new Workbook around an opened session; null with an exception set.
PyObject* wrap_session(std::unique_ptr<session::WorkbookSession> opened);
// The session behind a Workbook object; read it only under a borrow.
session::WorkbookSession& session_of(PyObject* self);
// The object's borrow for one call, or nothing with the borrow error set.
std::optional<session::BorrowFlag::Guard> take_shared(PyObject* self);
std::optional<session::BorrowFlag::Guard> take_exclusive(PyObject* self);

}  // namespace cmx::pyext
