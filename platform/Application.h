#pragma once
/// \file
/// The application's exception handler: where a failure goes that has no caller left to catch
/// it (a port opened while its form is loaded, a handler raising inside a window procedure).
/// The window layer installs a handler that shows the message box; until then the message goes
/// to standard error (a Windows program without a console shows it in a box).

#include <exception>
#include <functional>
#include "Export.h"

namespace platform {

/// What receives a failure that no caller can catch; it is given the exception itself.
using ExceptionHandler = std::function<void(std::exception_ptr)>;

/// Installs the process's handler, replacing the one before. An empty handler restores the
/// default.
VALTREX_API void SetExceptionHandler(ExceptionHandler handler);
/// Hands `error` to the installed handler on the calling thread, or reports it the default way
/// while none is installed. For code that must not let a failure escape: destructors, window
/// procedures.
VALTREX_API void HandleException(std::exception_ptr error);

}  // namespace platform
