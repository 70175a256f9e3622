// The bookkeeping both message loops share: the main thread, the wake-up hook, and Synchronize.
#include "platform/MainThread.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/MessageLoop.h"

namespace platform {
namespace {

// The process's first thread runs static initialisation; it is the main thread unless told.
const std::thread::id gProcessThread = std::this_thread::get_id();

std::atomic<std::thread::id>& MainThread() {
  static std::atomic<std::thread::id> mainThread{gProcessThread};
  return mainThread;
}

struct TWakeUp {
  std::mutex mutex;
  std::function<void()> hook;
};

TWakeUp& WakeUpHook() {
  static TWakeUp wakeUp;
  return wakeUp;
}

}  // namespace

void loop::MarkMainThread() {
  MainThread() = std::this_thread::get_id();
}

void loop::WakeUp() {
  std::function<void()> wake;
  {
    std::lock_guard lock(WakeUpHook().mutex);
    wake = WakeUpHook().hook;
  }
  if (wake) wake();
}

void loop::RunSyncCall(const TSyncCall& call) {
  try {
    (*call.call)();
  } catch (...) {
    *call.error = std::current_exception();
  }
  call.done->Set();
}

bool IsMainThread() {
  return MainThread().load() == std::this_thread::get_id();
}

void SetWakeUpHook(std::function<void()> hook) {
  std::lock_guard lock(WakeUpHook().mutex);
  WakeUpHook().hook = std::move(hook);
}

void Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  // One event per worker thread, made once: a worker waits for one call at a time, and the
  // wait consumes the signal (auto-reset), so the event is ready for its next call.
  thread_local TEvent done(false, false);
  std::exception_ptr error;
  loop::QueueSyncCall(loop::TSyncCall{&call, &error, &done});
  WaitForSingleObject(done, kInfinite);
  if (error) std::rethrow_exception(error);
}

}  // namespace platform
