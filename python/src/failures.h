// Failures of the library raised as the package's exceptions: the classes the
// package hands over on import, and the raising.
#pragma once

#include <pybind11/pybind11.h>

#include "dwt97/failure.h"

namespace dwt97::python {

namespace py = pybind11;

// Where a failure happened, for the message and the exception's attributes.
struct FailureContext {
  const char* operation = "";     // the library operation, for the formatted messages
  int savedErrno = 0;             // errno right after the failing call, 0 when unknown
  py::object filename = py::none();
  int mostLevels = 0;             // for tooManyLevels
};

// Raises the exception for `failure`: the package's class for its group
// (OutOfMemoryError, also a MemoryError, for running out of memory) with the
// table's message, formats filled in and without its line end. Needs the
// interpreter lock.
[[noreturn]] void raiseFailure(Failure failure, const FailureContext& context);

// Keeps the package's classes for the failure groups; called once on import.
void registerErrors(py::object malformed, py::object unsupported, py::object truncated,
                    py::object file, py::object memory);

}  // namespace dwt97::python
