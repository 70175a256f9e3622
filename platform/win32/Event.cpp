// Event objects on kernel events: the waits are the system's own, which already give the lowest
// signalled index and consume an auto-reset event only for the index they return.
#include <stdexcept>

#include "platform/Sync.h"
#include "platform/win32/Windows.h"

namespace platform {

using win32::EventHandle;

TEvent::TEvent(bool manualReset, bool initialState)
    : manualReset_(manualReset),
      handle_(reinterpret_cast<intptr_t>(CreateEventA(nullptr, manualReset, initialState, nullptr))) {
  if (handle_ == 0) throw std::runtime_error("CreateEvent failed");
}

TEvent::~TEvent() {
  CloseHandle(EventHandle(handle_));
}

// The kernel keeps the object alive while SetEvent runs, so a waiter released by it may close the
// event at once: no lock is needed for that here.
void TEvent::Set() {
  SetEvent(EventHandle(handle_));
}

void TEvent::Reset() {
  ResetEvent(EventHandle(handle_));
}

uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs) {
  TEvent* one[] = {&event};
  return WaitForMultipleObjects(one, timeoutMs);
}

uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs) {
  if (events.empty() || events.size() > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i] == nullptr) return kWaitFailed;
    handles[i] = EventHandle(events[i]->Handle());
  }
  const DWORD r =
      ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), handles, FALSE, timeoutMs);
  if (r < WAIT_OBJECT_0 + events.size()) return kWaitObject0 + (r - WAIT_OBJECT_0);
  if (r == WAIT_TIMEOUT) return kWaitTimeout;
  // An abandoned wait is for mutexes only; anything else is a failure.
  return kWaitFailed;
}

}  // namespace platform
