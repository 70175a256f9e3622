// The running system's calls, for the device's table.
#include "platform/posix/Kernel.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform::posix {

const TKernel& SystemKernel() {
  static constexpr TKernel kSystem = {
      .ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); },
      .tcgetattr = ::tcgetattr,
      .tcsetattr = ::tcsetattr,
      .tcflush = ::tcflush,
      .tcdrain = ::tcdrain,
      .tcflow = ::tcflow,
      .read = ::read,
      .write = ::write,
      .poll = ::poll,
      .flock = ::flock,
      .fstat = ::fstat,
      .close = ::close,
  };
  return kSystem;
}

}  // namespace platform::posix
