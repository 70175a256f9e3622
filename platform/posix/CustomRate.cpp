// Only the kernel's terminal header here: its termios2 carries the rate as a number.
#include "platform/posix/CustomRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace platform::posix {
namespace {

// The format bits a driver might quietly leave out; the rate is checked on its own.
constexpr uint32_t kFormatBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;

static_assert(sizeof(termios2) <= sizeof(TSavedLine::bytes));

}  // namespace

// A driver that can only come near the rate rounds it; a character stays readable within a few
// per cent, beyond that the setting is refused.
bool RateCloseEnough(uint32_t held, uint32_t wanted) {
  const uint64_t diff = held > wanted ? held - wanted : wanted - held;
  return diff * 100 <= uint64_t{wanted} * 2;
}

int SaveLine(const TKernel& k, int fd, TSavedLine& saved) {
  return k.ioctl(fd, TCGETS2, saved.bytes) == 0 ? 0 : errno;
}

int RestoreLine(const TKernel& k, int fd, const TSavedLine& saved) {
  termios2 t;
  std::memcpy(&t, saved.bytes, sizeof t);
  return k.ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

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
  if (!RateCloseEnough(held.c_ospeed, baudRate)) return EINVAL;
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
