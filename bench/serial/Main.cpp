// serial_bench: every contender on the same pseudo-terminal peer, in one interleaved run, with
// the plain descriptor (termios + poll()) as the yardstick of that same run.
//
//   B1 round trip  a 5-byte query out, an 11-byte reply back from a peer that answers at once
//   B2 notify      the peer writes one byte; time until the contender's own handler runs
//   B3 throughput  a block of bytes each way, best of a few rounds
//   B4 idle        an open port waiting for nothing: CPU time and context switches
//
// The contenders take turns in blocks (A B C A B C ...), so whatever else the machine does
// falls on all of them alike. The table goes to standard output as Markdown, progress to
// standard error.
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/serial/Contender.h"
#include "bench/serial/PtyPeer.h"

namespace bench {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

struct Options {
  int trips = 2000;
  int block = 100;
  int warmup = 5;
  // Opening a port starts threads (the service thread, the event thread), and the first
  // tens of milliseconds after that are slower on a small machine even when the new threads only
  // sleep: a block's first trips measure the start, not the round trip, and an idle port's
  // first moments its threads' start, not its wait.
  int settleMs = 30;
  int notifications = 200;
  int notifyBlock = 20;
  int mib = 16;
  int rounds = 5;
  int idleMs = 5000;
  std::vector<std::string> only;
  std::string benches = "1234";
  // The whole process on one CPU: the waiting thread, whoever wakes it and the peer then take
  // turns, and a thread hop costs a switch on that CPU.
  bool pin = false;
};

// --- a watchdog without a thread: a contender that hangs must not hang the run, and a thread
// that wakes now and then would show up in every idle measurement.

char phase[256] = "start";

void OnAlarm(int) {
  static const char prefix[] = "serial_bench: no progress in ";
  [[maybe_unused]] ssize_t w = write(2, prefix, sizeof prefix - 1);
  w = write(2, phase, strlen(phase));
  w = write(2, "\n", 1);
  _exit(3);
}

void Watch(const std::string& what, int seconds) {
  alarm(0);
  std::snprintf(phase, sizeof phase, "%s", what.c_str());
  alarm(static_cast<unsigned>(seconds));
}

// --- results

struct Row {
  Contender* contender = nullptr;
  std::optional<std::string> refused;  // Open failed: nothing else is tried
  std::vector<int64_t> roundTrip, notify;
  std::optional<std::string> roundTripError, notifyError, throughputError, idleError;
  double outMBps = 0, inMBps = 0;
  double idleCpuMs = 0;
  long idleVoluntary = 0, idleInvoluntary = 0;
  bool idleDone = false;
};

struct Percentiles {
  double p50, p99, max;
};

Percentiles Summarise(std::vector<int64_t> ns) {
  std::sort(ns.begin(), ns.end());
  const auto at = [&](double q) {
    const size_t i =
        std::min(ns.size() - 1, static_cast<size_t>(q * static_cast<double>(ns.size())));
    return static_cast<double>(ns[i]) / 1000.0;
  };
  return {at(0.50), at(0.99), static_cast<double>(ns.back()) / 1000.0};
}

std::string Fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// --- running one contender, with everything undone whatever happens

void Quietly(const std::function<void()>& f) {
  try {
    f();
  } catch (...) {
  }
}

std::string Describe(const std::exception& e) {
  return e.what();
}

// Opens the contender; false (with the reason kept) when it refuses.
bool Opened(Row& row, PtyPeer& peer) {
  if (row.refused) return false;
  try {
    row.contender->Open(peer.SlavePath());
    return true;
  } catch (const std::exception& e) {
    row.refused = Describe(e);
    Quietly([&] { row.contender->Close(); });
    peer.Flush();
    return false;
  }
}

void Finish(Row& row, PtyPeer& peer) {
  Quietly([&] { row.contender->Close(); });
  peer.Flush();
}

const std::vector<uint8_t> kQuery = {'#', '0', '1', 'v', '\r'};
const std::vector<uint8_t> kReply = {'#', '0', '2', 'v', '3', '0', '.', '0', '0', '0', '\r'};

void RoundTripBlock(Row& row, PtyPeer& peer, const Options& o, int count) {
  if (row.roundTripError || !row.contender->TakesPart(Bench::RoundTrip)) return;
  if (!Opened(row, peer)) return;
  Watch(row.contender->Name() + ", B1", 60);
  peer.StartAnswering(kQuery.size(), kReply);
  std::vector<uint8_t> reply(kReply.size());
  const auto opened = Clock::now();
  try {
    for (int i = 0, counted = 0; counted < count; ++i) {
      std::fill(reply.begin(), reply.end(), 0);
      const auto t0 = Clock::now();
      row.contender->RoundTrip(kQuery, reply);
      const auto t1 = Clock::now();
      if (reply != kReply) throw std::runtime_error("the reply came back changed");
      if (i < o.warmup || t0 - opened < milliseconds(o.settleMs)) continue;
      row.roundTrip.push_back(duration_cast<nanoseconds>(t1 - t0).count());
      ++counted;
    }
  } catch (const std::exception& e) {
    row.roundTripError = Describe(e);
  }
  Quietly([&] { peer.StopAnswering(); });
  Finish(row, peer);
}

void NotifyBlock(Row& row, PtyPeer& peer, int count) {
  if (row.notifyError || !row.contender->TakesPart(Bench::Notify)) return;
  if (!Opened(row, peer)) return;
  Watch(row.contender->Name() + ", B2", 60);
  for (int i = 0; i < count && !row.notifyError; ++i) {
    auto fired = peer.FireWhenAsleep();
    bool armed = false;
    try {
      const auto ran = row.contender->Notified([&] {
        armed = true;
        peer.Arm();
      });
      row.notify.push_back(duration_cast<nanoseconds>(ran - fired.get()).count());
    } catch (const std::exception& e) {
      row.notifyError = Describe(e);
      // The peer waits for the arming; let it send its byte and be done.
      if (!armed) peer.Arm();
      Quietly([&] { fired.get(); });
    }
  }
  Finish(row, peer);
}

double MBps(size_t bytes, Clock::duration d) {
  return static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(d).count();
}

void ThroughputRound(Row& row, PtyPeer& peer, const std::vector<uint8_t>& data) {
  if (row.throughputError || !row.contender->TakesPart(Bench::Throughput)) return;
  if (!Opened(row, peer)) return;
  Watch(row.contender->Name() + ", B3", 120);
  try {
    auto sunk = peer.Sink(data);
    const auto t0 = Clock::now();
    row.contender->Send(data);
    row.outMBps = std::max(row.outMBps, MBps(data.size(), sunk.get() - t0));

    std::vector<uint8_t> in(data.size());
    const auto t1 = Clock::now();
    auto sourced = peer.Source(data);
    row.contender->Receive(in);
    const auto t2 = Clock::now();
    sourced.get();
    if (in != data) throw std::runtime_error("received other bytes than were sent");
    row.inMBps = std::max(row.inMBps, MBps(data.size(), t2 - t1));
  } catch (const std::exception& e) {
    row.throughputError = Describe(e);
  }
  Finish(row, peer);
}

// The process clock adds up what every thread ran, exactly; rusage's user and system times are
// tick samples, too coarse for a few wake-ups.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void IdleRun(Row& row, PtyPeer& peer, const Options& o) {
  if (row.idleError || !row.contender->TakesPart(Bench::Idle)) return;
  if (!Opened(row, peer)) return;
  Watch(row.contender->Name() + ", B4", o.idleMs / 1000 + 60);
  // The threads a port starts run their first steps as it opens; what is measured is the wait.
  std::this_thread::sleep_for(milliseconds(o.settleMs));
  try {
    // The whole process: the threads a library starts for itself count too.
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double cpu0 = CpuMs();
    row.contender->Idle(milliseconds(o.idleMs));
    const double cpu1 = CpuMs();
    getrusage(RUSAGE_SELF, &after);
    row.idleCpuMs = cpu1 - cpu0;
    row.idleVoluntary = after.ru_nvcsw - before.ru_nvcsw;
    row.idleInvoluntary = after.ru_nivcsw - before.ru_nivcsw;
    row.idleDone = true;
  } catch (const std::exception& e) {
    row.idleError = Describe(e);
  }
  Finish(row, peer);
}

// --- the table

class Notes {
 public:
  std::string Cell(const std::string& why) {
    auto [it, added] = numbers_.emplace(why, numbers_.size() + 1);
    if (added) order_.push_back(why);
    return "— [" + std::to_string(it->second) + "]";
  }
  void Print(std::ostream& out) const {
    for (size_t i = 0; i < order_.size(); ++i) out << "[" << i + 1 << "] " << order_[i] << "  \n";
  }

 private:
  std::map<std::string, size_t> numbers_;
  std::vector<std::string> order_;
};

std::string Ratio(double v, double base) {
  return base > 0 ? Fixed(v / base, 2) + "×" : "";
}

void PrintTable(const std::vector<Row>& rows, const Options& o, std::ostream& out) {
  const Row& base = rows.front();
  const double baseP50 = base.roundTrip.empty() ? 0 : Summarise(base.roundTrip).p50;
  const Percentiles baseNotify = base.notify.empty() ? Percentiles{} : Summarise(base.notify);
  Notes notes;
  out << "| Contender | B1 p50 µs | B1 p99 µs | B1 max µs | B1 p50 ratio | B3 out MB/s | "
         "B3 in MB/s | B3 ratio out / in | B4 CPU ms | B4 switches vol / invol | "
         "B2 p50 µs | B2 p99 µs | B2 ratio p50 / p99 |\n";
  out << "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n";
  for (const Row& row : rows) {
    const Contender& c = *row.contender;
    const auto cells = [&](Bench b, const std::optional<std::string>& error, bool have, int n,
                           const std::function<std::vector<std::string>()>& values) {
      std::vector<std::string> v;
      const std::string why = !c.TakesPart(b) ? ""
                              : row.refused   ? *row.refused
                              : error         ? *error
                                              : "";
      if (!c.TakesPart(b))
        v.assign(static_cast<size_t>(n), "·");
      else if (why.empty() && !have)
        v.assign(static_cast<size_t>(n), "–");
      else if (!why.empty()) {
        v.assign(static_cast<size_t>(n), "");
        v[0] = notes.Cell(why);
      } else
        v = values();
      return v;
    };
    std::vector<std::string> line = {c.Name()};
    const auto add = [&](const std::vector<std::string>& v) {
      line.insert(line.end(), v.begin(), v.end());
    };
    add(cells(Bench::RoundTrip, row.roundTripError, !row.roundTrip.empty(), 4, [&] {
      const Percentiles p = Summarise(row.roundTrip);
      return std::vector<std::string>{Fixed(p.p50, 1), Fixed(p.p99, 1), Fixed(p.max, 1),
                                      Ratio(p.p50, baseP50)};
    }));
    add(cells(Bench::Throughput, row.throughputError, row.outMBps > 0, 3, [&] {
      return std::vector<std::string>{
          Fixed(row.outMBps, 1), Fixed(row.inMBps, 1),
          Ratio(row.outMBps, base.outMBps) + " / " + Ratio(row.inMBps, base.inMBps)};
    }));
    add(cells(Bench::Idle, row.idleError, row.idleDone, 2, [&] {
      return std::vector<std::string>{
          Fixed(row.idleCpuMs, 2),
          std::to_string(row.idleVoluntary) + " / " + std::to_string(row.idleInvoluntary)};
    }));
    add(cells(Bench::Notify, row.notifyError, !row.notify.empty(), 3, [&] {
      const Percentiles p = Summarise(row.notify);
      return std::vector<std::string>{
          Fixed(p.p50, 1), Fixed(p.p99, 1),
          Ratio(p.p50, baseNotify.p50) + " / " + Ratio(p.p99, baseNotify.p99)};
    }));
    out << "|";
    for (const auto& cell : line) out << " " << cell << " |";
    out << "\n";
  }
  out << "\n";
  notes.Print(out);
  out << "\nB1: " << o.trips << " round trips per contender in blocks of " << o.block
      << " (each block after " << o.warmup << " uncounted, and at least its first " << o.settleMs
      << " ms); ratio against the first row's p50. "
      << "B3: " << o.mib << " MiB each way, best of " << o.rounds << ". B4: " << o.idleMs
      << " ms from " << o.settleMs
      << " ms after the port opened, CPU and context switches of the whole process. B2: "
      << o.notifications << " bytes per contender, ratios against the first row's p50 and p99. "
      << (o.pin ? "The whole process pinned to one CPU. " : "")
      << "\"·\": the row does not take part.\n";
}

// --- options

int Number(const char* text, const char* option) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!text[0] || *end || v <= 0 || v > 1'000'000'000) {
    std::cerr << "serial_bench: " << option << " wants a positive number\n";
    std::exit(2);
  }
  return static_cast<int>(v);
}

void Usage() {
  std::cout << "usage: serial_bench [--quick | --long] [--trips N] [--block N] [--settle MS]\n"
               "                    [--notify N] [--mib N] [--rounds N] [--idle-ms N]\n"
               "                    [--bench 1234] [--only NAME,NAME...] [--pin] [--list]\n"
               "Runs every contender on one pseudo-terminal and prints a Markdown table.\n"
               "--bench picks the benchmarks by number (B1..B4); --only keeps the contenders\n"
               "whose name contains one of the words (the first row, the yardstick, stays);\n"
               "--settle leaves the first MS milliseconds of each B1 block and B4 wait uncounted;\n"
               "--pin runs the whole process on one CPU, the one it starts on.\n";
}

Options Parse(int argc, char** argv, bool& list) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "serial_bench: " << a << " wants a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--quick") {
      o.trips = 300, o.notifications = 40, o.mib = 2, o.rounds = 1, o.idleMs = 1000;
    } else if (a == "--long") {
      o.trips = 20000, o.notifications = 2000, o.rounds = 5, o.idleMs = 10000;
    } else if (a == "--trips") {
      o.trips = Number(value(), "--trips");
    } else if (a == "--block") {
      o.block = Number(value(), "--block");
    } else if (a == "--settle") {
      o.settleMs = Number(value(), "--settle");
    } else if (a == "--notify") {
      o.notifications = Number(value(), "--notify");
    } else if (a == "--mib") {
      o.mib = Number(value(), "--mib");
    } else if (a == "--rounds") {
      o.rounds = Number(value(), "--rounds");
    } else if (a == "--idle-ms") {
      o.idleMs = Number(value(), "--idle-ms");
    } else if (a == "--bench") {
      o.benches = value();
    } else if (a == "--only") {
      std::stringstream words(value());
      for (std::string w; std::getline(words, w, ',');) o.only.push_back(w);
    } else if (a == "--pin") {
      o.pin = true;
    } else if (a == "--list") {
      list = true;
    } else {
      Usage();
      std::exit(a == "--help" || a == "-h" ? 0 : 2);
    }
  }
  o.block = std::min(o.block, o.trips);
  o.notifyBlock = std::min(o.notifyBlock, o.notifications);
  return o;
}

bool Wanted(const Options& o, char bench) {
  return o.benches.find(bench) != std::string::npos;
}

int Run(int argc, char** argv) {
  bool list = false;
  const Options o = Parse(argc, argv, list);
  // Before any thread starts, so every thread of the run inherits the one CPU.
  if (o.pin) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) {
      std::cerr << "serial_bench: sched_setaffinity: " << std::strerror(errno) << "\n";
      return 1;
    }
  }
  signal(SIGALRM, OnAlarm);
  // A contender that dies with the line must give an error, not end the program.
  signal(SIGPIPE, SIG_IGN);

  ContenderList all;
  for (auto make : {TermiosContenders, ComPortContenders, AsioContenders, QtContenders,
                    ComPortQtContenders, SerialPortLibContenders}) {
    for (auto& c : make()) all.push_back(std::move(c));
  }
  std::vector<Row> rows;
  for (auto& c : all) {
    const std::string name = c->Name();
    const bool keep = rows.empty() || o.only.empty() ||
                      std::any_of(o.only.begin(), o.only.end(),
                                  [&](const std::string& w) { return name.find(w) != name.npos; });
    if (!keep) continue;
    rows.emplace_back();
    rows.back().contender = c.get();
  }
  if (list) {
    for (const Row& r : rows) std::cout << r.contender->Name() << "\n";
    return 0;
  }

  PtyPeer peer;
  std::cerr << "serial_bench: peer on " << peer.SlavePath() << "\n";

  if (Wanted(o, '1')) {
    std::cerr << "B1 round trips\n";
    for (int done = 0; done < o.trips; done += o.block) {
      const int count = std::min(o.block, o.trips - done);
      for (Row& row : rows) RoundTripBlock(row, peer, o, count);
    }
  }
  if (Wanted(o, '2')) {
    std::cerr << "B2 notification\n";
    for (int done = 0; done < o.notifications; done += o.notifyBlock) {
      const int count = std::min(o.notifyBlock, o.notifications - done);
      for (Row& row : rows) NotifyBlock(row, peer, count);
    }
  }
  if (Wanted(o, '3')) {
    std::cerr << "B3 throughput\n";
    const std::vector<uint8_t> data = Pattern(static_cast<size_t>(o.mib) << 20);
    for (int r = 0; r < o.rounds; ++r) {
      for (Row& row : rows) ThroughputRound(row, peer, data);
    }
  }
  if (Wanted(o, '4')) {
    std::cerr << "B4 idle\n";
    for (Row& row : rows) IdleRun(row, peer, o);
  }
  alarm(0);
  PrintTable(rows, o, std::cout);
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  try {
    return bench::Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "serial_bench: " << e.what() << "\n";
    return 1;
  }
}
