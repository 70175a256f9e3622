// Receiving: the input queue, taking bytes from the driver into it or straight into the front
// read, and the reads served from it under their time-outs.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/TermiosDevice.h"
#include "platform/posix/TransferClock.h"

namespace platform::posix {
namespace {

// The most taken from the driver at once into the queue; a read's own buffer takes any amount.
constexpr size_t kChunk = 65536;

}  // namespace

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

}  // namespace platform::posix
