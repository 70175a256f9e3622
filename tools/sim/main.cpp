// valtrex-sim: the Valtrex generator's side of the line on a pseudo-terminal.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
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

#include "serial/extras/ComPortInfo.h"
#include "tools/sim/Generator.h"
#include "tools/sim/LineLoop.h"
#include "tools/sim/Options.h"

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

// The link named by --link; removed again at exit, but only while it is still ours.
class Link {
 public:
  Link(std::string path, const std::string& target) : path_(std::move(path)), target_(target) {
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0) {
      // A link left behind by a run that was killed is replaced; anything else is not ours.
      if (!S_ISLNK(st.st_mode)) throw std::runtime_error(path_ + " exists and is not a link");
      unlink(path_.c_str());
    }
    if (symlink(target_.c_str(), path_.c_str()) < 0) {
      throw std::runtime_error("cannot make link " + path_ + ": " + std::strerror(errno));
    }
  }
  ~Link() {
    char buf[256];
    ssize_t n = readlink(path_.c_str(), buf, sizeof buf);
    if (n >= 0 && target_ == std::string(buf, static_cast<std::size_t>(n))) unlink(path_.c_str());
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

 private:
  std::string path_;
  std::string target_;
};

// The first of valtrex-sim, valtrex-sim-2, ... in the user's folder of virtual ports that no
// running simulator holds: a name that is free, or a link whose pseudo-terminal has gone.
std::string DefaultLinkPath() {
  const std::string folder = serial::MakeVirtualPortFolder();
  for (int n = 1; n <= 99; ++n) {
    const std::string path = folder + "/valtrex-sim" + (n == 1 ? "" : "-" + std::to_string(n));
    struct stat link {};
    struct stat target {};
    if (lstat(path.c_str(), &link) != 0) return path;
    if (S_ISLNK(link.st_mode) && (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode))) {
      return path;
    }
  }
  throw std::runtime_error("no free link name in " + folder);
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
  std::unique_ptr<Link> symLink;
  std::string linkPath = cmd.link;
  if (linkPath.empty() && !cmd.noLink) linkPath = DefaultLinkPath();
  if (!linkPath.empty()) symLink = std::make_unique<Link>(linkPath, line.slavePath);

  std::printf("%s\n", line.slavePath.c_str());
  std::fflush(stdout);
  if (symLink)
    std::fprintf(stderr, "valtrex-sim: %s -> %s\n", linkPath.c_str(), line.slavePath.c_str());

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
  try {
    return Run(cmd);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), e.what());
    return 1;
  }
}
