// The library's failures raised as the package's exceptions: the classes the
// package hands over on import, and the raising with the library's message.
#include "failures.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace dwt97::python {
namespace {

// The package's exception classes, one per failure group; kept for the
// interpreter's lifetime.
struct ErrorClasses {
  py::object malformed;
  py::object unsupported;
  py::object truncated;
  py::object file;
  py::object memory;
};

ErrorClasses& errorClasses() {
  static ErrorClasses* classes = new ErrorClasses();  // never destroyed: outlives finalisation
  return *classes;
}

// The library's message for `error`, without its line end.
std::string failureMessage(const Error& error) {
  char buffer[dwt97::kMessageCapacity];
  std::string message = dwt97::formatFailure(error, buffer, sizeof buffer);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

void raiseFailure(const Error& failure, const FileContext& context) {
  const std::string message = failureMessage(failure);
  const ErrorClasses& classes = errorClasses();
  py::object type;
  const dwt97::FailureGroup group = dwt97::failureGroup(failure.failure);
  switch (group) {
    case dwt97::FailureGroup::malformed:
      type = classes.malformed;
      break;
    case dwt97::FailureGroup::unsupported:
      type = classes.unsupported;
      break;
    case dwt97::FailureGroup::truncated:
      type = classes.truncated;
      break;
    case dwt97::FailureGroup::io:
      type = classes.file;
      break;
    case dwt97::FailureGroup::outOfMemory:
      type = classes.memory;
      break;
  }
  if (!type) throw std::runtime_error(message);  // the package did not register its classes
  py::object error = type(message);
  if (group == dwt97::FailureGroup::io) {
    if (context.savedErrno != 0) error.attr("errno") = context.savedErrno;
    error.attr("filename") = context.filename;
  }
  PyErr_SetObject(type.ptr(), error.ptr());
  throw py::error_already_set();
}

void registerErrors(py::object malformed, py::object unsupported, py::object truncated,
                    py::object file, py::object memory) {
  ErrorClasses& classes = errorClasses();
  classes.malformed = std::move(malformed);
  classes.unsupported = std::move(unsupported);
  classes.truncated = std::move(truncated);
  classes.file = std::move(file);
  classes.memory = std::move(memory);
}

}  // namespace dwt97::python
