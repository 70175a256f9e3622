#include "platform/Application.h"

#include <mutex>
#include <utility>

#include "platform/ReportUnhandled.h"

namespace platform {
namespace {

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

ExceptionHandler& CurrentHandler() {
  static ExceptionHandler handler;
  return handler;
}

void ReportByDefault(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ReportUnhandled(e.what());
  } catch (...) {
    ReportUnhandled("Unknown exception");
  }
}

}  // namespace

void SetExceptionHandler(ExceptionHandler handler) {
  std::lock_guard lock(HandlerMutex());
  CurrentHandler() = std::move(handler);
}

void HandleException(std::exception_ptr error) {
  ExceptionHandler handler;
  {
    std::lock_guard lock(HandlerMutex());
    handler = CurrentHandler();
  }
  // Called outside the lock: a handler may install another one.
  if (handler) {
    handler(error);
  } else {
    ReportByDefault(error);
  }
}

}  // namespace platform
