#pragma once
// The edge between the message loop and the panel's handlers, in every view. Nothing may unwind
// through the window system's own frames, so every call from a widget or the timer into the form
// passes through AtEdge: what escapes goes to the application's exception handler (the error
// box) and the loop goes on.

#include <exception>
#include <utility>

namespace app {

// Hands the failure to the application's exception handler; a handler that fails in turn is
// dropped, since there is nobody left to tell.
void ReportAtEdge(std::exception_ptr error) noexcept;

template <typename F>
void AtEdge(F&& f) noexcept {
  try {
    std::forward<F>(f)();
  } catch (...) {
    ReportAtEdge(std::current_exception());
  }
}

}  // namespace app
