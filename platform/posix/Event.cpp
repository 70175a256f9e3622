// Event objects on eventfd: the counter is non-zero exactly while the event is signalled,
// so poll() waits on any mix of events and device descriptors.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "platform/Sync.h"

namespace platform {

TEvent::TEvent(bool manualReset, bool initialState)
    : manualReset_(manualReset), fd_(eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

TEvent::~TEvent() { close(fd_); }

void TEvent::Set() {
  const uint64_t one = 1;
  // A second Set while signalled only raises the counter; it stays one signal.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEvent::Reset() {
  uint64_t value;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TEvent::TryConsume() {
  uint64_t value;
  // Another waiter may have taken the signal between poll() and here: then read fails with EAGAIN.
  return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs) {
  TEvent* one[] = {&event};
  return WaitForMultipleObjects(one, timeoutMs);
}

uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<pollfd> fds(events.size());
  for (size_t i = 0; i < events.size(); ++i) fds[i] = {events[i]->Descriptor(), POLLIN, 0};
  for (;;) {
    int wait = -1;
    if (timeoutMs != INFINITE) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    const int n = poll(fds.data(), fds.size(), wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return WAIT_FAILED;
    }
    if (n == 0) return WAIT_TIMEOUT;
    for (size_t i = 0; i < events.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      if (events[i]->ManualReset() || events[i]->TryConsume()) {
        return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
      }
    }
    // Only auto-reset events that another waiter consumed first: wait again.
  }
}

}  // namespace platform
