// Failures of the library raised as the package's exceptions: the classes the
// package hands over on import, and the raising.
#pragma once

#include <pybind11/pybind11.h>

#include "dwt97/failure.h"

namespace dwt97::python {

namespace py = pybind11;

// What a file's failure says beside its message, as OSError does.
struct FileContext {
  int savedErrno = 0;  // errno right after the failing call, 0 when unknown
  py::object filename = py::none();
};

// Raises the exception for `error`: the package's class for its group
// (OutOfMemoryError, also a MemoryError, for running out of memory) with the
// library's message (formatFailure) without its line end, and for a file's
// failure its errno and file name. Needs the interpreter lock.
[[noreturn]] void raiseFailure(const Error& error, const FileContext& context = {});

// Keeps the package's classes for the failure groups; called once on import.
void registerErrors(py::object malformed, py::object unsupported, py::object truncated,
                    py::object file, py::object memory);

}  // namespace dwt97::python
