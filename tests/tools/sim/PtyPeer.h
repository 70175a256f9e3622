#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace sim::test {

// The panel's end of the line as a peer written with nothing but termios would drive it:
// raw, 19200 bit/s, 8N1.
class PtyPeer {
 public:
  explicit PtyPeer(const std::string& path);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Write(std::string_view bytes);
  // Reads until count carriage returns have arrived, or the time-out passes.
  std::string ReadReplies(int count, std::chrono::milliseconds timeout);
  // Waits until the line reports a hang-up (POLLHUP, or a read failing with EIO or 0).
  bool WaitHangUp(std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

}  // namespace sim::test
