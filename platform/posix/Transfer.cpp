// Transfers: the input queue, reads and writes under their time-outs, and the service thread
// that moves bytes while nobody calls.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/TermiosDevice.h"

namespace platform::posix {
namespace {

// The most taken from the driver at once into the queue; a read's own buffer takes any amount.
constexpr size_t kChunk = 65536;
constexpr auto kDrainBackoffLimit = std::chrono::milliseconds(200);
// How long input stays with a thread that polled for it itself, after its wait ended.
constexpr auto kHandBack = std::chrono::milliseconds(1);
// What a byte may lag behind the write before its start bit: a USB adapter gets it with the
// next bus frame.
constexpr auto kWireLag = std::chrono::milliseconds(1);

// Time-outs can add up to more than a clock can hold; thirty years is as good as never.
Clock::time_point After(Clock::time_point now, uint64_t ms) {
  constexpr uint64_t kFar = 1'000'000'000'000ull;
  return now + std::chrono::milliseconds(std::min(ms, kFar));
}

int PollTimeout(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

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
    // A thread waiting for the read being served watches the device itself: the bytes then
    // reach it straight from the driver instead of through the service thread's wake-up, a
    // hop that costs as much as the whole wait on a busy machine. Any other wait, and a
    // second thread waiting meanwhile, is woken when the operation ends.
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

uint32_t TTermiosDevice::WaitStopOrCompletion(TEvent& stop, TOverlapped& ov) {
  {
    // A comm-event wait on received bytes is served by the waiting thread itself, as a read
    // is: the event thread then learns of a byte without a wake-up from the service thread,
    // which keeps the deadlines and everything else.
    std::unique_lock lock(mutex_);
    const bool mine = callerWakeFd_ >= 0 && !callerTakesInput_ && !gone_ && wait_ &&
                      wait_->ov == &ov && (commMask_ & (kEvRxChar | kEvRxFlag | kEvRx80Full));
    if (mine) {
      callerTakesInput_ = true;
      TPolledInput polled;
      while (ov.Internal.load() == kIoPending && !gone_) {
        polled = PollForInput(lock, ov, &stop, std::nullopt);
        if (polled.failed || polled.stopped || ov.Internal.load() != kIoPending) break;
        ProgressReceive(Clock::now());
        if (polled.hungUp && !gone_) {
          // As the service thread does: what came before the hang-up first, then it is gone.
          Pull();
          if (!gone_) Vanish(EIO);
        }
      }
      EndDrive();
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
  if (!cancelIn(reads_) && !cancelIn(writes_) && wait_ && wait_->ov == ov) {
    *wait_->mask = 0;
    wait_.reset();
    Complete(ov, ECANCELED, 0);
  }
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

// --- receiving

void TTermiosDevice::ProgressReceive(Clock::time_point now, bool caller, bool driverEmpty) {
  // What the driver may still hold: unknown until a read of it came back short, more when a
  // read stopped for want of room, unknown again when one stopped with the front read full.
  enum { kUnknown, kMore, kEmpty } driver = driverEmpty ? kEmpty : kUnknown;
  const auto pull = [&] {
    const TPulled pulled = Pull();
    driver = pulled == TPulled::kNoRoom ? kMore : pulled == TPulled::kDrained ? kEmpty : kUnknown;
  };
  // The front read is served from now on, so what comes in can go straight into its buffer.
  if (!reads_.empty()) StartRead(reads_.front(), now);
  // Without a read the driver is emptied into the queue at once, so its bytes raise their
  // events; a caller's read takes what is queued first and asks the driver only for the rest.
  if ((reads_.empty() || !caller) && driver == kUnknown) pull();
  while (!gone_ && !reads_.empty()) {
    TTransfer& read = reads_.front();
    StartRead(read, now);
    TakeQueued(read, now);
    // A read bigger than the queue takes what the driver holds beyond it, as far as it goes.
    if (read.done < read.count && driver != kEmpty) {
      pull();
      // A hang-up found by the pull has ended every read, this one with it.
      if (gone_) break;
      if (!queue_.empty()) continue;
    }
    if (!ReadFinished(read, now)) break;
    // A read that runs out of time completes with what it has: that is no error.
    TOverlapped* ov = read.ov;
    const uint32_t done = read.done;
    reads_.pop_front();
    Complete(ov, 0, done);
  }
  // What is left in the driver once the reads are served is the service thread's: its poll
  // sees it, and a caller wakes it when its poll would miss it.
  if (driver == kMore) Pull();
  CheckQueueLevel();
}

size_t TTermiosDevice::InputRoom() const {
  size_t room = queue_.size() < capacity_ ? capacity_ - queue_.size() : 0;
  // The bytes the front read still wants have a place too: they go to its buffer, past the queue.
  if (!reads_.empty() && reads_.front().started) room += reads_.front().count - reads_.front().done;
  return room;
}

TTermiosDevice::TTransfer* TTermiosDevice::DirectRead() {
  // The driver's bytes go straight into the front read's buffer when they need nothing that
  // could take them back out of it: no bytes queued ahead of them, no mark left open by the
  // last read, no dropping without DSR, no abort on an error.
  if (reads_.empty() || !reads_.front().started || !queue_.empty() || !decoder_.InPlace() ||
      options_.dsrSensitivity || options_.abortOnError) {
    return nullptr;
  }
  TTransfer& read = reads_.front();
  return read.done < read.count ? &read : nullptr;
}

TTermiosDevice::TPulled TTermiosDevice::Pull() {
  if (gone_) return TPulled::kDrained;
  for (;;) {
    // The marks only ever shrink, so this never takes more than the queue and the front read
    // can hold; the rest stays in the driver, whose flow control then holds the sender back.
    const size_t room = InputRoom();
    if (room == 0) return TPulled::kNoRoom;
    TTransfer* direct = DirectRead();
    size_t want = 0;
    uint8_t* into = nullptr;
    if (direct) {
      want = direct->count - direct->done;
      into = direct->in + direct->done;
    } else {
      want = std::min(room, kChunk);
      if (raw_.size() < want) raw_.resize(kChunk);
      into = raw_.data();
    }
    const ssize_t n = k_.read(fd_, into, want);
    if (n > 0) {
      const bool drained = static_cast<size_t>(n) < want;
      if (!direct) {
        Accept(into, static_cast<size_t>(n));
        if (drained) return TPulled::kDrained;
        continue;
      }
      AcceptInPlace(*direct, static_cast<size_t>(n));
      if (drained) return TPulled::kDrained;
      // A read the driver filled ends here, as a plain read would: whether more came is for
      // the next read, or the next poll, to find out. Marks may have left it short.
      if (direct->done < direct->count) continue;
      return TPulled::kReadFilled;
    }
    // An empty line answers EAGAIN (VMIN is 1): nothing read is the end of the line, which the
    // poll flags confirm before it is taken for a hang-up. A caller's read finds it too: one
    // started right after a hang-up must fail, not wait for the service thread.
    if (n == 0) {
      if (HungUp()) Vanish(EIO);
      return TPulled::kDrained;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) Vanish(errno);
    return TPulled::kDrained;
  }
}

uint32_t TTermiosDevice::MarkedErrors(const TReceiveMarks& marks) {
  const uint32_t counted = SampleCounters();
  uint32_t marked = 0;
  // A bad NUL and a break come marked alike: where the driver counted a break, that is what
  // they were. Of a line without parity a bad byte can only have lost its stop bit; of one
  // with parity it may be either, and counts only when the record checks parity.
  const uint32_t bad = marks.errors - ((counted & kCeBreak) ? marks.nulErrors : 0);
  const bool counts = !options_.lineParity || options_.parityCheck;
  if (bad && counts && !(counted & (kCeRxParity | kCeFrame))) {
    marked |= options_.lineParity ? kCeRxParity : kCeFrame;
  }
  if (marks.breaks && !(counted & kCeBreak)) marked |= kCeBreak;
  return marked;
}

void TTermiosDevice::RaiseReceived(const uint8_t* bytes, size_t count) {
  uint32_t events = kEvRxChar;
  // Looking for the event character is worth it only when someone waits for it.
  if ((commMask_ & kEvRxFlag) && std::memchr(bytes, options_.evtChar, count)) events |= kEvRxFlag;
  RaiseEvents(events);
}

void TTermiosDevice::AcceptInPlace(TTransfer& read, size_t count) {
  uint8_t* bytes = read.in + read.done;
  size_t kept = 0;
  const TReceiveMarks marks = decoder_.DecodeInPlace(bytes, count, kept);
  // Without abort on error, adding the errors leaves the read where it is.
  AddErrors(MarkedErrors(marks));
  if (kept == 0) return;
  read.done += static_cast<uint32_t>(kept);
  read.lastByte = Clock::now();
  RaiseReceived(bytes, kept);
}

void TTermiosDevice::Accept(const uint8_t* raw, size_t count) {
  decoded_.clear();
  const TReceiveMarks marks = decoder_.Decode(raw, count, decoded_);
  if (options_.dsrSensitivity && !decoded_.empty() && !DsrOn()) decoded_.clear();
  AddErrors(MarkedErrors(marks));
  if (decoded_.empty()) return;
  size_t direct = 0;
  if (!reads_.empty() && reads_.front().started) {
    // The front read takes what was queued before these bytes, then these, in order.
    TTransfer& read = reads_.front();
    const auto now = Clock::now();
    TakeQueued(read, now);
    if (queue_.empty()) {
      direct = std::min<size_t>(decoded_.size(), read.count - read.done);
      if (direct > 0) {
        std::copy_n(decoded_.begin(), direct, read.in + read.done);
        read.done += static_cast<uint32_t>(direct);
        read.lastByte = now;
      }
    }
  }
  queue_.insert(queue_.end(), decoded_.begin() + static_cast<std::ptrdiff_t>(direct),
                decoded_.end());
  RaiseReceived(decoded_.data(), decoded_.size());
}

void TTermiosDevice::StartRead(TTransfer& read, Clock::time_point now) {
  if (read.started) return;
  // The time-outs count from the moment the read is the one being served.
  read.started = true;
  read.plan = PlanRead(timeouts_, read.count);
  if (read.plan.totalMs) read.deadline = After(now, *read.plan.totalMs);
  if (read.plan.intervalMs) read.interval = std::chrono::milliseconds(*read.plan.intervalMs);
}

void TTermiosDevice::TakeQueued(TTransfer& read, Clock::time_point now) {
  const size_t take = std::min<size_t>(queue_.size(), read.count - read.done);
  if (take == 0) return;
  std::copy_n(queue_.begin(), take, read.in + read.done);
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(take));
  read.done += static_cast<uint32_t>(take);
  read.lastByte = now;
}

bool TTermiosDevice::ReadFinished(const TTransfer& read, Clock::time_point now) const {
  return read.done == read.count || read.plan.returnAtOnce ||
         (read.plan.returnOnFirstBytes && read.done > 0) ||
         (read.deadline && now >= *read.deadline) ||
         (read.interval && read.done > 0 && now >= read.lastByte + *read.interval);
}

// --- transmitting

bool TTermiosDevice::WriteSome(const uint8_t* bytes, uint32_t count, uint32_t& written) {
  written = 0;
  for (;;) {
    const ssize_t n = k_.write(fd_, bytes, count);
    if (n >= 0) {
      written = static_cast<uint32_t>(n);
      if (n > 0) {
        txBusy_ = true;
        // A pseudo-terminal passes bytes on at once: there is no line to wait for.
        if (!pseudoTerminal_) {
          wireEnd_ = std::max(wireEnd_, Clock::now() + kWireLag) + charTime_ * written;
        }
      }
      if (written < count) wantOutput_ = true;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      wantOutput_ = true;
      return true;
    }
    Vanish(errno);
    return false;
  }
}

void TTermiosDevice::ProgressTransmit(Clock::time_point now) {
  if (gone_) return;
  wantOutput_ = false;
  if (drainAt_ && now >= *drainAt_) drainAt_.reset();
  bool emptyDriver = false;  // the driver's queue was found empty with nothing written since

  if (priorityChar_ && !OutputHeld()) {
    RaiseRtsForSend();
    const uint8_t c = *priorityChar_;
    uint32_t written = 0;
    if (!WriteSome(&c, 1, written)) return;
    if (written == 1) priorityChar_.reset();
  }

  while (!writes_.empty()) {
    TTransfer& write = writes_.front();
    if (!write.started) {
      write.started = true;
      if (const auto ms = WriteTotalMs(timeouts_, write.count)) write.deadline = After(now, *ms);
    }
    if (write.deadline && now >= *write.deadline) {
      FinishTimedOutWrite(write);
      emptyDriver = false;
      continue;
    }
    if (priorityChar_) break;
    if (write.done < write.count) {
      if (OutputHeld()) break;
      RaiseRtsForSend();
      uint32_t written = 0;
      if (!WriteSome(write.out + write.done, write.count - write.done, written)) return;
      write.done += written;
      if (written > 0) emptyDriver = false;
      if (write.done < write.count) break;
    }
    // Done only when the bytes have left the driver's queue too.
    const uint32_t outq = KernelOutQueue();
    emptyDriver = outq == 0;
    if (outq > 0) {
      ScheduleDrainCheck(now, outq);
      break;
    }
    TOverlapped* ov = write.ov;
    const uint32_t count = write.count;
    writes_.pop_front();
    Complete(ov, 0, count);
  }

  if (writes_.empty() && !priorityChar_ && txBusy_) {
    // The last write finished on an empty driver queue just now: no need to ask again.
    const uint32_t outq = emptyDriver ? 0 : KernelOutQueue();
    if (outq > 0) {
      ScheduleDrainCheck(now, outq);
    } else if (now < wireEnd_) {
      // The driver's count leaves out the bytes in the hardware's FIFO, which on a USB adapter
      // holds whole frames: whatever it says, the bytes need their time on the wire.
      if (!drainAt_ || *drainAt_ > wireEnd_) drainAt_ = wireEnd_;
    } else {
      txBusy_ = false;
      drainAt_.reset();
      lastOutq_ = 0;
      RaiseEvents(kEvTxEmpty);
      if (rtsRaised_) rtsDropAt_ = now + charTime_;
    }
  }
  if (rtsRaised_ && !txBusy_ && !rtsDropAt_ && writes_.empty() && !priorityChar_) {
    rtsDropAt_ = now + charTime_;
  }
  if (rtsRaised_ && !txBusy_ && rtsDropAt_ && now >= *rtsDropAt_) {
    // The driver's queue is empty, but the last character may still be in the shift register.
    if (TransmitterBusy()) {
      rtsDropAt_ = now + charTime_;
    } else {
      SetModemBits(TIOCM_RTS, false);
      rtsRaised_ = false;
      rtsDropAt_.reset();
    }
  }
}

uint32_t TTermiosDevice::KernelOutQueue() {
  int queued = 0;
  if (k_.ioctl(fd_, TIOCOUTQ, &queued) == 0) return queued > 0 ? static_cast<uint32_t>(queued) : 0;
  // A driver that cannot count its queue is waited on instead.
  k_.tcdrain(fd_);
  return 0;
}

void TTermiosDevice::ScheduleDrainCheck(Clock::time_point now, uint32_t outq) {
  if (drainAt_) return;
  // The driver says nothing when its queue runs empty: look again when the bytes should have
  // gone out at the line rate, and less often while the line is held (flow control).
  const Clock::duration estimate = charTime_ * outq + std::chrono::milliseconds(1);
  if (lastOutq_ == 0 || outq < lastOutq_) {
    drainBackoff_ = estimate;
  } else {
    drainBackoff_ =
        std::min<Clock::duration>(std::max(drainBackoff_ * 2, estimate), kDrainBackoffLimit);
  }
  lastOutq_ = outq;
  drainAt_ = now + drainBackoff_;
}

bool TTermiosDevice::TransmitterBusy() {
  // Where the line status cannot be read, the one character time already waited stands in.
  if (!lsrReadable_) return false;
  unsigned int lsr = 0;
  if (k_.ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) {
    lsrReadable_ = false;
    return false;
  }
  return !(lsr & TIOCSER_TEMT);
}

void TTermiosDevice::FinishTimedOutWrite(TTransfer& write) {
  // What the driver still holds of a write that ran out of time is not sent any more, so the
  // count the caller gets is what went out.
  const uint32_t unsent = std::min(KernelOutQueue(), write.done);
  if (unsent > 0) k_.tcflush(fd_, TCOFLUSH);
  TOverlapped* ov = write.ov;
  const uint32_t sent = write.done - unsent;
  writes_.pop_front();
  Complete(ov, 0, sent);
}

}  // namespace platform::posix
