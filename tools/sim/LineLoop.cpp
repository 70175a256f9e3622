#include "tools/sim/LineLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace sim {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) ThrowErrno("fcntl");
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) ThrowErrno("fcntl");
}

// Raw, 19200 8N1, no echo: the line as the panel expects to find it before it sets its
// own settings, and no echo of replies back into the generator.
void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) < 0) ThrowErrno("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  if (tcsetattr(fd, TCSANOW, &t) < 0) ThrowErrno("tcsetattr");
}

PtyLine FinishLine(UniqueFd master) {
  if (grantpt(master.Get()) < 0) ThrowErrno("grantpt");
  if (unlockpt(master.Get()) < 0) ThrowErrno("unlockpt");
  char name[128];
  if (int rc = ptsname_r(master.Get(), name, sizeof name); rc != 0) {
    throw std::system_error(rc, std::generic_category(), "ptsname_r");
  }
  SetNonBlocking(master.Get());
  PtyLine line;
  line.slavePath = name;
  line.keepAlive.Reset(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!line.keepAlive) ThrowErrno("open pty slave");
  MakeRaw(line.keepAlive.Get());
  line.master = std::move(master);
  return line;
}

// Paced bytes fall due half a millisecond apart, finer than poll's milliseconds.
timespec WaitUntil(Micros due, Micros now) {
  auto wait = due > now ? (due - now).count() : 0;
  return timespec{static_cast<time_t>(wait / 1'000'000),
                  static_cast<long>(wait % 1'000'000) * 1000};
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

PtyLine OpenPtyLine() {
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY));
  if (!master) ThrowErrno("posix_openpt");
  return FinishLine(std::move(master));
}

PtyLine AdoptPtyMaster(int masterFd) {
  return FinishLine(UniqueFd(masterFd));
}

Micros SteadyNow() {
  return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
}

LineLoop::End LineLoop::Run(int masterFd, int stopFd, Generator& generator, std::mutex& guard,
                            const Hooks& hooks) {
  std::string unwritten;  // taken from the generator, not yet accepted by the line
  std::vector<TraceRecord> trace;
  char buf[256];
  for (;;) {
    std::optional<Micros> nextDue;
    std::uint64_t frames = 0;
    bool hangUp = false;
    bool idle = false;
    {
      std::lock_guard lock(guard);
      Micros now = hooks.clock();
      unwritten += generator.TakeDueBytes(now);
      trace = generator.TakeTrace();
      nextDue = generator.NextDue();
      frames = generator.FramesReceived();
      hangUp = generator.HangUpDue(now);
      idle = !generator.HasPending();
    }
    while (!unwritten.empty()) {
      ssize_t n = write(masterFd, unwritten.data(), unwritten.size());
      if (n > 0) {
        unwritten.erase(0, static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        break;  // nobody is reading the panel's end: wait until the line takes more
      } else {
        return End::kLineError;
      }
    }
    if (hooks.trace) {
      for (const auto& r : trace) hooks.trace(r);
    }
    idle = idle && unwritten.empty();
    if (hooks.progress) hooks.progress(frames, idle);
    if (hangUp && unwritten.empty()) return End::kHungUp;

    pollfd fds[2] = {{masterFd, static_cast<short>(POLLIN | (unwritten.empty() ? 0 : POLLOUT)), 0},
                     {stopFd, POLLIN, 0}};
    timespec wait{};
    if (nextDue) wait = WaitUntil(*nextDue, hooks.clock());
    int rc = ppoll(fds, 2, nextDue ? &wait : nullptr, nullptr);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return End::kLineError;
    }
    if (fds[1].revents != 0) return End::kStopped;
    if (fds[0].revents & POLLIN) {
      // Busy from before the bytes leave the driver's queue, so that a watcher never
      // sees both no input waiting and a stale "idle".
      if (hooks.progress) hooks.progress(frames, false);
      ssize_t n = read(masterFd, buf, sizeof buf);
      if (n > 0) {
        std::lock_guard lock(guard);
        generator.Feed(std::string_view(buf, static_cast<std::size_t>(n)), hooks.clock());
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return End::kLineError;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Data is read before a hang-up is believed; a hang-up with nothing to read would
      // otherwise wake this loop for ever.
      return End::kLineError;
    }
  }
}

}  // namespace sim
