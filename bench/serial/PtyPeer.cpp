#include "bench/serial/PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace bench {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kJobLimitMs = 30'000;  // a peer that waits longer than this has lost its contender

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

uint8_t PatternByte(size_t i) {
  return static_cast<uint8_t>(i * 7 + (i >> 8));
}

// The scheduler state of a thread of this process: 'S' while it sleeps in a wait.
char ThreadState(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto paren = line.rfind(')');
  return paren == std::string::npos || paren + 2 >= line.size() ? '?' : line[paren + 2];
}

// True when the armed thread sleeps and no other thread of the process but `self` runs: a
// contender's own threads (an event thread, a device's service thread) must be back in their
// waits too, or the byte would meet one of them on its way there.
bool ProcessAsleep(pid_t armed, pid_t self) {
  if (ThreadState(armed) != 'S') return false;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
    const pid_t tid = static_cast<pid_t>(std::atol(entry.path().filename().c_str()));
    if (tid != self && tid != armed && ThreadState(tid) == 'R') return false;
  }
  return !error;
}

void SpinFor(std::chrono::microseconds span) {
  const auto end = Clock::now() + span;
  while (Clock::now() < end) {
  }
}

}  // namespace

std::vector<uint8_t> Pattern(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = PatternByte(i);
  return bytes;
}

PtyPeer::PtyPeer() {
  char name[128] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw SystemError("openpty");
  slavePath_ = name;
  // The line is raw from the start: no echo of a query back into the contender's input.
  termios t{};
  tcgetattr(slave_, &t);
  cfmakeraw(&t);
  tcsetattr(slave_, TCSANOW, &t);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  armFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0 || armFd_ < 0) throw SystemError("eventfd");
  thread_ = std::thread([this] { Loop(); });
}

PtyPeer::~PtyPeer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  close(armFd_);
  close(stopFd_);
  close(slave_);
  close(master_);
}

void PtyPeer::Post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void PtyPeer::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

bool PtyPeer::WaitReadable(int timeoutMs) {
  pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw SystemError("poll");
    if (n == 0) throw std::runtime_error("the peer waited in vain for the contender");
    if (fds[1].revents & POLLIN) {
      uint64_t value;
      [[maybe_unused]] const ssize_t r = read(stopFd_, &value, sizeof value);
      return false;
    }
    return true;
  }
}

void PtyPeer::WriteAll(const uint8_t* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(master_, data + done, std::min(count - done, kChunk));
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) throw SystemError("peer write");
    pollfd p = {master_, POLLOUT, 0};
    if (poll(&p, 1, kJobLimitMs) == 0) throw std::runtime_error("the contender stopped reading");
  }
}

void PtyPeer::StartAnswering(size_t querySize, std::vector<uint8_t> reply) {
  auto task = std::make_shared<std::packaged_task<uint64_t()>>([this, querySize, reply] {
    std::vector<uint8_t> in(4096);
    size_t pending = 0;
    uint64_t answered = 0;
    for (;;) {
      if (!WaitReadable(-1)) return answered;
      const ssize_t n = read(master_, in.data(), in.size());
      if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        throw std::runtime_error("the line went away under the peer");
      }
      pending += static_cast<size_t>(n);
      for (; pending >= querySize; pending -= querySize) {
        WriteAll(reply.data(), reply.size());
        ++answered;
      }
    }
  });
  // A stop signal left by a run that ended in a failure must not end this one.
  uint64_t stale;
  [[maybe_unused]] const ssize_t r = read(stopFd_, &stale, sizeof stale);
  answering_ = task->get_future();
  Post([task] { (*task)(); });
}

uint64_t PtyPeer::StopAnswering() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t w = write(stopFd_, &one, sizeof one);
  return answering_.get();
}

std::future<Clock::time_point> PtyPeer::Sink(const std::vector<uint8_t>& expected) {
  auto task = std::make_shared<std::packaged_task<Clock::time_point()>>([this, &expected] {
    const size_t count = expected.size();
    std::vector<uint8_t> in(kChunk);
    size_t got = 0;
    while (got < count) {
      if (!WaitReadable(kJobLimitMs)) throw std::runtime_error("sink stopped");
      const ssize_t n = read(master_, in.data(), std::min(in.size(), count - got));
      if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        throw std::runtime_error("the line went away under the peer");
      }
      if (std::memcmp(in.data(), expected.data() + got, static_cast<size_t>(n)) != 0) {
        throw std::runtime_error("the peer received other bytes than were sent");
      }
      got += static_cast<size_t>(n);
    }
    return Clock::now();
  });
  auto result = task->get_future();
  Post([task] { (*task)(); });
  return result;
}

std::future<void> PtyPeer::Source(const std::vector<uint8_t>& bytes) {
  auto task = std::make_shared<std::packaged_task<void()>>(
      [this, &bytes] { WriteAll(bytes.data(), bytes.size()); });
  auto result = task->get_future();
  Post([task] { (*task)(); });
  return result;
}

void PtyPeer::Arm() {
  armedTid_ = static_cast<pid_t>(syscall(SYS_gettid));
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t w = write(armFd_, &one, sizeof one);
}

std::future<Clock::time_point> PtyPeer::FireWhenAsleep() {
  auto task = std::make_shared<std::packaged_task<Clock::time_point()>>([this] {
    pollfd p = {armFd_, POLLIN, 0};
    if (poll(&p, 1, kJobLimitMs) != 1) throw std::runtime_error("the contender never armed");
    uint64_t value;
    [[maybe_unused]] const ssize_t r = read(armFd_, &value, sizeof value);
    // The byte must find the thread asleep in its wait, not on its way there: seen sleeping
    // twice, a little apart.
    const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    const auto limit = Clock::now() + std::chrono::milliseconds(kJobLimitMs);
    for (int seen = 0; seen < 2;) {
      if (Clock::now() > limit) throw std::runtime_error("the armed thread never slept");
      seen = ProcessAsleep(armedTid_, self) ? seen + 1 : 0;
      SpinFor(std::chrono::microseconds(100));
    }
    const uint8_t byte = 0x5A;
    const auto at = Clock::now();
    WriteAll(&byte, 1);
    return at;
  });
  auto result = task->get_future();
  Post([task] { (*task)(); });
  return result;
}

void PtyPeer::Flush() {
  tcflush(slave_, TCIOFLUSH);
  uint8_t junk[4096];
  while (read(master_, junk, sizeof junk) > 0) {
  }
}

}  // namespace bench
