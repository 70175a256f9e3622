// valtrex-ptylink: two pseudo-terminals joined like two serial ports on a null-modem cable, for
// the Wine test stage (never installed). What one slave's user writes, the other's reads. It
// prints the two slave paths on one line, then relays until its standard input closes.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct Pty {
  int master = -1;
  int slave = -1;  // held open, so the master never sees a hang-up between two users
  char name[64] = {};
};

bool MakePty(Pty& p) {
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&p.master, &p.slave, p.name, &raw, nullptr) != 0) return false;
  fcntl(p.master, F_SETFL, fcntl(p.master, F_GETFL) | O_NONBLOCK);
  return true;
}

// Moves what `from` holds to `to`; the relay waits for room rather than drop a byte.
bool Relay(int from, int to) {
  char buffer[4096];
  const ssize_t n = read(from, buffer, sizeof buffer);
  if (n < 0) return errno == EAGAIN || errno == EINTR || errno == EIO;
  for (ssize_t sent = 0; sent < n;) {
    const ssize_t w = write(to, buffer + sent, static_cast<size_t>(n - sent));
    if (w > 0) {
      sent += w;
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd room = {to, POLLOUT, 0};
      poll(&room, 1, 100);
    }
  }
  return true;
}

}  // namespace

int main() {
  Pty a, b;
  if (!MakePty(a) || !MakePty(b)) {
    std::fprintf(stderr, "valtrex-ptylink: no pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  std::printf("%s %s\n", a.name, b.name);
  std::fflush(stdout);
  for (;;) {
    pollfd fds[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if ((fds[0].revents & POLLIN) && !Relay(a.master, b.master)) return 1;
    if ((fds[1].revents & POLLIN) && !Relay(b.master, a.master)) return 1;
  }
}
