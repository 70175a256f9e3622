// The baseline: the descriptor itself, raw mode by termios, every wait a poll().
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bench/serial/Contender.h"

namespace bench {
namespace {

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

class TermiosPoll final : public Contender {
 public:
  std::string Name() const override { return "termios + poll()"; }

  void Open(const std::string& path) override {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw SystemError("open " + path);
    termios t{};
    if (tcgetattr(fd_, &t) != 0) throw SystemError("tcgetattr");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, B19200);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) throw SystemError("tcsetattr");
  }

  void Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  void RoundTrip(std::span<const uint8_t> query, std::span<uint8_t> reply) override {
    Send(query);
    Receive(reply);
  }

  void Send(std::span<const uint8_t> data) override {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = write(fd_, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        Wait(POLLOUT, -1);
      } else if (!(n < 0 && errno == EINTR)) {
        throw SystemError("write");
      }
    }
  }

  void Receive(std::span<uint8_t> data) override {
    size_t done = 0;
    while (done < data.size()) {
      Wait(POLLIN, -1);
      const ssize_t n = read(fd_, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        throw SystemError("read");
      }
    }
  }

  void Idle(std::chrono::milliseconds span) override {
    if (Wait(POLLIN, static_cast<int>(span.count()))) throw std::runtime_error("data while idle");
  }

  Clock::time_point Notified(const std::function<void()>& armed) override {
    armed();
    Wait(POLLIN, -1);
    const auto at = Clock::now();
    uint8_t byte;
    if (read(fd_, &byte, 1) != 1) throw SystemError("read");
    return at;
  }

 private:
  // True when the descriptor is ready, false on the time-out.
  bool Wait(short events, int timeoutMs) {
    pollfd p = {fd_, events, 0};
    for (;;) {
      const int n = poll(&p, 1, timeoutMs);
      if (n > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        throw std::runtime_error("the line hung up");
      }
      if (n >= 0) return n > 0;
      if (errno != EINTR) throw SystemError("poll");
    }
  }

  int fd_ = -1;
};

}  // namespace

ContenderList TermiosContenders() {
  ContenderList list;
  list.push_back(std::make_unique<TermiosPoll>());
  return list;
}

}  // namespace bench
