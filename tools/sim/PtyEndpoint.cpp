#include "tools/sim/PtyEndpoint.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "tools/sim/LineLoop.h"

namespace sim {

struct PtyEndpoint::Impl {
  Impl(PtyLine l, Options options) : line(std::move(l)), generator(options, SteadyNow()) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0) throw std::system_error(errno, std::generic_category(), "pipe");
    stopRead.Reset(fds[0]);
    stopWrite.Reset(fds[1]);
    worker = std::thread([this] { Serve(); });
  }

  void Serve() {
    LineLoop::Hooks hooks;
    hooks.trace = [this](const TraceRecord& r) {
      std::lock_guard lock(stateMutex);
      traceLines.push_back(FormatTrace(r, generator.Origin()));
    };
    hooks.progress = [this](std::uint64_t f, bool i) {
      std::lock_guard lock(stateMutex);
      frames = f;
      idle = i;
      cv.notify_all();
    };
    LineLoop::Run(line.master.Get(), stopRead.Get(), generator, generatorMutex, hooks);
    std::lock_guard lock(stateMutex);
    // A cut line is what the panel sees after an unplug: its end reports EIO and POLLHUP.
    line.master.Reset();
    line.keepAlive.Reset();
    down = true;
    cv.notify_all();
  }

  // Unread bytes from the panel; called with stateMutex held, so the line is still open.
  bool InputWaiting() const {
    int n = 0;
    return line.master && ioctl(line.master.Get(), FIONREAD, &n) == 0 && n > 0;
  }

  void Stop() {
    if (!worker.joinable()) return;
    char b = 1;
    while (write(stopWrite.Get(), &b, 1) < 0 && errno == EINTR) {
    }
    worker.join();
  }

  PtyLine line;
  Generator generator;
  mutable std::mutex generatorMutex;
  mutable std::mutex stateMutex;
  std::condition_variable cv;
  std::uint64_t frames = 0;
  bool idle = true;
  bool down = false;
  std::vector<std::string> traceLines;
  UniqueFd stopRead;
  UniqueFd stopWrite;
  std::thread worker;
};

PtyEndpoint::PtyEndpoint(Options options) : impl_(std::make_unique<Impl>(OpenPtyLine(), options)) {}

PtyEndpoint::PtyEndpoint(int masterFd, Options options)
    : impl_(std::make_unique<Impl>(AdoptPtyMaster(masterFd), options)) {}

PtyEndpoint::~PtyEndpoint() {
  Stop();
}

const std::string& PtyEndpoint::SlavePath() const {
  return impl_->line.slavePath;
}

std::uint64_t PtyEndpoint::FramesReceived() const {
  std::lock_guard lock(impl_->stateMutex);
  return impl_->frames;
}

bool PtyEndpoint::WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->stateMutex);
  impl_->cv.wait_for(lock, timeout,
                     [&] { return impl_->down || (impl_->frames >= count && impl_->idle); });
  return impl_->frames >= count && impl_->idle;
}

bool PtyEndpoint::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->stateMutex);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (impl_->down) return false;
    if (impl_->idle && !impl_->InputWaiting()) return true;
    if (impl_->cv.wait_until(lock, deadline) == std::cv_status::timeout) {
      return !impl_->down && impl_->idle && !impl_->InputWaiting();
    }
  }
}

bool PtyEndpoint::LineDown() const {
  std::lock_guard lock(impl_->stateMutex);
  return impl_->down;
}

bool PtyEndpoint::WaitLineDown(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->stateMutex);
  return impl_->cv.wait_for(lock, timeout, [&] { return impl_->down; });
}

void PtyEndpoint::Inspect(const std::function<void(const Generator&)>& f) const {
  std::lock_guard lock(impl_->generatorMutex);
  f(impl_->generator);
}

std::vector<std::string> PtyEndpoint::TakeTraceLines() {
  std::lock_guard lock(impl_->stateMutex);
  std::vector<std::string> out;
  out.swap(impl_->traceLines);
  return out;
}

void PtyEndpoint::Stop() {
  impl_->Stop();
}

}  // namespace sim
