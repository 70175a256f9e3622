// Transmitting: writes to the driver under their time-outs, the drain that ends them, and RTS
// raised around the bytes where we toggle it ourselves.
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/TermiosDevice.h"
#include "platform/posix/TransferClock.h"

namespace platform::posix {
namespace {

constexpr auto kDrainBackoffLimit = std::chrono::milliseconds(200);
// What a byte may lag behind the write before its start bit: a USB adapter gets it with the
// next bus frame.
constexpr auto kWireLag = std::chrono::milliseconds(1);

}  // namespace

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
