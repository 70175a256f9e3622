// The scripted kernel's driver and line.
#include "tests/platform/ScriptedKernel.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/posix/DeviceName.h"
#include "platform/posix/LineConfig.h"

// The kernel's own terminal record, which carries the rate as a number; its header cannot
// share a file with the C library's.
struct termios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};

namespace platform::kerneltest {
namespace {

constexpr tcflag_t kRateAsNumber = CBAUDEX;  // BOTHER

uint32_t RateOfCode(speed_t code) {
  for (uint32_t r : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
    if (posix::StandardSpeed(r) == code) return r;
  }
  return 0;
}

TScriptedKernel* alive = nullptr;

template <typename R>
R Fail(int error) {
  errno = error;
  return static_cast<R>(-1);
}

const posix::TKernel kTable = {
    .ioctl = [](int, unsigned long request, void* arg) { return alive->Ioctl(request, arg); },
    .tcgetattr = [](int, termios* t) { return alive->GetAttr(t); },
    .tcsetattr = [](int, int, const termios* t) { return alive->SetAttr(t); },
    .tcflush = [](int, int queue) { return alive->Flush(queue); },
    .tcdrain = [](int) { return 0; },
    .tcflow = [](int, int) { return 0; },
    .read = [](int, void* buffer, size_t count) { return alive->Read(buffer, count); },
    .write = [](int, const void* buffer, size_t count) { return alive->Write(buffer, count); },
    .poll = [](pollfd* fds, nfds_t count, int ms) { return alive->Poll(fds, count, ms); },
    .flock = [](int, int) { return 0; },
    .fstat =
        [](int, struct stat* st) {
          *st = {};
          st->st_mode = S_IFCHR | 0660;
          st->st_rdev = makedev(4, 64);
          return 0;
        },
    .close = [](int) { return alive->Close(); },
};

}  // namespace

TDriverModel Uart16550() {
  return {.name = "Uart16550", .serialCore = true, .fifo = 16, .modemWait = true};
}

TDriverModel UsbSerial() {
  return {
      .name = "UsbSerial", .serialCore = false, .fifo = 256, .modemWait = true, .counters = false};
}

TDriverModel UsbNoWait() {
  TDriverModel m = UsbSerial();
  m.name = "UsbNoWait";
  m.modemWait = false;
  return m;
}

TScriptedKernel::TScriptedKernel(TDriverModel model) : model_(std::move(model)) {
  inputRing_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  hangupRing_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  modemRing_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  attr_.c_cflag = CS8 | CREAD | HUPCL;
  rs485_.flags = model_.rs485Flags;
  rs485_.delay_rts_after_send = model_.rs485 ? 2 : 0;
  cfsetispeed(&attr_, B9600);
  cfsetospeed(&attr_, B9600);
  alive = this;
}

TScriptedKernel::~TScriptedKernel() {
  alive = nullptr;
  for (int fd : {inputRing_, hangupRing_, modemRing_}) ::close(fd);
}

const posix::TKernel& TScriptedKernel::Table() const {
  return kTable;
}

std::unique_ptr<ComDevice> TScriptedKernel::Open(int& error) {
  return posix::AdoptComDevice(kTable, inputRing_, error);
}

void TScriptedKernel::Ring(int fd, bool on) {
  uint64_t count = 1;
  if (on) {
    (void)!::write(fd, &count, sizeof count);
  } else {
    (void)!::read(fd, &count, sizeof count);
  }
}

void TScriptedKernel::Note(const char* name) {
  calls_.push_back({name, outputs_});
  changed_.notify_all();
}

void TScriptedKernel::SetInputLines(int lines) {
  std::lock_guard lock(mutex_);
  const int changed = (inputs_ ^ lines) & (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
  inputs_ = lines;
  if (!changed) return;
  // An on-board UART tells of a change only with its modem-status interrupt on; the counters
  // are kept by that interrupt too. A USB adapter reports its lines in every status packet.
  if (model_.serialCore && !modemInterrupt_) return;
  if (changed & TIOCM_CTS) ++counters_.cts;
  if (changed & TIOCM_DSR) ++counters_.dsr;
  if (changed & TIOCM_CD) ++counters_.dcd;
  if (changed & TIOCM_RNG) ++counters_.rng;
  ++modemInterrupts_;
  Ring(modemRing_, true);
}

void TScriptedKernel::Unplug() {
  std::lock_guard lock(mutex_);
  unplugged_ = true;
  Ring(hangupRing_, true);
  if (!inputRinging_) Ring(inputRing_, true);
  inputRinging_ = true;
  Ring(modemRing_, true);
}

void TScriptedKernel::Arrive(const std::vector<TRxByte>& bytes) {
  std::lock_guard lock(mutex_);
  const bool check = attr_.c_iflag & INPCK, mark = attr_.c_iflag & PARMRK;
  for (const TRxByte& b : bytes) {
    switch (b.kind) {
      case TRx::kData:
        if (mark && b.byte == 0xFF) input_.push_back(0xFF);
        input_.push_back(b.byte);
        break;
      case TRx::kBreak:
        ++counters_.brk;
        if (mark) input_.insert(input_.end(), {0xFF, 0x00});
        input_.push_back(0);
        break;
      case TRx::kFrame:
      case TRx::kParity:
        ++(b.kind == TRx::kFrame ? counters_.frame : counters_.parity);
        // Without INPCK a bad byte is data like any other.
        if (check && mark) input_.insert(input_.end(), {0xFF, 0x00});
        input_.push_back(check && !mark ? 0 : b.byte);
        break;
    }
  }
  if (!input_.empty() && !inputRinging_) {
    Ring(inputRing_, true);
    inputRinging_ = true;
  }
}

int TScriptedKernel::OutputLines() {
  std::lock_guard lock(mutex_);
  return outputs_;
}

int TScriptedKernel::RtsDropsMidFrame() {
  std::lock_guard lock(mutex_);
  return rtsDropsMidFrame_;
}

Clock::time_point TScriptedKernel::WireEnd() {
  std::lock_guard lock(mutex_);
  return wireEnd_;
}

serial_rs485 TScriptedKernel::Rs485() {
  std::lock_guard lock(mutex_);
  return rs485_;
}

int TScriptedKernel::ModemWaitsEntered() {
  std::lock_guard lock(mutex_);
  return modemWaits_;
}

std::vector<TScriptedKernel::TCall> TScriptedKernel::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool TScriptedKernel::WaitFor(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(1));
  }
  return true;
}

int TScriptedKernel::HeldAtClose() {
  std::lock_guard lock(mutex_);
  return heldAtClose_;
}

int TScriptedKernel::Close() {
  std::lock_guard lock(mutex_);
  const uint32_t pending = Pending(Clock::now());
  heldAtClose_ = static_cast<int>(held_ + (pending > model_.fifo ? pending - model_.fifo : 0));
  return 0;
}

uint32_t TScriptedKernel::Rate() {
  std::lock_guard lock(mutex_);
  return rate_;
}

Clock::duration TScriptedKernel::CharTime() const {
  const uint32_t rate = rate_ != 0 ? rate_ : 9600;
  const tcflag_t c = attr_.c_cflag;
  const unsigned bits = 1 +
                        ((c & CSIZE) == CS5   ? 5
                         : (c & CSIZE) == CS6 ? 6
                         : (c & CSIZE) == CS7 ? 7
                                              : 8) +
                        ((c & PARENB) ? 1 : 0) + ((c & CSTOPB) ? 2 : 1);
  return std::chrono::nanoseconds(uint64_t{bits} * 1'000'000'000u / rate);
}

uint32_t TScriptedKernel::Pending(Clock::time_point now) const {
  if (now >= wireEnd_) return 0;
  const auto ct = CharTime();
  return static_cast<uint32_t>((wireEnd_ - now + ct - Clock::duration(1)) / ct);
}

int TScriptedKernel::ModemWait() {
  // As inside the kernel, a signal that comes once the call has begun ends the wait, however
  // soon: it stays pending until the poll below, which lets it in.
  sigset_t all, caller;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &caller);
  struct TRestore {
    sigset_t& mask;
    ~TRestore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{caller};
  std::unique_lock lock(mutex_);
  Note("TIOCMIWAIT");
  ++modemWaits_;
  if (!model_.modemWait) return Fail<int>(ENOTTY);
  // The wait switches the modem-status interrupt on; a line change later may switch it off.
  modemInterrupt_ = true;
  const uint64_t seen = modemInterrupts_;
  while (modemInterrupts_ == seen && !unplugged_) {
    lock.unlock();
    pollfd p = {modemRing_, POLLIN, 0};
    const int n = ::ppoll(&p, 1, nullptr, &caller);
    const int error = errno;
    lock.lock();
    if (n < 0 && error == EINTR) return Fail<int>(EINTR);
    Ring(modemRing_, false);
  }
  if (unplugged_) return Fail<int>(EIO);
  return 0;
}

int TScriptedKernel::Ioctl(unsigned long request, void* arg) {
  if (request == TIOCMIWAIT) return ModemWait();
  if (request == TCGETS2) return GetAttr2(arg);
  if (request == TCSETS2) return SetAttr2(arg);
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  int* value = static_cast<int*>(arg);
  switch (request) {
    case TIOCEXCL:
      Note("TIOCEXCL");
      return 0;
    case TIOCNXCL:
      Note("TIOCNXCL");
      return 0;
  }
  if (unplugged_) return Fail<int>(EIO);
  switch (request) {
    case TIOCMGET:
      Note("TIOCMGET");
      *value = outputs_ | inputs_;
      return 0;
    case TIOCMBIS:
    case TIOCMBIC: {
      const bool set = request == TIOCMBIS;
      Note(set ? "TIOCMBIS" : "TIOCMBIC");
      const int before = outputs_;
      outputs_ = set ? outputs_ | (*value & (TIOCM_DTR | TIOCM_RTS))
                     : outputs_ & ~(*value & (TIOCM_DTR | TIOCM_RTS));
      if ((before & TIOCM_RTS) && !(outputs_ & TIOCM_RTS) && now < wireEnd_) ++rtsDropsMidFrame_;
      return 0;
    }
    case TIOCGICOUNT:
      Note("TIOCGICOUNT");
      if (!model_.counters) return Fail<int>(ENOTTY);
      std::memcpy(arg, &counters_, sizeof counters_);
      return 0;
    case FIONREAD:
      *value = static_cast<int>(input_.size());
      return 0;
    case TIOCOUTQ:
      // The driver counts what it holds, not what the hardware's FIFO has taken already.
      *value =
          static_cast<int>(held_ + (Pending(now) > model_.fifo ? Pending(now) - model_.fifo : 0));
      return 0;
    case TIOCSERGETLSR:
      if (!model_.serialCore) return Fail<int>(ENOTTY);
      *static_cast<unsigned*>(arg) = now >= wireEnd_ ? TIOCSER_TEMT : 0;
      return 0;
    case TIOCSBRK:
    case TIOCCBRK:
      return 0;
    case TIOCGSERIAL: {
      if (model_.baudBase == 0 && model_.uartType != 0) return Fail<int>(ENOTTY);
      serial_struct serial{};
      serial.type = model_.uartType;
      serial.baud_base = model_.baudBase;
      std::memcpy(arg, &serial, sizeof serial);
      return 0;
    }
    case TIOCGRS485:
    case TIOCSRS485:
      Note(request == TIOCGRS485 ? "TIOCGRS485" : "TIOCSRS485");
      if (!model_.rs485) return Fail<int>(ENOTTY);
      if (request == TIOCGRS485) {
        std::memcpy(arg, &rs485_, sizeof rs485_);
      } else {
        std::memcpy(&rs485_, arg, sizeof rs485_);
      }
      return 0;
    default:
      Note("ioctl");
      return Fail<int>(ENOTTY);
  }
}

int TScriptedKernel::GetAttr(termios* t) {
  std::lock_guard lock(mutex_);
  if (unplugged_) return Fail<int>(EIO);
  *t = attr_;
  return 0;
}

int TScriptedKernel::SetAttr(const termios* t) {
  std::lock_guard lock(mutex_);
  Note("tcsetattr");
  if (unplugged_) return Fail<int>(EIO);
  attr_ = *t;
  // The old record has no room for a rate as a number: one set that way is lost here.
  rate_ = RateOfCode(cfgetospeed(t));
  // The UART's modem-status interrupt stays on only where the line's settings need it.
  if (model_.serialCore) modemInterrupt_ = (t->c_cflag & CRTSCTS) || !(t->c_cflag & CLOCAL);
  return 0;
}

int TScriptedKernel::GetAttr2(void* arg) {
  std::lock_guard lock(mutex_);
  if (unplugged_) return Fail<int>(EIO);
  termios2 t{};
  t.c_iflag = attr_.c_iflag;
  t.c_oflag = attr_.c_oflag;
  t.c_lflag = attr_.c_lflag;
  t.c_cflag = attr_.c_cflag & ~static_cast<tcflag_t>(CBAUD);
  const auto code = posix::StandardSpeed(rate_);
  t.c_cflag |= code ? *code : kRateAsNumber;
  std::copy_n(attr_.c_cc, sizeof t.c_cc, t.c_cc);
  t.c_ispeed = t.c_ospeed = rate_;
  std::memcpy(arg, &t, sizeof t);
  return 0;
}

int TScriptedKernel::SetAttr2(const void* arg) {
  termios2 t;
  std::memcpy(&t, arg, sizeof t);
  std::lock_guard lock(mutex_);
  Note("TCSETS2");
  if (unplugged_) return Fail<int>(EIO);
  attr_.c_iflag = t.c_iflag;
  attr_.c_oflag = t.c_oflag;
  attr_.c_lflag = t.c_lflag;
  attr_.c_cflag = t.c_cflag;
  std::copy_n(t.c_cc, sizeof t.c_cc, attr_.c_cc);
  // The driver echoes the rate asked for, as an 8250 or an ftdi driver does.
  rate_ = (t.c_cflag & CBAUD) == kRateAsNumber ? t.c_ospeed : RateOfCode(t.c_cflag & CBAUD);
  if (model_.serialCore) modemInterrupt_ = (t.c_cflag & CRTSCTS) || !(t.c_cflag & CLOCAL);
  return 0;
}

int TScriptedKernel::Flush(int queue) {
  std::lock_guard lock(mutex_);
  if (unplugged_) return Fail<int>(EIO);
  if (queue == TCIFLUSH || queue == TCIOFLUSH) input_.clear();
  if (queue == TCOFLUSH || queue == TCIOFLUSH) {
    held_ = 0;
    // What the FIFO holds still goes out.
    const auto now = Clock::now();
    wireEnd_ = std::min(wireEnd_, now + CharTime() * std::min(Pending(now), model_.fifo));
  }
  return 0;
}

ssize_t TScriptedKernel::Read(void* buffer, size_t count) {
  std::lock_guard lock(mutex_);
  if (unplugged_) return Fail<ssize_t>(EIO);
  if (input_.empty()) return Fail<ssize_t>(EAGAIN);
  const size_t n = std::min(count, input_.size());
  std::copy_n(input_.begin(), n, static_cast<uint8_t*>(buffer));
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
  if (input_.empty() && inputRinging_) {
    Ring(inputRing_, false);
    inputRinging_ = false;
  }
  return static_cast<ssize_t>(n);
}

ssize_t TScriptedKernel::Write(const void*, size_t count) {
  std::lock_guard lock(mutex_);
  Note("write");
  if (unplugged_) return Fail<ssize_t>(EIO);
  const auto now = Clock::now();
  if ((attr_.c_cflag & CRTSCTS) && !(inputs_ & TIOCM_CTS)) {
    held_ += static_cast<uint32_t>(count);
  } else {
    wireEnd_ = std::max(wireEnd_, now) + CharTime() * static_cast<int64_t>(count);
  }
  return static_cast<ssize_t>(count);
}

int TScriptedKernel::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  // The device's own descriptor stands for the driver: its events come from the kernel's
  // state, and the real poll waits on the ring that stands for it beside the others.
  std::vector<pollfd> real(fds, fds + count);
  const auto state = [&](short asked) {
    std::lock_guard lock(mutex_);
    short ev = 0;
    if (unplugged_) ev |= POLLHUP | POLLERR;
    if (!unplugged_ && (asked & POLLIN) && !input_.empty()) ev |= POLLIN;
    if (!unplugged_ && (asked & POLLOUT)) ev |= POLLOUT;
    return ev;
  };
  bool ready = false;
  for (pollfd& p : real) {
    if (p.fd != inputRing_) continue;
    ready = ready || state(p.events) != 0;
    p = {(p.events & POLLIN) ? inputRing_ : hangupRing_, POLLIN, 0};
  }
  const int n = ::poll(real.data(), count, ready ? 0 : timeoutMs);
  if (n < 0) return n;
  int result = 0;
  for (nfds_t i = 0; i < count; ++i) {
    fds[i].revents = fds[i].fd == inputRing_ ? state(fds[i].events) : real[i].revents;
    if (fds[i].revents) ++result;
  }
  return result;
}

}  // namespace platform::kerneltest
