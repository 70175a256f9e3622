#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/sim/Generator.h"
#include "tools/sim/Options.h"

namespace sim {

// A simulated generator on a pseudo-terminal, served by a thread of its own, for tests
// that drive a real port against it. Open SlavePath() as the port; after writing frames,
// wait for their answers with WaitForFrames instead of sleeping.
class PtyEndpoint {
 public:
  // Opens a new pseudo-terminal pair. Throws std::system_error.
  explicit PtyEndpoint(Options options = {});
  // Serves a pseudo-terminal master the caller opened; the endpoint takes it over.
  PtyEndpoint(int masterFd, Options options);
  ~PtyEndpoint();
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  const std::string& SlavePath() const;

  std::uint64_t FramesReceived() const;

  // Waits until at least count frames have been received and every reply to them has
  // been written to the line. False on time-out, or if the line went down first.
  bool WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout);

  // Waits until nothing is left to answer: no unread bytes on the line, no reply waiting
  // to go out. Bytes still inside the terminal driver on their way from the panel are not
  // seen yet, so right after a write prefer WaitForFrames.
  bool WaitIdle(std::chrono::milliseconds timeout);

  // The line has been cut (the hang-up count was reached) or has failed.
  bool LineDown() const;
  bool WaitLineDown(std::chrono::milliseconds timeout);

  // Runs f on the generator while its thread keeps off it.
  void Inspect(const std::function<void(const Generator&)>& f) const;

  // Formatted trace lines since the last call (with Options::trace).
  std::vector<std::string> TakeTraceLines();

  // Stops the thread and closes the line. Also done by the destructor.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
