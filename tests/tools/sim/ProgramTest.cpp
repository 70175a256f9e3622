// Runs the built valtrex-sim as a child process and talks to it over its pseudo-terminal.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Version.h"
#include "serial/extras/ComPortInfo.h"
#include "tests/tools/sim/PtyPeer.h"

extern char** environ;

namespace sim {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;

constexpr auto kDeadline = 10s;

class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/valtrex-sim-test.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  ~TempDir() {
    if (!path_.empty()) rmdir(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Reads from a pipe until a predicate on everything read so far holds, EOF, or a deadline; true
// when the pipe has ended.
template <typename Done>
bool ReadPipe(int fd, std::string& sofar, Done done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done(sofar)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return n == 0;
    sofar.append(buf, static_cast<std::size_t>(n));
  }
  return false;
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    args.insert(args.begin(), VALTREX_SIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, VALTREX_SIM_PROGRAM, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  // The first line on standard output: the path of the panel's end.
  std::string SlavePath() {
    ReadPipe(
        out_, stdout_, [](const std::string& s) { return s.find('\n') != s.npos; }, kDeadline);
    return stdout_.substr(0, stdout_.find('\n'));
  }

  void Signal(int sig) { kill(pid_, sig); }

  // Waits for the process to end (its standard error closes when it does) and returns
  // its exit status, or -1 if it did not exit normally in time.
  int Wait() {
    const auto never = [](const std::string&) { return false; };
    const bool ended =
        ReadPipe(err_, stderr_, never, kDeadline) && ReadPipe(out_, stdout_, never, kDeadline);
    // One still running at the deadline is ended here, so that a failure is told, not hung.
    if (!ended) kill(pid_, SIGKILL);
    int status = 0;
    const bool reaped = waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return reaped && ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& Stdout() const { return stdout_; }
  const std::string& Stderr() const { return stderr_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string stdout_;
  std::string stderr_;
};

bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkTarget(const std::string& path) {
  char buf[256];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? "" : std::string(buf, static_cast<std::size_t>(n));
}

bool IsDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// A trace line: blanks, seconds, '.', three digits of milliseconds, a blank, then the rest.
bool HasTraceLine(const std::string& trace, std::string_view rest) {
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::string_view v(line);
    v.remove_prefix(std::min(v.find_first_not_of(' '), v.size()));
    auto dot = v.find('.');
    if (dot == std::string_view::npos || !IsDigits(v.substr(0, dot))) continue;
    if (v.size() < dot + 5 || !IsDigits(v.substr(dot + 1, 3)) || v[dot + 4] != ' ') continue;
    if (v.substr(dot + 5) == rest) return true;
  }
  return false;
}

// The done-when case: `valtrex-sim --link PATH --trace` and a plain termios peer on PATH.
TEST(Program, TermiosPeerQueriesItThroughTheLinkAndTheTraceShowsTheLine) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  std::string link = dir.Path() + "/valtrex-sim0";
  SimProcess sim({"--link", link, "--trace"});
  std::string slave = sim.SlavePath();
  ASSERT_FALSE(slave.empty()) << sim.Stderr();
  ASSERT_TRUE(IsLink(link));
  EXPECT_EQ(LinkTarget(link), slave);

  {
    PtyPeer peer(link);
    ASSERT_TRUE(peer.IsOpen());
    peer.Write("@01SR\r");
    EXPECT_EQ(peer.ReadReplies(1, kDeadline), "#02SR106\r");
    peer.Write("%01f\r");
    std::string f = peer.ReadReplies(1, kDeadline);
    ASSERT_EQ(f.size(), 11u) << f;
    EXPECT_EQ(f.substr(0, 4), "#02f");
    EXPECT_TRUE(IsDigits(f.substr(4, 2)) && f[6] == '.' && IsDigits(f.substr(7, 3))) << f;
    EXPECT_EQ(f.back(), '\r');
    peer.Write("@01start\r@03start\r%03?\r");
    std::string dc = peer.ReadReplies(1, kDeadline);
    ASSERT_EQ(dc.size(), 12u) << dc;
    EXPECT_EQ(dc.substr(0, 4), "#02?");
    EXPECT_TRUE(IsDigits(dc.substr(4, 6))) << dc;
    EXPECT_EQ(dc.substr(10), "1\r");
  }

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  EXPECT_FALSE(IsLink(link)) << "the link outlived the simulator";

  const std::string& trace = sim.Stderr();
  EXPECT_TRUE(HasTraceLine(trace, "rx @01SR\\r")) << trace;
  EXPECT_TRUE(HasTraceLine(trace, "tx #02SR106\\r")) << trace;
  EXPECT_TRUE(HasTraceLine(trace, "rx @03start\\r")) << trace;
}

// The links in a folder, each with where it leads.
std::vector<std::pair<std::string, std::string>> LinksIn(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> links;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string path = folder + "/" + entry->d_name;
      if (IsLink(path)) links.emplace_back(path, LinkTarget(path));
    }
    closedir(dir);
  }
  std::sort(links.begin(), links.end());
  return links;
}

// Without --link the simulator's port is a link in the user's folder of virtual ports, where the
// port list finds it. Simulators started at the same moment each take a name of their own, and
// each takes only its own link away.
TEST(Program, WithoutALinkOptionItsPortIsListedAmongTheVirtualPorts) {
  TempDir runtime;
  ASSERT_FALSE(runtime.Path().empty());
  const char* saved = getenv("XDG_RUNTIME_DIR");
  const std::string before = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  const std::string folder = runtime.Path() + "/valtrex-ports";
  constexpr int kSimulators = 8;
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < kSimulators; ++i)
      sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{}));
    std::vector<std::string> slaves;
    for (auto& sim : sims) {
      slaves.push_back(sim->SlavePath());
      ASSERT_FALSE(slaves.back().empty()) << "round " << round << ": " << sim->Stderr();
    }
    std::sort(slaves.begin(), slaves.end());

    std::vector<std::string> targets;
    for (const auto& [path, target] : LinksIn(folder)) {
      EXPECT_EQ(path.rfind(folder + "/valtrex-sim", 0), 0u) << path;
      targets.push_back(target);
    }
    std::sort(targets.begin(), targets.end());
    EXPECT_EQ(targets, slaves) << "round " << round;

    serial::TComEnumRoots roots;
    roots.SysClassTty = runtime.Path();  // no hardware in it
    roots.VirtualPorts = folder;
    std::vector<std::string> devices;
    for (const serial::TComPortInfo& port : serial::EnumComPorts(roots)) {
      EXPECT_EQ(port.Kind, serial::pkVirtual);
      devices.push_back(port.Device);
    }
    std::sort(devices.begin(), devices.end());
    EXPECT_EQ(devices, slaves);

    for (auto& sim : sims) sim->Signal(SIGTERM);
    for (auto& sim : sims) EXPECT_EQ(sim->Wait(), 0) << sim->Stderr();
    EXPECT_TRUE(LinksIn(folder).empty()) << "round " << round;
  }
  rmdir(folder.c_str());
  if (saved)
    setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

// A link that still leads to a live pseudo-terminal belongs to a running program: it is kept.
TEST(Program, ALinkToALivePortIsNeverTaken) {
  TempDir dir;
  const std::string link = dir.Path() + "/busy";
  SimProcess first({"--link", link});
  const std::string slave = first.SlavePath();
  ASSERT_FALSE(slave.empty()) << first.Stderr();
  SimProcess second({"--link", link});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("not a stale link"), std::string::npos) << second.Stderr();
  EXPECT_EQ(LinkTarget(link), slave);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0) << first.Stderr();
  EXPECT_FALSE(IsLink(link));
}

TEST(Program, HangsUpAfterTheGivenFramesAndCleansUp) {
  TempDir dir;
  std::string link = dir.Path() + "/sim-hangup";
  SimProcess sim({"--link", link, "--hangup-after", "2", "--delay-ms", "1"});
  ASSERT_FALSE(sim.SlavePath().empty()) << sim.Stderr();
  PtyPeer peer(link);
  ASSERT_TRUE(peer.IsOpen());
  peer.Write("%01m\r");
  EXPECT_EQ(peer.ReadReplies(1, kDeadline), "#02m00.080\r");
  peer.Write("%03y\r");
  EXPECT_EQ(peer.ReadReplies(1, kDeadline), "#02y03.500\r");
  EXPECT_TRUE(peer.WaitHangUp(kDeadline));
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  EXPECT_FALSE(IsLink(link));
}

TEST(Program, InterruptEndsItCleanlyAndAStaleLinkIsReplaced) {
  TempDir dir;
  std::string link = dir.Path() + "/stale";
  ASSERT_EQ(symlink("/nonexistent/pts/99", link.c_str()), 0);
  SimProcess sim({"--link", link, "--release", "102"});
  std::string slave = sim.SlavePath();
  ASSERT_FALSE(slave.empty()) << sim.Stderr();
  EXPECT_EQ(LinkTarget(link), slave);
  PtyPeer peer(link);
  peer.Write("@01SR\r");
  EXPECT_EQ(peer.ReadReplies(1, kDeadline), "#02SR102\r");
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
  EXPECT_FALSE(IsLink(link));
}

TEST(Program, HelpVersionAndBadOptions) {
  SimProcess help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find("--hangup-after"), std::string::npos);

  SimProcess version({"--version"});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Stdout(), "valtrex-sim " VALTREX_VERSION "\n");

  SimProcess bad({"--drop", "2"});
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_NE(bad.Stderr().find("--drop"), std::string::npos);
  EXPECT_TRUE(bad.Stdout().empty());
}

}  // namespace
}  // namespace sim
