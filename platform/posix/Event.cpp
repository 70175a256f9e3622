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
    : manualReset_(manualReset), fd_(eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

TEvent::~TEvent() {
  close(fd_);
}

void TEvent::Set() {
  std::lock_guard lock(setting_);
  const uint64_t one = 1;
  // A second Set while signalled only raises the counter; it stays one signal. (EAGAIN would
  // mean the counter is at its ceiling: signalled all the same.)
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEvent::Reset() {
  uint64_t value;
  // EAGAIN: it was not signalled, which is what Reset wants.
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TEvent::TryConsume() {
  uint64_t value;
  // Another waiter may have taken the signal between poll() and here: then read fails with
  // EAGAIN. Reading takes the whole counter at once, so only one waiter ever gets it.
  for (;;) {
    if (read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
    if (errno != EINTR) return false;
  }
}

uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs) {
  TEvent* one[] = {&event};
  return WaitForMultipleObjects(one, timeoutMs);
}

uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  if (events.empty()) return WAIT_FAILED;
  std::vector<pollfd> fds(events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i] == nullptr) return WAIT_FAILED;
    fds[i] = {events[i]->Descriptor(), POLLIN, 0};
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != INFINITE) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      // poll() takes an int: a time-out beyond its range is waited for in several turns.
      wait = left.count() <= 0        ? 0
             : left.count() > INT_MAX ? INT_MAX
                                      : static_cast<int>(left.count());
    }
    const int n = poll(fds.data(), fds.size(), wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WAIT_FAILED;
    }
    if (n == 0) {
      if (timeoutMs != INFINITE && Clock::now() >= deadline) return WAIT_TIMEOUT;
      continue;
    }
    for (size_t i = 0; i < events.size(); ++i) {
      if (fds[i].revents & (POLLERR | POLLNVAL)) return WAIT_FAILED;
      if (!(fds[i].revents & POLLIN)) continue;
      if (events[i]->ManualReset() || events[i]->TryConsume()) {
        events[i]->Acquire();
        return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
      }
    }
    // Only auto-reset events that another waiter consumed first: wait again.
  }
}

}  // namespace platform
