// The service thread, which moves bytes while nobody calls, its deadlines, and the end of a
// device that went away.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/TermiosDevice.h"
#include "platform/posix/TransferClock.h"

namespace platform::posix {

// --- the service thread

void TTermiosDevice::ServiceLoop() {
  std::unique_lock lock(mutex_);
  // The last poll asked for input and the driver had none: it need not be read to learn that.
  bool noInput = false;
  while (!stopping_) {
    const auto now = Clock::now();
    // While a caller watches the input, the driver's bytes are its to take: this thread reading
    // them too would only finish the caller's read from here and wake it for that. A read that
    // runs out of time now still gets what came before it is ended.
    const auto readDeadline = ReadDeadline();
    const bool readDue = readDeadline && now >= *readDeadline;
    ProgressReceive(now, false, noInput || (!ServiceTakesInput(now) && !readDue));
    ProgressTransmit(now);
    pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}, {timerFd_, POLLIN, 0}};
    if (!gone_) {
      // A device is watched even with a full queue: a hang-up is reported whatever is asked.
      fds[1].fd = fd_;
      if (queue_.size() < capacity_ && ServiceTakesInput(now)) fds[1].events |= POLLIN;
      if (wantOutput_) fds[1].events |= POLLOUT;
    }
    polledDeadline_ = NextDeadline();
    polledIn_ = fds[1].events & POLLIN;
    polledOut_ = fds[1].events & POLLOUT;
    polling_ = true;
    const int timeout = PollTimeout(polledDeadline_);
    lock.unlock();
    const int n = k_.poll(fds, 3, timeout);
    lock.lock();
    polling_ = false;
    noInput = n >= 0 && (fds[1].events & POLLIN) && !(fds[1].revents & POLLIN);
    if (n <= 0) continue;
    // The wake-up and the timer each hold a count to take, or they stay readable.
    for (const pollfd& p : {fds[0], fds[2]}) {
      uint64_t count;
      while ((p.revents & POLLIN) && read(p.fd, &count, sizeof count) < 0 && errno == EINTR) {
      }
    }
    if (!gone_ && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
      // Whatever arrived before the hang-up is taken first, then the device is gone.
      Pull();
      if (!gone_) Vanish(EIO);
    }
  }
}

std::optional<Clock::time_point> TTermiosDevice::NextDeadline() const {
  std::optional<Clock::time_point> next;
  const auto consider = [&](std::optional<Clock::time_point> t) {
    if (t && (!next || *t < *next)) next = t;
  };
  consider(ReadDeadline());
  if (!writes_.empty() && writes_.front().started) consider(writes_.front().deadline);
  consider(drainAt_);
  consider(handBackAt_);
  if (rtsRaised_) consider(rtsDropAt_);
  return next;
}

std::optional<Clock::time_point> TTermiosDevice::ReadDeadline() const {
  if (reads_.empty() || !reads_.front().started) return std::nullopt;
  const TTransfer& read = reads_.front();
  std::optional<Clock::time_point> at = read.deadline;
  if (read.interval && read.done > 0) {
    const auto gap = read.lastByte + *read.interval;
    if (!at || gap < *at) at = gap;
  }
  return at;
}

bool TTermiosDevice::HungUp() const {
  pollfd p = {fd_, 0, 0};
  return k_.poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

void TTermiosDevice::Vanish(int error) {
  if (gone_) return;
  gone_ = error;
  AbortTransfers(reads_, error);
  AbortTransfers(writes_, error);
  if (wait_) {
    *wait_->mask = 0;
    TOverlapped* ov = wait_->ov;
    wait_.reset();
    Complete(ov, error, 0);
  }
  priorityChar_.reset();
  txBusy_ = wantOutput_ = rtsRaised_ = false;
  drainAt_.reset();
  rtsDropAt_.reset();
}

void TTermiosDevice::AbortTransfers(std::deque<TTransfer>& transfers, int error) {
  while (!transfers.empty()) {
    TOverlapped* ov = transfers.front().ov;
    const uint32_t done = transfers.front().done;
    transfers.pop_front();
    Complete(ov, error, done);
  }
}

}  // namespace platform::posix
