// Only the kernel's terminal header here: its termios2 carries the rate as a number.
#include "platform/posix/CustomRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace platform::posix {
namespace {

// The format bits a driver might quietly leave out; the rate is checked on its own.
constexpr uint32_t kFormatBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;

// A driver that can only come near the rate rounds it; a character stays readable within a few
// per cent, beyond that the setting is refused.
bool CloseEnough(uint32_t held, uint32_t wanted) {
  const uint64_t diff = held > wanted ? held - wanted : wanted - held;
  return diff * 100 <= uint64_t{wanted} * 2;
}

}  // namespace

int ApplyLineWithRate(const TKernel& k, int fd, const TTermiosFlags& flags, uint32_t baudRate,
                      bool checkFormat) {
  termios2 t{};
  if (k.ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_iflag = flags.iflag;
  t.c_oflag = flags.oflag;
  t.c_lflag = flags.lflag;
  t.c_cflag = (flags.cflag & ~static_cast<uint32_t>(CBAUD | CIBAUD)) | BOTHER | (BOTHER << IBSHIFT);
  t.c_cc[VMIN] = flags.vmin;
  t.c_cc[VTIME] = flags.vtime;
  t.c_cc[VSTART] = flags.vstart;
  t.c_cc[VSTOP] = flags.vstop;
  t.c_ispeed = baudRate;
  t.c_ospeed = baudRate;
  if (k.ioctl(fd, TCSETS2, &t) != 0) return errno;

  termios2 held{};
  if (k.ioctl(fd, TCGETS2, &held) != 0) return errno;
  if (!CloseEnough(held.c_ospeed, baudRate)) return EINVAL;
  if (checkFormat && (held.c_cflag & kFormatBits) != (t.c_cflag & kFormatBits)) return EINVAL;
  return 0;
}

int ReadBaudRate(int fd, uint32_t* baudRate) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  *baudRate = t.c_ospeed;
  return 0;
}

}  // namespace platform::posix
