// valtrex-sim: the Valtrex generator's side of the line on a pseudo-terminal.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Version.h"
#include "serial/extras/ComPortInfo.h"
#include "tools/sim/Generator.h"
#include "tools/sim/LineLoop.h"
#include "tools/sim/Options.h"
#include "tools/sim/PortLink.h"

namespace {

int gSignalWrite = -1;

void OnSignal(int) {
  char b = 1;
  // A full pipe already holds a wake-up, so a failed write loses nothing.
  [[maybe_unused]] ssize_t n = write(gSignalWrite, &b, 1);
}

void InstallSignals(int writeFd) {
  gSignalWrite = writeFd;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

int Run(const sim::CommandLine& cmd) {
  int sigPipe[2];
  if (pipe2(sigPipe, O_CLOEXEC | O_NONBLOCK) < 0) {
    std::perror("valtrex-sim: pipe");
    return 1;
  }
  sim::UniqueFd sigRead(sigPipe[0]);
  sim::UniqueFd sigWrite(sigPipe[1]);
  InstallSignals(sigWrite.Get());

  sim::PtyLine line = sim::OpenPtyLine();
  std::unique_ptr<sim::PortLink> symLink;
  if (!cmd.link.empty()) {
    symLink = sim::PortLink::Claim(cmd.link, line.slavePath);
  } else if (!cmd.noLink) {
    symLink = sim::PortLink::ClaimFree(serial::MakeVirtualPortFolder(), line.slavePath);
  }

  std::printf("%s\n", line.slavePath.c_str());
  std::fflush(stdout);
  if (symLink)
    std::fprintf(stderr, "valtrex-sim: %s -> %s\n", symLink->Path().c_str(),
                 line.slavePath.c_str());

  sim::Generator generator(cmd.options, sim::SteadyNow());
  std::mutex guard;
  sim::LineLoop::Hooks hooks;
  if (cmd.options.trace) {
    hooks.trace = [&](const sim::TraceRecord& r) {
      std::fprintf(stderr, "%s\n", sim::FormatTrace(r, generator.Origin()).c_str());
      std::fflush(stderr);
    };
  }
  auto end = sim::LineLoop::Run(line.master.Get(), sigRead.Get(), generator, guard, hooks);
  switch (end) {
    case sim::LineLoop::End::kStopped:
      return 0;
    case sim::LineLoop::End::kHungUp:
      // Closing every descriptor of the generator's end is the unplug the panel sees.
      line.master.Reset();
      line.keepAlive.Reset();
      std::fprintf(stderr, "valtrex-sim: line closed after %llu frames\n",
                   static_cast<unsigned long long>(generator.FramesReceived()));
      return 0;
    case sim::LineLoop::End::kLineError:
      std::fprintf(stderr, "valtrex-sim: the line failed: %s\n", std::strerror(errno));
      return 1;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = argc > 0 ? argv[0] : "valtrex-sim";
  if (auto slash = program.rfind('/'); slash != std::string::npos) program.erase(0, slash + 1);
  sim::CommandLine cmd;
  try {
    cmd = sim::ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), e.what());
    return 2;
  }
  if (cmd.help) {
    std::fputs(sim::HelpText(program).c_str(), stdout);
    return 0;
  }
  if (cmd.version) {
    std::printf("%s %s\n", program.c_str(), VALTREX_VERSION);
    return 0;
  }
  try {
    return Run(cmd);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), e.what());
    return 1;
  }
}
