// Transfers as callers see them: the records and their completion, the waits (a waiting thread
// may poll the device itself), starting, cancelling and purging transfers.
#include <poll.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/TermiosDevice.h"
#include "platform/posix/TransferClock.h"

namespace platform::posix {
namespace {

// How long input stays with a thread that polled for it itself, after its wait ended.
constexpr auto kHandBack = std::chrono::milliseconds(1);

}  // namespace

// --- records

void TTermiosDevice::Begin(TOverlapped* ov) {
  ov->InternalHigh.store(0);
  ov->Internal.store(kIoPending);
  if (ov->hEvent) ov->hEvent->Reset();
}

void TTermiosDevice::Complete(TOverlapped* ov, int result, uint32_t done) {
  ov->InternalHigh.store(done);
  // The event before the status: whoever sees the status no longer pending may free the record
  // and its event at once, so the status is the last thing the device touches.
  if (ov->hEvent) ov->hEvent->Set();
  ov->Internal.store(result);
  completed_.notify_all();
  if (ov == driven_) WakeCaller();
}

int TTermiosDevice::Await(TOverlapped& ov, uint32_t* done) {
  std::unique_lock lock(mutex_);
  WaitFinished(lock, ov);
  if (done) *done = ov.InternalHigh.load();
  return ov.Internal.load();
}

void TTermiosDevice::WaitFinished(std::unique_lock<std::mutex>& lock, TOverlapped& ov) {
  while (ov.Internal.load() == kIoPending) {
    // A thread waiting for the read being served, or for a comm event that received bytes
    // raise, watches the device itself: the bytes then reach it straight from the driver
    // instead of through the service thread's wake-up, a hop that costs as much as the whole
    // wait on a busy machine. Any other wait, and a second thread waiting meanwhile, is woken
    // when the operation ends.
    if (ServesEventWait(ov)) {
      DriveEventWait(lock, ov, nullptr, std::nullopt);
      completed_.wait(lock, [&] { return ov.Internal.load() != kIoPending; });
      return;
    }
    if (callerWakeFd_ < 0 || callerTakesInput_ || gone_ || reads_.empty() ||
        reads_.front().ov != &ov) {
      completed_.wait(lock);
      continue;
    }
    DriveRead(lock, ov);
  }
}

void TTermiosDevice::DriveRead(std::unique_lock<std::mutex>& lock, TOverlapped& ov) {
  // The service thread leaves the input to this thread from its next poll on; it is not woken
  // for that, so it may share the first bytes, but not the many reads of a long transfer.
  callerTakesInput_ = true;
  while (ov.Internal.load() == kIoPending) {
    if (PollForInput(lock, ov, nullptr, ReadDeadline()).failed) break;
    // The service thread may have finished the read meanwhile; otherwise this takes what came,
    // ends it at its time-out, or finds the hang-up.
    if (ov.Internal.load() == kIoPending) ProgressReceive(Clock::now(), true);
  }
  EndDrive();
  completed_.wait(lock, [&] { return ov.Internal.load() != kIoPending; });
}

TTermiosDevice::TPolledInput TTermiosDevice::PollForInput(std::unique_lock<std::mutex>& lock,
                                                          TOverlapped& ov, TEvent* stop,
                                                          std::optional<Clock::time_point> until) {
  pollfd fds[3] = {{fd_, POLLIN, 0}, {callerWakeFd_, POLLIN, 0}, {-1, POLLIN, 0}};
  if (stop) fds[2].fd = static_cast<int>(stop->Handle());
  // A full queue takes nothing more: then only a hang-up is watched for.
  if (InputRoom() == 0) fds[0].events = 0;
  drivenIn_ = fds[0].events != 0;
  driven_ = &ov;
  lock.unlock();
  const int n = k_.poll(fds, 3, PollTimeout(until));
  lock.lock();
  driven_ = nullptr;
  uint64_t count;
  while ((fds[1].revents & POLLIN) && read(callerWakeFd_, &count, sizeof count) < 0 &&
         errno == EINTR) {
  }
  TPolledInput polled;
  polled.failed = n < 0 && errno != EINTR;
  polled.hungUp = n > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL));
  polled.stopped = n > 0 && (fds[2].revents & POLLIN);
  return polled;
}

bool TTermiosDevice::ServesEventWait(const TOverlapped& ov) const {
  return callerWakeFd_ >= 0 && !callerTakesInput_ && !gone_ && wait_ && wait_->ov == &ov &&
         (commMask_ & (kEvRxChar | kEvRxFlag | kEvRx80Full));
}

TTermiosDevice::TPolledInput TTermiosDevice::DriveEventWait(
    std::unique_lock<std::mutex>& lock, TOverlapped& ov, TEvent* stop,
    std::optional<Clock::time_point> until) {
  // The service thread keeps the deadlines and everything else; the input is this thread's.
  callerTakesInput_ = true;
  TPolledInput polled;
  while (ov.Internal.load() == kIoPending && !gone_) {
    polled = PollForInput(lock, ov, stop, until);
    if (polled.failed || polled.stopped || ov.Internal.load() != kIoPending) break;
    ProgressReceive(Clock::now());
    if (polled.hungUp && !gone_) {
      // As the service thread does: what came before the hang-up first, then it is gone.
      Pull();
      if (!gone_) Vanish(EIO);
    }
    if (until && Clock::now() >= *until) break;
  }
  EndDrive();
  return polled;
}

uint32_t TTermiosDevice::WaitStopOrCompletion(TEvent& stop, TOverlapped& ov) {
  {
    // A comm-event wait on received bytes is served by the waiting thread itself, as a read
    // is: the event thread then learns of a byte without a wake-up from the service thread.
    std::unique_lock lock(mutex_);
    if (ServesEventWait(ov)) {
      const TPolledInput polled = DriveEventWait(lock, ov, &stop, std::nullopt);
      // Seen here under the lock, the completion has set its event already, and the last poll
      // found no stop: the wait below would only confirm that. A signal it would consume is
      // left to it.
      if (!polled.failed && !polled.stopped && ov.Internal.load() != kIoPending && ov.hEvent &&
          ov.hEvent->ManualReset()) {
        return kWaitObject0 + 1;
      }
    }
  }
  // Whatever ended the turns above, the events give the answer, by their own rules.
  return ComDevice::WaitStopOrCompletion(stop, ov);
}

uint32_t TTermiosDevice::WaitCompletion(TOverlapped& ov, TEvent* stop, uint32_t timeout) {
  std::optional<Clock::time_point> until;
  if (timeout != kInfinite) until = Clock::now() + std::chrono::milliseconds(timeout);
  {
    // As WaitStopOrCompletion: the thread that waits for received bytes watches the device.
    std::unique_lock lock(mutex_);
    if (ServesEventWait(ov)) {
      const TPolledInput polled = DriveEventWait(lock, ov, stop, until);
      if (!polled.failed && !polled.stopped && ov.Internal.load() != kIoPending && ov.hEvent &&
          ov.hEvent->ManualReset()) {
        return kWaitObject0;
      }
    }
  }
  // The events give the answer, within what is left of the time-out.
  if (until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
    timeout = left <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(left, kInfinite - 1));
  }
  return ComDevice::WaitCompletion(ov, stop, timeout);
}

void TTermiosDevice::Wake() {
  const uint64_t one = 1;
  while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TTermiosDevice::EndDrive() {
  callerTakesInput_ = false;
  // The thread that polled for input is most likely back in a moment, for the next read or
  // event: the service thread polling for input meanwhile would wake beside it for every byte.
  // Bytes that come meanwhile wait in the driver; a wait not served by its thread learns of
  // them at the latest when the service thread takes the input back.
  handBackAt_ = Clock::now() + kHandBack;
  WakeIfNeeded();
  // A read that waited for this thread to be done with the input may poll for it now.
  completed_.notify_all();
}

bool TTermiosDevice::ServiceTakesInput(Clock::time_point now) {
  if (handBackAt_ && now >= *handBackAt_) handBackAt_.reset();
  return !callerTakesInput_ && !handBackAt_;
}

void TTermiosDevice::WakeCallerForRoom() {
  if (driven_ && !drivenIn_ && !gone_ && InputRoom() > 0) WakeCaller();
}

void TTermiosDevice::WakeCaller() {
  const uint64_t one = 1;
  while (write(callerWakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TTermiosDevice::WakeIfNeeded() {
  if (NeedsWake()) Wake();
}

bool TTermiosDevice::NeedsWake() {
  // A waiting thread that polls for input itself and found no room must learn of room made.
  WakeCallerForRoom();
  // A service thread that is not in its poll looks at everything again before it polls. One
  // that is only needs waking when it would sleep past a deadline or miss what the device does.
  if (!polling_) return false;
  const bool wantIn = !gone_ && queue_.size() < capacity_ && ServiceTakesInput(Clock::now());
  const auto next = NextDeadline();
  const bool sooner = next && (!polledDeadline_ || *next < *polledDeadline_);
  if (!(wantIn && !polledIn_) && !(wantOutput_ && !polledOut_)) {
    if (!sooner) return false;
    // A deadline alone needs the thread only when it comes: the timer in its poll wakes it
    // then, and a transfer that ends first costs it nothing.
    if (ArmTimer(*next)) {
      polledDeadline_ = next;
      return false;
    }
  }
  polling_ = false;
  return true;
}

bool TTermiosDevice::ArmTimer(Clock::time_point at) {
  if (timerFd_ < 0) return false;
  // The steady clock is the monotonic one; a time of zero would disarm the timer instead.
  const auto ns = std::max<int64_t>(
      1, std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
  itimerspec when{};
  when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &when, nullptr) == 0;
}

bool TTermiosDevice::InUse(const TOverlapped* ov) const {
  // A record holds one operation at a time; a second one on it would lose the first.
  const auto uses = [&](const TTransfer& t) { return t.ov == ov; };
  return std::any_of(reads_.begin(), reads_.end(), uses) ||
         std::any_of(writes_.begin(), writes_.end(), uses) || (wait_ && wait_->ov == ov);
}

int TTermiosDevice::GetOverlappedResult(TOverlapped* ov, uint32_t* done, bool wait) {
  if (done) *done = 0;
  if (!ov) return EINVAL;
  // The count is stored before the status, so a finished record needs no lock: the caller
  // does not meet the service thread on the mutex just after it has been woken by it.
  if (const int result = ov->Internal.load(); result != kIoPending) {
    if (done) *done = ov->InternalHigh.load();
    return result;
  }
  // The event is set a moment before the status, both under the lock: a caller woken by the
  // event finds the status there once it holds the lock.
  std::unique_lock lock(mutex_);
  if (wait) WaitFinished(lock, *ov);
  const int result = ov->Internal.load();
  if (result == kIoPending) return kIoIncomplete;
  if (done) *done = ov->InternalHigh.load();
  return result;
}

// --- starting transfers

int TTermiosDevice::ReadFile(void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) {
  TTransfer read;
  read.ov = ov;
  read.in = static_cast<uint8_t*>(buffer);
  read.count = count;
  return StartTransfer(read, true, done);
}

int TTermiosDevice::WriteFile(const void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) {
  TTransfer write;
  write.ov = ov;
  write.out = static_cast<const uint8_t*>(buffer);
  write.count = count;
  return StartTransfer(write, false, done);
}

int TTermiosDevice::StartTransfer(TTransfer transfer, bool receive, uint32_t* done) {
  if (done) *done = 0;
  if (!transfer.ov) {
    TOverlapped local;
    transfer.ov = &local;
    const int result = StartTransfer(transfer, receive, done);
    return result == kIoPending ? Await(local, done) : result;
  }
  if (transfer.count > 0 && !(receive ? static_cast<const void*>(transfer.in) : transfer.out)) {
    return EINVAL;
  }
  TOverlapped* ov = transfer.ov;
  bool wake = false;
  int result = 0;
  {
    std::lock_guard lock(mutex_);
    if (gone_) return gone_;
    if (abortedByError_) return ECANCELED;
    if (InUse(ov)) return EINVAL;
    Begin(ov);
    // What is queued, and what the driver holds already, may finish the transfer right here.
    if (receive) {
      reads_.push_back(transfer);
      ProgressReceive(Clock::now(), true);
    } else {
      writes_.push_back(transfer);
      ProgressTransmit(Clock::now());
    }
    result = ov->Internal.load();
    if (result != kIoPending && done) *done = ov->InternalHigh.load();
    // Even a transfer that finished may have left the service thread something to do: a read
    // that emptied a full queue makes room for what the driver holds.
    wake = NeedsWake();
  }
  // Woken after the lock is let go, the service thread does not run straight into it.
  if (wake) Wake();
  return result;
}

int TTermiosDevice::CancelIo(TOverlapped* ov) {
  if (!ov) return EINVAL;
  std::lock_guard lock(mutex_);
  // Buffers and records are only touched under the lock, so once the operation is out of its
  // list the device has let go of them.
  const auto cancelIn = [&](std::deque<TTransfer>& transfers) {
    const auto it = std::find_if(transfers.begin(), transfers.end(),
                                 [&](const TTransfer& t) { return t.ov == ov; });
    if (it == transfers.end()) return false;
    const uint32_t done = it->done;
    transfers.erase(it);
    Complete(ov, ECANCELED, done);
    return true;
  };
  bool cancelled = cancelIn(reads_) || cancelIn(writes_);
  if (!cancelled && wait_ && wait_->ov == ov) {
    *wait_->mask = 0;
    wait_.reset();
    Complete(ov, ECANCELED, 0);
    cancelled = true;
  }
  // A record that had finished already (the usual case after a wait) changes nothing the
  // service thread polls for: waking it would only put it beside the caller on the CPU.
  if (!cancelled) return 0;
  WakeCallerForRoom();
  Wake();
  return 0;
}

int TTermiosDevice::PurgeComm(uint32_t flags) {
  if (flags & ~(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear)) return EINVAL;
  std::lock_guard lock(mutex_);
  if (flags & kPurgeTxAbort) AbortTransfers(writes_, ECANCELED);
  if (flags & kPurgeRxAbort) AbortTransfers(reads_, ECANCELED);
  // A device that went away holds nothing more to clear; closing it must not fail for that.
  if (gone_) return 0;
  if (flags & kPurgeRxClear) {
    queue_.clear();
    decoder_.Reset();
    above80_ = false;
    if (k_.tcflush(fd_, TCIFLUSH) != 0) return errno;
  }
  if (flags & kPurgeTxClear) {
    priorityChar_.reset();
    // A pseudo-terminal passes written bytes on a moment after taking them, and its flush
    // drops them still: it would take back writes that were reported sent, the last frame
    // before a Close among them. Our writes finish only once the driver holds none of their
    // bytes, so on a real line nothing reported sent is ever in what the flush clears.
    if (!pseudoTerminal_ && k_.tcflush(fd_, TCOFLUSH) != 0) return errno;
  }
  WakeCallerForRoom();
  Wake();
  return 0;
}

int TTermiosDevice::TransmitCommChar(char c) {
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  // One character at a time goes ahead of the queued output; the next waits until it is out.
  if (priorityChar_) return EBUSY;
  priorityChar_ = static_cast<uint8_t>(c);
  ProgressTransmit(Clock::now());
  WakeIfNeeded();
  return gone_;
}

int TTermiosDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  // Bytes that no longer fit stay queued; the queue only stops taking more from the driver.
  if (inQueue > 0) capacity_ = inQueue;
  // Writes go to the driver straight from the caller's buffer: there is no output queue of
  // ours to size.
  (void)outQueue;
  CheckQueueLevel();
  WakeCallerForRoom();
  Wake();
  return 0;
}

int TTermiosDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  // Transfers already running keep the rules they started with.
  timeouts_ = timeouts;
  return 0;
}

}  // namespace platform::posix
