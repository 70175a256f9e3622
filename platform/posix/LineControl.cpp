// The line itself: character format and rate, modem lines, break and flow state, the error
// counters and the status record.
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/CustomRate.h"
#include "platform/posix/TermiosDevice.h"

namespace platform::posix {
namespace {

constexpr tcflag_t kRateBits = CBAUD | CIBAUD;
constexpr tcflag_t kFormatBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;

void Put(const TTermiosFlags& flags, termios& t, bool keepRate) {
  t.c_iflag = flags.iflag;
  t.c_oflag = flags.oflag;
  t.c_lflag = flags.lflag;
  t.c_cflag = (keepRate ? t.c_cflag & kRateBits : 0) | (flags.cflag & ~kRateBits);
  t.c_cc[VMIN] = flags.vmin;
  t.c_cc[VTIME] = flags.vtime;
}

// Modem ioctls on a device without modem lines (a pseudo-terminal) fail with these: there is
// nothing to drive, which is not an error.
bool NoModemLines(int error) {
  return error == ENOTTY || error == EINVAL;
}

TLineCounters FromDriver(const serial_icounter_struct& c) {
  TLineCounters n;
  n.frame = static_cast<uint32_t>(c.frame);
  n.parity = static_cast<uint32_t>(c.parity);
  n.overrun = static_cast<uint32_t>(c.overrun);
  n.brk = static_cast<uint32_t>(c.brk);
  n.bufOverrun = static_cast<uint32_t>(c.buf_overrun);
  n.cts = static_cast<uint32_t>(c.cts);
  n.dsr = static_cast<uint32_t>(c.dsr);
  n.dcd = static_cast<uint32_t>(c.dcd);
  n.rng = static_cast<uint32_t>(c.rng);
  return n;
}

// Pseudo-terminal slaves: a terminal with no line behind it, whose driver forces 8 data bits
// and no parity whatever it is told.
bool IsPseudoTerminal(const TKernel& k, int fd) {
  struct stat st;
  if (k.fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

// The ttyS devices, which a COMn name opens: serial-core UARTs, whose type the driver knows.
// Others may leave the type unset (a USB modem does), which says nothing there.
bool IsOnBoardPort(const TKernel& k, int fd) {
  struct stat st;
  return k.fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) == 4 &&
         minor(st.st_rdev) >= 64;
}

}  // namespace

int TTermiosDevice::InitLine() {
  // Raw at once: a terminal opened with its old settings would echo and edit what arrives.
  pseudoTerminal_ = IsPseudoTerminal(k_, fd_);
  decoder_.SetOptions({.marked = !pseudoTerminal_});
  // An on-board port name whose UART is not fitted still opens; the driver says so only here.
  serial_struct serial{};
  if (IsOnBoardPort(k_, fd_) && k_.ioctl(fd_, TIOCGSERIAL, &serial) == 0 &&
      serial.type == PORT_UNKNOWN) {
    return ENODEV;
  }
  termios t;
  if (k_.tcgetattr(fd_, &t) == 0) {
    TTermiosFlags flags;
    MakeRaw(flags, t.c_cflag);
    Unmark(flags);
    Put(flags, t, true);
    if (k_.tcsetattr(fd_, TCSANOW, &t) != 0 && errno == EIO) return EIO;
  } else if (errno == EIO) {
    // A port that fails its first call has no device behind it.
    return EIO;
  }
  int lines = 0;
  hasModemLines_ = k_.ioctl(fd_, TIOCMGET, &lines) == 0;
  serial_icounter_struct counters{};
  if (k_.ioctl(fd_, TIOCGICOUNT, &counters) == 0) {
    hasCounters_ = true;
    counters_ = FromDriver(counters);
  }
  serial_rs485 rs485{};
  if (k_.ioctl(fd_, TIOCGRS485, &rs485) == 0) {
    rs485Known_ = true;
    rs485Saved_.assign(reinterpret_cast<const uint8_t*>(&rs485),
                       reinterpret_cast<const uint8_t*>(&rs485) + sizeof rs485);
  }
  return 0;
}

int TTermiosDevice::SetCommState(const TDCB& dcb) {
  TTermiosFlags flags;
  TLineOptions options;
  if (const int error = DcbToTermios(dcb, flags, options)) return error;
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  Unmark(flags);
  if (const int error = ApplyLine(flags, options)) return error;
  RewatchModemLines();
  options_ = options;
  decoder_.SetOptions({options.parityCheck, options.replaceErrors, options.errorChar,
                       options.discardNull, !pseudoTerminal_});
  charTime_ = std::chrono::microseconds(options.charTimeUs);
  const int error = ApplyPins(options);
  Wake();
  return error;
}

void TTermiosDevice::Unmark(TTermiosFlags& flags) const {
  // A pseudo-terminal has no line: no break and no bad byte can come from it, so marks would
  // only double each 0xFF, and they cost the driver its fast path (a third of the throughput).
  if (pseudoTerminal_) flags.iflag &= ~static_cast<uint32_t>(PARMRK);
}

int TTermiosDevice::ApplyLine(const TTermiosFlags& flags, const TLineOptions& options) {
  // Saved in the kernel's own form, which keeps a rate set as a number.
  TSavedLine line;
  if (const int error = SaveLine(k_, fd_, line)) return error;
  termios saved;
  if (k_.tcgetattr(fd_, &saved) != 0) return errno;
  int error = 0;
  if (options.speedCode) {
    termios t = saved;
    Put(flags, t, false);
    t.c_cc[VSTART] = flags.vstart;
    t.c_cc[VSTOP] = flags.vstop;
    cfsetispeed(&t, *options.speedCode);
    cfsetospeed(&t, *options.speedCode);
    // tcsetattr succeeds when any part of the settings took; what the driver holds is checked.
    termios held;
    if (k_.tcsetattr(fd_, TCSANOW, &t) != 0 || k_.tcgetattr(fd_, &held) != 0) {
      error = errno;
    } else if (cfgetospeed(&held) != *options.speedCode) {
      error = EINVAL;
    } else if (!pseudoTerminal_ && (held.c_cflag & kFormatBits) != (t.c_cflag & kFormatBits)) {
      error = EINVAL;
    }
  } else {
    error = ApplyLineWithRate(k_, fd_, flags, options.baudRate, !pseudoTerminal_);
  }
  if (error == 0) error = CheckDivisor(options.baudRate);
  // A refused record leaves the line as it was.
  if (error != 0) RestoreLine(k_, fd_, line);
  return error;
}

int TTermiosDevice::CheckDivisor(uint32_t baudRate) {
  // An on-board UART echoes the rate asked for, but runs at its clock over a whole divisor:
  // 31250 from a 1.8432 MHz crystal is 28800 on the wire. Where the driver tells the clock,
  // the rate the divisor makes is the one checked. A rate above the clock is a driver's own
  // scheme (a USB adapter), and is left to its echo.
  if (pseudoTerminal_) return 0;
  serial_struct serial{};
  if (k_.ioctl(fd_, TIOCGSERIAL, &serial) != 0 || serial.type == PORT_UNKNOWN ||
      serial.baud_base <= 0 || (serial.flags & ASYNC_SPD_MASK) != 0) {
    return 0;
  }
  const uint32_t base = static_cast<uint32_t>(serial.baud_base);
  if (baudRate > base) return 0;
  const uint32_t divisor = (base + baudRate / 2) / baudRate;
  return RateCloseEnough(base / divisor, baudRate) ? 0 : EINVAL;
}

int TTermiosDevice::ApplyPins(const TLineOptions& options) {
  // Opening raises DTR and RTS; from here on they follow the record.
  if (const int error = SetModemBits(TIOCM_DTR, options.dtr == TPinControl::pcOn)) return error;
  const bool toggle = options.rts == TPinControl::pcToggle;
  serial_rs485 saved{};
  if (rs485Known_ && rs485Saved_.size() == sizeof saved) {
    std::memcpy(&saved, rs485Saved_.data(), sizeof saved);
  }
  if (toggle && !rs485Active_ && (saved.flags & SER_RS485_ENABLED)) {
    // The driver raises RTS around each transmission best, but its mode may also switch a
    // board's transceiver from RS-232 to RS-485 and mutes the receiver while sending: it is
    // used only on a port set up for it, with the delays it was given, and with the receiver
    // on, since the line's own echo and an early reply must not be lost.
    serial_rs485 rs485 = saved;
    rs485.flags |= SER_RS485_RTS_ON_SEND | SER_RS485_RX_DURING_TX;
    rs485.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
    rs485Active_ = k_.ioctl(fd_, TIOCSRS485, &rs485) == 0;
  } else if (!toggle && rs485Active_) {
    k_.ioctl(fd_, TIOCSRS485, &saved);
    rs485Active_ = false;
  }
  if (rs485Active_) return 0;
  switch (options.rts) {
    case TPinControl::pcOn:
      return SetModemBits(TIOCM_RTS, true);
    case TPinControl::pcFlow:
      return 0;  // the driver drives it
    case TPinControl::pcToggle:
      if (rtsRaised_) return 0;  // a transmission is on; it lowers RTS when it ends
      return SetModemBits(TIOCM_RTS, false);
    case TPinControl::pcOff:
      rtsRaised_ = false;
      rtsDropAt_.reset();
      return SetModemBits(TIOCM_RTS, false);
  }
  return 0;
}

int TTermiosDevice::SetModemBits(int bits, bool on) {
  if (k_.ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  return NoModemLines(errno) ? 0 : errno;
}

bool TTermiosDevice::DsrOn() {
  int lines = 0;
  return hasModemLines_ && k_.ioctl(fd_, TIOCMGET, &lines) == 0 && (lines & TIOCM_DSR);
}

void TTermiosDevice::RaiseRtsForSend() {
  rtsDropAt_.reset();
  if (options_.rts != TPinControl::pcToggle || rs485Active_ || !hasModemLines_ || rtsRaised_) {
    return;
  }
  SetModemBits(TIOCM_RTS, true);
  rtsRaised_ = true;
}

uint32_t TTermiosDevice::SampleCounters() {
  if (!hasCounters_) return 0;
  serial_icounter_struct driver{};
  if (k_.ioctl(fd_, TIOCGICOUNT, &driver) != 0) return 0;
  const TLineCounters now = FromDriver(driver);
  uint32_t flags = 0;
  if (now.frame != counters_.frame) flags |= kCeFrame;
  if (now.parity != counters_.parity) flags |= kCeRxParity;
  if (now.overrun != counters_.overrun) flags |= kCeOverrun;
  if (now.brk != counters_.brk) flags |= kCeBreak;
  if (now.bufOverrun != counters_.bufOverrun) flags |= kCeRxOver;
  counters_ = now;
  AddErrors(flags);
  return flags;
}

void TTermiosDevice::AddErrors(uint32_t flags) {
  if (flags == 0) return;
  errors_ |= flags;
  uint32_t events = 0;
  if (flags & (kCeFrame | kCeRxParity | kCeOverrun)) events |= kEvErr;
  if (flags & kCeBreak) events |= kEvBreak;
  RaiseEvents(events);
  if (options_.abortOnError) {
    // Transfers stop until the caller has looked at the errors.
    abortedByError_ = true;
    AbortTransfers(reads_, ECANCELED);
    AbortTransfers(writes_, ECANCELED);
  }
}

size_t TTermiosDevice::WaitingInput(bool& wake) {
  // The driver counts its bytes as it hands them over, a doubled 0xFF, the marks of bad bytes
  // and breaks and the NULs to be dropped among them, and a read gives only the data. So what
  // it holds is taken in first, as far as the queue has room, and counted once decoded.
  int inDriver = 0;
  if (k_.ioctl(fd_, FIONREAD, &inDriver) != 0 || inDriver <= 0) return queue_.size();
  if (InputRoom() > 0) {
    ProgressReceive(Clock::now());
    // Reads may have been served, or have new deadlines, which the service thread must learn.
    wake = NeedsWake();
    if (gone_ || k_.ioctl(fd_, FIONREAD, &inDriver) != 0) inDriver = 0;
  }
  // Beyond a full queue the bytes stay in the driver, whose flow control then holds the sender
  // back. They are counted where each is data as it stands; elsewhere once a read has made
  // room for them, when they raise their own event.
  size_t waiting = queue_.size();
  const bool asTheyStand = decoder_.OneForOne() && (!options_.dsrSensitivity || DsrOn());
  if (inDriver > 0 && asTheyStand) waiting += static_cast<size_t>(inDriver);
  return waiting;
}

int TTermiosDevice::ClearCommError(uint32_t* errors, TComStat* stat) {
  std::unique_lock lock(mutex_);
  if (gone_) return gone_;
  bool wake = false;
  // Counted first: the bytes taken in for the count may bring errors with them.
  const size_t waiting = stat ? WaitingInput(wake) : 0;
  // Reading the counts clears the error flags, as the driver's own call does.
  SampleCounters();
  if (errors) *errors = errors_;
  errors_ = 0;
  abortedByError_ = false;
  if (stat) {
    stat->cbInQue = static_cast<uint32_t>(std::min<size_t>(waiting, UINT32_MAX));
    uint64_t out = priorityChar_ ? 1 : 0;
    for (const TTransfer& w : writes_) out += w.count - w.done;
    // Once the driver's queue has been seen empty with nothing written since, it still is:
    // only this device writes to the line.
    int outDriver = 0;
    if (txBusy_ && k_.ioctl(fd_, TIOCOUTQ, &outDriver) == 0 && outDriver > 0)
      out += static_cast<uint64_t>(outDriver);
    stat->cbOutQue = static_cast<uint32_t>(std::min<uint64_t>(out, UINT32_MAX));
    stat->Flags = 0;
    const bool waiting = out > 0;
    int lines = 0;
    const bool haveLines = hasModemLines_ && k_.ioctl(fd_, TIOCMGET, &lines) == 0;
    if (waiting && options_.hardwareFlow && haveLines && !(lines & TIOCM_CTS)) {
      stat->Flags |= 0x01;  // CTS hold
    }
    if (waiting && options_.outDsrFlow && !(haveLines && (lines & TIOCM_DSR))) {
      stat->Flags |= 0x02;  // DSR hold
    }
    if (priorityChar_) stat->Flags |= 0x40;  // a TransmitCommChar byte waits
  }
  lock.unlock();
  if (wake) Wake();
  return 0;
}

int TTermiosDevice::EscapeCommFunction(uint32_t function) {
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  const auto result = [](int r) { return r == 0 || NoModemLines(errno) ? 0 : errno; };
  switch (function) {
    case kSetDtr:
      return SetModemBits(TIOCM_DTR, true);
    case kClrDtr:
      return SetModemBits(TIOCM_DTR, false);
    case kSetRts:
      return SetModemBits(TIOCM_RTS, true);
    case kClrRts:
      return SetModemBits(TIOCM_RTS, false);
    case kSetBreak:
      return result(k_.ioctl(fd_, TIOCSBRK, nullptr));
    case kClrBreak:
      return result(k_.ioctl(fd_, TIOCCBRK, nullptr));
    case kSetXon:
      return k_.tcflow(fd_, TCOON) == 0 ? 0 : errno;
    case kSetXoff:
      return k_.tcflow(fd_, TCOOFF) == 0 ? 0 : errno;
    default:
      return EINVAL;
  }
}

int TTermiosDevice::GetCommModemStatus(uint32_t* status) {
  if (!status) return EINVAL;
  *status = 0;
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  int lines = 0;
  if (k_.ioctl(fd_, TIOCMGET, &lines) != 0) return NoModemLines(errno) ? 0 : errno;
  if (lines & TIOCM_CTS) *status |= kMsCtsOn;
  if (lines & TIOCM_DSR) *status |= kMsDsrOn;
  if (lines & TIOCM_RNG) *status |= kMsRingOn;
  if (lines & TIOCM_CD) *status |= kMsRlsdOn;
  return 0;
}

}  // namespace platform::posix
