#include "tests/tools/sim/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim::test {
namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Every test in this executable needs pseudo-terminals; without them they are skipped, and
// the skip says why.
class PseudoTerminals : public testing::Environment {
 public:
  void SetUp() override {
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0)
      GTEST_SKIP() << "SKIPPED: no pseudo-terminals on this machine: " << std::strerror(errno);
    close(fd);
  }
};

[[maybe_unused]] testing::Environment* const kPseudoTerminals =
    testing::AddGlobalTestEnvironment(new PseudoTerminals);

}  // namespace

PtyPeer::PtyPeer(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  termios t{};
  tcgetattr(fd_, &t);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  tcsetattr(fd_, TCSANOW, &t);
}

PtyPeer::~PtyPeer() {
  if (fd_ >= 0) close(fd_);
}

void PtyPeer::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return;
    }
  }
}

std::string PtyPeer::ReadReplies(int count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string got;
  while (std::count(got.begin(), got.end(), '\r') < count) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0) break;
    char buf[64];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) {
      got.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;
    }
  }
  return got;
}

bool PtyPeer::WaitHangUp(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int rc = poll(&p, 1, RemainingMs(deadline));
    if (rc <= 0) return false;
    if (p.revents & POLLHUP) return true;
    char buf[64];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
  }
}

}  // namespace sim::test
