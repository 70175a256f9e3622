#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "tools/sim/Generator.h"

namespace sim {

// A file descriptor that closes itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  int Release();
  void Reset(int fd = -1);
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The generator's end of a pseudo-terminal. The generator keeps a descriptor of the
// panel's end open too: without it the master reports a hang-up whenever no panel has
// the port open, and the line would look unplugged between two connects.
struct PtyLine {
  UniqueFd master;     // non-blocking
  UniqueFd keepAlive;  // the panel's end, never read
  std::string slavePath;
};

// Opens a new pseudo-terminal pair in raw mode at 19200 bit/s 8N1. Throws std::system_error.
PtyLine OpenPtyLine();
// The same around a master that the caller already has (ownership passes to the result).
PtyLine AdoptPtyMaster(int masterFd);

// The time on the steady clock, for the parts that run on a real line.
Micros SteadyNow();

// Serves a generator on a line until stopFd becomes readable, the generator's hang-up
// count is reached or the line fails.
class LineLoop {
 public:
  enum class End { kStopped, kHungUp, kLineError };

  struct Hooks {
    std::function<Micros()> clock = SteadyNow;
    std::function<void(const TraceRecord&)> trace;
    // After every pass: frames received so far, and whether all of them are answered
    // and every reply byte has been written.
    std::function<void(std::uint64_t frames, bool idle)> progress;
  };

  // The generator is touched only while guard is held, so another thread may inspect it.
  static End Run(int masterFd, int stopFd, Generator& generator, std::mutex& guard,
                 const Hooks& hooks);
};

}  // namespace sim
