// The message loop on the system's own: a hidden window of the main thread per THiddenWindow, so
// a worker's SendMessage is the system's, released by ReplyMessage and served wherever the main
// thread looks at its messages; and one more hidden window that a posted message wakes, so
// Synchronize's queue is served by the program's ordinary message loop.
#include "platform/MessageLoop.h"

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

#include "platform/MainThread.h"
#include "platform/win32/Windows.h"

namespace platform {

struct THiddenWindow::TState {
  TWndProc proc;
  HWND hwnd = nullptr;
  std::atomic<bool> alive{true};
};

namespace {

constexpr const char* kHiddenClass = "TValtrexHiddenWindow";
constexpr const char* kSyncClass = "TValtrexSyncWindow";
constexpr UINT kSyncMessage = WM_APP + 0x100;

using loop::TSyncCall;

struct TQueue {
  std::mutex mutex;
  std::deque<TSyncCall> calls;
  TEvent pending{true, false};  // signalled while calls wait
  std::atomic<HWND> syncWindow{nullptr};
  std::atomic<bool> posted{false};  // one wake-up message at a time is enough

  void Push(TSyncCall call) {
    {
      std::lock_guard lock(mutex);
      calls.push_back(call);
      pending.Set();
    }
    const HWND window = syncWindow.load();
    if (window && !posted.exchange(true) && !PostMessageA(window, kSyncMessage, 0, 0)) {
      posted = false;
    }
    loop::WakeUp();
  }

  bool Pop(TSyncCall& call) {
    std::lock_guard lock(mutex);
    if (calls.empty()) {
      pending.Reset();
      return false;
    }
    call = calls.front();
    calls.pop_front();
    if (calls.empty()) pending.Reset();
    return true;
  }
};

TQueue& Queue() {
  static TQueue queue;
  return queue;
}

// On the main thread: messages from other threads that reached a live window's procedure, and
// what a procedure raised (it cannot travel through the system's call back into ours).
thread_local size_t tSentServed = 0;
thread_local std::exception_ptr tEscaped;
thread_local HWND tCurrentWindow = nullptr;

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<THiddenWindow::TState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!state || !state->alive) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  if (::InSendMessage()) ++tSentServed;
  HWND outer = std::exchange(tCurrentWindow, hwnd);
  LRESULT result = 0;
  try {
    result = state->proc(message, wParam, lParam);
  } catch (...) {
    if (!tEscaped) tEscaped = std::current_exception();
  }
  tCurrentWindow = outer;
  return result;
}

void ServeSyncCalls(size_t& served);
size_t QueuedCalls();

LRESULT CALLBACK SyncWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kSyncMessage) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  Queue().posted = false;
  size_t served = 0;
  ServeSyncCalls(served);
  return 0;
}

size_t QueuedCalls() {
  std::lock_guard lock(Queue().mutex);
  return Queue().calls.size();
}

void RegisterClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSA hidden = {};
    hidden.lpfnWndProc = HiddenWindowProc;
    hidden.hInstance = Instance();
    hidden.lpszClassName = kHiddenClass;
    RegisterClassA(&hidden);
    WNDCLASSA sync = hidden;
    sync.lpfnWndProc = SyncWindowProc;
    sync.lpszClassName = kSyncClass;
    RegisterClassA(&sync);
  });
}

HWND CreateMessageWindow(const char* windowClass) {
  RegisterClasses();
  return CreateWindowExA(0, windowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Instance(),
                         nullptr);
}

// The wake-up window belongs to the main thread, so it is made there, the first time that thread
// comes by.
void EnsureSyncWindow() {
  TQueue& q = Queue();
  const HWND window = q.syncWindow.load();
  if (window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) return;
  q.posted = false;
  q.syncWindow = CreateMessageWindow(kSyncClass);
}

// The calls queued when this starts: one that a worker queues meanwhile, its previous call just
// served, waits for the next turn, as it would had it come a moment later.
void ServeSyncCalls(size_t& served) {
  size_t left = QueuedCalls();
  for (TSyncCall call; left > 0 && Queue().Pop(call); ++served, --left) loop::RunSyncCall(call);
}

bool SentMessagesWaiting() {
  return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}

// Peeking delivers the messages that other threads sent to this thread's windows; it takes
// nothing from the posted queue.
void ServeSentMessages() {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

void loop::QueueSyncCall(const TSyncCall& call) {
  Queue().Push(call);
}

void SetMainThread() {
  loop::MarkMainThread();
  EnsureSyncWindow();
}

size_t ProcessMessages() {
  EnsureSyncWindow();
  // The wake-up for what is served here is no longer needed.
  MSG msg;
  const HWND syncWindow = Queue().syncWindow.load();
  if (syncWindow && PeekMessageA(&msg, syncWindow, kSyncMessage, kSyncMessage, PM_REMOVE)) {
    Queue().posted = false;
  }
  size_t served = 0;
  const size_t sentBefore = tSentServed;
  do {
    ServeSentMessages();
    ServeSyncCalls(served);
    if (tEscaped) {
      // A window procedure's exception goes to the caller, the toolkit's edge.
      std::rethrow_exception(std::exchange(tEscaped, nullptr));
    }
  } while (SentMessagesWaiting());
  return served + (tSentServed - sentBefore);
}

bool MessagesPending() {
  {
    std::lock_guard lock(Queue().mutex);
    if (!Queue().calls.empty()) return true;
  }
  return IsMainThread() && SentMessagesWaiting();
}

bool WaitServingMessages(TEvent& done, uint32_t timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  const HANDLE handles[] = {win32::EventHandle(done.Handle()),
                            win32::EventHandle(Queue().pending.Handle())};
  for (;;) {
    DWORD wait = INFINITE;
    if (timeoutMs != kInfinite) {
      const ULONGLONG now = GetTickCount64();
      wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    }
    const DWORD r = MsgWaitForMultipleObjectsEx(2, handles, wait, QS_SENDMESSAGE,
                                                MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) return true;
    if (r == WAIT_OBJECT_0 + 1 || r == WAIT_OBJECT_0 + 2) {
      ProcessMessages();
      continue;
    }
    return false;
  }
}

THiddenWindow::THiddenWindow(TWndProc proc) : state_(std::make_shared<TState>()) {
  state_->proc = std::move(proc);
  state_->hwnd = CreateMessageWindow(kHiddenClass);
  if (state_->hwnd) {
    SetWindowLongPtrA(state_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_.get()));
  }
}

THiddenWindow::~THiddenWindow() {
  state_->alive = false;
  if (!state_->hwnd) return;
  // Senders still waiting are released with 0 before the window goes.
  if (GetWindowThreadProcessId(state_->hwnd, nullptr) == GetCurrentThreadId()) {
    while (SentMessagesWaiting()) ServeSentMessages();
  }
  SetWindowLongPtrA(state_->hwnd, GWLP_USERDATA, 0);
  DestroyWindow(state_->hwnd);
}

intptr_t SendMessage(THiddenWindow& window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const std::shared_ptr<THiddenWindow::TState> state = window.state_;
  if (!state->alive || !state->hwnd) return 0;
  return ::SendMessageA(state->hwnd, message, wParam, lParam);
}

bool InSendMessage() {
  // Sent from another thread, and its sender not yet released.
  return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND;
}

void ReplyMessage(intptr_t result) {
  ::ReplyMessage(result);
}

intptr_t DefWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return tCurrentWindow ? ::DefWindowProcA(tCurrentWindow, message, wParam, lParam) : 0;
}

}  // namespace platform
