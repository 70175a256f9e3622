// Modem lines for pseudo-terminal slaves, loaded into Wine's process with LD_PRELOAD by the Wine
// test stage (never installed). A pseudo-terminal has no modem lines, so the comm driver's
// TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC and TIOCMIWAIT fail on it. Here they work on a pty slave
// whose number has a file in $VALTREX_MODEM_DIR: "ptsN" holds the input lines (CTS, DSR, CD, RI)
// as the decimal TIOCM_* bits the test writes; "ptsN.out" receives the output lines (DTR, RTS)
// each time the driver sets them, so a test can read them back. Every other descriptor and
// request goes to the system unchanged.
//
// It also keeps the stage's programs away from the machine's serial ports: Wine maps COM names
// to them by itself, and opening one changes its lines (ttyS0 is this machine's console). A path
// that leads to an on-board, USB or ACM serial device is refused before it is opened.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI;
constexpr int kOutputLines = TIOCM_DTR | TIOCM_RTS;

using IoctlFn = int (*)(int, unsigned long, ...);
using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);

// ttyS (major 4, from minor 64), ttyUSB (188), ttyACM (166): stat follows links and opens nothing.
bool IsSerialDevice(int dirFd, const char* path) {
  struct stat st;
  if (!path || fstatat(dirFd, path, &st, 0) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned maj = major(st.st_rdev);
  return (maj == 4 && minor(st.st_rdev) >= 64) || maj == 188 || maj == 166;
}

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

IoctlFn RealIoctl() {
  static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
  return real;
}

// The folder of the line files, or empty: then nothing is emulated.
const std::string& Folder() {
  static const std::string folder = [] {
    const char* dir = std::getenv("VALTREX_MODEM_DIR");
    return std::string(dir ? dir : "");
  }();
  return folder;
}

// The pty number of a slave descriptor that has a line file, or -1.
int LineOf(int fd) {
  if (Folder().empty()) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return -1;
  const unsigned maj = major(st.st_rdev);
  if (maj < 136 || maj > 143) return -1;  // the slaves' majors
  const int n = static_cast<int>((maj - 136) * 256 + minor(st.st_rdev));
  const std::string path = Folder() + "/pts" + std::to_string(n);
  return access(path.c_str(), R_OK) == 0 ? n : -1;
}

int ReadBits(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  return n > 0 ? std::atoi(text) : 0;
}

// Written to a new file and renamed over the old one, so a reader never sees half a number.
void WriteBits(const std::string& path, int bits) {
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char text[32];
  const int len = std::snprintf(text, sizeof text, "%d\n", bits);
  const bool ok = write(fd, text, static_cast<size_t>(len)) == len;
  close(fd);
  if (ok) rename(temp.c_str(), path.c_str());
}

std::string InputPath(int line) {
  return Folder() + "/pts" + std::to_string(line);
}
std::string OutputPath(int line) {
  return Folder() + "/pts" + std::to_string(line) + ".out";
}

int Lines(int line) {
  return (ReadBits(InputPath(line)) & kInputLines) | (ReadBits(OutputPath(line)) & kOutputLines);
}

void SetOutputs(int line, int bits) {
  WriteBits(OutputPath(line), bits & kOutputLines);
}

// Blocks until one of the input lines in `mask` changes, as the driver's wait does. The lines
// live in a file, so it is looked at again every millisecond.
int WaitForChange(int line, int mask) {
  const int before = Lines(line) & mask;
  const timespec tick = {0, 1000000};
  for (;;) {
    nanosleep(&tick, nullptr);
    if ((Lines(line) & mask) != before) return 0;
  }
}

}  // namespace

// The mode is there only when the flags ask for a new file.
constexpr bool NeedsMode(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

#define VALTREX_GUARDED_OPEN(name)                        \
  extern "C" int name(const char* path, int flags, ...) { \
    mode_t mode = 0;                                      \
    if (NeedsMode(flags)) {                               \
      va_list args;                                       \
      va_start(args, flags);                              \
      mode = static_cast<mode_t>(va_arg(args, int));      \
      va_end(args);                                       \
    }                                                     \
    if (IsSerialDevice(AT_FDCWD, path)) {                 \
      errno = EACCES;                                     \
      return -1;                                          \
    }                                                     \
    static const OpenFn next = Next<OpenFn>(#name);       \
    return next(path, flags, mode);                       \
  }
VALTREX_GUARDED_OPEN(open)
VALTREX_GUARDED_OPEN(open64)

#define VALTREX_GUARDED_OPENAT(name)                                 \
  extern "C" int name(int dirFd, const char* path, int flags, ...) { \
    mode_t mode = 0;                                                 \
    if (NeedsMode(flags)) {                                          \
      va_list args;                                                  \
      va_start(args, flags);                                         \
      mode = static_cast<mode_t>(va_arg(args, int));                 \
      va_end(args);                                                  \
    }                                                                \
    if (IsSerialDevice(dirFd, path)) {                               \
      errno = EACCES;                                                \
      return -1;                                                     \
    }                                                                \
    static const OpenAtFn next = Next<OpenAtFn>(#name);              \
    return next(dirFd, path, flags, mode);                           \
  }
VALTREX_GUARDED_OPENAT(openat)
VALTREX_GUARDED_OPENAT(openat64)

// The checked forms a fortified build calls instead.
#define VALTREX_GUARDED_OPEN_2(name)                 \
  extern "C" int name(const char* path, int flags) { \
    if (IsSerialDevice(AT_FDCWD, path)) {            \
      errno = EACCES;                                \
      return -1;                                     \
    }                                                \
    using Fn = int (*)(const char*, int);            \
    static const Fn next = Next<Fn>(#name);          \
    return next(path, flags);                        \
  }
VALTREX_GUARDED_OPEN_2(__open_2)
VALTREX_GUARDED_OPEN_2(__open64_2)

extern "C" int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC ||
      request == TIOCMIWAIT) {
    const int line = LineOf(fd);
    if (line >= 0) {
      if (request == TIOCMIWAIT) {
        return WaitForChange(line, static_cast<int>(reinterpret_cast<intptr_t>(arg)));
      }
      int* bits = static_cast<int*>(arg);
      if (!bits) {
        errno = EFAULT;
        return -1;
      }
      const int outputs = ReadBits(OutputPath(line));
      switch (request) {
        case TIOCMGET:
          *bits = Lines(line);
          return 0;
        case TIOCMSET:
          SetOutputs(line, *bits);
          return 0;
        case TIOCMBIS:
          SetOutputs(line, outputs | *bits);
          return 0;
        default:
          SetOutputs(line, outputs & ~*bits);
          return 0;
      }
    }
  }
  return RealIoctl()(fd, request, arg);
}
