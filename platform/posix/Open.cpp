// Opening a device by port name, exclusively, and giving it back at the end.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/posix/DeviceName.h"
#include "platform/posix/TermiosDevice.h"

namespace platform {
namespace posix {

std::string DevicePath(const std::string& portName) {
  if (portName.size() > 3 && portName.size() <= 12 && portName.compare(0, 3, "COM") == 0 &&
      portName[3] != '0') {
    uint64_t n = 0;
    bool digits = true;
    for (size_t i = 3; i < portName.size() && digits; ++i) {
      digits = portName[i] >= '0' && portName[i] <= '9';
      n = n * 10 + static_cast<uint64_t>(portName[i] - '0');
    }
    if (digits) return "/dev/ttyS" + std::to_string(n - 1);
  }
  if (portName.find('/') != std::string::npos) return portName;
  return "/dev/" + portName;
}

namespace {

// The lock and the exclusive mode end with the descriptor; TIOCNXCL first, since the driver
// keeps its exclusive flag for as long as any other descriptor has the device open.
void Release(const TKernel& k, int fd) {
  k.ioctl(fd, TIOCNXCL, nullptr);
  k.close(fd);
}

}  // namespace

std::unique_ptr<ComDevice> TTermiosDevice::Create(const TKernel& kernel, int fd, int& error) {
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    error = errno;
    Release(kernel, fd);
    return nullptr;
  }
  std::unique_ptr<TTermiosDevice> device(new TTermiosDevice(kernel, fd, wakeFd));
  // Without a timer the service thread is woken for every new deadline instead.
  device->timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  // Without it a caller waits for the service thread to finish its read.
  device->callerWakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (const int initError = device->InitLine()) {
    error = initError;
    return nullptr;
  }
  try {
    device->Start();
  } catch (const std::system_error& e) {
    error = e.code().value() != 0 ? e.code().value() : EAGAIN;
    return nullptr;
  }
  error = 0;
  return device;
}

TTermiosDevice::TTermiosDevice(const TKernel& kernel, int fd, int wakeFd)
    : k_(kernel), fd_(fd), wakeFd_(wakeFd) {}

void TTermiosDevice::Start() {
  watcherDone_ = !hasModemLines_;
  service_ = std::thread([this] { ServiceLoop(); });
  if (hasModemLines_) StartModemWatcher();
}

TTermiosDevice::~TTermiosDevice() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Wake();
  if (service_.joinable()) service_.join();
  StopModemWatcher();
  {
    std::lock_guard lock(mutex_);
    // A caller that still had operations running gets them back cancelled, never hanging.
    AbortTransfers(reads_, ECANCELED);
    AbortTransfers(writes_, ECANCELED);
    if (wait_) {
      Complete(wait_->ov, ECANCELED, 0);
      wait_.reset();
    }
    // The driver's close waits for its output to drain, up to its closing time (30 s unless
    // set otherwise), and output held back by CTS or an XOFF never drains. Writes finish only
    // once the driver holds none of their bytes, so nothing reported sent is dropped here; the
    // bytes already in the UART's FIFO still go out.
    if (!gone_ && !pseudoTerminal_) k_.tcflush(fd_, TCOFLUSH);
    if (rs485Active_ && rs485Saved_.size() == sizeof(serial_rs485)) {
      serial_rs485 saved;
      std::memcpy(&saved, rs485Saved_.data(), sizeof saved);
      k_.ioctl(fd_, TIOCSRS485, &saved);
    }
  }
  Release(k_, fd_);
  close(wakeFd_);
  if (timerFd_ >= 0) close(timerFd_);
  if (callerWakeFd_ >= 0) close(callerWakeFd_);
}

std::unique_ptr<ComDevice> AdoptComDevice(const TKernel& kernel, int fd, int& error) {
  // The lock comes before anything touches the line: a second opener, in this process or
  // another, must not change a line that is in use. A driver without exclusive mode (ENOTTY,
  // EINVAL) still has the lock.
  if (kernel.flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
    kernel.close(fd);
    return nullptr;
  }
  if (kernel.ioctl(fd, TIOCEXCL, nullptr) != 0 && errno != ENOTTY && errno != EINVAL) {
    error = errno;
    kernel.close(fd);
    return nullptr;
  }
  // Opening raised DTR and RTS, which a device at the far end may take as a command: they come
  // down at once, not after the threads and the line set-up, and go up again only as the line
  // record asks. A device without modem lines has nothing to lower.
  int lines = TIOCM_DTR | TIOCM_RTS;
  kernel.ioctl(fd, TIOCMBIC, &lines);
  return TTermiosDevice::Create(kernel, fd, error);
}

std::unique_ptr<ComDevice> AdoptComDevice(int fd, int& error) {
  return AdoptComDevice(SystemKernel(), fd, error);
}

}  // namespace posix

std::unique_ptr<ComDevice> OpenComDevice(const std::string& name, int& error) {
  // The system takes a path only up to its first NUL: a name holding one would open another
  // device than the one named.
  if (name.empty() || name.find('\0') != std::string::npos) {
    error = ENOENT;
    return nullptr;
  }
  const int fd = open(posix::DevicePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  return posix::AdoptComDevice(fd, error);
}

}  // namespace platform
