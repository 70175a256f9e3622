#pragma once
// The system calls the terminal device makes on its descriptor, as one table. The device holds
// the table it was made with; the one of the running system calls straight through, and a test
// gives a device a kernel of its own that plays a driver and a line.

#include <poll.h>
#include <sys/types.h>

// Declared only: the kernel's own terminal header, which some callers need, defines another
// termios than the C library's.
struct termios;
struct stat;

namespace platform::posix {

struct TKernel {
  // Every request goes with one argument: a pointer, or a number cast to one (TIOCMIWAIT).
  int (*ioctl)(int fd, unsigned long request, void* arg);
  int (*tcgetattr)(int fd, termios* t);
  int (*tcsetattr)(int fd, int when, const termios* t);
  int (*tcflush)(int fd, int queue);
  int (*tcdrain)(int fd);
  int (*tcflow)(int fd, int action);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  // Over the device and the device's own wake-up descriptors together.
  int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
  int (*flock)(int fd, int operation);
  int (*fstat)(int fd, struct stat* st);
  int (*close)(int fd);
};

// The running system's calls.
const TKernel& SystemKernel();

}  // namespace platform::posix
