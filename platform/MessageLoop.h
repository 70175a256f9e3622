#pragma once
/// \file
/// The main thread's message loop as the serial component sees it. A worker thread hands calls to
/// the main thread in two ways: Synchronize runs a call there and blocks the worker until it has
/// run (an exception raised by the call travels back to the worker); SendMessage delivers an event
/// code to a hidden window and releases the worker as soon as the window's procedure replies, which
/// it may do at its very start. The toolkit wakes the main thread when something is queued (Qt
/// posts an event; tests pump the queue by hand with ProcessMessages).

#include <cstdint>
#include <functional>
#include <memory>

#include "Sync.h"
#include "Export.h"

namespace platform {

/// Makes the calling thread the one that owns the windows; by default the first thread that asks.
VALTREX_API void SetMainThread();
/// Whether the calling thread is the one that owns the windows.
VALTREX_API bool IsMainThread();

/// Called from any thread after a call is queued, so the toolkit can have the main thread run
/// ProcessMessages soon. Empty: nobody is woken (tests pump by hand).
VALTREX_API void SetWakeUpHook(std::function<void()> hook);

/// Runs `call` on the main thread and waits for it. On the main thread itself it runs at once.
/// An exception the call raises comes out of Synchronize on the calling thread.
VALTREX_API void Synchronize(const std::function<void()>& call);

/// Main thread: runs every queued call and message, in the order they came. Returns how many.
VALTREX_API size_t ProcessMessages();

/// True while something waits to be processed.
VALTREX_API bool MessagesPending();

/// Main thread: waits until `done` is signalled, serving the queue meanwhile, so that a delivery a
/// worker has already started completes and the worker can reach its end; the two never wait on
/// each other. Returns false on a time-out.
VALTREX_API bool WaitServingMessages(TEvent& done, uint32_t timeoutMs = kInfinite);

/// A hidden window: a procedure on the main thread that receives messages by number.
class VALTREX_API THiddenWindow {
 public:
  /// The window's procedure: a message number and its two values in, the reply out.
  using TWndProc = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
  /// A window whose messages `proc` handles, on the main thread.
  explicit THiddenWindow(TWndProc proc);
  /// Messages still queued for the window are dropped; their senders are released with 0.
  ~THiddenWindow();
  THiddenWindow(const THiddenWindow&) = delete;
  THiddenWindow& operator=(const THiddenWindow&) = delete;

  /// The window's state, shared with the messages queued for it so that they outlive it safely;
  /// defined in the library only.
  struct TState;

 private:
  friend intptr_t SendMessage(THiddenWindow&, uint32_t, uintptr_t, intptr_t);
  std::shared_ptr<TState> state_;
};

/// Delivers a message to the window's procedure on the main thread and blocks until the procedure
/// replies (ReplyMessage) or returns. From the main thread the procedure is called at once.
VALTREX_API intptr_t SendMessage(THiddenWindow& window, uint32_t message, uintptr_t wParam, intptr_t lParam);

/// Inside a window procedure: whether the message came from another thread that is still waiting.
VALTREX_API bool InSendMessage();
/// Releases the sender of the message being handled with `result`; the procedure runs on.
VALTREX_API void ReplyMessage(intptr_t result);

/// What a window procedure gives for messages it does not handle.
VALTREX_API intptr_t DefWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace platform
