#pragma once
// The headless panel against the simulated generator over a real pseudo-terminal pair. The
// simulator's engine runs on the master in the test's own thread on a virtual clock: after every
// tick the rig takes the frames the panel wrote, lets 100 ms pass for the generator, puts the
// replies due by then on the line and waits until the panel's port has them queued. So the next
// tick reads exactly what a generator would have sent, with no sleeping and no timing luck.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/MainForm.h"
#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "serial/ComError.h"
#include "tools/sim/Generator.h"

namespace app::test {

using namespace std::chrono_literals;

// One pseudo-terminal pair with the generator on its master. The rig keeps a descriptor of the
// panel's end open itself, so that the line stays up while the panel closes and reopens it.
class SimLine {
 public:
  explicit SimLine(sim::Options options) : generator(options, sim::Micros{0}) {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return;
    }
    path = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~SimLine() { HangUp(); }
  SimLine(const SimLine&) = delete;
  SimLine& operator=(const SimLine&) = delete;

  // Reads `count` bytes the panel has written; they are in the driver by the time the write
  // returned, but may take a moment to cross to the master.
  std::string ReadFromPanel(size_t count) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char chunk[256];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(bytes.size(), count) << "the panel's bytes did not reach the line";
    return bytes;
  }

  void WriteToPanel(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += static_cast<size_t>(n);
      if (n < 0) {
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 1000);
      }
    }
  }

  // Unplugs the cable: both ends of the pair close.
  void HangUp() {
    if (master_ >= 0) close(master_), master_ = -1;
    if (slave_ >= 0) close(slave_), slave_ = -1;
  }
  bool Up() const { return master_ >= 0; }

  std::string path;
  sim::Generator generator;

 private:
  int master_ = -1;
  int slave_ = -1;
};

class SimRig {
 public:
  explicit SimRig(sim::Options options = {}) : line(std::make_unique<SimLine>(options)) {
    // The port's event thread delivers to this thread, which serves it between ticks.
    platform::SetMainThread();
    platform::SetExceptionHandler([this](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const serial::EComPort& ex) {
        errors.push_back(ex.ErrorCode());
      } catch (...) {
        errors.push_back(-1);
      }
    });
    // Every byte the panel writes is counted here, so the rig knows how much to collect.
    link.OnTxBuf = [this](serial::TCustomComPort&, const void*, int32_t count) {
      written += static_cast<size_t>(count);
    };
    form.CP.RegisterLink(&link);
  }
  ~SimRig() {
    form.CP.UnRegisterLink(&link);
    platform::SetExceptionHandler({});
  }

  void Connect() {
    form.CB.OperatorText(line->path);
    form.BO.Click();
  }

  // A new cable to a new generator with the same options, as after a reconnect elsewhere.
  void NewLine(sim::Options options) { line = std::make_unique<SimLine>(options); }

  void Tick() {
    // What the event thread handed over since the last tick runs first, as in the window's loop.
    platform::ProcessMessages();
    form.Timer1.Tick();
    now += std::chrono::milliseconds(1);
    if (!line->Up()) return;
    const std::string out = line->ReadFromPanel(written);
    written = 0;
    sent += out;
    line->generator.Feed(out, now);
    now += std::chrono::milliseconds(99);
    if (line->generator.HangUpDue(now)) {
      line->HangUp();
      return;
    }
    const std::string replies = line->generator.TakeDueBytes(now);
    if (replies.empty() || !form.CP.Connected()) return;
    if (onReplies) onReplies(replies);
    const int32_t queued = form.CP.InputCount();
    line->WriteToPanel(replies);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (form.CP.InputCount() < queued + static_cast<int32_t>(replies.size()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }

  // The frames the panel sent since the last call.
  std::vector<std::string> TakeFrames() {
    std::vector<std::string> frames;
    for (size_t cr; (cr = sent.find('\r')) != std::string::npos; sent.erase(0, cr + 1)) {
      frames.push_back(sent.substr(0, cr + 1));
    }
    return frames;
  }

  std::unique_ptr<SimLine> line;
  TMainForm form;
  serial::TComLink link;
  sim::Micros now{0};
  size_t written = 0;
  std::string sent;
  std::vector<int> errors;
  std::function<void(const std::string&)> onReplies;  // every reply put on the line
};

}  // namespace app::test
