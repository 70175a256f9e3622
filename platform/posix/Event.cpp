// Event objects on eventfd: the counter is non-zero exactly while the event is signalled,
// so poll() waits on any mix of events and device descriptors.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "platform/Sync.h"

namespace platform {

TEvent::TEvent(bool manualReset, bool initialState)
    : manualReset_(manualReset),
      handle_(eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) throw std::runtime_error("eventfd failed");
}

namespace {
int Fd(intptr_t handle) {
  return static_cast<int>(handle);
}
}  // namespace

TEvent::~TEvent() {
  close(Fd(handle_));
}

void TEvent::Set() {
  std::lock_guard lock(setting_);
  const uint64_t one = 1;
  // A second Set while signalled only raises the counter; it stays one signal. (EAGAIN would
  // mean the counter is at its ceiling: signalled all the same.)
  while (write(Fd(handle_), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEvent::Reset() {
  uint64_t value;
  // EAGAIN: it was not signalled, which is what Reset wants.
  while (read(Fd(handle_), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TEvent::TryConsume() {
  uint64_t value;
  // Another waiter may have taken the signal between poll() and here: then read fails with
  // EAGAIN. Reading takes the whole counter at once, so only one waiter ever gets it.
  for (;;) {
    if (read(Fd(handle_), &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
    if (errno != EINTR) return false;
  }
}

uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs) {
  TEvent* one[] = {&event};
  return WaitForMultipleObjects(one, timeoutMs);
}

uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  if (events.empty()) return kWaitFailed;
  std::vector<pollfd> fds(events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i] == nullptr) return kWaitFailed;
    fds[i] = {Fd(events[i]->Handle()), POLLIN, 0};
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != kInfinite) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      // poll() takes an int: a time-out beyond its range is waited for in several turns.
      wait = left.count() <= 0        ? 0
             : left.count() > INT_MAX ? INT_MAX
                                      : static_cast<int>(left.count());
    }
    const int n = poll(fds.data(), fds.size(), wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return kWaitFailed;
    }
    if (n == 0) {
      if (timeoutMs != kInfinite && Clock::now() >= deadline) return kWaitTimeout;
      continue;
    }
    for (size_t i = 0; i < events.size(); ++i) {
      if (fds[i].revents & (POLLERR | POLLNVAL)) return kWaitFailed;
      if (!(fds[i].revents & POLLIN)) continue;
      if (events[i]->ManualReset() || events[i]->TryConsume()) {
        events[i]->Acquire();
        return kWaitObject0 + static_cast<uint32_t>(i);
      }
    }
    // Only auto-reset events that another waiter consumed first: wait again.
  }
}

}  // namespace platform
