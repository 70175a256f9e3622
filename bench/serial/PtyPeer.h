#pragma once
// The far end of the line for every contender: a pseudo-terminal pair whose master side is
// served by one thread of its own. The harness keeps the slave side open between contenders so
// the terminal lives on while each of them opens and closes it by path.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/serial/Contender.h"

namespace bench {

// The bytes B3 moves: every value occurs, so a contender that is not in raw 8-bit mode (flow
// characters, carriage-return mapping, stripped eighth bit) is caught rather than timed.
std::vector<uint8_t> Pattern(size_t count);

class PtyPeer {
 public:
  PtyPeer();  // throws std::runtime_error when no pseudo-terminal can be had
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

  // Answers every `querySize` bytes with `reply` at once, until StopAnswering.
  void StartAnswering(size_t querySize, std::vector<uint8_t> reply);
  // Returns how many queries were answered.
  uint64_t StopAnswering();

  // Takes as many bytes as `expected` holds and checks them; gives the moment the last one
  // came. `expected` must outlive the job.
  std::future<Clock::time_point> Sink(const std::vector<uint8_t>& expected);
  // Writes `bytes` as fast as the terminal takes them; `bytes` must outlive the job.
  std::future<void> Source(const std::vector<uint8_t>& bytes);
  // Once Arm has been called, the armed thread sleeps and no other thread of the process runs,
  // writes one byte; gives the moment just before the write.
  std::future<Clock::time_point> FireWhenAsleep();
  // Called on the thread that is about to wait for the byte.
  void Arm();

  // Drops whatever either side left in the terminal (the peer must be idle).
  void Flush();

 private:
  void Post(std::function<void()> job);
  void Loop();
  bool WaitReadable(int timeoutMs);  // master readable, or the stop signal (false)
  void WriteAll(const uint8_t* data, size_t count);

  int master_ = -1;
  int slave_ = -1;
  int stopFd_ = -1;                 // eventfd: ends the job that answers queries
  int armFd_ = -1;                  // eventfd: the waiting thread is armed
  std::atomic<pid_t> armedTid_{0};  // read by the peer thread
  std::string slavePath_;
  std::future<uint64_t> answering_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace bench
