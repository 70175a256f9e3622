#pragma once
// What the two message loops share: which thread is the main one, the wake-up hook, and the calls
// Synchronize hands to the main thread. Each loop queues those calls and serves them its own way.
// Internal to the platform library; not installed.

#include <exception>
#include <functional>

#include "platform/Sync.h"

namespace platform::loop {

// One call a worker hands to the main thread and waits for.
struct TSyncCall {
  const std::function<void()>* call;
  std::exception_ptr* error;
  TEvent* done;
};

// Makes the calling thread the main thread.
void MarkMainThread();
// Any thread, after something is queued: calls the hook SetWakeUpHook installed, if any.
void WakeUp();
// Main thread: runs a queued call, keeps what it raised for its worker, and releases the worker.
void RunSyncCall(const TSyncCall& call);

// Defined by each loop: queues `call` for the main thread and has it woken.
void QueueSyncCall(const TSyncCall& call);

}  // namespace platform::loop
