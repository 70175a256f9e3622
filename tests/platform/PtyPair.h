#pragma once
// A pseudo-terminal pair for the device tests: the device under test opens the slave by its
// path; the test plays the far end of the line on the master.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ComDevice.h"

namespace platform::ptytest {

class PtyPair {
 public:
  PtyPair() {
    char name[128] = {};
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    path_ = name;
    // The slave stays open here as well, so the pair lives on while devices come and go.
    slave_ = slave;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0; }
  const std::string& Path() const { return path_; }
  int Slave() const { return slave_; }

  // Plays the far end hanging up.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  void Send(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
      ASSERT_GT(n, 0) << "the pseudo-terminal took no more";
      sent += static_cast<size_t>(n);
    }
  }
  void Send(const std::string& text) { Send(std::vector<uint8_t>(text.begin(), text.end())); }

  // What the device sent, waiting up to `timeout` for `count` bytes.
  std::vector<uint8_t> Receive(size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  // Everything the device has sent so far, without waiting for more.
  std::vector<uint8_t> ReceiveAll() {
    std::vector<uint8_t> got;
    uint8_t buffer[4096];
    for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0;)
      got.insert(got.end(), buffer, buffer + n);
    return got;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Waits (bounded, generously) for a condition that another thread or the kernel makes true.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Whether thread `tid` of this process sleeps (in a wait, a poll or on a lock). A test that
// acts on another thread's wait checks this first, so it tests the wake-up rather than the start.
inline bool Asleep(int tid) {
  if (tid == 0) return false;
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'S';
}

// The line the panel uses: 19200 8N1, RTS around transmission, DTR off.
inline TDCB PanelDcb() {
  TDCB dcb;
  dcb.DCBlength = sizeof(TDCB);
  dcb.BaudRate = 19200;
  dcb.Flags = dcb::fBinary | dcb::fRtsControlToggle;
  dcb.XonLim = dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

inline TCommTimeouts Timeouts(uint32_t ri, uint32_t rm, uint32_t rc, uint32_t wm = 0,
                              uint32_t wc = 0) {
  return TCommTimeouts{ri, rm, rc, wm, wc};
}

}  // namespace platform::ptytest
